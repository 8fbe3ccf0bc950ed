// What reading files needs from the system, one implementation per system
// (file_reading_posix.cpp, file_reading_win.cpp).
#pragma once

#include <cstddef>
#include <string>

namespace velindra::file_reading_system {

// A descriptor to read the named file from ("-" is standard input); -1 with errno set when it
// cannot be opened or is a folder.
int OpenInput(const std::string& name);
// Bytes read, 0 at the end, or -1 with errno set.
long long ReadSome(int fd, char* buffer, size_t size);
void CloseInput(int fd);
// A regular file opened for reading without blocking (a FIFO is refused, not waited for); -1
// with errno set otherwise. `size` receives its size.
int OpenRegular(const std::string& path, long long& size);
// Whether a path names nothing at all.
bool Absent(const std::string& path);

}  // namespace velindra::file_reading_system

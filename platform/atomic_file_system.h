// What AtomicFile needs from the system, one implementation per system
// (atomic_file_posix.cpp, atomic_file_win.cpp). Descriptors are the C runtime's; failures leave
// the reason in errno unless said otherwise.
#pragma once

#include <cstddef>
#include <string>

#include "result.h"

namespace velindra::atomic_file_system {

bool IsSeparator(char c);
bool IsFolder(const std::string& path);
// A new file, created exclusively, readable and writable, not inherited; -1 on failure.
int CreateExclusive(const std::string& path);
// Bytes written, or -1.
long long WriteSome(int fd, const char* data, size_t size);
bool ReadAll(int fd, std::string& data);
bool TruncateTo(int fd, size_t length);
void Close(int fd);
void Remove(const std::string& path);
// Removes the temporary files of ours in the folder that nobody touched for a day.
void RemoveOldTemporaries(const std::string& folder);
// Flushes the file to disk, closes it (fd becomes -1) and puts it in the destination's place
// durably. On failure the reason is in the result; the temporary file may still exist.
FetchResult CommitFile(int& fd, const std::string& temporary, const std::string& destination);

}  // namespace velindra::atomic_file_system

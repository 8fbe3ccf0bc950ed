// What AtomicFile needs from the system, one implementation per system
// (atomic_file_posix.cpp, atomic_file_win.cpp). Descriptors are the C runtime's; failures leave
// the reason in errno unless said otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "core/result.h"

namespace velindra::atomic_file_system {

bool IsSeparator(char c);
// Whether a folder that cannot be probed counts as ignoring case: the system's custom.
bool IgnoresCaseByDefault();
bool IsFolder(const std::string& path);
// A new file, created exclusively, readable and writable, not inherited; -1 on failure.
int CreateExclusive(const std::string& path);
// Bytes written, or -1.
long long WriteSome(int fd, const char* data, size_t size);
bool ReadAll(int fd, std::string& data);
bool TruncateTo(int fd, size_t length);
bool Close(int fd);
void Remove(const std::string& path);
// Removes the temporary files of ours in the folder that nobody touched for a day.
void RemoveOldTemporaries(const std::string& folder);
// Gives the new file the permission bits (and owner and group, where allowed) of the file it
// is about to replace, if there is one.
void KeepPermissionsOf(int fd, const std::string& destination);
// Puts what was written to the file on disk.
bool SyncFile(int fd);
// Puts the temporary file in the destination's place; durable once the folder is synced.
FetchResult Replace(const std::string& temporary, const std::string& destination);
// The same, only where nothing is at the destination: the check and the move are one step, so
// that of two programs placing a file there at once one fails (systemError EEXIST) and nothing
// is ever replaced.
FetchResult PlaceNew(const std::string& temporary, const std::string& destination);
// Whether anything is at the path (a dangling link counts).
bool Exists(const std::string& path);
// The device and file number of what the path names; none when nothing is there.
std::optional<std::pair<uint64_t, uint64_t>> Identity(const std::string& path);
// Makes the folder's entries durable. False only when the system says it failed; a file
// system that cannot sync folders, or a system that needs no such step, counts as done.
bool SyncFolder(const std::string& folder);

}  // namespace velindra::atomic_file_system

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/atomic_file.h"
#include "platform/atomic_file_system.h"
#include "platform/utf16.h"

namespace velindra::atomic_file_system {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

bool IgnoresCaseByDefault() {
    return true;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Utf16(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int CreateExclusive(const std::string& path) {
    return _wopen(Utf16(path).c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
}

long long WriteSome(int fd, const char* data, size_t size) {
    return _write(fd, data, static_cast<unsigned>(size));
}

bool ReadAll(int fd, std::string& data) {
    _lseeki64(fd, 0, SEEK_SET);
    char buffer[1 << 16];
    for (;;) {
        const int n = _read(fd, buffer, sizeof buffer);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        data.append(buffer, static_cast<size_t>(n));
    }
    _lseeki64(fd, 0, SEEK_END);
    return true;
}

bool TruncateTo(int fd, size_t length) {
    return _chsize_s(fd, static_cast<long long>(length)) == 0;
}

bool Close(int fd) {
    return _close(fd) == 0;
}

void Remove(const std::string& path) {
    _wunlink(Utf16(path).c_str());
}

// Only names of exactly our own pattern that nobody has touched for a day are removed.
void RemoveOldTemporaries(const std::string& folder) {
    const std::string prefix = folder == "." ? std::string() : folder;
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(Utf16(prefix + ".velindra-*.part").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    constexpr unsigned long long kDay = 24ull * 3600 * 10'000'000;  // in 100 ns units
    do {
        const std::string name = Utf8(found.cFileName);
        if (IsTemporaryName(name) &&
            !(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            ticks(found.ftLastWriteTime) + kDay < ticks(now)) {
            DeleteFileW(Utf16(prefix + name).c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

void KeepPermissionsOf(int, const std::string&) {}

bool SyncFile(int fd) {
    return _commit(fd) == 0;
}

// Another program (a virus scanner, a torrent client, another of our transfers replacing the
// same file) may hold the old file for a moment: that shows as a sharing or lock violation, or
// as access denied on a plain writable file. Anything else, a folder or a read-only file in
// the way included, is final at once. Written through, the move needs no folder sync.
FetchResult Replace(const std::string& temporary, const std::string& destination) {
    const std::wstring from = Utf16(temporary), to = Utf16(destination);
    const auto worthWaiting = [&to](DWORD error) {
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
            return true;
        const DWORD attributes = GetFileAttributesW(to.c_str());
        return error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
               !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
    };
    DWORD error = 0;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return FetchResult::Done();
        error = GetLastError();
        if (!worthWaiting(error))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return FetchResult::Failed(FetchError::CannotWrite,
                               "cannot replace the file (error " + std::to_string(error) + ")");
}

FetchResult PlaceNew(const std::string& temporary, const std::string& destination) {
    // Without MOVEFILE_REPLACE_EXISTING the move refuses an existing destination.
    if (MoveFileExW(Utf16(temporary).c_str(), Utf16(destination).c_str(), MOVEFILE_WRITE_THROUGH))
        return FetchResult::Done();
    const DWORD error = GetLastError();
    const bool taken = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    return FetchResult::Failed(FetchError::CannotWrite,
                               "cannot place the file (error " + std::to_string(error) + ")",
                               taken ? EEXIST : 0);
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(Utf16(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::pair<uint64_t, uint64_t>> Identity(const std::string& path) {
    const HANDLE file =
        CreateFileW(Utf16(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!known)
        return std::nullopt;
    return std::pair<uint64_t, uint64_t>(info.dwVolumeSerialNumber,
                                         uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow);
}

bool SyncFolder(const std::string&) {
    return true;
}

}  // namespace velindra::atomic_file_system

#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <random>
#include <set>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include <thread>

#include "utf16.h"
#else
#include <dirent.h>
#include <unistd.h>
#endif

namespace velindra {

namespace {

constexpr std::string_view kTempPrefix = ".velindra-";
constexpr std::string_view kTempSuffix = ".part";
constexpr size_t kTempRandomLength = 10;
constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";

std::string RandomSuffix() {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    std::string s;
    for (size_t k = 0; k < kTempRandomLength; ++k) {
        s.push_back(kAlphabet[engine() % (sizeof kAlphabet - 1)]);
    }
    return s;
}

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

#ifdef _WIN32
#define VELINDRA_CLOSE _close
#define VELINDRA_WRITE(fd, p, n) _write(fd, p, static_cast<unsigned>(n))
#else
#define VELINDRA_CLOSE ::close
#define VELINDRA_WRITE(fd, p, n) ::write(fd, p, n)
#endif

// A killed run (SIGKILL, power loss) leaves its temporary file behind. Only names of exactly
// our own pattern that nobody has touched for a day are removed, once per folder and process.
void RemoveStaleTemporaries(const std::string& folder) {
    static std::mutex lock;
    static std::set<std::string> cleaned;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!cleaned.insert(folder).second)
            return;
    }
#ifdef _WIN32
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
#else
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    const auto dayAgo = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now() -
                                                             std::chrono::hours(24));
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTemporaryName(entry->d_name))
            continue;
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_mtime < dayAgo) {
            ::unlinkat(dirFd, entry->d_name, 0);
        }
    }
    ::closedir(dir);
#endif
}

}  // namespace

bool IsTemporaryName(std::string_view name) {
    if (name.size() != kTempPrefix.size() + kTempRandomLength + kTempSuffix.size() ||
        !name.starts_with(kTempPrefix) || !name.ends_with(kTempSuffix)) {
        return false;
    }
    const std::string_view random = name.substr(kTempPrefix.size(), kTempRandomLength);
    return random.find_first_not_of(kAlphabet) == std::string_view::npos;
}

std::string ParentFolder(const std::string& path) {
    size_t end = path.size();
    while (end > 0 && !IsSeparator(path[end - 1]))
        --end;
    if (end == 0)
        return ".";
    return path.substr(0, end);  // keeps the trailing separator, so "/" stays "/"
}

AtomicFile::AtomicFile(std::string destination) : destination_(std::move(destination)) {}

AtomicFile::~AtomicFile() {
    Discard();
}

bool AtomicFile::Fail(const char* what, int err) {
    error_ = std::string(what) + ": " + std::strerror(err);
    Discard();
    return false;
}

bool AtomicFile::Open() {
    // A folder of that name could never be replaced: say so before anything is downloaded.
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(Utf16(destination_).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Fail("a folder has that name", EISDIR);
#else
    struct stat existing {};
    if (::stat(destination_.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode))
        return Fail("a folder has that name", EISDIR);
#endif
    const std::string folder = ParentFolder(destination_);
    const std::string prefix = folder == "." ? std::string() : folder;
    RemoveStaleTemporaries(folder);
    for (int attempt = 0; attempt < 16; ++attempt) {
        // Short, hidden, and not ending in ".torrent".
        std::string candidate =
            prefix + std::string(kTempPrefix) + RandomSuffix() + std::string(kTempSuffix);
#ifdef _WIN32
        const int fd =
            _wopen(Utf16(candidate).c_str(),
                   _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
#else
        const int fd = ::open(candidate.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
#endif
        if (fd >= 0) {
            fd_ = fd;
            tempPath_ = std::move(candidate);
            return true;
        }
        if (errno != EEXIST) {
            return Fail("cannot create a file in the folder", errno);
        }
    }
    error_ = "cannot create a file in the folder: too many name clashes";
    return false;
}

bool AtomicFile::Write(std::string_view data) {
    if (fd_ < 0) {
        error_ = "the file was not opened";
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
        const size_t chunk = std::min<size_t>(data.size() - done, 1 << 20);
        const auto written = VELINDRA_WRITE(fd_, data.data() + done, chunk);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return Fail("cannot write the file", errno);
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

bool AtomicFile::ReadBack(std::string& data) {
    data.clear();
    if (fd_ < 0) {
        error_ = "the file was not opened";
        return false;
    }
#ifdef _WIN32
    _lseeki64(fd_, 0, SEEK_SET);
    char buffer[1 << 16];
    for (;;) {
        const int n = _read(fd_, buffer, sizeof buffer);
        if (n < 0)
            return Fail("cannot read the file back", errno);
        if (n == 0)
            break;
        data.append(buffer, static_cast<size_t>(n));
    }
    _lseeki64(fd_, 0, SEEK_END);
#else
    char buffer[1 << 16];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd_, buffer, sizeof buffer, at);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Fail("cannot read the file back", errno);
        }
        if (n == 0)
            break;
        data.append(buffer, static_cast<size_t>(n));
        at += n;
    }
#endif
    return true;
}

bool AtomicFile::Truncate(size_t length) {
#ifdef _WIN32
    const bool ok = _chsize_s(fd_, static_cast<long long>(length)) == 0;
#else
    const bool ok = ::ftruncate(fd_, static_cast<off_t>(length)) == 0;
#endif
    return ok || Fail("cannot shorten the file", errno);
}

bool AtomicFile::Commit() {
    if (fd_ < 0) {
        error_ = "the file was not opened";
        return false;
    }
#ifdef _WIN32
    if (_commit(fd_) != 0)
        return Fail("cannot flush the file to disk", errno);
    _close(fd_);
    fd_ = -1;
    // Another program (a virus scanner, a torrent client, another of our transfers replacing
    // the same file) may hold the old file for a moment: that shows as a sharing or lock
    // violation, or as access denied on a plain writable file. Anything else, a folder or a
    // read-only file in the way included, is final at once.
    const std::wstring from = Utf16(tempPath_), to = Utf16(destination_);
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
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            tempPath_.clear();
            return true;
        }
        error = GetLastError();
        if (!worthWaiting(error))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    error_ = "cannot replace the file (error " + std::to_string(error) + ")";
    Discard();
    return false;
#else
    // A replaced file keeps who may read it: a private torrent stays private.
    struct stat old {};
    if (::stat(destination_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        if (::fchown(fd_, old.st_uid, old.st_gid) != 0) {
            [[maybe_unused]] int ignored = ::fchown(fd_, static_cast<uid_t>(-1), old.st_gid);
        }
        ::fchmod(fd_, old.st_mode & 07777);
    }
    if (::fsync(fd_) != 0)
        return Fail("cannot flush the file to disk", errno);
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0)
        return Fail("cannot flush the file to disk", errno);
    if (::rename(tempPath_.c_str(), destination_.c_str()) != 0)
        return Fail("cannot replace the file", errno);
    tempPath_.clear();
    // Make the new name itself durable.
    const int dir = ::open(ParentFolder(destination_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
#endif
}

void AtomicFile::Discard() {
    if (fd_ >= 0) {
        VELINDRA_CLOSE(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
#ifdef _WIN32
        _wunlink(Utf16(tempPath_).c_str());
#else
        ::unlink(tempPath_.c_str());
#endif
        tempPath_.clear();
    }
}

}  // namespace velindra

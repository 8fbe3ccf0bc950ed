#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/atomic_file.h"
#include "platform/atomic_file_system.h"

namespace velindra::atomic_file_system {

bool IsSeparator(char c) {
    return c == '/';
}

bool IgnoresCaseByDefault() {
    return false;
}

bool IsFolder(const std::string& path) {
    struct stat existing {};
    return ::stat(path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode);
}

int CreateExclusive(const std::string& path) {
    return ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
}

long long WriteSome(int fd, const char* data, size_t size) {
    return ::write(fd, data, size);
}

bool ReadAll(int fd, std::string& data) {
    char buffer[1 << 16];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return true;
        data.append(buffer, static_cast<size_t>(n));
        at += n;
    }
}

bool TruncateTo(int fd, size_t length) {
    return ::ftruncate(fd, static_cast<off_t>(length)) == 0;
}

bool Close(int fd) {
    return ::close(fd) == 0;
}

void Remove(const std::string& path) {
    ::unlink(path.c_str());
}

// Only names of exactly our own pattern that nobody has touched for a day are removed.
void RemoveOldTemporaries(const std::string& folder) {
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
}

void KeepPermissionsOf(int fd, const std::string& destination) {
    struct stat old {};
    if (::stat(destination.c_str(), &old) != 0 || !S_ISREG(old.st_mode))
        return;
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        [[maybe_unused]] int ignored = ::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    }
    ::fchmod(fd, old.st_mode & 07777);
}

bool SyncFile(int fd) {
    return ::fsync(fd) == 0;
}

FetchResult Replace(const std::string& temporary, const std::string& destination) {
    if (::rename(temporary.c_str(), destination.c_str()) != 0) {
        return FetchResult::Failed(FetchError::CannotWrite,
                                   std::string("cannot replace the file: ") + std::strerror(errno));
    }
    return FetchResult::Done();
}

FetchResult PlaceNew(const std::string& temporary, const std::string& destination) {
    const auto failed = [](int error) {
        return FetchResult::Failed(FetchError::CannotWrite,
                                   std::string("cannot place the file: ") + std::strerror(error),
                                   error);
    };
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) ==
        0)
        return FetchResult::Done();
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return failed(errno);
#endif
    // A file system without that rename: a second name made for the file refuses an existing
    // one just as well.
    if (::link(temporary.c_str(), destination.c_str()) == 0) {
        ::unlink(temporary.c_str());
        return FetchResult::Done();
    }
    if (errno == EEXIST)
        return failed(EEXIST);
    // Nor hard links (FAT, exFAT): the name is taken first, exclusively, then the file renamed
    // over what is its own placeholder.
    const int placeholder =
        ::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (placeholder < 0)
        return failed(errno);
    ::close(placeholder);
    if (::rename(temporary.c_str(), destination.c_str()) != 0) {
        const int error = errno;
        ::unlink(destination.c_str());
        return failed(error);
    }
    return FetchResult::Done();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::optional<std::pair<uint64_t, uint64_t>> Identity(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    return std::pair<uint64_t, uint64_t>(st.st_dev, st.st_ino);
}

bool SyncFolder(const std::string& folder) {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return true;  // nothing to sync it through; the rename stands as the system keeps it
    const bool synced = ::fsync(dir) == 0 || errno == EINVAL || errno == EROFS;
    ::close(dir);
    return synced;
}

}  // namespace velindra::atomic_file_system

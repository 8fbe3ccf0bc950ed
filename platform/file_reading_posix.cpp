#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_reading_system.h"

namespace velindra {

namespace file_reading_system {

int OpenInput(const std::string& name) {
    if (name == "-")
        return STDIN_FILENO;
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return -1;
    }
    return fd;
}

long long ReadSome(int fd, char* buffer, size_t size) {
    return ::read(fd, buffer, size);
}

void CloseInput(int fd) {
    ::close(fd);
}

int OpenRegular(const std::string& path, long long& size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    size = st.st_size;
    return fd;
}

bool Absent(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

}  // namespace file_reading_system

}  // namespace velindra

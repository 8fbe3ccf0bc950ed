#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "process_setup.h"

namespace velindra {

void EnsureStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // open() takes the lowest free number, which is this one.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened > 2)
            ::close(opened);  // cannot happen while fd is free; never leave it dangling
    }
}

void EnsureHomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return;
    if (const passwd* entry = ::getpwuid(::getuid());
        entry && entry->pw_dir && entry->pw_dir[0] == '/' && entry->pw_dir[1] != '\0') {
        ::setenv("HOME", entry->pw_dir, 1);
    }
}

void RaiseOpenFileLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

}  // namespace velindra

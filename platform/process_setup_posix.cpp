#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/process_setup.h"

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

long RaiseOpenFileLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0)
        return -1;
    if (files.rlim_cur < files.rlim_max) {
        rlimit raised = files;
        raised.rlim_cur = files.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            files = raised;
    }
    return files.rlim_cur == RLIM_INFINITY ? -1 : static_cast<long>(files.rlim_cur);
}

}  // namespace velindra

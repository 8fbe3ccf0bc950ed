#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "console.h"
#include "console_system.h"

namespace velindra {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

Console SetUpConsole() {
    Console console;
    console.inputIsTerminal = ::isatty(STDIN_FILENO) != 0;
    console.errorIsTerminal = ::isatty(STDERR_FILENO) != 0;
    console.escapes = console.errorIsTerminal;
    winsize size{};
    if (console.errorIsTerminal && ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col)
        console.columns = size.ws_col;
    return console;
}

std::string SystemLocaleName() {
    return {};
}

void HandleInterrupts(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);  // a closed terminal
    signal(SIGPIPE, SIG_IGN);             // a closed pipe shows as a failed write
}

bool IsLocalHost(const std::string& host) {
    in6_addr address{};
    return ::inet_pton(AF_INET, host.c_str(), &address) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), &address) == 1 ||
           (!host.empty() && ::if_nametoindex(host.c_str()) != 0);
}

namespace console_system {

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

}  // namespace console_system

}  // namespace velindra

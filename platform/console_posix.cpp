#include <fcntl.h>
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
    return console;
}

void HandleInterrupts(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);  // a closed terminal
    signal(SIGPIPE, SIG_IGN);             // a closed pipe shows as a failed write
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

}  // namespace console_system

}  // namespace velindra

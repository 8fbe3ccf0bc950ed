#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

#include "platform/console.h"

namespace velindra {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

int ErrorColumns() {
    winsize size{};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

Console SetUpConsole() {
    Console console;
    console.inputIsTerminal = ::isatty(STDIN_FILENO) != 0;
    console.errorIsTerminal = ::isatty(STDERR_FILENO) != 0;
    console.escapes = console.errorIsTerminal;
    if (const int columns = console.errorIsTerminal ? ErrorColumns() : 0)
        console.columns = columns;
    return console;
}

std::string SystemLocaleName() {
    return {};
}

void BinaryStandardOutput() {}

void HandleInterrupts(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);  // a closed terminal
    signal(SIGPIPE, SIG_IGN);             // a closed pipe shows as a failed write
}

}  // namespace velindra

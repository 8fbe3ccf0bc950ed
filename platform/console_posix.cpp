#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

#include "console.h"

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

}  // namespace velindra

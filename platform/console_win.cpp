// clang-format off
#include <io.h>
#include <windows.h>
#include <shellapi.h>
// clang-format on
#include <fcntl.h>

#include <csignal>
#include <cstdio>

#include "platform/console.h"
#include "platform/utf16.h"

namespace velindra {

namespace {

void (*gHandler)(int) = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (!gHandler)
        return FALSE;
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            gHandler(SIGINT);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            gHandler(SIGTERM);
            // The process ends when this returns: give the transfers a moment to remove their
            // temporary files.
            Sleep(2000);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

// Taken from the UTF-16 command line, so that a name the ANSI code page cannot spell arrives
// intact.
std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

Console SetUpConsole() {
    Console console;
    console.inputIsTerminal = _isatty(0) != 0;
    console.errorIsTerminal = _isatty(2) != 0;
    _setmode(0, _O_BINARY);  // no CRLF translation, no end at a Ctrl-Z byte
    _setmode(1, _O_BINARY);
    _setmode(2, _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);  // typed or pasted text arrives as UTF-8 too
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (console.errorIsTerminal && GetConsoleMode(error, &mode)) {
        console.escapes = (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
                          SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    }
    if (const int columns = console.errorIsTerminal ? ErrorColumns() : 0)
        console.columns = columns;
    return console;
}

int ErrorColumns() {
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &screen))
        return 0;
    return screen.srWindow.Right - screen.srWindow.Left + 1;
}

std::string SystemLocaleName() {
    // The language of the user's Windows display, not the format of dates and numbers.
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    const LCID ui = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
    return LCIDToLocaleName(ui, name, LOCALE_NAME_MAX_LENGTH, 0) > 0 ? Utf8(name) : std::string();
}

void BinaryStandardOutput() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

void HandleInterrupts(void (*handler)(int)) {
    gHandler = handler;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace velindra

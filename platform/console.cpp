#include "console.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "utf16.h"

#ifdef _WIN32
// clang-format off
#include <io.h>
#include <windows.h>
#include <shellapi.h>
// clang-format on

#else
#include <unistd.h>
#endif

namespace velindra {

namespace {

#ifdef _WIN32
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
#endif

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
#ifdef _WIN32
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        std::vector<std::string> arguments;
        for (int i = 0; i < count; ++i)
            arguments.push_back(Utf8(wide[i]));
        LocalFree(wide);
        return arguments;
    }
#endif
    return std::vector<std::string>(argv, argv + argc);
}

Console SetUpConsole() {
    Console console;
#ifdef _WIN32
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
#else
    console.inputIsTerminal = ::isatty(STDIN_FILENO) != 0;
    console.errorIsTerminal = ::isatty(STDERR_FILENO) != 0;
    console.escapes = console.errorIsTerminal;
#endif
    return console;
}

void HandleInterrupts(void (*handler)(int)) {
#ifdef _WIN32
    gHandler = handler;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = handler;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);  // a closed terminal
    signal(SIGPIPE, SIG_IGN);             // a closed pipe shows as a failed write
#endif
}

bool ReadWholeFile(const std::string& name, std::string& text, std::string& why, size_t maxBytes,
                   const std::atomic<bool>& stop) {
    const bool standardInput = name == "-";
#ifdef _WIN32
    const std::wstring wide = Utf16(name);
    if (!standardInput) {
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            why = std::strerror(EISDIR);
            return false;
        }
    }
    const int fd = standardInput ? 0 : _wopen(wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
#else
    const int fd = standardInput ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
#endif
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct Closer {
        int fd;
        bool keep;
        ~Closer() {
            if (!keep) {
#ifdef _WIN32
                _close(fd);
#else
                ::close(fd);
#endif
            }
        }
    } closer{fd, standardInput};
#ifndef _WIN32
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        why = std::strerror(EISDIR);
        return false;
    }
#endif
    char buffer[1 << 16];
    for (;;) {
#ifdef _WIN32
        const int n = _read(fd, buffer, sizeof buffer);
#else
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
#endif
        if (n < 0) {
            if (errno == EINTR && !stop)
                continue;
            why = std::strerror(errno);
            return false;
        }
        if (n == 0)
            return true;
        if (text.size() + static_cast<size_t>(n) > maxBytes) {
            why = "输入超过 " + std::to_string(maxBytes >> 20) + " MiB";
            return false;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
}

bool MakeFolders(const std::string& path) {
    std::error_code ignored;
    std::filesystem::create_directories(PathFromUtf8(path), ignored);
    return std::filesystem::is_directory(PathFromUtf8(path), ignored);
}

}  // namespace velindra

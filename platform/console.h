// What a command-line program needs from the system it runs on, the same way on POSIX systems
// and on Windows: its arguments and file names in UTF-8, a console that shows UTF-8, interrupts
// that end the work cleanly, and whole files read as bytes.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "result.h"

namespace velindra {

// The arguments in UTF-8. On Windows they are taken from the UTF-16 command line, so that a
// name the ANSI code page cannot spell arrives intact.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

struct Console {
    bool inputIsTerminal = false;
    bool errorIsTerminal = false;
    // Whether the terminal on standard error understands "\r\033[K" and the like.
    bool escapes = false;
    int columns = 80;  // the width of that terminal
};

// The system's locale for the user's messages, such as "zh-CN" ("" when it has none beyond
// the environment, as on Linux, where the environment's LANG and LC_* variables say it).
std::string SystemLocaleName();

// Makes the console show the UTF-8 the program writes (on Windows: the console's output code
// page and virtual-terminal processing where the console has it), and says what it is.
Console SetUpConsole();

// `handler` gets the signal number when the user interrupts or the terminal goes away: SIGINT,
// SIGTERM and SIGHUP here; on Windows Ctrl-C and Ctrl-Break as SIGINT and a closed console,
// log-off or shut-down as SIGTERM. A closed pipe shows as a failed write instead of a signal.
void HandleInterrupts(void (*handler)(int));

// Reads a whole file ("-" is standard input) as bytes, up to `maxBytes`. Fails with the reason
// when it cannot be read, is a folder, or is larger; a read interrupted once `stop` is set
// ends at once.
FetchResult ReadWholeFile(const std::string& name, std::string& text, size_t maxBytes,
                          const std::atomic<bool>& stop);

// Files the programs read without the user naming them (their state and settings files) are
// read only when they are absent or regular files of at most `maxBytes`; anything else (a
// folder, a FIFO, a device, a huge file) counts as absent, and nothing blocks on it.
bool SafeToRead(const std::string& path, size_t maxBytes);
// Reads such a file whole, up to maxBytes + 1 bytes; fails for anything else.
FetchResult ReadRegularFile(const std::string& path, size_t maxBytes, std::string& text);

// Whether a host is an address (IPv4, or IPv6 without brackets) or a network interface of
// this machine, which a listening socket could be bound to.
bool IsLocalHost(const std::string& host);

// Creates a folder and its parents, as wget -P does; false when it still does not exist.
bool MakeFolders(const std::string& path);

}  // namespace velindra

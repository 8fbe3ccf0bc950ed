// What a command-line program needs from the console it runs in, the same way on POSIX systems
// and on Windows: its arguments in UTF-8, a console that shows UTF-8, and interrupts that end
// the work cleanly.
#pragma once

#include <string>
#include <vector>

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

// The width of the terminal on standard error now, which the user may have changed since the
// program started; 0 when it is no terminal.
int ErrorColumns();

// Makes the console show the UTF-8 the program writes (on Windows: the console's output code
// page and virtual-terminal processing where the console has it), and says what it is.
Console SetUpConsole();

// Standard output takes bytes as they are (on Windows: no "\n" made "\r\n"), for a file
// written there whole.
void BinaryStandardOutput();

// `handler` gets the signal number when the user interrupts or the terminal goes away: SIGINT,
// SIGTERM and SIGHUP here; on Windows Ctrl-C and Ctrl-Break as SIGINT and a closed console,
// log-off or shut-down as SIGTERM. A closed pipe shows as a failed write instead of a signal.
void HandleInterrupts(void (*handler)(int));

}  // namespace velindra

// One run of velindra-cli: its options read, its links fetched on workers and printed in input
// order. Everything but the program's entry (main.cpp), so that the tests can reach its parts.
#pragma once

#include <string>
#include <vector>

#include "platform/console.h"

namespace velindra::cli {

// The exit status of a run with these arguments (argv[0] first).
int Run(const std::vector<std::string>& arguments, const Console& console);

// The status the program ends with: once a signal was caught (even as the program tears down
// after its last link), 128 plus its number, as a shell loop expects of Ctrl-C.
int ExitStatus(int status);

}  // namespace velindra::cli

// Text from outside (links, names, server messages) made safe to print on a terminal.
#pragma once

#include <string>
#include <string_view>

namespace velindra {

// The text with every C0 and C1 control character and DEL written as an escape ("\x1b",
// "\u009b"), and bytes that are not UTF-8 as "\xNN", so that outside text printed on a
// terminal can never steer it.
std::string EscapeControls(std::string_view text);

// The text as a JSON string, quotes included: control characters escaped, and bytes that are
// not UTF-8 replaced by U+FFFD, so that every line is valid JSON whatever the input held.
std::string JsonString(std::string_view text);

// Columns the text takes on a terminal: East Asian characters take two.
size_t DisplayWidth(std::string_view text);

// The longest start of the text that takes at most `columns` columns, with "…" at its end
// when something was cut.
std::string FitWidth(std::string_view text, size_t columns);

}  // namespace velindra

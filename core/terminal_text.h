// Text from outside (links, names, server messages) made safe to print on a terminal.
#pragma once

#include <string>
#include <string_view>

namespace velindra {

// The text with every C0 and C1 control character and DEL written as an escape ("\x1b",
// "\u009b"), the invisible direction and width marks too ("\u202e"), and bytes that are not
// UTF-8 as "\xNN", so that outside text printed on a terminal can never steer it or disguise
// what it says.
std::string EscapeControls(std::string_view text);

// A path as a script reading it needs it: its bytes as they are, also where a folder's name is
// in another encoding than UTF-8, with only what EscapeControls escapes in valid UTF-8 (and
// the bytes that are C1 controls in 8-bit encodings) escaped.
std::string PrintablePath(std::string_view path);

// The text as a JSON string, quotes included: control characters and the invisible marks
// escaped ("\u009b", "\u202e"), and bytes that are not UTF-8 replaced by U+FFFD, so that every
// line is valid JSON whatever the input held, and none steers the terminal it is shown on.
std::string JsonString(std::string_view text);

// Columns the text takes on a terminal: East Asian characters take two.
size_t DisplayWidth(std::string_view text);

// The longest start of the text that takes at most `columns` columns, with "…" at its end
// when something was cut.
std::string FitWidth(std::string_view text, size_t columns);

// A line broken into lines of at most `columns` display columns (wider only where one word is),
// at spaces and between wide (CJK) characters, never before closing punctuation. The first line
// goes on from column `start`; later lines are indented by `indent` spaces.
std::string WrapWidth(std::string_view line, size_t columns, size_t indent, size_t start);

}  // namespace velindra

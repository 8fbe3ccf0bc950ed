// Text from outside (links, names, server messages) made safe to print on a terminal.
#pragma once

#include <string>
#include <string_view>

namespace velindra {

// The text with every C0 and C1 control character and DEL written as an escape ("\x1b",
// "\u009b"), and bytes that are not UTF-8 as "\xNN", so that outside text printed on a
// terminal can never steer it.
std::string EscapeControls(std::string_view text);

}  // namespace velindra

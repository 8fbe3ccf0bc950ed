// libFuzzer target for what the command line prints from outside: terminal escaping, JSON
// strings and fitting a line to the terminal. No raw control character or invisible mark gets
// through, JSON is always valid UTF-8 in quotes, and a fitted line never takes more columns.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "terminal_text.h"
#include "utf8.h"

namespace {

// Whether the text holds a C0 control, DEL, a C1 control or a direction or width mark, as
// UTF-8 writes them.
bool HoldsControls(std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == 0x7f)
            return true;
        const std::string_view rest = s.substr(i);
        if (c == 0xc2 && rest.size() > 1 && static_cast<unsigned char>(rest[1]) >= 0x80 &&
            static_cast<unsigned char>(rest[1]) < 0xa0)
            return true;
        for (const std::string_view mark : {"\u202e", "\u202d", "\u2066", "\u2067", "\u2068",
                                            "\u2069", "\u200b", "\u200e", "\u200f", "\u061c"}) {
            if (rest.starts_with(mark))
                return true;
        }
    }
    return false;
}

bool IsValidUtf8(std::string_view s) {
    bool valid = true;
    velindra::ForEachCharacter(s,
                               [&](std::string_view, uint32_t, bool ok) { valid = valid && ok; });
    return valid;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (HoldsControls(velindra::EscapeControls(text)))
        std::abort();
    const std::string json = velindra::JsonString(text);
    if (json.size() < 2 || json.front() != '"' || json.back() != '"' || !IsValidUtf8(json) ||
        HoldsControls(json))
        std::abort();
    for (const size_t columns : {size_t{0}, size_t{1}, size_t{7}, size_t{80}}) {
        const std::string fitted = velindra::FitWidth(velindra::EscapeControls(text), columns);
        if (velindra::DisplayWidth(fitted) > std::max<size_t>(columns, 1))
            std::abort();
    }
    velindra::PrintablePath(text);
    return 0;
}

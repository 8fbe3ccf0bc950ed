// libFuzzer target for what the command line prints from outside: terminal escaping, JSON
// strings and fitting a line to the terminal. No raw control character or invisible mark gets
// through, JSON is always valid UTF-8 in quotes, and a fitted line never takes more columns.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/terminal_text.h"
#include "core/utf8.h"

namespace {

// Whether the text holds a C0 control, DEL, a C1 control or a direction or width mark.
bool HoldsControls(std::string_view s) {
    bool holds = false;
    velindra::ForEachCharacter(s, [&](std::string_view, uint32_t cp, bool valid) {
        holds =
            holds || (valid && (cp < 0x20 || (cp >= 0x7f && cp < 0xa0) || cp == 0x061c ||
                                (cp >= 0x200b && cp <= 0x200f) || (cp >= 0x202a && cp <= 0x202e) ||
                                (cp >= 0x2066 && cp <= 0x2069)));
    });
    return holds;
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

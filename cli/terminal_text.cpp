#include "terminal_text.h"

#include <cstdint>

#include "utf8.h"

namespace velindra {

std::string EscapeControls(std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const size_t len = DecodeUtf8(text, i, cp);
        if (len == 0 || cp < 0x20 || cp == 0x7F) {
            const auto byte = static_cast<unsigned char>(text[i]);
            out += "\\x";
            out.push_back(kDigits[byte >> 4]);
            out.push_back(kDigits[byte & 15]);
            ++i;
        } else if (cp >= 0x80 && cp <= 0x9F) {
            out += "\\u00";
            out.push_back(kDigits[cp >> 4]);
            out.push_back(kDigits[cp & 15]);
            i += len;
        } else {
            out.append(text.substr(i, len));
            i += len;
        }
    }
    return out;
}

}  // namespace velindra

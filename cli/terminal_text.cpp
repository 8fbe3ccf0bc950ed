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

std::string JsonString(std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const size_t len = DecodeUtf8(text, i, cp);
        if (len == 0) {
            out += "\ufffd";
            ++i;
            continue;
        }
        if (cp == '"' || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp < 0x20 || cp == 0x7F) {
            out += "\\u00";
            out.push_back(kDigits[cp >> 4]);
            out.push_back(kDigits[cp & 15]);
        } else {
            out.append(text.substr(i, len));
        }
        i += len;
    }
    return out + "\"";
}

namespace {
size_t CharacterWidth(uint32_t cp) {
    return cp >= 0x2E80 && !(cp >= 0xFF61 && cp <= 0xFFDC) && !(cp >= 0xFFE8 && cp <= 0xFFEE) ? 2
                                                                                              : 1;
}
}  // namespace

size_t DisplayWidth(std::string_view text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const size_t length = DecodeUtf8(text, i, cp);
        width += length != 0 ? CharacterWidth(cp) : 1;
        i += length ? length : 1;
    }
    return width;
}

std::string FitWidth(std::string_view text, size_t columns) {
    if (DisplayWidth(text) <= columns)
        return std::string(text);
    if (columns == 0)
        return {};
    std::string out;
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const size_t length = DecodeUtf8(text, i, cp);
        const size_t w = length != 0 ? CharacterWidth(cp) : 1;
        if (width + w + 1 > columns)  // room for the ellipsis
            break;
        out.append(text.substr(i, length ? length : 1));
        width += w;
        i += length ? length : 1;
    }
    return out + "…";
}

}  // namespace velindra

// UTF-8, as every text inside the program is held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace velindra {

// What a lead byte starts: how many continuation bytes follow it, and the range the first of
// them must lie in (which rules out overlong forms, surrogates and values beyond U+10FFFF).
// count is 0 for a byte that cannot start a multi-byte sequence.
struct Utf8Lead {
    int count = 0;
    int firstMin = 0x80;
    int firstMax = 0xBF;
};
Utf8Lead ReadUtf8Lead(int lead);

// Decodes one UTF-8 sequence at s[i]. Returns its length, or 0 when the bytes there are not
// valid UTF-8 (cp is then meaningless).
size_t DecodeUtf8(std::string_view s, size_t i, uint32_t& cp);

// Every character of `text` in order: each(bytes, cp, valid). A byte that starts no valid UTF-8
// comes alone, with `valid` false (cp is then meaningless). When `each` returns a bool, false
// stops the walk.
template <typename Each>
void ForEachCharacter(std::string_view text, Each each) {
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const size_t length = DecodeUtf8(text, i, cp);
        const std::string_view bytes = text.substr(i, length != 0 ? length : 1);
        if constexpr (std::is_void_v<decltype(each(bytes, cp, true))>) {
            each(bytes, cp, length != 0);
        } else if (!each(bytes, cp, length != 0)) {
            return;
        }
        i += bytes.size();
    }
}

// The UTF-8 bytes of one code point.
std::string EncodeUtf8(uint32_t cp);

// Unicode simple case folding of one code point: what a file system that ignores case sees.
uint32_t FoldCase(uint32_t cp);

// A text with every code point case-folded; bytes that are not UTF-8 stay as they are.
std::string FoldCase(std::string_view text);

}  // namespace velindra

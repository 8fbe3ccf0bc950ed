#include "core/terminal_text.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/utf8.h"

namespace velindra {

namespace {

constexpr char kDigits[] = "0123456789abcdef";

// "\u" and four hexadecimal digits.
void AppendUnicodeEscape(std::string& out, uint32_t cp) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out.push_back(kDigits[(cp >> shift) & 15]);
}

// Characters that steer a terminal (C1 controls) or what the text around them looks like
// (the invisible direction and width marks): shown escaped, never raw.
bool IsInvisibleControl(uint32_t cp) {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x061C || cp == 0x180E ||
           (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) ||
           (cp >= 0x2060 && cp <= 0x206F) || cp == 0xFEFF || (cp >= 0xFFF9 && cp <= 0xFFFB);
}

}  // namespace

std::string EscapeControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    ForEachCharacter(text, [&](std::string_view bytes, uint32_t cp, bool valid) {
        if (!valid || cp < 0x20 || cp == 0x7F) {
            const auto byte = static_cast<unsigned char>(bytes[0]);
            out += "\\x";
            out.push_back(kDigits[byte >> 4]);
            out.push_back(kDigits[byte & 15]);
        } else if (IsInvisibleControl(cp)) {
            AppendUnicodeEscape(out, cp);
        } else {
            out.append(bytes);
        }
    });
    return out;
}

std::string PrintablePath(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    ForEachCharacter(path, [&](std::string_view bytes, uint32_t, bool valid) {
        if (!valid && static_cast<unsigned char>(bytes[0]) >= 0xA0)
            out.append(bytes);  // a name in another encoding: its bytes, as they are
        else
            out += EscapeControls(bytes);
    });
    return out;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    ForEachCharacter(text, [&](std::string_view bytes, uint32_t cp, bool valid) {
        if (!valid) {
            out += "\ufffd";
        } else if (cp == '"' || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp < 0x20 || cp == 0x7F || IsInvisibleControl(cp)) {
            AppendUnicodeEscape(out, cp);
        } else {
            out.append(bytes);
        }
    });
    return out + "\"";
}

namespace {

// Columns a character takes on a terminal. Where terminals differ (symbols that may be drawn as
// emoji, East Asian wide forms), the wider count is taken: a line counted too wide only ends a
// little early, one counted too narrow wraps and leaves its first row behind when redrawn.
size_t CharacterWidth(uint32_t cp) {
    static constexpr std::pair<uint32_t, uint32_t> kWide[] = {
        {0x1100, 0x115F},    // Hangul initial consonants
        {0x2026, 0x2026},    // the ellipsis, wide in East Asian terminals
        {0x2300, 0x2BFF},    // technical symbols, arrows, dingbats: some are drawn as emoji
        {0x2E80, 0xA4CF},    // CJK radicals, punctuation, kana, ideographs, Yi
        {0xA960, 0xA97F},    // Hangul
        {0xAC00, 0xD7A3},    // Hangul syllables
        {0xF900, 0xFAFF},    // CJK compatibility ideographs
        {0xFE10, 0xFE19},    // vertical forms
        {0xFE30, 0xFE6F},    // CJK compatibility and small forms
        {0xFF00, 0xFF60},    // fullwidth forms
        {0xFFE0, 0xFFE6},    // fullwidth signs
        {0x1F000, 0x1FAFF},  // emoji and pictographs
        {0x20000, 0x3FFFD},  // CJK extensions
    };
    for (const auto& [first, last] : kWide) {
        if (cp >= first && cp <= last)
            return 2;
    }
    return 1;
}

}  // namespace

size_t DisplayWidth(std::string_view text) {
    size_t width = 0;
    ForEachCharacter(text, [&](std::string_view, uint32_t cp, bool valid) {
        width += valid ? CharacterWidth(cp) : 1;
    });
    return width;
}

std::string WrapWidth(std::string_view line, size_t columns, size_t indent, size_t start) {
    // Pieces that stay together: a run of narrow characters up to a space, or one wide
    // character (with the closing punctuation that follows it, which may not start a line).
    struct Piece {
        std::string text;
        size_t width = 0;
        bool spaceBefore = false;
    };
    const auto closing = [](uint32_t cp) {
        return cp == 0xFF0C || cp == 0x3002 || cp == 0x3001 || cp == 0xFF1B || cp == 0xFF1A ||
               cp == 0xFF09 || cp == 0x300D || cp == 0xFF01 || cp == 0xFF1F || cp == ',' ||
               cp == ';' || cp == ')' || cp == '.';
    };
    std::vector<Piece> pieces;
    bool space = false, open = false;  // `open`: the last piece takes more narrow characters
    for (size_t i = 0; i < line.size();) {
        uint32_t cp = 0;
        const size_t length = std::max<size_t>(DecodeUtf8(line, i, cp), 1);
        const std::string_view character = line.substr(i, length);
        i += length;
        if (cp == ' ') {
            space = true;
            open = false;
            continue;
        }
        const size_t w = CharacterWidth(cp);
        if (!pieces.empty() && !space && (open || closing(cp)) && w < 2) {
            pieces.back().text += character;
            pieces.back().width += w;
        } else if (!pieces.empty() && !space && closing(cp)) {
            pieces.back().text += character;  // wide closing punctuation
            pieces.back().width += w;
            open = false;
            continue;
        } else {
            pieces.push_back({std::string(character), w, space});
        }
        open = w < 2;
        space = false;
    }
    std::string out;
    size_t at = start;
    bool first = true;  // of its line
    for (const Piece& piece : pieces) {
        const size_t gap = piece.spaceBefore && !first ? 1 : 0;
        if (!first && at + gap + piece.width > columns) {
            out += "\n" + std::string(indent, ' ');
            at = indent;
            first = true;
        } else if (gap) {
            out += ' ';
            at += 1;
        }
        out += piece.text;
        at += piece.width;
        first = false;
    }
    return out;
}

std::string FitWidth(std::string_view text, size_t columns) {
    if (DisplayWidth(text) <= columns)
        return std::string(text);
    static constexpr std::string_view kEllipsis = "…";
    const size_t ellipsis = DisplayWidth(kEllipsis);
    const size_t room = columns >= ellipsis ? columns - ellipsis : columns;
    std::string out;
    size_t width = 0;
    ForEachCharacter(text, [&](std::string_view bytes, uint32_t cp, bool valid) {
        const size_t w = valid ? CharacterWidth(cp) : 1;
        if (width + w > room)
            return false;
        out.append(bytes);
        width += w;
        return true;
    });
    return columns >= ellipsis ? out + std::string(kEllipsis) : out;
}

}  // namespace velindra

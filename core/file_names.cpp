#include "core/file_names.h"

#include <algorithm>
#include <array>

#include "core/links.h"
#include "core/utf8.h"

namespace velindra {

namespace {

bool IsUnsafe(uint32_t cp) {
    switch (cp) {
        case '/':
        case '\\':
        case ':':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|':
        case 0x200B:  // zero-width space, non-joiner and joiner
        case 0x200C:
        case 0x200D:
        case 0x200E:  // direction marks
        case 0x200F:
        case 0x2028:  // line and paragraph separators
        case 0x2029:
        case 0x2060:  // word joiner
        case 0xFEFF:  // zero-width no-break space (byte-order mark)
            return true;
        default:
            // C0 and C1 controls with DEL (U+0085 among them), and the embedding and isolate
            // controls of bidirectional text.
            return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) ||
                   (cp >= 0x2066 && cp <= 0x2069);
    }
}

// Windows takes these names for devices, whatever extension follows them: CON, PRN, AUX, NUL,
// CONIN$, CONOUT$, and COM and LPT with a digit or a superscript one, two or three.
bool IsReservedDeviceName(std::string_view stem) {
    std::string_view base = stem.substr(0, stem.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.remove_suffix(1);
    }
    std::string upper;
    for (char c : base) {
        upper.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    }
    static constexpr std::array<std::string_view, 6> kPlain = {"CON", "PRN",    "AUX",
                                                               "NUL", "CONIN$", "CONOUT$"};
    for (auto name : kPlain) {
        if (upper == name)
            return true;
    }
    if (!upper.starts_with("COM") && !upper.starts_with("LPT"))
        return false;
    const std::string_view number = std::string_view(upper).substr(3);
    static constexpr std::array<std::string_view, 3> kSuperscripts = {"\u00B9", "\u00B2", "\u00B3"};
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') ||
           std::find(kSuperscripts.begin(), kSuperscripts.end(), number) != kSuperscripts.end();
}

size_t Units(uint32_t cp, size_t utf8Length, PathRules rules) {
    if (rules.windows) {
        return cp >= 0x10000 ? 2 : 1;
    }
    return utf8Length;
}

// The last `count` code points of a text; invalid bytes count as one each.
std::string_view CodePointSuffix(std::string_view s, size_t count) {
    size_t i = s.size();
    for (size_t n = 0; n < count && i > 0; ++n) {
        size_t start = i - 1;
        // Step back over continuation bytes, at most three, to the start of the character.
        while (start > 0 && i - start < 4 &&
               (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) {
            --start;
        }
        uint32_t cp = 0;
        if (DecodeUtf8(s, start, cp) != i - start) {
            start = i - 1;  // not one valid character: take the single byte
        }
        i = start;
    }
    return s.substr(i);
}

}  // namespace

bool IsAbsoluteFolder(std::string_view folder, PathRules rules) {
    if (!rules.windows)
        return folder.starts_with('/');
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    const bool drive = folder.size() >= 3 &&
                       ((folder[0] | 0x20) >= 'a' && (folder[0] | 0x20) <= 'z') &&
                       folder[1] == ':' && separator(folder[2]);
    const bool network = folder.size() >= 3 && separator(folder[0]) && separator(folder[1]);
    return drive || network;
}

std::string FileNameFor(std::string_view stem, PathRules rules) {
    return MakeFileName(DecodeDisplayName(stem), rules);
}

std::string MakeFileName(std::string_view decodedStem, PathRules rules) {
    const size_t budget = kMaxFileNameUnits - kTorrentSuffix.size();
    std::string stem;
    size_t units = 0;
    size_t i = 0;
    while (i < decodedStem.size()) {
        uint32_t cp = 0;
        size_t len = DecodeUtf8(decodedStem, i, cp);
        std::string_view piece = decodedStem.substr(i, len);
        if (len == 0 || IsUnsafe(cp)) {
            piece = "_";  // an invalid byte or an unsafe character
            cp = '_';
            len = len == 0 ? 1 : len;
        }
        const size_t cost = Units(cp, piece.size(), rules);
        if (units + cost > budget) {
            break;
        }
        stem.append(piece);
        units += cost;
        i += len;
    }
    if (rules.windows && IsReservedDeviceName(stem)) {
        stem.insert(0, "_");
        if (units + 1 > budget) {
            // Make room for the "_" by dropping the last character.
            const std::string_view last = CodePointSuffix(stem, 1);
            stem.resize(stem.size() - last.size());
        }
    }
    return stem + std::string(kTorrentSuffix);
}

std::string JoinDestination(std::string_view folder, std::string_view fileName, PathRules rules) {
    const char sep = rules.separator();
    std::string joined;
    joined.reserve(folder.size() + 1 + fileName.size());
    joined.append(folder).push_back(sep);
    joined.append(fileName);

    std::string folded;
    folded.reserve(joined.size());
    size_t i = 0;
    if (rules.windows && joined.starts_with("\\\\")) {
        folded.append("\\\\");  // a network path keeps its leading pair
        i = 2;
    }
    while (i < joined.size()) {
        folded.push_back(joined[i]);
        if (joined[i] == sep && i + 1 < joined.size() && joined[i + 1] == sep) {
            i += 2;  // the pair becomes one separator; the scan goes on after it
        } else {
            ++i;
        }
    }
    return folded;
}

}  // namespace velindra

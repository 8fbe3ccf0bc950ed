#include "fetch.h"

#include <array>
#include <cstdint>

#include "torrent.h"

namespace velindra {

namespace {

// Decodes one UTF-8 sequence at s[i]. Returns its length, or 0 when the bytes there are not
// valid UTF-8 (the code point is then meaningless).
size_t NextCodePoint(std::string_view s, size_t i, uint32_t& cp) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    size_t len = 0;
    uint32_t min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size()) {
        return 0;
    }
    for (size_t k = 1; k < len; ++k) {
        const unsigned char b = byte(i + k);
        if ((b & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return len;
}

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

// Windows refuses these names as files, whatever extension follows them.
bool IsReservedDeviceName(std::string_view stem) {
    std::string_view base = stem.substr(0, stem.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.remove_suffix(1);
    }
    std::string upper;
    for (char c : base) {
        upper.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    }
    static constexpr std::array<std::string_view, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
    for (auto name : kPlain) {
        if (upper == name)
            return true;
    }
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) &&
           upper[3] >= '1' && upper[3] <= '9';
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
        if (NextCodePoint(s, start, cp) != i - start) {
            start = i - 1;  // not one valid character: take the single byte
        }
        i = start;
    }
    return s.substr(i);
}

void ReplaceAll(std::string& text, std::string_view what, std::string_view with) {
    for (size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
    }
}

}  // namespace

std::string EscapeControls(std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const size_t len = NextCodePoint(text, i, cp);
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

std::string MakeFileName(std::string_view decodedStem, PathRules rules) {
    const size_t budget = kMaxFileNameUnits - kTorrentSuffix.size();
    std::string stem;
    size_t units = 0;
    size_t i = 0;
    while (i < decodedStem.size()) {
        uint32_t cp = 0;
        size_t len = NextCodePoint(decodedStem, i, cp);
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

const std::vector<std::string>& BuiltInMirrors() {
    static const std::vector<std::string> mirrors = {
        "http://bt.box.n0808.com/{first2}/{last2}/{hash}.torrent",
        "http://itorrents.org/torrent/{hash}.torrent",
        "http://torcache.net/torrent/{hash}.torrent",
    };
    return mirrors;
}

std::string BuildMirrorUrl(std::string_view urlTemplate, std::string_view infoHash) {
    std::string url(urlTemplate);
    const size_t two = std::min<size_t>(2, infoHash.size());
    ReplaceAll(url, "{first2}", infoHash.substr(0, two));
    ReplaceAll(url, "{last2}", infoHash.substr(infoHash.size() - two));
    ReplaceAll(url, "{hash}", infoHash);
    return url;
}

MirrorOutcome FetchFromMirrors(std::string_view infoHash, const std::string& destination,
                               Downloader& downloader, const std::vector<std::string>& mirrors,
                               std::string_view networkLink, LinkPosition position) {
    MirrorOutcome outcome;
    // Only a hash whose bytes are known can be checked against what a source delivers, and
    // only its canonical form can reach a URL: nothing else of the link ever does.
    const std::optional<std::string> canonical = CanonicalInfoHash(infoHash);
    if (!canonical) {
        outcome.attempts.push_back(
            FetchResult{FetchError::InvalidHash, "not 40 hexadecimal or 32 base-32 characters"});
        return outcome;
    }
    const size_t sources = mirrors.size() + (networkLink.empty() ? 0 : 1);
    for (size_t k = 0; k < sources; ++k) {
        FetchRequest request;
        if (k < mirrors.size()) {
            request.url = BuildMirrorUrl(mirrors[k], *canonical);
        } else {
            request.magnet = std::string(networkLink);
        }
        request.destination = destination;
        request.infoHash = *canonical;
        request.mirror = static_cast<int>(k + 1);
        request.link = position.link;
        request.links = position.links;
        outcome.attempts.push_back(downloader.Fetch(request));
        const FetchResult& result = outcome.attempts.back();
        if (result.ok()) {
            outcome.ok = true;
            outcome.mirror = request.mirror;
            break;
        }
        if (result.error == FetchError::CannotWrite || result.error == FetchError::Cancelled) {
            break;
        }
    }
    return outcome;
}

const char* Describe(FetchError error) {
    switch (error) {
        case FetchError::None:
            return "已保存";
        case FetchError::NoConnection:
            return "无法连接";
        case FetchError::Timeout:
            return "超时";
        case FetchError::HttpStatus:
            return "服务器返回错误";
        case FetchError::Redirect:
            return "重定向无效";
        case FetchError::NotHttp:
            return "服务器的应答不是 HTTP";
        case FetchError::TooLarge:
            return "文件过大";
        case FetchError::NotATorrent:
            return "不是种子文件";
        case FetchError::WrongTorrent:
            return "种子与链接不符";
        case FetchError::CannotWrite:
            return "无法写入";
        case FetchError::InvalidHash:
            return "无效的种子特征";
        case FetchError::Cancelled:
            return "已取消";
        case FetchError::Other:
            break;
    }
    return "失败";
}

}  // namespace velindra

#include "links.h"

#include "utf8.h"

namespace velindra {

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::vector<std::string> SplitLinks(std::string_view text) {
    std::vector<std::string> links;
    size_t at = text.find(kMagnetMarker);
    while (at != std::string_view::npos) {
        const size_t begin = at + kMagnetMarker.size();
        const size_t next = text.find(kMagnetMarker, begin);
        const std::string_view piece = text.substr(
            begin, next == std::string_view::npos ? std::string_view::npos : next - begin);
        std::string link;
        link.reserve(piece.size());
        for (char c : piece) {
            if (c != '\r' && c != '\n') {
                link.push_back(c);
            }
        }
        links.push_back(std::move(link));
        at = next;
    }
    return links;
}

std::optional<ParsedLink> ParseLink(std::string_view link, bool usedn) {
    const size_t p = link.find(kHashPrefix);
    if (p == std::string_view::npos) {
        return std::nullopt;
    }
    const size_t hashBegin = p + kHashPrefix.size();
    const size_t amp = link.find('&', hashBegin);
    ParsedLink parsed;
    if (amp == std::string_view::npos) {
        // The hash runs to the end; a display name is not looked for.
        parsed.infoHash = std::string(link.substr(hashBegin));
        parsed.stem = parsed.infoHash;
        return parsed;
    }
    parsed.infoHash = std::string(link.substr(hashBegin, amp - hashBegin));
    parsed.stem = parsed.infoHash;
    if (usedn) {
        const size_t d = link.find(kNamePrefix);
        if (d != std::string_view::npos) {
            const size_t nameBegin = d + kNamePrefix.size();
            const size_t end = link.find('&', nameBegin);
            parsed.stem = std::string(link.substr(nameBegin, end == std::string_view::npos
                                                                 ? std::string_view::npos
                                                                 : end - nameBegin));
        }
    }
    return parsed;
}

namespace {

// The byte of a "%XX" escape at position i, or -1 when there is no complete escape there.
int EscapeAt(std::string_view s, size_t i) {
    if (i + 2 >= s.size() || s[i] != '%') {
        return -1;
    }
    const int hi = HexDigitValue(s[i + 1]);
    const int lo = HexDigitValue(s[i + 2]);
    return (hi < 0 || lo < 0) ? -1 : hi * 16 + lo;
}

}  // namespace

std::string DecodeDisplayName(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        const char ch = s[i];
        if (ch == '+') {
            out.push_back(' ');
            ++i;
            continue;
        }
        if (ch != '%') {
            out.push_back(ch);
            ++i;
            continue;
        }
        // A "%" and a single hex digit that end the text stand for that one small value.
        if (i + 2 == n && HexDigitValue(s[i + 1]) >= 0) {
            out.push_back(static_cast<char>(HexDigitValue(s[i + 1])));
            i += 2;
            continue;
        }
        const int lead = EscapeAt(s, i);
        if (lead < 0) {
            out.push_back('%');  // not an escape: keep the "%" and go on after it
            ++i;
            continue;
        }
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            i += 3;
            continue;
        }
        const Utf8Lead info = ReadUtf8Lead(lead);
        const int count = info.count;
        bool valid = count > 0;
        for (int k = 1; valid && k <= count; ++k) {
            const int byte = EscapeAt(s, i + 3 * static_cast<size_t>(k));
            const int lo = k == 1 ? info.firstMin : 0x80;
            const int hi = k == 1 ? info.firstMax : 0xBF;
            valid = byte >= lo && byte <= hi;
        }
        if (!valid) {
            out.append(s.substr(i, 3));  // keep the escape as written
            i += 3;
            continue;
        }
        for (int k = 0; k <= count; ++k) {
            out.push_back(static_cast<char>(EscapeAt(s, i + 3 * static_cast<size_t>(k))));
        }
        i += 3 * static_cast<size_t>(count + 1);
    }
    return out;
}

}  // namespace velindra

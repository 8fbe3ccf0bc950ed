#include "links.h"

#include <algorithm>
#include <utility>

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

namespace {

// The value after `prefix` up to the next "&", and whether such an "&" follows it.
std::optional<std::pair<std::string, bool>> ValueAfter(std::string_view link,
                                                       std::string_view prefix) {
    const size_t p = link.find(prefix);
    if (p == std::string_view::npos)
        return std::nullopt;
    const size_t begin = p + prefix.size();
    const size_t amp = link.find('&', begin);
    if (amp == std::string_view::npos)
        return std::pair{std::string(link.substr(begin)), false};
    return std::pair{std::string(link.substr(begin, amp - begin)), true};
}

// "%XX" escapes decoded; everything else, "+" included, as written.
std::string PercentDecoded(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const int hi = s[i] == '%' && i + 2 < s.size() ? HexDigitValue(s[i + 1]) : -1;
        const int lo = hi >= 0 ? HexDigitValue(s[i + 2]) : -1;
        if (lo >= 0) {
            out.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

bool IsWebAddress(std::string_view url) {
    std::string scheme;
    for (char c : url.substr(0, url.find(':')))
        scheme.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    return (scheme == "http" || scheme == "https") && url.substr(scheme.size()).starts_with("://");
}

// The values of xs=, as= and their numbered forms, among the link's parameters.
std::vector<std::string> ExactSources(std::string_view link) {
    std::vector<std::string> sources;
    size_t begin = 0;
    while (begin <= link.size() && sources.size() < kMaxExactSources) {
        const size_t end = std::min(link.find('&', begin), link.size());
        const std::string_view param = link.substr(begin, end - begin);
        const std::string_view key = param.substr(0, param.find('='));
        const bool exact = (key.starts_with("xs") || key.starts_with("as")) &&
                           (key.size() == 2 || key[2] == '.') && key.size() < param.size();
        if (exact) {
            std::string url = PercentDecoded(param.substr(key.size() + 1));
            if (IsWebAddress(url))
                sources.push_back(std::move(url));
        }
        begin = end + 1;
    }
    return sources;
}

}  // namespace

std::optional<ParsedLink> ParseLink(std::string_view link, bool usedn) {
    ParsedLink parsed;
    auto hash = ValueAfter(link, kHashPrefix);
    const auto v2 = ValueAfter(link, kV2HashPrefix);
    if (v2) {
        parsed.v2Hash = v2->first.starts_with(kSha256Multihash)
                            ? v2->first.substr(kSha256Multihash.size())
                            : v2->first;
    }
    if (!hash && !v2)
        return std::nullopt;
    if (hash) {
        parsed.infoHash = hash->first;
    } else {
        hash = std::pair{parsed.v2Hash, v2->second};  // a v2-only link is named by its v2 hash
    }
    parsed.stem = hash->first;
    // Only when an "&" follows the hash is a display name looked for.
    if (hash->second && usedn) {
        if (const auto name = ValueAfter(link, kNamePrefix))
            parsed.stem = name->first;
    }
    parsed.exactSources = ExactSources(link);
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

#include "core/links.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "core/utf8.h"

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

std::vector<std::string_view> SplitOn(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    for (size_t begin = 0;;) {
        const size_t end = std::min(text.find(separator, begin), text.size());
        pieces.push_back(text.substr(begin, end - begin));
        if (end == text.size())
            return pieces;
        begin = end + 1;
    }
}

namespace {

bool IsLineBreak(char c) {
    return c == '\r' || c == '\n';
}

bool IsAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// White space that ends a link (a link cannot hold it raw): the ASCII spaces, and the
// ideographic space of Chinese and Japanese text; its length in bytes, or 0.
size_t SpaceAt(std::string_view text, size_t i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\v' || c == '\f')
        return 1;
    return text.substr(i).starts_with("\u3000") ? 3 : 0;
}

// Whether a link's parameter, as far as it is written, is its hash not yet whole: a prefix of
// "xt=urn:btih:" or "xt=urn:btmh:", or either with fewer digits than a whole hash (40
// hexadecimal, 32 base32 unless they are all hexadecimal digits, 1220 and 64 for v2).
bool HashUnfinished(std::string_view parameter) {
    for (const std::string_view urn : {kV1Urn, kV2Urn}) {
        const std::string marker = std::string(kHashKey) + "=" + std::string(urn);
        if (marker.starts_with(parameter))
            return true;
        if (!parameter.starts_with(marker))
            continue;
        const std::string_view hash = parameter.substr(marker.size());
        if (!std::all_of(hash.begin(), hash.end(), IsAlnum))
            return false;
        if (urn == kV2Urn)
            return hash.size() < kSha256Multihash.size() + 64;
        const bool allHex =
            std::all_of(hash.begin(), hash.end(), [](char c) { return HexDigitValue(c) >= 0; });
        return hash.size() < 32 || (hash.size() < 40 && allHex);
    }
    return false;
}

// Whether the link written in `link` (line breaks in it already passed over) goes on on the
// next line, the text `rest`: a link broken visibly there, inside its hash, right after "&" or
// "=", inside a percent escape, or with the next line starting with "&".
bool GoesOn(std::string_view link, std::string_view rest) {
    if (rest.empty() || SpaceAt(rest, 0) > 0 || IsLineBreak(rest[0]))
        return false;
    // The link's last parameter (since its last "&"), and its last two characters, without
    // the breaks; a parameter that long is no hash.
    const size_t amp = link.rfind('&');
    std::string_view parameter = amp == std::string_view::npos ? link : link.substr(amp + 1);
    std::string joined;
    if (parameter.size() <= 256) {
        for (const char c : parameter) {
            if (!IsLineBreak(c))
                joined.push_back(c);
        }
    }
    std::string tail;  // the last two characters, without the breaks
    for (size_t i = link.size(); i > 0 && tail.size() < 2; --i) {
        if (!IsLineBreak(link[i - 1]))
            tail.insert(tail.begin(), link[i - 1]);
    }
    if (tail.empty())
        return false;
    const char last = tail.back(), next = rest[0];
    if (last == '&' || last == '=' || next == '&')
        return true;
    const bool escape =
        last == '%' || (tail.size() == 2 && tail[0] == '%' && HexDigitValue(last) >= 0);
    if (escape && HexDigitValue(next) >= 0)
        return true;
    return (IsAlnum(next) || next == ':') && parameter.size() <= 256 && HashUnfinished(joined);
}

}  // namespace

std::vector<LinkSpan> FindLinks(std::string_view text) {
    // What may end a link: white space (the ideographic space starts with 0xE3), a line break,
    // the next marker.
    static constexpr std::string_view kStops = " \t\v\f\r\n\xE3m";
    std::vector<LinkSpan> spans;
    size_t at = text.find(kMagnetMarker);
    while (at != std::string_view::npos) {
        const size_t begin = at + kMagnetMarker.size();
        size_t end = begin;
        for (;;) {
            end = std::min(text.find_first_of(kStops, end), text.size());
            if (end == text.size() || text.substr(end).starts_with(kMagnetMarker) ||
                SpaceAt(text, end) > 0)
                break;
            if (!IsLineBreak(text[end])) {
                ++end;  // an "m" or a character that only starts like the ideographic space
                continue;
            }
            const size_t after = end + (text.substr(end).starts_with("\r\n") ? 2 : 1);
            if (!GoesOn(text.substr(begin, end - begin), text.substr(after)))
                break;
            end = after;
        }
        spans.push_back({begin, end - begin});
        at = text.find(kMagnetMarker, end);
    }
    return spans;
}

std::string PieceAt(std::string_view text, LinkSpan span) {
    std::string link;
    link.reserve(span.length);
    const std::string_view piece = text.substr(span.begin, span.length);
    for (size_t i = 0; i < piece.size();) {
        const size_t stop = std::min(piece.find_first_of("\r\n&", i), piece.size());
        link.append(piece.substr(i, stop - i));
        if (stop == piece.size())
            break;
        i = stop + 1;
        if (piece[stop] != '&')
            continue;  // a line break the link goes on past
        link.push_back('&');
        // A link copied from a page's source or a feed writes "&" as an entity.
        for (const std::string_view entity : {"amp;", "#38;", "#x26;"}) {
            if (piece.substr(i).starts_with(entity)) {
                i += entity.size();
                break;
            }
        }
    }
    return link;
}

std::string_view BareHash(std::string_view text) {
    while (!text.empty() && (SpaceAt(text, 0) > 0 || IsLineBreak(text[0])))
        text.remove_prefix(SpaceAt(text, 0) > 0 ? SpaceAt(text, 0) : 1);
    const auto endsInSpace = [&] {
        return !text.empty() &&
               (std::string_view(" \t\v\f\r\n").find(text.back()) != std::string_view::npos ||
                text.ends_with("\u3000"));
    };
    while (endsInSpace())
        text.remove_suffix(text.ends_with("\u3000") ? 3 : 1);
    const auto base32 = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '2' && c <= '7');
    };
    const bool hex = text.size() == 40 && std::all_of(text.begin(), text.end(),
                                                      [](char c) { return HexDigitValue(c) >= 0; });
    return hex || (text.size() == 32 && std::all_of(text.begin(), text.end(), base32))
               ? text
               : std::string_view();
}

std::optional<std::string> BareHashesAsLinks(std::string_view text) {
    std::optional<std::string> written;
    for (size_t begin = 0; begin < text.size();) {
        const size_t end = std::min(text.find('\n', begin), text.size());
        const std::string_view line = text.substr(begin, end - begin);
        const std::string_view hash = line.size() <= 64 ? BareHash(line) : std::string_view();
        if (!hash.empty() && !written)
            written.emplace(text.substr(0, begin));
        if (written) {
            if (hash.empty())
                *written += line;
            else
                *written +=
                    std::string(kMagnetMarker) + "xt=" + std::string(kV1Urn) + std::string(hash);
            if (end < text.size())
                *written += '\n';
        }
        begin = end + 1;
    }
    return written;
}

std::vector<std::string> SplitLinks(std::string_view text) {
    std::vector<std::string> links;
    for (const LinkSpan& span : FindLinks(text))
        links.push_back(PieceAt(text, span));
    return links;
}

namespace {

// One "key=value" parameter of a link; a parameter without "=" has an empty key.
struct Parameter {
    std::string_view key;
    std::string_view value;
    bool last = false;  // no "&" follows it
};

// The link's parameters in the order written: whole "key=value" pairs between the "&"s, so
// that nothing inside one parameter's value (a tracker's own query) is read as another.
std::vector<Parameter> Parameters(std::string_view link) {
    const std::vector<std::string_view> pieces = SplitOn(link, '&');
    std::vector<Parameter> parameters(pieces.size());
    for (size_t k = 0; k < pieces.size(); ++k) {
        Parameter& p = parameters[k];
        if (const size_t equals = pieces[k].find('='); equals != std::string_view::npos) {
            p.key = pieces[k].substr(0, equals);
            p.value = pieces[k].substr(equals + 1);
        }
        p.last = k + 1 == pieces.size();
    }
    return parameters;
}

// The first parameter with this key whose value starts with `prefix`.
const Parameter* Find(const std::vector<Parameter>& parameters, std::string_view key,
                      std::string_view prefix = {}) {
    for (const Parameter& p : parameters) {
        if (p.key == key && p.value.starts_with(prefix))
            return &p;
    }
    return nullptr;
}

// An address as a browser reads a typed one: a character that cannot stand in a URL (a space,
// a control character) is encoded again, not refused ("my file.torrent" is "my%20file.torrent").
std::string AsTypedAddress(std::string url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(url.size());
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        } else {
            out += c;
        }
    }
    return out;
}

// The values of xs=, as= and their numbered forms, among the link's parameters.
std::vector<std::string> ExactSources(const std::vector<Parameter>& parameters) {
    std::vector<std::string> sources;
    for (const Parameter& p : parameters) {
        if (sources.size() >= kMaxExactSources)
            break;
        const std::string_view key = p.key;
        const bool exact =
            (key.starts_with("xs") || key.starts_with("as")) && (key.size() == 2 || key[2] == '.');
        if (exact) {
            std::string url = AsTypedAddress(PercentDecoded(p.value));
            if (IsWebAddress(url))
                sources.push_back(std::move(url));
        }
    }
    return sources;
}

// A hash holds no white space and nothing outside ASCII: what follows it ("magnet:?xt=urn:btih:
// <hash>（Ubuntu 光盘）") is the text around the link, not the hash.
std::string_view UpToSpace(std::string_view value) {
    for (size_t i = 0; i < value.size(); ++i) {
        if (SpaceAt(value, i) > 0 || static_cast<unsigned char>(value[i]) >= 0x80)
            return value.substr(0, i);
    }
    return value;
}

}  // namespace

std::optional<ParsedLink> ParseLink(std::string_view link, bool usedn) {
    const std::vector<Parameter> parameters = Parameters(link);
    const Parameter* v1 = Find(parameters, kHashKey, kV1Urn);
    const Parameter* v2 = Find(parameters, kHashKey, kV2Urn);
    if (!v1 && !v2)
        return std::nullopt;
    ParsedLink parsed;
    if (v2) {
        const std::string_view value = UpToSpace(v2->value.substr(kV2Urn.size()));
        parsed.v2Hash =
            value.starts_with(kSha256Multihash) ? value.substr(kSha256Multihash.size()) : value;
    }
    if (v1)
        parsed.infoHash = UpToSpace(v1->value.substr(kV1Urn.size()));
    parsed.hasV1 = v1 != nullptr;
    // A v2-only link is named by its v2 hash.
    const Parameter& hash = v1 ? *v1 : *v2;
    parsed.stem = v1 ? parsed.infoHash : parsed.v2Hash;
    // Only when another parameter follows the hash is a display name looked for.
    if (!hash.last && usedn) {
        if (const Parameter* name = Find(parameters, kNameKey))
            parsed.stem = name->value;
    }
    parsed.exactSources = ExactSources(parameters);
    for (const Parameter& p : parameters) {
        if (p.key == "tr") {
            std::string tracker = AsTypedAddress(PercentDecoded(p.value));
            parsed.privateTracker = parsed.privateTracker || IsPrivateTrackerAddress(tracker);
            if (parsed.trackers.size() < kMaxLinkTrackers && !tracker.empty())
                parsed.trackers.push_back(std::move(tracker));
        } else if (p.key == "ws" && parsed.webSeeds.size() < kMaxExactSources) {
            std::string seed = AsTypedAddress(PercentDecoded(p.value));
            if (IsWebAddress(seed))
                parsed.webSeeds.push_back(std::move(seed));
        }
    }
    return parsed;
}

namespace {

bool IsKeySegment(std::string_view segment) {
    const auto keyChar = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               c == '+' || c == '/' || c == '=' || c == '-' || c == '_';
    };
    return segment.size() >= 16 && std::all_of(segment.begin(), segment.end(), keyChar);
}

}  // namespace

bool IsPrivateTrackerAddress(std::string_view url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return false;
    const size_t pathAt = url.find_first_of("/?", scheme + 3);
    if (pathAt == std::string_view::npos)
        return false;
    const size_t queryAt = url.find('?', pathAt);
    const std::string_view path = url.substr(pathAt, queryAt - pathAt);
    if (queryAt != std::string_view::npos) {
        for (const std::string_view pair : SplitOn(url.substr(queryAt + 1), '&')) {
            for (const std::string_view key : {"passkey=", "authkey=", "pk="}) {
                if (pair.size() > key.size() && pair.starts_with(key))
                    return true;
            }
        }
    }
    // The segments of the path, and the one that starts with "announce" among them.
    std::vector<std::string_view> segments;
    for (std::string_view rest = path; !rest.empty();) {
        const size_t slash = rest.find('/');
        if (slash != 0)
            segments.push_back(rest.substr(0, slash));
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    for (size_t k = 0; k < segments.size(); ++k) {
        if (!segments[k].starts_with("announce"))
            continue;
        if ((k + 1 < segments.size() && IsKeySegment(segments[k + 1])) ||
            (k > 0 && IsKeySegment(segments[k - 1])))
            return true;
    }
    return false;
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

std::string CappedLink(std::string_view link, size_t trackers, size_t peers) {
    std::string capped;
    size_t trackersSeen = 0, peersSeen = 0;
    const std::vector<std::string_view> params = SplitOn(link, '&');
    for (size_t k = 0; k < params.size(); ++k) {
        const std::string_view param = params[k];
        if (k + 1 == params.size() && param.empty())
            break;  // a "&" at the end leads to nothing
        const bool keep = param.starts_with("tr=")     ? ++trackersSeen <= trackers
                          : param.starts_with("x.pe=") ? ++peersSeen <= peers
                                                       : true;
        if (keep)
            capped.append(capped.empty() ? "" : "&").append(param);
    }
    return capped;
}

namespace {

// The character an HTML character reference at `i` (just after its "&") stands for, and how
// many bytes it takes with its ";"; nothing when it is none this reads.
std::optional<std::pair<std::string, size_t>> CharacterReference(std::string_view s, size_t i) {
    static constexpr std::pair<std::string_view, std::string_view> kNamed[] = {
        {"amp;", "&"}, {"quot;", "\""}, {"apos;", "'"}, {"lt;", "<"}, {"gt;", ">"}, {"nbsp;", " "}};
    for (const auto& [name, character] : kNamed) {
        if (s.substr(i, name.size()) == name)
            return std::pair{std::string(character), name.size()};
    }
    if (i >= s.size() || s[i] != '#')
        return std::nullopt;
    const bool hex = i + 1 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X');
    size_t k = i + (hex ? 2 : 1);
    uint32_t cp = 0;
    const size_t digits = k;
    for (; k < s.size() && k - digits < 8; ++k) {
        const int d = hex ? HexDigitValue(s[k]) : (s[k] >= '0' && s[k] <= '9' ? s[k] - '0' : -1);
        if (d < 0)
            break;
        cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(d);
    }
    if (k == digits || k >= s.size() || s[k] != ';' || cp == 0 || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return std::nullopt;
    return std::pair{EncodeUtf8(cp), k + 1 - i};
}

std::string WithReferencesRead(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size();) {
        const size_t amp = std::min(s.find('&', i), s.size());
        out.append(s.substr(i, amp - i));
        if (amp == s.size())
            break;
        if (const auto reference = CharacterReference(s, amp + 1)) {
            out += reference->first;
            i = amp + 1 + reference->second;
        } else {
            out += '&';
            i = amp + 1;
        }
    }
    return out;
}

}  // namespace

std::vector<std::string> MagnetLinksInHtml(std::string_view html) {
    std::vector<std::string> links;
    for (size_t at = html.find(kMagnetMarker); at != std::string_view::npos;
         at = html.find(kMagnetMarker, at)) {
        const size_t end = std::min(html.find_first_of("\"'<> \t\r\n", at), html.size());
        std::string link = WithReferencesRead(html.substr(at, end - at));
        if (std::find(links.begin(), links.end(), link) == links.end())
            links.push_back(std::move(link));
        at = end;
    }
    return links;
}

}  // namespace velindra

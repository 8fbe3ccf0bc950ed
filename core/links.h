// Cutting the pasted text into magnet links, and taking each link apart.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velindra {

inline constexpr std::string_view kMagnetMarker = "magnet:?";
inline constexpr std::string_view kHashPrefix = "xt=urn:btih:";
inline constexpr std::string_view kNamePrefix = "dn=";

// Everything after each "magnet:?" up to the next one or the end of the text, with every
// CR and LF removed and nothing else changed. Text before the first marker is dropped.
// The match is exact and case-sensitive. Runs in time linear in the text.
std::vector<std::string> SplitLinks(std::string_view text);

struct ParsedLink {
    std::string infoHash;  // as written in the link
    std::string stem;      // display name or info-hash, still percent-encoded
};

// The info-hash is everything between "xt=urn:btih:" and the next "&". Only when such an "&"
// exists and usedn is set, the stem is what follows the first "dn=" anywhere in the link, up
// to the next "&". nullopt when the link holds no "xt=urn:btih:".
std::optional<ParsedLink> ParseLink(std::string_view link, bool usedn);

// The value of one hexadecimal digit of either case, or -1.
int HexDigitValue(char c);

// Percent-decodes a display name: "+" is a space, "%XX" runs that form a valid UTF-8 sequence
// yield their character, and anything that does not decode cleanly stays as written.
// Input and output are UTF-8; a decoded character is never decoded again.
std::string DecodeDisplayName(std::string_view stem);

}  // namespace velindra

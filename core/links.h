// Cutting the pasted text into magnet links, and taking each link apart.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velindra {

inline constexpr std::string_view kMagnetMarker = "magnet:?";
// The parameters a link is known by: xt=urn:btih:<v1 hash>, xt=urn:btmh:<v2 multihash>, dn=.
inline constexpr std::string_view kHashKey = "xt";
inline constexpr std::string_view kV1Urn = "urn:btih:";
// A BitTorrent v2 info-hash: a multihash whose "1220" says SHA-256 and 32 bytes follow.
inline constexpr std::string_view kV2Urn = "urn:btmh:";
inline constexpr std::string_view kNameKey = "dn";
inline constexpr std::string_view kSha256Multihash = "1220";
// How many of a link's own addresses of its .torrent file (xs=, as=) are asked, at most.
inline constexpr size_t kMaxExactSources = 3;
// How many of a link's trackers go into its saved file, at most (a hostile page's link may
// name thousands).
inline constexpr size_t kMaxLinkTrackers = 100;

// The links of a text: what follows each "magnet:?" up to the white space (ASCII, or the
// ideographic space) or the line break that ends it, or the next marker. A line break does not
// end a link that is visibly broken there and goes on on the next line: inside its hash, right
// after "&" or "=", inside a percent escape, or before a line that starts with "&"; the breaks
// are removed. "&amp;" (and "&#38;", "&#x26;") read as "&". Text around and between the links
// is dropped. The match is exact and case-sensitive. Runs in time linear in the text.
std::vector<std::string> SplitLinks(std::string_view text);

// Where each of those links lies in the text, as written (line breaks and entities still in
// it): a few bytes a link, for a text too large to hold every piece twice.
struct LinkSpan {
    size_t begin = 0;
    size_t length = 0;
};
std::vector<LinkSpan> FindLinks(std::string_view text);
// The link at a span, its line breaks removed and its entities read.
std::string PieceAt(std::string_view text, LinkSpan span);

// The magnet links an HTML text holds (in its anchors' addresses, or anywhere else), each
// as far as the quote, white space or tag that ends it, HTML's character references read
// ("&amp;", "&#38;", "&quot;" ...), in order and without repeats: what a copy from a web page
// brings beside its plain text.
std::vector<std::string> MagnetLinksInHtml(std::string_view html);

// The info-hash a text is, white space around it aside: 40 hexadecimal or 32 base32
// characters; empty when it is anything else.
std::string_view BareHash(std::string_view text);
// The text with each line that is a bare info-hash written as its link
// ("magnet:?xt=urn:btih:<hash>"), as the BitTorrent clients take such a line; nothing when no
// line is one.
std::optional<std::string> BareHashesAsLinks(std::string_view text);

struct ParsedLink {
    std::string infoHash;  // as written in the link; empty for a link with a v2 hash only
    std::string stem;      // display name or info-hash, still percent-encoded
    // The v2 info-hash as written after "xt=urn:btmh:1220" (the whole value when it does not
    // start so); empty when the link has none.
    std::string v2Hash;
    // The link's own http and https addresses of its .torrent file (xs= and as=, also
    // numbered as xs.1=), decoded, in the order written, at most kMaxExactSources.
    std::vector<std::string> exactSources;
    // One of its trackers is a private tracker's (IsPrivateTrackerAddress): by that tracker's
    // rule the torrent is never looked up where the public could see its hash.
    bool privateTracker = false;
    bool hasV1 = false;  // it has an xt=urn:btih: parameter, whatever its value
    // Its trackers (tr=, decoded, the first kMaxLinkTrackers) and web seeds (ws=, http and
    // https, decoded, the first kMaxExactSources), for the saved file.
    std::vector<std::string> trackers;
    std::vector<std::string> webSeeds;
    // The hash the link is known by: the v1 hash, or the v2 hash of a v2-only link.
    const std::string& shownHash() const { return infoHash.empty() ? v2Hash : infoHash; }
};

// A link is read as whole "key=value" parameters between "&"s, keys compared exactly. The
// info-hash is the value of the first "xt" parameter after its "urn:btih:". Only when another
// parameter follows that one and usedn is set, the stem is the value of the first "dn"
// parameter. A link without such an "xt" but with an "xt" of "urn:btmh:" is read the same way
// with the v2 hash in the hash's place. nullopt when the link holds neither.
std::optional<ParsedLink> ParseLink(std::string_view link, bool usedn);

// Whether a tracker's address carries a user's passkey, as private trackers' do: a
// "passkey=", "authkey=" or "pk=" parameter, or a path segment of 16 or more hexadecimal or
// base64 characters after the one that starts with "announce" (or before it).
bool IsPrivateTrackerAddress(std::string_view url);

// The value of one hexadecimal digit of either case, or -1.
int HexDigitValue(char c);

// "%XX" escapes decoded; everything else, "+" included, as written.
std::string PercentDecoded(std::string_view s);

// Whether an address is a web address: "http://" or "https://", the scheme in either case.
bool IsWebAddress(std::string_view url);

// The pieces of a text between its separators, empty ones too ("a&&b": "a", "", "b"; "": "").
std::vector<std::string_view> SplitOn(std::string_view text, char separator);

// Percent-decodes a display name: "+" is a space, "%XX" runs that form a valid UTF-8 sequence
// yield their character, and anything that does not decode cleanly stays as written.
// Input and output are UTF-8; a decoded character is never decoded again.
std::string DecodeDisplayName(std::string_view stem);

// The link with at most `trackers` "tr=" and `peers` "x.pe=" parameters, the others as they
// are.
std::string CappedLink(std::string_view link, size_t trackers, size_t peers);

}  // namespace velindra

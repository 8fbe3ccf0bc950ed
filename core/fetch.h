// From a parsed link to a file on disk: the file name, the destination, and the mirror chain.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "interfaces.h"

namespace velindra {

// Which file system the names are made for.
struct PathRules {
    bool windows = false;
    char separator() const { return windows ? '\\' : '/'; }
};

#ifdef _WIN32
inline constexpr PathRules kHostPathRules{true};
#else
inline constexpr PathRules kHostPathRules{false};
#endif

inline constexpr std::string_view kTorrentSuffix = ".torrent";
inline constexpr size_t kMaxFileNameUnits = 255;  // bytes in UTF-8, or UTF-16 units on Windows

// The decoded stem made into one safe path component, followed by ".torrent". Path
// separators, characters that file systems reject, control characters and invisible
// direction marks become "_"; the stem is shortened at a character boundary so that the
// whole name fits in 255 units. An empty stem gives ".torrent".
std::string MakeFileName(std::string_view decodedStem, PathRules rules = kHostPathRules);

// The save folder and the file name joined with the separator, after which every doubled
// separator is folded into one, in a single left-to-right pass. A leading "\\" of a Windows
// network path is kept.
std::string JoinDestination(std::string_view folder, std::string_view fileName,
                            PathRules rules = kHostPathRules);

// The text with every C0 and C1 control character and DEL written as an escape ("\x1b",
// "\u009b"), and bytes that are not UTF-8 as "\xNN", so that outside text printed on a
// terminal can never steer it.
std::string EscapeControls(std::string_view text);

// URL templates with the placeholders {hash}, {first2} and {last2}.
const std::vector<std::string>& BuiltInMirrors();

// Fills in the hash, its first two and its last two characters (a shorter hash is used whole).
std::string BuildMirrorUrl(std::string_view urlTemplate, std::string_view infoHash);

struct MirrorOutcome {
    bool ok = false;
    int mirror = 0;                     // 1-based index of the source that delivered
    std::vector<FetchResult> attempts;  // one per source asked, in order
    FetchResult last() const { return attempts.empty() ? FetchResult{} : attempts.back(); }
    bool cancelled() const { return !attempts.empty() && last().error == FetchError::Cancelled; }
};

// Asks the mirrors in order and stops at the first that delivers, each with the hash in the
// form the caches index (40 upper-case hexadecimal digits). A hash without a checkable form
// fails at once with FetchError::InvalidHash, and nothing is asked. When they all fail and a
// link is given, the BitTorrent network is asked last, through the same downloader, with a
// request that carries the link instead of a URL. A destination that cannot be written, or a
// cancel, ends the chain at once: no other source could help.
struct LinkPosition {
    int link = 0;   // 1-based
    int links = 0;  // in the whole batch
};

MirrorOutcome FetchFromMirrors(std::string_view infoHash, const std::string& destination,
                               Downloader& downloader, const std::vector<std::string>& mirrors,
                               std::string_view networkLink = {}, LinkPosition position = {});

}  // namespace velindra

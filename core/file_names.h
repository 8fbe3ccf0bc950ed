// How a link's file is named, and where in the save folder it goes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velindra {

// Which file system the names are made for; the host's are handed in (platform/host_paths.h).
struct PathRules {
    bool windows = false;
    // Whether the folder's file system takes names that differ only in case for one name, as
    // Windows' do, and FAT, exFAT and case-insensitive ext4 folders on Linux.
    bool ignoresCase = windows;
    char separator() const { return windows ? '\\' : '/'; }
};

inline constexpr std::string_view kTorrentSuffix = ".torrent";
inline constexpr size_t kMaxFileNameUnits = 255;  // bytes in UTF-8, or UTF-16 units on Windows

// The decoded stem made into one safe path component, followed by ".torrent". Path
// separators, characters that file systems reject, control characters and invisible
// direction marks become "_"; the stem is shortened at a character boundary so that the
// whole name fits in 255 units. An empty stem gives ".torrent".
std::string MakeFileName(std::string_view decodedStem, PathRules rules);

// The save folder and the file name joined with the separator, after which every doubled
// separator is folded into one, in a single left-to-right pass. A leading "\\" of a Windows
// network path is kept.
std::string JoinDestination(std::string_view folder, std::string_view fileName, PathRules rules);

// Whether a folder names one place whatever the current folder is: "/..." here; on Windows a
// drive's root ("F:\\" or "F:/") or a network path ("\\\\server\\share").
bool IsAbsoluteFolder(std::string_view folder, PathRules rules);

// The file name a link's stem gives: decoded, made safe, followed by ".torrent".
std::string FileNameFor(std::string_view stem, PathRules rules);

}  // namespace velindra

// Bencode read strictly: a body checked as one torrent and its "info" dictionary found, and the
// values of a dictionary already checked read without checking again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velindra {

inline constexpr size_t kMaxBencodeDepth = 100;

struct TorrentParts {
    std::string_view info;  // the exact bytes of the "info" dictionary
    size_t length = 0;  // how many bytes the top-level dictionary takes, white space after it not
    bool v2 = false;    // the info dictionary has the fields of BitTorrent v2 ("meta version",
                        // "file tree"), so that its SHA-256 names it too
};

// Strictly parses the body as one bencoded dictionary, which may only be followed by ASCII
// white space, and finds its "info" dictionary. nullopt when the body is not well-formed
// (truncated, bad or out-of-range lengths, leading zeros, a key repeated in any dictionary,
// nesting deeper than 100, other trailing bytes) or has no "info" dictionary. Keys out of
// order are accepted. Never recurses.
std::optional<TorrentParts> ParseTorrent(std::string_view body);
std::optional<std::string_view> FindInfoDictionary(std::string_view body);

// Whether a file that begins with `head` (its first kTorrentHeadBytes bytes, or all of a
// shorter file) can be a torrent: a bencoded dictionary whose first key is a short text of
// printable ASCII, as every torrent key is. Anything else is decided without reading further.
inline constexpr size_t kTorrentHeadBytes = 72;
bool BeginsAsTorrent(std::string_view head);

// Reading a well-formed value (one ParseTorrent took): nothing here checks it again.
namespace bencode {

using Entries = std::vector<std::pair<std::string_view, std::string_view>>;  // key, raw value

// The end of the value that starts at `i`.
size_t ValueEnd(std::string_view d, size_t i);
// The string at `i`, with `i` moved past it.
std::string_view StringAt(std::string_view d, size_t& i);
// The strings of a list value, other values passed over.
std::vector<std::string> Strings(std::string_view list);
// The entries of a dictionary, in the order written, and one of them by its key ("" for none).
Entries EntriesOf(std::string_view d);
std::string_view ValueOf(const Entries& entries, std::string_view key);
// An integer value ("i42e"); nothing for another kind, or one out of range.
std::optional<int64_t> IntegerOf(std::string_view value);
// A string value; nothing for another kind.
std::optional<std::string> StringOf(std::string_view value);
// A byte string written ("4:spam").
std::string Bstr(std::string_view s);

}  // namespace bencode

}  // namespace velindra

// Recognising a delivered body as the torrent file a link asks for.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "result.h"

namespace velindra {

inline constexpr size_t kMaxBencodeDepth = 100;

struct TorrentParts {
    std::string_view info;  // the exact bytes of the "info" dictionary
    size_t length = 0;  // how many bytes the top-level dictionary takes, white space after it not
};

// Strictly parses the body as one bencoded dictionary, which may only be followed by ASCII
// white space, and finds its "info" dictionary. nullopt when the body is not well-formed
// (truncated, bad or out-of-range lengths, leading zeros, a key repeated in any dictionary,
// nesting deeper than 100, other trailing bytes) or has no "info" dictionary. Keys out of
// order are accepted. Never recurses.
std::optional<TorrentParts> ParseTorrent(std::string_view body);
std::optional<std::string_view> FindInfoDictionary(std::string_view body);

using Sha1Digest = std::array<uint8_t, 20>;

// The 20 bytes a 40-digit hexadecimal or a 32-character base-32 info-hash stands for, in
// either case; nullopt for any other form.
std::optional<Sha1Digest> InfoHashBytes(std::string_view infoHash);

// The 40 upper-case hexadecimal digits of a hash in either readable form; nullopt otherwise.
std::optional<std::string> CanonicalInfoHash(std::string_view infoHash);

// The digest, or nothing when the system could not compute it.
using Sha1Function = std::optional<Sha1Digest> (*)(std::string_view data);

// None when the body is a torrent for the hash: a well-formed torrent whose "info" dictionary
// hashes to it. `length` then receives how many leading bytes of the body are the torrent.
// A hash with no readable form is InvalidHash: such a body can never be vouched for; a body
// that could not be hashed is Other.
FetchError CheckTorrent(std::string_view body, std::string_view infoHash, Sha1Function sha1,
                        size_t* length = nullptr);

}  // namespace velindra

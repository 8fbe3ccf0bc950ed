// Recognising a delivered body as the torrent file a link asks for.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "interfaces.h"

namespace velindra {

inline constexpr size_t kMaxBencodeDepth = 100;

// Strictly parses the whole body as one bencoded value and returns the exact bytes of the
// top-level dictionary's "info" value when that is a dictionary. nullopt when the body is not
// well-formed (truncated, bad or out-of-range lengths, leading zeros, nesting deeper than 100,
// trailing data) or has no "info" dictionary. Never recurses.
std::optional<std::string_view> FindInfoDictionary(std::string_view body);

using Sha1Digest = std::array<uint8_t, 20>;

// The 20 bytes a 40-digit hexadecimal or a 32-character base-32 info-hash stands for, in
// either case; nullopt for any other form.
std::optional<Sha1Digest> InfoHashBytes(std::string_view infoHash);

using Sha1Function = Sha1Digest (*)(std::string_view data);

// None when the body is a torrent for the hash: a well-formed torrent with an "info"
// dictionary, whose SHA-1 must match where the hash has a form we can read.
FetchError CheckTorrent(std::string_view body, std::string_view infoHash, Sha1Function sha1);

}  // namespace velindra

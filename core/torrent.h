// Recognising a delivered body as the torrent file a link asks for.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

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

using Sha1Digest = std::array<uint8_t, 20>;

// The 20 bytes a 40-digit hexadecimal or a 32-character base-32 info-hash stands for, in
// either case; nullopt for any other form.
std::optional<Sha1Digest> InfoHashBytes(std::string_view infoHash);

using Sha256Digest = std::array<uint8_t, 32>;

// The 32 bytes of a BitTorrent v2 info-hash written as 64 hexadecimal digits of either case;
// nullopt for any other form.
std::optional<Sha256Digest> V2HashBytes(std::string_view v2Hash);

// The hashes a link is known by, as their bytes: a v1 info-hash (SHA-1), a v2 info-hash
// (SHA-256), or both for a hybrid link. Read once from the link's text and carried to every
// source, which checks what it delivers against them.
struct LinkHashes {
    std::optional<Sha1Digest> v1;
    std::optional<Sha256Digest> v2;
    // The 40 upper-case hexadecimal digits the caches index, or "" without a v1 hash.
    std::string V1Text() const;
    // The 64 lower-case hexadecimal digits v2 links write, or "" without a v2 hash.
    std::string V2Text() const;
    bool operator==(const LinkHashes&) const = default;
};

// Both hashes of a link, from their texts as the link writes them ("" for none); nothing when
// the link has none, or one that cannot be read (a v2 hash beside a readable v1 hash is then
// left out, unchecked).
std::optional<LinkHashes> ReadLinkHashes(std::string_view v1, std::string_view v2);

// The system's digests; nothing when it could not compute one.
struct Digests {
    std::optional<Sha1Digest> (*sha1)(std::string_view data);
    std::optional<Sha256Digest> (*sha256)(std::string_view data);
};

// None when the body is a torrent for the link: a well-formed torrent whose "info" dictionary
// hashes to the v1 hash (when the link has one) and to the v2 hash (when the link has one and
// either has no v1 hash or the dictionary carries v2 fields). `length` then receives how many
// leading bytes of the body are the torrent. No hash at all is InvalidHash: such a body can
// never be vouched for; a body that could not be hashed is Other.
FetchError CheckTorrent(std::string_view body, const LinkHashes& hashes, const Digests& digests,
                        size_t* length = nullptr);

// The .torrent file for metadata received from the network: the info dictionary exactly as
// received, with the trackers as "announce" and "announce-list" (one tier each).
std::string TorrentFromMetadata(std::string_view info, const std::vector<std::string>& trackers);

// A well-formed torrent (as ParseTorrent takes it) with a link's trackers and web seeds added:
// its own "announce" and "announce-list" first, tiers kept, then each tracker it lacks as a
// tier of its own (compared as URLs: scheme and host in any case), and the web seeds it lacks
// after its "url-list" (BEP 19). Every other key, "info" above all, stays byte for byte, so the
// hashes do not change. Nothing when there is nothing to add.
std::optional<std::string> WithLinkAddresses(std::string_view torrent,
                                             const std::vector<std::string>& trackers,
                                             const std::vector<std::string>& webSeeds);

// What a well-formed torrent (as ParseTorrent takes it) holds: its name ("name.utf-8" where
// it has one), the size and number of its files (v1's list, else v2's file tree; padding files
// left out) and whether it is private. Nothing when its info dictionary has no usable name
// or file sizes.
std::optional<TorrentFacts> DescribeTorrent(std::string_view torrent);

// A delivered, well-formed torrent as it is saved for a link: the link's own trackers and web
// seeds added (WithLinkAddresses), then `addedTrackers` (the user's) unless the torrent is
// private; nothing when there is nothing to add.
std::optional<std::string> CompletedForLink(std::string_view torrent, std::string_view link,
                                            const std::vector<std::string>& addedTrackers);

}  // namespace velindra

// Recognising a delivered body as the torrent file a link asks for.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/bencode.h"
#include "core/info_hash.h"
#include "core/result.h"

namespace velindra {

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

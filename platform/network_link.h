// What the network source gives the library for a link, and what the link asks the network
// through.
#pragma once

// Inside the network source: platform/ alone includes this (and the tests that reach inside);
// the programs ask for the network through platform/sources.h.
#ifndef VELINDRA_PLATFORM_INSIDE
#error "the network source's inner headers are platform's own: include platform/sources.h"
#endif

#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/info_hash.hpp>
#include <optional>
#include <string>
#include <vector>

#include "core/interfaces.h"
#include "platform/reachability.h"

namespace velindra {

// At most this many trackers and peer addresses are taken from one link; the saved torrent
// keeps at most those trackers.
inline constexpr size_t kMaxTrackersPerLink = 100;
inline constexpr size_t kMaxPeersPerLink = 100;

// What a link asks the network through: its trackers and its peers; and those it named that
// are on this machine or a private network and are never contacted.
struct LinkNames {
    NetworkNames names;
    std::vector<libtorrent::tcp::endpoint> peers;
    std::vector<std::string> refused;
};

// "address:port", an IPv6 address in brackets.
std::string EndpointText(const libtorrent::tcp::endpoint& peer);

// The hashes the network is asked by, v1 (SHA-1), v2 (SHA-256) or both; nothing when the link
// has neither.
std::optional<libtorrent::info_hash_t> NetworkHashes(const LinkHashes& hashes);

// What the library is given for a link: its trackers and peers, the hash in its checked form,
// and no content ever asked for.
libtorrent::add_torrent_params ParamsFor(const FetchRequest& request,
                                         const libtorrent::info_hash_t& hashes,
                                         bool allowPrivateAddresses);

// What the link asks through. Unless allowed, the peers and trackers on this machine or a
// private network are taken out of `params`, known to be refused before anything is asked.
LinkNames NamesOf(libtorrent::add_torrent_params& params, bool allowPrivateAddresses);

}  // namespace velindra

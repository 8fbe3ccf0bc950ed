#include "platform/network_link.h"

#include <algorithm>
#include <libtorrent/magnet_uri.hpp>

#include "core/links.h"
#include "platform/addresses.h"
#include "platform/atomic_file.h"
#include "platform/url.h"

namespace lt = libtorrent;

namespace velindra {

namespace {

bool Private(const std::string& host) {
    const std::optional<IpAddress> address = ParseAddress(host);
    return address && !IsPublic(*address);
}

}  // namespace

std::string EndpointText(const lt::tcp::endpoint& peer) {
    const std::string address = peer.address().to_string();
    return (peer.address().is_v6() ? "[" + address + "]" : address) + ":" +
           std::to_string(peer.port());
}

// What the library is given for a link: its trackers and peers, the hash in its checked form,
// and no content ever asked for. The library's work on a link grows with the square of the
// number of its trackers and peers: it takes only so many of them.
lt::add_torrent_params ParamsFor(const FetchRequest& request, const lt::info_hash_t& hashes,
                                 bool allowPrivateAddresses) {
    lt::error_code ec;
    lt::add_torrent_params params =
        lt::parse_magnet_uri(CappedLink(request.link, kMaxTrackersPerLink, kMaxPeersPerLink), ec);
    if (ec)
        params = lt::add_torrent_params();  // keep going with the hashes alone
    params.info_hashes = hashes;
    // Web seeds serve content, never metadata; DHT nodes a link names are only asked where
    // the link may make the program reach any address.
    params.url_seeds.clear();
    if (!allowPrivateAddresses)
        params.dht_nodes.clear();
    // The user's trackers after the link's own, for a link whose torrent is not private.
    if (!request.privateLink) {
        for (const std::string& tracker : request.addedTrackers) {
            if (std::find(params.trackers.begin(), params.trackers.end(), tracker) ==
                params.trackers.end())
                params.trackers.push_back(tracker);
        }
    }
    // Credentials a link writes into a tracker's address are never sent, nor saved.
    for (std::string& tracker : params.trackers) {
        Url url(tracker, Url::Any);
        if (url.ok() && url.HasCredentials())
            tracker = url.WithoutCredentials();
    }
    params.save_path = ParentFolder(request.destination);
    // Added paused and then resumed: resuming a torrent dials the peers it knows at once, where
    // the library would otherwise wait for its next second.
    params.flags &= ~lt::torrent_flags::auto_managed;
    params.flags |= lt::torrent_flags::paused;
    params.flags |= lt::torrent_flags::upload_mode;  // never ask peers for content
    params.flags |= lt::torrent_flags::disable_dht;  // looked up when the source says
    return params;
}

// The hashes the network is asked by, v1 (SHA-1), v2 (SHA-256) or both; nothing when the link
// has neither.
std::optional<lt::info_hash_t> NetworkHashes(const LinkHashes& hashes) {
    const auto sha1 = [&] {
        return lt::sha1_hash(reinterpret_cast<const char*>(hashes.v1->data()));
    };
    const auto sha256 = [&] {
        return lt::sha256_hash(reinterpret_cast<const char*>(hashes.v2->data()));
    };
    if (hashes.v1 && hashes.v2)
        return lt::info_hash_t(sha1(), sha256());
    if (hashes.v1)
        return lt::info_hash_t(sha1());
    if (hashes.v2)
        return lt::info_hash_t(sha256());
    return std::nullopt;
}

LinkNames NamesOf(lt::add_torrent_params& params, bool allowPrivateAddresses) {
    LinkNames named;
    if (!allowPrivateAddresses) {
        // Known to be refused before anything is asked: said as the reason, never dialled.
        std::erase_if(params.peers, [&](const lt::tcp::endpoint& peer) {
            const bool refused = Private(peer.address().to_string());
            if (refused)
                named.refused.push_back(EndpointText(peer));
            return refused;
        });
        std::erase_if(params.trackers, [&](const std::string& tracker) {
            const bool refused = Private(Url(tracker, Url::Any).Host());
            if (refused)
                named.refused.push_back(ShownTracker(tracker));
            return refused;
        });
    }
    named.names.trackers = params.trackers;
    named.peers = params.peers;
    for (const lt::tcp::endpoint& peer : named.peers)
        named.names.peers.push_back(EndpointText(peer));
    return named;
}

}  // namespace velindra

// The fourth source: a link's metadata from the peers that share it (the BitTorrent metadata
// exchange over the DHT, the link's trackers and its peer addresses).
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "interfaces.h"

namespace libtorrent {
class session;
struct torrent_handle;
namespace dht {
struct dht_state;
}
}  // namespace libtorrent

namespace velindra {

class AtomicFile;

// At most this many trackers and peer addresses are taken from one link; the saved torrent
// keeps at most those trackers.
inline constexpr size_t kMaxTrackersPerLink = 100;
inline constexpr size_t kMaxPeersPerLink = 100;

// Every bound and switch of the network source, in one place.
struct SwarmLimits {
    long perLinkMs = 60'000;      // give up on a link after this long
    long unreachableMs = 10'000;  // ... or after this long without any peer or DHT node; once
                                  // a link has, the session counts as offline (see Fetch)
    bool dht = true;
    bool localDiscovery = false;  // metadata needs no local peer discovery
    bool portMapping = false;     // UPnP and NAT-PMP: the router stays as it is
    std::string listenInterfaces = "0.0.0.0:0,[::]:0";
    std::string dhtBootstrapNodes =
        "router.bittorrent.com:6881,router.utorrent.com:6881,dht.transmissionbt.com:6881,"
        "dht.libtorrent.org:25401";
    // Where the DHT routing table is kept between runs, so that a later batch finds peers
    // without bootstrapping again; empty keeps nothing.
    std::string stateFile;
    // Whether the peers and trackers a link leads to may be on this machine or a private
    // network. Without it the session contacts no such address (its IP filter blocks them all,
    // trackers included), and takes no DHT node from a link.
    bool allowPrivateAddresses = false;
};

// The state file in the user's cache folder (swarm-state there); empty when there is no home
// to put it in.
std::string DefaultSwarmStateFile();

// One session for a whole batch, started by Warm() as the batch begins (or when a link first
// needs it) and closed with this object; it asks the network about a link only when Fetch is
// called for it. Only metadata is fetched: the disk layer is disabled, so no content is downloaded
// or written. The result is staged like a mirror download, checked against the info-hashes.
// Links that name the same torrent share one look-up. Safe to call from several threads at
// once.
class SwarmSource : public Downloader {
  public:
    explicit SwarmSource(SwarmLimits limits = {});
    ~SwarmSource() override;

    FetchResult Fetch(const FetchRequest& request) override;
    // Starts the session and its DHT bootstrap now, in the background of the library.
    void Warm();

    int sessionsStarted() const { return sessionsStarted_; }

  private:
    libtorrent::session& Session();
    FetchResult AwaitMetadata(const libtorrent::torrent_handle& handle,
                              const std::vector<std::string>& trackers, const FetchRequest& request,
                              std::unique_ptr<AtomicFile> file);
    int DhtNodes();

    struct Lookup;

    SwarmLimits limits_;
    std::mutex lock_;
    std::map<std::string, std::shared_ptr<Lookup>> lookups_;
    std::unique_ptr<libtorrent::session> session_;
    std::atomic<int> sessionsStarted_{0};
    std::unique_ptr<libtorrent::dht::dht_state> loaded_;  // as read from the state file
    int dhtNodeMetric_ = -1;
    long long dhtNodes_ = 0;
    // Set when a link found no peer and no DHT node for its whole first bound: the network
    // cannot be reached from here, and later links fail at once until a DHT node turns up.
    std::atomic<bool> offline_{false};
};

// The .torrent file for metadata received from the network: the info dictionary exactly as
// received, with the link's trackers as "announce" and "announce-list".
std::string TorrentFromMetadata(std::string_view info, const std::vector<std::string>& trackers);

}  // namespace velindra

// The network source's session: one library session a batch, told the source's bounds and
// switches, its DHT started warm from the state file a run before left, and saved again and
// torn down in the background when the batch ends.
#pragma once

// Inside the network source: platform/ alone includes this (and the tests that reach inside);
// the programs ask for the network through platform/sources.h.
#ifndef VELINDRA_PLATFORM_INSIDE
#error "the network source's inner headers are platform's own: include platform/sources.h"
#endif

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace libtorrent {
class session;
namespace dht {
struct dht_state;
}
}  // namespace libtorrent

namespace velindra {

// Every bound and switch of the network source, in one place.
struct NetworkLimits {
    long perLinkMs = 60'000;      // give up on a link after this long
    long unreachableMs = 10'000;  // ... or after this long without any peer or DHT node, or
                                  // at once when everything it names has been tried and
                                  // failed and the DHT has no node
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
std::string DefaultNetworkStateFile();

// Whether a session of a batch that has ended is still being torn down. The program may end
// without waiting for it (its state is saved already): the system closes what is left.
bool NetworkTeardownPending();

// The DHT routers of the bootstrap setting ("host:port,..."), as host (without brackets) and
// port.
std::vector<std::pair<std::string, int>> Routers(const std::string& routers);

// One batch's session. Not safe to call from several threads at once: the source's lock guards
// it.
class NetworkSession {
  public:
    using Clock = std::chrono::steady_clock;
    // Starts the session; `alerted` is called on the library's thread whenever it has
    // something to say.
    NetworkSession(const NetworkLimits& limits, std::function<void()> alerted);
    // Saves the DHT state and hands the session over to be torn down in the background.
    ~NetworkSession();
    libtorrent::session& operator*() { return *session_; }
    libtorrent::session* operator->() { return session_.get(); }

    // Whether look-ups may go to the DHT now, which has `nodes` nodes. A warm start (from saved
    // nodes) is ready once some of them answered, or the routers did when too few of them did.
    bool DhtReady(Clock::time_point now, long long nodes);
    bool dhtReady() const { return dhtReady_; }
    // The DHT bootstraps again, from its routers and saved nodes alike, after it was found
    // offline.
    void BootstrapAgain();
    // Saves the DHT state now, as the session's end does.
    void SaveNow();
    // Whether the state file had nodes to start from.
    bool savedNodes() const;
    // The library's index of its counter of DHT nodes; -1 when it has none.
    int dhtNodeMetric() const { return dhtNodeMetric_; }

  private:
    void PingSaved();  // asks each saved node whether it is there

    NetworkLimits limits_;
    std::unique_ptr<libtorrent::session> session_;
    std::unique_ptr<libtorrent::dht::dht_state> loaded_;  // as read from the state file
    bool bootstrapToggle_ = false;
    // The DHT: running in the session, and ready for look-ups; when it started running.
    bool dhtRunning_ = false;
    bool dhtReady_ = false;
    bool warm_ = false;          // it starts from saved nodes
    bool routersAsked_ = false;  // too few saved nodes answered
    Clock::time_point dhtStarted_;
    int dhtNodeMetric_ = -1;
};

}  // namespace velindra

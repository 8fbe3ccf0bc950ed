// The fourth source: a link's metadata from the peers that share it (the BitTorrent metadata
// exchange over the DHT, the link's trackers and its peer addresses).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "interfaces.h"
#include "retry_wait.h"

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
    long unreachableMs = 10'000;  // ... or after this long without any peer or DHT node, or
                                  // at once when everything it names has been tried and
                                  // failed and the DHT has no node (see Fetch)
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
// needs it) and closed with this object: its DHT state is saved then, and the session is torn
// down in the background (see SwarmTeardownPending). It asks the network about a link only
// when Begin (or Fetch) is called for it, and about every link it is asked for at once: a
// look-up is a state its one watcher thread moves on, not a thread of its own. Only metadata is
// fetched: the disk layer is disabled, so no content is downloaded or written. The result is staged
// like a mirror download, checked against the info-hashes. Links that name the same torrent share
// one look-up. Safe to call from several threads at once.
class SwarmSource : public Downloader {
  public:
    explicit SwarmSource(SwarmLimits limits = {});
    ~SwarmSource() override;

    FetchResult Fetch(const FetchRequest& request) override;
    // The link's look-up, left to the session: the watcher thread moves it on as the session
    // reports and ends it with the link's answer (its file staged only when it is taken).
    std::shared_ptr<PendingFetch> Begin(const FetchRequest& request) override;
    // Starts the session and its DHT bootstrap now, in the background of the library.
    void Warm();

    int sessionsStarted() const { return sessionsStarted_; }

  private:
    using Clock = std::chrono::steady_clock;
    struct Lookup;
    struct Named;
    struct Wait;
    libtorrent::session& Session();  // started when there is none; lock_ held
    void StartSession();
    struct Params;  // the library's parameters for adding a link
    std::shared_ptr<Lookup> Join(const FetchRequest& request, Params& params, const Named& named,
                                 FetchResult& failure);
    void Leave(const std::shared_ptr<Lookup>& lookup);
    // Moves every waiting link on, and ends those whose answer is there; what `ended` gets is
    // called once lock_ is let go. lock_ held.
    void Step(std::vector<std::function<void()>>& ended);
    void EndWaits();  // ends every waiting link as cancelled; lock_ not held
    // One waiting link's answer, when it has one now (with the metadata, when it came).
    std::optional<FetchResult> Progress(Wait& wait, Clock::time_point now,
                                        std::shared_ptr<const std::string>& metadata);
    // Why a link got nothing, with lock_ held: the private addresses it named, when there were
    // any and nothing was ever reached.
    FetchResult Unreached(const Named& named, bool everReached, bool lost,
                          const Lookup* lookup = nullptr) const;
    // The look-up of a torrent the library knows by this handle; lock_ held.
    Lookup* Find(const libtorrent::torrent_handle& handle);
    struct Index;  // the look-ups by the library's handle and by DHT target, made again as needed
    Index& Indexed();
    // Why a link is not asked about at all: everything it names failed a moment ago.
    FetchResult NotAskedAgain(const Named& named, Clock::time_point now) const;
    // Called with lock_ held: reads what the session has said since the last call; whether it
    // said anything.
    bool Poll();
    // What one alert says; lock_ held. NoteReachability takes those about trackers and peers
    // reached or not, and says whether it took it.
    struct Alert;  // one of the library's alerts
    void Note(const Alert& alert);
    bool NoteReachability(const Alert& alert);
    // Reads the session's alerts as they come, and moves the waiting links on.
    void Watch();
    bool NothingLeftToAsk(const Named& named, Clock::time_point now,
                          std::optional<Clock::time_point> since = std::nullopt) const;
    // The DHT bootstrapped again when it was found offline and its wait has passed; lock_ held.
    void RetryDht(Clock::time_point now);
    // Asks each saved node whether it is there, and keeps those that answer; lock_ held.
    void PingSaved();
    // Whether look-ups may go to the DHT now; lock_ held.
    bool DhtReady(Clock::time_point now);
    // Each look-up asks the DHT once it can, and again only after its last look-up there
    // ended without a peer; lock_ held.
    void AskDht(Clock::time_point now);
    // A look-up was joined: the DHT is asked for it now or as soon as it is ready; lock_ held.
    void TurnToDht(Clock::time_point now);
    // Counts a link's trackers (those that never answered) and peers as tried and dead; lock_
    // held.
    void MarkTried(const Named& named, Clock::time_point now);
    std::shared_ptr<const std::string> KnownMetadata(const LinkHashes& hashes) const;
    // The metadata for a link, once its look-up (or another of the same torrent) has it; lock_
    // held.
    std::shared_ptr<const std::string> Arrived(Lookup& lookup, const LinkHashes& hashes);
    // Keeps a torrent's info dictionary for the links that name it by either of its hashes
    // (lower-case hexadecimal, "" for none); lock_ held.
    std::shared_ptr<const std::string> Keep(std::string_view info, const std::string& v1,
                                            const std::string& v2);

    // How long the DHT, bootstrapped again, may stay without a node before it is offline again.
    static constexpr std::chrono::milliseconds kDhtRetryBound{2000};

    SwarmLimits limits_;
    std::mutex lock_;
    std::mutex alertLock_;                 // never held with lock_ by the library's thread
    std::condition_variable alerted_;      // the library has alerts to read
    bool alerts_ = false;                  // with alertLock_
    std::atomic<bool> dhtWaiting_{false};  // look-ups wait for the DHT: the watcher looks often
    bool closing_ = false;                 // with alertLock_
    std::thread watcher_;
    Clock::time_point statsAsked_;
    Clock::time_point updatesAsked_;
    // Every look-up in progress, each for one torrent of the library's, whichever of its hashes
    // the links named; and every link waiting on one.
    std::vector<std::shared_ptr<Lookup>> lookups_;
    std::vector<std::shared_ptr<Wait>> waits_;
    std::unique_ptr<Index> byHandle_;
    std::unique_ptr<libtorrent::session> session_;
    std::atomic<int> sessionsStarted_{0};
    std::unique_ptr<libtorrent::dht::dht_state> loaded_;  // as read from the state file
    std::string bootstrapNodes_;                          // the routers
    bool bootstrapToggle_ = false;
    // The DHT: running in the session, and ready for look-ups (a warm start is once some of
    // its saved nodes answered); when it started running.
    bool dhtRunning_ = false;
    bool dhtReady_ = false;
    bool warm_ = false;          // it starts from saved nodes
    bool routersAsked_ = false;  // too few saved nodes answered
    Clock::time_point dhtStarted_;
    int dhtNodeMetric_ = -1;
    long long dhtNodes_ = 0;
    // When the DHT last had a node (or the session started); with none for a link's whole
    // bound, it counts as offline until one turns up.
    Clock::time_point lastDhtNode_;
    int routerNames_ = 0;
    bool routersByAddress_ = false;  // or saved nodes: something to start from without names
    int failedRouterLookups_ = 0;
    bool dhtOffline_ = false;
    // The trackers, peers and DHT this run tried and could not reach (or that gave a link
    // nothing for its whole bound): a later link that names nothing else fails at once while
    // their wait lasts, and asks them again after it.
    RetryWait dead_;
    std::set<std::string> answeredTrackers_;
    std::map<std::string, int> announcing_;  // announces sent and not yet answered, by tracker
    // Trackers whose address is on this machine or a private network, never contacted.
    std::set<std::string> refusedTrackers_;
    // Info dictionaries received, by the hashes of their torrent (v1 and v2 hexadecimal), for
    // links of the same torrent whose look-up the library could not merge with this one.
    std::map<std::string, std::shared_ptr<const std::string>> metadata_;
    size_t metadataBytes_ = 0;
};

// Whether a session of a batch that has ended is still being torn down. The program may end
// without waiting for it (its state is saved already): the system closes what is left.
bool SwarmTeardownPending();

// The .torrent file for metadata received from the network: the info dictionary exactly as
// received, with the link's trackers as "announce" and "announce-list".
std::string TorrentFromMetadata(std::string_view info, const std::vector<std::string>& trackers);

}  // namespace velindra

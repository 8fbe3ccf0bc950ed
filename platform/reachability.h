// What one network session found reachable: the trackers, peers and DHT it tried and could not
// reach (or that gave a link nothing for its whole bound). A later link that names nothing else
// fails at once while their wait lasts, and asks them again after it. It is told what the
// session reported, as plain events, and keeps no handle of the library's.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/result.h"
#include "platform/retry_wait.h"

namespace velindra {

// What a link asks the network through: its trackers' addresses and its peers ("address:port",
// an IPv6 address in brackets).
struct NetworkNames {
    std::vector<std::string> trackers;
    std::vector<std::string> peers;
};

class Reachability {
  public:
    using Clock = std::chrono::steady_clock;
    // `dht`: whether the DHT is asked at all. `bound`: how long the DHT may have had no node
    // before it counts as offline. `routers`: the bootstrap setting ("host:port,..."), and
    // whether saved nodes give the DHT something to start from without looking up a name.
    Reachability(bool dht, Clock::duration bound, const std::string& routers, bool savedNodes,
                 Clock::time_point now);

    // What the session reported. An announce is sent from each of the session's addresses; a
    // tracker is dead once every one of them failed, unless it answered on one. `refused`: the
    // session's filter blocked the address its name led to.
    void Announced(const std::string& tracker);
    // `said`: what its announce's failure was, for the reasons of the links that name it.
    void TrackerFailed(const std::string& tracker, bool refused, Clock::time_point now,
                       TrackerAnswer said = {});
    void TrackerAnswered(const std::string& tracker);
    void PeerFailed(const std::string& peer, Clock::time_point now);
    void PeerReached(const std::string& peer);
    void RouterNameFailed();  // a router's name could not be looked up
    // A connection could not be made: the process had no file descriptor left.
    void OutOfFiles(Clock::time_point now) { outOfFiles_ = now; }
    // Whether that happened since `since`.
    bool RanOutOfFiles(Clock::time_point since) const {
        return outOfFiles_ && *outOfFiles_ >= since;
    }
    // What each of the trackers named answered last, of those that failed or are still asked.
    std::vector<TrackerAnswer> Said(const NetworkNames& named) const;
    void DhtNodes(long long nodes, Clock::time_point now);
    // Once the session's news was read: the DHT counts as offline once it has had no node for a
    // link's whole bound, or at once when it has nothing to start from (no saved node, and no
    // router's name could be looked up: no network at all).
    void Update(Clock::time_point now);
    // A link needs the DHT for the first time: its silence counts from now, not from the
    // session's start.
    void DhtNeeded(Clock::time_point now);
    // When the DHT is offline and its wait has passed: it is to bootstrap again, and counts as
    // offline again when it still has no node `retryBound` from now. True when it is to.
    bool RetryDht(Clock::time_point now, Clock::duration retryBound);

    long long dhtNodes() const { return dhtNodes_; }
    bool dhtOffline() const { return dhtOffline_; }
    bool Refused(const std::string& tracker) const { return refusedTrackers_.contains(tracker); }
    // Whether everything `named` could be asked through is dead: what failed a moment ago, and
    // for a link waiting since `since`, also what failed for it meanwhile (the session does not
    // dial it again soon). The DHT is asked again by a new link once its wait has passed.
    bool NothingLeftToAsk(const NetworkNames& named, Clock::time_point now,
                          std::optional<Clock::time_point> since = std::nullopt) const;
    // A link is let through to what `named` names: each tracker and peer whose wait has passed
    // is tried again by this link alone, and the links after it learn its answer.
    void Probing(const NetworkNames& named, Clock::time_point now);
    // The shortest wait left of what `named` could be asked through; none when it names nothing
    // that is waited for.
    std::optional<Clock::duration> Resting(const NetworkNames& named, Clock::time_point now) const;
    // A link's trackers (those that never answered) and peers gave it nothing for its whole
    // bound: they count as tried and dead.
    void MarkTried(const NetworkNames& named, Clock::time_point now);

  private:
    bool dht_;
    Clock::duration bound_;
    RetryWait dead_;
    std::set<std::string> answeredTrackers_;
    std::map<std::string, int> announcing_;  // announces sent and not yet answered, by tracker
    // Trackers whose address is on this machine or a private network, never contacted.
    std::set<std::string> refusedTrackers_;
    std::map<std::string, TrackerAnswer> said_;  // the last failure of each tracker, by address
    std::optional<Clock::time_point> outOfFiles_;
    long long dhtNodes_ = 0;
    // When the DHT last had a node (or the session started); with none for a link's whole
    // bound, it counts as offline until one turns up.
    Clock::time_point lastDhtNode_;
    int routerNames_ = 0;
    bool routersByAddress_ = false;  // or saved nodes: something to start from without names
    int failedRouterNames_ = 0;
    bool dhtOffline_ = false;
};

}  // namespace velindra

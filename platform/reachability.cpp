#include "platform/reachability.h"

#include <algorithm>

#include "platform/addresses.h"
#include "platform/network_session.h"
#include "platform/url.h"

namespace velindra {

namespace {

// What the memory of the unreachable is kept by: a tracker's address, a peer's, or the DHT.
std::string TrackerKey(const std::string& url) {
    return "tracker " + url;
}
std::string PeerKey(const std::string& peer) {
    return "peer " + peer;
}
constexpr const char* kDhtKey = "dht";

// The trackers whose last failure is remembered, at most (a run of a million links names many).
constexpr size_t kMostTrackersSaid = 100'000;

}  // namespace

Reachability::Reachability(bool dht, Clock::duration bound, const std::string& routers,
                           bool savedNodes, Clock::time_point now)
    : dht_(dht), bound_(bound), lastDhtNode_(now), routersByAddress_(savedNodes) {
    for (const auto& [host, port] : Routers(routers)) {
        if (ParseAddress(host))
            routersByAddress_ = true;
        else
            ++routerNames_;
    }
}

void Reachability::Announced(const std::string& tracker) {
    ++announcing_[tracker];
}

void Reachability::TrackerFailed(const std::string& tracker, bool refused, Clock::time_point now,
                                 TrackerAnswer said) {
    if (said.fact != Fact::None && said_.size() < kMostTrackersSaid)
        said_[tracker] = std::move(said);
    int& announcing = announcing_[tracker];
    announcing = std::max(announcing - 1, 0);
    if (announcing == 0 && !answeredTrackers_.contains(tracker))
        dead_.Failed(TrackerKey(tracker), now);
    if (refused)
        refusedTrackers_.insert(tracker);
}

std::vector<TrackerAnswer> Reachability::Said(const NetworkNames& named) const {
    std::vector<TrackerAnswer> said;
    for (const std::string& tracker : named.trackers) {
        if (const auto found = said_.find(tracker); found != said_.end()) {
            said.push_back(found->second);
        } else if (const auto sent = announcing_.find(tracker);
                   sent != announcing_.end() && sent->second > 0 &&
                   !answeredTrackers_.contains(tracker)) {
            said.push_back({ShownTracker(tracker), Fact::TrackerNoAnswer, 0});  // still asked
        }
    }
    return said;
}

void Reachability::TrackerAnswered(const std::string& tracker) {
    said_.erase(tracker);
    int& announcing = announcing_[tracker];
    announcing = std::max(announcing - 1, 0);
    dead_.Reached(TrackerKey(tracker));
    answeredTrackers_.insert(tracker);
}

void Reachability::PeerFailed(const std::string& peer, Clock::time_point now) {
    dead_.Failed(PeerKey(peer), now);
}

void Reachability::PeerReached(const std::string& peer) {
    dead_.Reached(PeerKey(peer));
}

void Reachability::RouterNameFailed() {
    ++failedRouterNames_;
}

void Reachability::DhtNodes(long long nodes, Clock::time_point now) {
    dhtNodes_ = nodes;
    if (nodes > 0)
        lastDhtNode_ = now;
}

void Reachability::Update(Clock::time_point now) {
    const bool silent = now - lastDhtNode_ > bound_;
    const bool nothingToStartFrom =
        !routersByAddress_ && routerNames_ > 0 && failedRouterNames_ >= routerNames_;
    const bool offline = dhtNodes_ == 0 && (silent || nothingToStartFrom);
    if (offline && !dhtOffline_)
        dead_.Failed(kDhtKey, now);
    else if (dhtNodes_ > 0)
        dead_.Reached(kDhtKey);
    dhtOffline_ = offline;
}

void Reachability::DhtNeeded(Clock::time_point now) {
    if (dhtNodes_ == 0 && !dhtOffline_)
        lastDhtNode_ = std::max(lastDhtNode_, now);
}

bool Reachability::RetryDht(Clock::time_point now, Clock::duration retryBound) {
    if (!dht_ || !dhtOffline_ || dead_.Resting(kDhtKey, now))
        return false;
    // Its nodes and routers are asked again, their names looked up again; with still no node
    // after the retry's bound it is offline again, for longer.
    dhtOffline_ = false;
    failedRouterNames_ = 0;
    lastDhtNode_ = now - bound_ + retryBound;
    return true;
}

bool Reachability::NothingLeftToAsk(const NetworkNames& named, Clock::time_point now,
                                    std::optional<Clock::time_point> since) const {
    const auto dead = [&](const std::string& key) {
        return dead_.Resting(key, now, !since) || (since && dead_.FailedSince(key, *since));
    };
    if (dht_ && (!dhtOffline_ || (!since && !dead_.Resting(kDhtKey, now))))
        return false;
    return std::all_of(named.trackers.begin(), named.trackers.end(),
                       [&](const std::string& t) { return dead(TrackerKey(t)); }) &&
           std::all_of(named.peers.begin(), named.peers.end(),
                       [&](const std::string& p) { return dead(PeerKey(p)); });
}

std::optional<Reachability::Clock::duration> Reachability::Resting(const NetworkNames& named,
                                                                   Clock::time_point now) const {
    std::optional<Clock::duration> latest;
    const auto note = [&](const std::string& key) {
        if (const auto resting = dead_.Resting(key, now))
            latest = latest ? std::min(*latest, *resting) : *resting;
    };
    if (dht_)
        note(kDhtKey);
    for (const std::string& tracker : named.trackers)
        note(TrackerKey(tracker));
    for (const std::string& peer : named.peers)
        note(PeerKey(peer));
    return latest;
}

void Reachability::Probing(const NetworkNames& named, Clock::time_point now) {
    for (const std::string& tracker : named.trackers)
        dead_.Probing(TrackerKey(tracker), now);
    for (const std::string& peer : named.peers)
        dead_.Probing(PeerKey(peer), now);
}

void Reachability::MarkTried(const NetworkNames& named, Clock::time_point now) {
    for (const std::string& tracker : named.trackers) {
        if (!answeredTrackers_.contains(tracker))
            dead_.Failed(TrackerKey(tracker), now);
    }
    for (const std::string& peer : named.peers)
        dead_.Failed(PeerKey(peer), now);
}

}  // namespace velindra

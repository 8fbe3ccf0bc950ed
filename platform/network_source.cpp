#include "platform/network_source.h"

#include <algorithm>
#include <filesystem>
#include <libtorrent/alert_types.hpp>
#include <libtorrent/gzip.hpp>
#include <libtorrent/session.hpp>

#include "core/links.h"
#include "core/torrent.h"
#include "core/words.h"
#include "platform/atomic_file.h"
#include "platform/digests.h"
#include "platform/file_reading.h"
#include "platform/network_link.h"
#include "platform/url.h"
#include "platform/utf16.h"

namespace lt = libtorrent;

namespace velindra {

namespace {

using Clock = std::chrono::steady_clock;

// The torrent file for metadata that arrived, checked against the link and staged.
FetchResult StageMetadata(std::string_view info, const std::vector<std::string>& trackers,
                          const FetchRequest& request) {
    // The trackers asked that the link names, then its web seeds and the user's trackers.
    std::vector<std::string> named;
    for (const std::string& tracker : trackers) {
        if (std::find(request.addedTrackers.begin(), request.addedTrackers.end(), tracker) ==
            request.addedTrackers.end())
            named.push_back(tracker);
    }
    std::string body = TorrentFromMetadata(info, named);
    if (std::optional<std::string> completed =
            CompletedForLink(body, request.link, request.addedTrackers))
        body = std::move(*completed);
    if (FetchResult checked = CheckDelivered(body, request.hashes, nullptr); !checked.ok())
        return FetchResult::Failed(checked.error,
                                   "the metadata from the network does not match the link");
    auto file = std::make_unique<AtomicFile>(request.destination);
    if (FetchResult opened = file->Open(); !opened.ok())
        return opened;
    if (FetchResult written = file->Write(body); !written.ok())
        return written;
    FetchResult staged = FetchResult::Done("staged from the BitTorrent network");
    staged.torrent = DescribeTorrent(body);
    staged.staged = std::move(file);
    staged.bytes = body.size();
    return staged;
}

// Whether a socket could not be had because the process (or the system) has no descriptor left.
bool IsOutOfFiles(const lt::error_code& error) {
    return error == boost::system::errc::too_many_files_open ||
           error == boost::system::errc::too_many_files_open_in_system;
}

// What a tracker's failed announce says, in the words of a link's reason.
TrackerAnswer TrackerSaid(const lt::tracker_error_alert& failed) {
    TrackerAnswer said;
    said.tracker = ShownTracker(failed.tracker_url());
    const lt::error_code& error = failed.error;
    if (error.category() == lt::http_category() && error.value() >= 300) {
        said.fact = Fact::TrackerHttpStatus;  // the library's code is the server's status
        said.httpStatus = error.value();
    } else if (error == lt::errors::timed_out || error == boost::asio::error::timed_out ||
               error == lt::errors::timed_out_inactivity ||
               error == boost::system::errc::timed_out) {
        said.fact = Fact::TrackerNoAnswer;
    } else if (error == boost::system::errc::file_too_large ||
               error ==
                   lt::gzip_errors::make_error_code(lt::gzip_errors::inflated_data_too_large)) {
        said.fact = Fact::TrackerTooLarge;  // past max_http_recv_buffer_size, or inflated
    } else if (error == lt::errors::tracker_failure) {
        said.fact = Fact::TrackerRefused;
    } else if (error == lt::errors::ssrf_mitigation) {
        said.fact = Fact::TrackerNotContacted;
    } else if (error != lt::errors::banned_by_ip_filter && error != lt::errors::announce_skipped) {
        said.fact = Fact::TrackerUnreachable;  // (a skipped announce is another address's)
    }
    return said;
}

// Where the hybrid torrents seen are remembered, beside the session's state.
std::string PairsFile(const NetworkLimits& limits) {
    return limits.stateFile.empty() ? std::string() : limits.stateFile + ".hybrids";
}

constexpr size_t kMostPairsBytes = 2u << 20;

}  // namespace

NetworkSource::NetworkSource(NetworkLimits limits) : limits_(std::move(limits)) {}

NetworkSource::~NetworkSource() {
    {
        std::lock_guard<std::mutex> guard(alertLock_);
        closing_ = true;
        alerted_.notify_all();
    }
    if (watcher_.joinable())
        watcher_.join();
    // Links still waiting end now (a front end's run ends before its sources, so there are
    // none unless it could not end them).
    EndWaits();
    std::lock_guard<std::mutex> guard(lock_);
    session_.reset();
    SavePairs();
}

void NetworkSource::SavePairs() {
    if (const std::string path = PairsFile(limits_); !path.empty() && lookups_.pairsChanged()) {
        std::error_code ec;
        std::filesystem::create_directories(PathFromUtf8(path).parent_path(), ec);
        AtomicFile file(path);
        if (file.Open().ok())
            file.Commit(lookups_.PairsText());
    }
}

void NetworkSource::Checkpoint() {
    std::lock_guard<std::mutex> guard(lock_);
    if (session_)
        session_->SaveNow();
    SavePairs();
}

void NetworkSource::Warm() {
    std::lock_guard<std::mutex> guard(lock_);
    try {
        Session();
    } catch (const std::exception&) {
        // Tried again when a link needs it, which then fails with the reason.
    }
}

NetworkSession& NetworkSource::Session() {
    if (!session_) {
        session_ = std::make_unique<NetworkSession>(limits_, [this] {
            std::lock_guard<std::mutex> guard(alertLock_);
            alerts_ = true;
            alerted_.notify_all();
        });
        reached_.emplace(limits_.dht, std::chrono::milliseconds(limits_.unreachableMs),
                         limits_.dhtBootstrapNodes, session_->savedNodes(), Clock::now());
        ++sessionsStarted_;
        std::string pairs;
        if (const std::string path = PairsFile(limits_);
            !path.empty() && ReadRegularFile(path, kMostPairsBytes, pairs).ok())
            lookups_.ReadPairs(pairs);
    }
    // The watcher moves every waiting link on; without a thread for it no link is taken.
    if (!watcher_.joinable())
        watcher_ = std::thread([this] { Watch(); });
    return *session_;
}

void NetworkSource::Watch() {
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(alertLock_);
            alerted_.wait_for(guard, std::chrono::milliseconds(dhtWaiting_ ? 20 : 100),
                              [&] { return alerts_ || closing_; });
            if (closing_)
                return;
            alerts_ = false;
        }
        std::vector<std::function<void()>> ended;
        {
            std::lock_guard<std::mutex> guard(lock_);
            Poll();
            Step(ended);
            dhtWaiting_ = limits_.dht && session_ && !session_->dhtReady() && !lookups_.empty();
        }
        for (const auto& f : ended) {
            if (f)
                f();  // no lock of this source's held: the front end's run takes its own
        }
    }
}

void NetworkSource::Poll() {
    if (!session_)
        return;
    NetworkSession& session = *session_;
    const auto now = Clock::now();
    // While look-ups wait for the DHT to be ready, its nodes are counted more often.
    const auto statsEvery = std::chrono::milliseconds(session.dhtReady() ? 100 : 20);
    if (limits_.dht && session.dhtNodeMetric() >= 0 && now - statsAsked_ > statsEvery) {
        session->post_session_stats();
        statsAsked_ = now;
    }
    // How many peers each look-up has: the torrents that changed since the last time.
    if (!lookups_.empty() && now - updatesAsked_ > std::chrono::milliseconds(200)) {
        session->post_torrent_updates(lt::status_flags_t{});
        updatesAsked_ = now;
    }
    std::vector<lt::alert*> alerts;
    session->pop_alerts(&alerts);
    for (lt::alert* a : alerts) {
        if (!lookups_.Note(a))
            Note(a);
    }
    reached_->Update(Clock::now());
}

void NetworkSource::Note(lt::alert* a) {
    Reachability& reached = *reached_;
    const auto now = Clock::now();
    if (auto* sent = lt::alert_cast<lt::tracker_announce_alert>(a)) {
        reached.Announced(sent->tracker_url());  // from one of the session's addresses
    } else if (auto* failed = lt::alert_cast<lt::tracker_error_alert>(a)) {
        // The library skips an announce from an IPv6 address to an IPv4 tracker, and from
        // loopback to the rest; a refused one is one whose name led to a blocked address.
        if (IsOutOfFiles(failed->error))
            reached.OutOfFiles(now);
        reached.TrackerFailed(failed->tracker_url(),
                              failed->error == lt::errors::banned_by_ip_filter, now,
                              TrackerSaid(*failed));
    } else if (auto* replied = lt::alert_cast<lt::tracker_reply_alert>(a)) {
        reached.TrackerAnswered(replied->tracker_url());
    } else if (auto* gone = lt::alert_cast<lt::peer_disconnected_alert>(a)) {
        if (IsOutOfFiles(gone->error))
            reached.OutOfFiles(now);
        // A connection that could not be made is a dead peer, unless uTP timed out (TCP is
        // tried next); one that was made is not.
        const bool beforeConnected =
            gone->op == lt::operation_t::connect || gone->op == lt::operation_t::sock_open ||
            gone->op == lt::operation_t::sock_bind || gone->op == lt::operation_t::sock_option;
        const bool utpTimedOut = gone->socket_type == lt::socket_type_t::utp &&
                                 gone->error == boost::system::errc::timed_out;
        if (beforeConnected && !utpTimedOut)
            reached.PeerFailed(EndpointText(gone->endpoint), now);
        else if (!beforeConnected)
            reached.PeerReached(EndpointText(gone->endpoint));
    } else if (auto* blocked = lt::alert_cast<lt::peer_blocked_alert>(a)) {
        reached.PeerFailed(EndpointText(blocked->endpoint), now);  // never contacted
    } else if (auto* stats = lt::alert_cast<lt::session_stats_alert>(a)) {
        reached.DhtNodes(stats->counters()[session_->dhtNodeMetric()], now);
    } else if (auto* dht = lt::alert_cast<lt::dht_error_alert>(a)) {
        if (dht->op == lt::operation_t::hostname_lookup)
            reached.RouterNameFailed();
    }
}

FetchResult NetworkSource::Unreached(const LinkNames& named, bool everReached, bool lost,
                                     const Lookup* lookup, Clock::time_point since) const {
    std::string refused;
    for (const std::string& address : named.refused)
        refused += (refused.empty() ? "" : ", ") + address;
    for (const std::string& tracker : named.names.trackers) {
        if (reached_->Refused(tracker))
            refused += (refused.empty() ? "" : ", ") + ShownTracker(tracker);
    }
    if (!everReached && !refused.empty())  // the detail is the addresses, as for a web address
        return FetchResult::Failed(FetchError::PrivateAddress, refused);
    if (!everReached && lookup && lookup->closedByPeer)
        return Stated(FetchError::NoConnection, Fact::ClosedByPeer);
    if (!everReached) {
        FetchResult failed =
            Stated(FetchError::NoConnection,
                   reached_->RanOutOfFiles(since) ? Fact::OutOfFiles : Fact::Unreachable);
        failed.trackerAnswers = reached_->Said(named.names);
        return failed;
    }
    if (lost)
        return Stated(FetchError::NoConnection, Fact::LostEveryone);
    return Stated(FetchError::Timeout, Fact::NoMetadataInTime);
}

FetchResult NetworkSource::NotAskedAgain(const LinkNames& named, Clock::time_point now) const {
    const std::optional<Clock::duration> latest = reached_->Resting(named.names, now);
    if (!latest)
        return Unreached(named, false, false);  // it names nothing the network could be asked
    return FetchResult::Failed(FetchError::NotAskedAgain, TenthsOfSeconds(*latest));
}

void NetworkSource::RetryDht(Clock::time_point now) {
    if (!reached_->RetryDht(now, kDhtRetryBound))
        return;
    lookups_.DhtRestarted();
    session_->BootstrapAgain();
}

void NetworkSource::AskDht(Clock::time_point now) {
    if (limits_.dht && !lookups_.empty() && session_->DhtReady(now, reached_->dhtNodes()))
        lookups_.AskDht(now);
}

std::shared_ptr<Lookup> NetworkSource::Join(const FetchRequest& request,
                                            lt::add_torrent_params& params, const LinkNames& named,
                                            FetchResult& failure) {
    const auto now = Clock::now();
    RetryDht(now);
    // Whether the network can be reached is the session's matter: a link that names only what
    // this run found unreachable a moment ago fails at once while the DHT has no node.
    if (reached_->NothingLeftToAsk(named.names, now)) {
        // The first link of a run is told what was found for it (a DHT that could not start,
        // the private addresses it names), not that it was not asked again.
        failure = linkSeen_ ? NotAskedAgain(named, now) : Unreached(named, false, false);
        linkSeen_ = true;
        return nullptr;
    }
    linkSeen_ = true;
    reached_->Probing(named.names, now);
    std::shared_ptr<Lookup> lookup = lookups_.Sharing(request.hashes);
    if (!lookup) {
        lt::error_code ec;
        lt::torrent_handle handle = (*session_)->add_torrent(std::move(params), ec);
        if (ec || !handle.is_valid()) {
            failure = FetchResult::Failed(
                FetchError::Other, "the network source could not take the link: " + ec.message());
            return nullptr;
        }
        handle.resume();
        // The library may know the torrent already by its other hash.
        lookup = lookups_.Of(handle);
        if (!lookup)
            lookup = lookups_.Add(handle, request.hashes);
    } else {
        // Another link for the same torrent is asking already: this one's trackers and peers
        // join its look-up. (A new look-up has them from the start, when the library dials
        // them at once.)
        for (const std::string& tracker : named.names.trackers)
            lookup->handle.add_tracker(lt::announce_entry(tracker));
        for (const lt::tcp::endpoint& peer : named.peers)
            lookup->handle.connect_peer(peer);
    }
    lookup->privateLink = lookup->privateLink || request.privateLink;
    if (!lookup->hashes.v1)
        lookup->hashes.v1 = request.hashes.v1;
    if (!lookup->hashes.v2)
        lookup->hashes.v2 = request.hashes.v2;
    ++lookup->users;
    TurnToDht(now);
    return lookup;
}

void NetworkSource::TurnToDht(Clock::time_point now) {
    // The DHT's silence counts from when a link first needs it, not from the session's start
    // (a slow start, as under wine, would otherwise put the DHT offline before the link's own
    // bound, and its wait would be over before the link failed).
    if (lookups_.size() == 1)
        reached_->DhtNeeded(Clock::now());
    // Asked at once when the DHT is ready; otherwise the watcher asks it as soon as it is (a
    // link's start never waits on the library's thread).
    if (session_->dhtReady())
        AskDht(now);
    else if (limits_.dht) {
        dhtWaiting_ = true;
        std::lock_guard<std::mutex> wake(alertLock_);
        alerts_ = true;
        alerted_.notify_all();
    }
}

void NetworkSource::Leave(const std::shared_ptr<Lookup>& lookup) {
    if (lookups_.Leave(lookup) && session_)
        (*session_)->remove_torrent(lookup->handle);
}

// One link's look-up while it waits: a state that the watcher moves on as the session reports,
// until it ends with the link's answer. Nobody's thread waits for it.
struct NetworkSource::Wait : PendingFetch {
    FetchRequest request;
    LinkNames named;
    std::shared_ptr<Lookup> lookup;
    Clock::time_point start;
    Clock::time_point lastReached;
    bool everReached = false;

    std::mutex lock;
    std::condition_variable done;
    bool ended = false;
    FetchResult failure;
    std::shared_ptr<const std::string> metadata;  // the answer, when the metadata came
    std::function<void()> onEnded;

    void WhenEnded(std::function<void()> ended_) override {
        std::unique_lock<std::mutex> guard(lock);
        if (!ended) {
            onEnded = std::move(ended_);
            return;
        }
        guard.unlock();
        ended_();
    }
    FetchResult Take() override {
        std::unique_lock<std::mutex> guard(lock);
        done.wait(guard, [&] { return ended; });
        const std::shared_ptr<const std::string> info = std::move(metadata);
        if (!info)
            return std::move(failure);
        const FetchResult how = std::move(failure);  // the answer: its peers and nodes
        guard.unlock();
        // Staged only now, on the taker's thread: a link waiting for its turn holds no file.
        FetchResult staged = StageMetadata(*info, named.names.trackers, request);
        staged.peersDialled = how.peersDialled;
        staged.peersConnected = how.peersConnected;
        staged.dhtNodes = how.dhtNodes;
        return staged;
    }
    // Its answer; what is to be called once the source's lock is let go.
    std::function<void()> End(FetchResult answer, std::shared_ptr<const std::string> info) {
        std::lock_guard<std::mutex> guard(lock);
        failure = std::move(answer);
        metadata = std::move(info);
        ended = true;
        done.notify_all();
        return std::move(onEnded);
    }
};

FetchResult NetworkSource::Fetch(const FetchRequest& request) {
    return Begin(request)->Take();
}

std::shared_ptr<PendingFetch> NetworkSource::Begin(const FetchRequest& request) {
    const auto answered = [](FetchResult result) {
        return std::make_shared<AnsweredFetch>(std::move(result));
    };
    if (!NetworkHashes(request.hashes))
        return answered(FetchResult::Failed(FetchError::Other,
                                            "the info-hash is not one the network can look up"));
    auto wait = std::make_shared<Wait>();
    std::lock_guard<std::mutex> guard(lock_);
    try {
        Session();
        Poll();
        // Asked by both hashes of a hybrid torrent seen before; checked by the link's own.
        FetchRequest asked = request;
        asked.hashes = lookups_.Completed(request.hashes);
        lt::add_torrent_params params =
            ParamsFor(asked, *NetworkHashes(asked.hashes), limits_.allowPrivateAddresses);
        LinkNames named = NamesOf(params, limits_.allowPrivateAddresses);
        // A torrent received earlier in the run is answered from it, dialling nobody again.
        if (const auto known = lookups_.Known(request.hashes))
            return answered(StageMetadata(*known, named.names.trackers, request));
        FetchResult failure;
        wait->lookup = Join(asked, params, named, failure);
        if (!wait->lookup)
            return answered(std::move(failure));
        wait->request = request;
        wait->named = std::move(named);
        wait->start = wait->lastReached = Clock::now();
        waits_.push_back(wait);
    } catch (const std::exception& e) {
        if (wait->lookup)
            Leave(wait->lookup);
        return answered(FetchResult::Failed(FetchError::Other,
                                            std::string("the network source failed: ") + e.what()));
    }
    return wait;
}

std::optional<FetchResult> NetworkSource::Progress(Wait& wait, Clock::time_point now,
                                                   std::shared_ptr<const std::string>& metadata) {
    if (wait.request.cancel && wait.request.cancel->load())
        return FetchResult::Failed(FetchError::Cancelled, "cancelled");
    Lookup& lookup = *wait.lookup;
    if ((metadata = lookups_.Arrived(lookup, wait.request.hashes)))
        return FetchResult::Done("from the BitTorrent network");
    const long long nodes = reached_->dhtNodes();
    if (wait.request.activity)
        wait.request.activity->Network(lookup.peers, static_cast<int>(nodes));
    if (lookup.peers > 0 || nodes > 0) {
        wait.lastReached = now;
        wait.everReached = true;
    }
    const bool outOfTime = now - wait.start > std::chrono::milliseconds(limits_.perLinkMs);
    const bool unreachable =
        now - wait.lastReached > std::chrono::milliseconds(limits_.unreachableMs);
    if (outOfTime || unreachable ||
        (lookup.peers == 0 && reached_->NothingLeftToAsk(wait.named.names, now, wait.start))) {
        if (unreachable && !wait.everReached)
            reached_->MarkTried(wait.named.names, now);  // nothing it named answered in time
        return Unreached(wait.named, wait.everReached, !outOfTime, &lookup, wait.start);
    }
    return std::nullopt;
}

void NetworkSource::Step(std::vector<std::function<void()>>& ended) {
    const auto now = Clock::now();
    if (session_)
        AskDht(now);
    std::erase_if(waits_, [&](const std::shared_ptr<Wait>& wait) {
        std::shared_ptr<const std::string> metadata;
        std::optional<FetchResult> answer;
        try {
            answer = Progress(*wait, now, metadata);
        } catch (const std::exception& e) {
            answer = FetchResult::Failed(FetchError::Other,
                                         std::string("the network source failed: ") + e.what());
        }
        if (!answer)
            return false;
        answer->peersDialled = wait->lookup->dialled;
        // (a torrent that came within the session's first report came from a peer all the same)
        answer->peersConnected = std::max(wait->lookup->mostPeers, metadata ? 1 : 0);
        answer->dhtNodes = static_cast<int>(reached_->dhtNodes());
        Leave(wait->lookup);
        ended.push_back(wait->End(std::move(*answer), std::move(metadata)));
        return true;
    });
}

void NetworkSource::EndWaits() {
    std::vector<std::function<void()>> ended;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const auto& wait : waits_)
            ended.push_back(wait->End(
                FetchResult::Failed(FetchError::Cancelled, "the network source closed"), nullptr));
        waits_.clear();
    }
    for (const auto& f : ended) {
        if (f)
            f();
    }
}

}  // namespace velindra

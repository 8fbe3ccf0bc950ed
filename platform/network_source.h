// The BitTorrent network as a source: a link's metadata from the peers that share it (the
// metadata exchange over the DHT, the link's trackers and its peer addresses).
#pragma once

// Inside the network source: platform/ alone includes this (and the tests that reach inside);
// the programs ask for the network through platform/sources.h.
#ifndef VELINDRA_PLATFORM_INSIDE
#error "the network source's inner headers are platform's own: include platform/sources.h"
#endif

#include <atomic>
#include <condition_variable>
#include <functional>
#include <libtorrent/add_torrent_params.hpp>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/interfaces.h"
#include "platform/network_link.h"
#include "platform/network_lookups.h"
#include "platform/network_session.h"
#include "platform/reachability.h"

namespace velindra {

// One session for a whole batch, started by Warm() as the batch begins (or when a link first
// needs it) and closed with this object: its DHT state is saved then, and the session is torn
// down in the background (see NetworkTeardownPending). It asks the network about a link only
// when Begin (or Fetch) is called for it, and about every link it is asked for at once: a
// look-up is a state its one watcher thread moves on, not a thread of its own. Only metadata is
// fetched: the disk layer is disabled, so no content is downloaded or written. The result is
// staged like a mirror download, checked against the info-hashes. Links that name the same
// torrent share one look-up. Safe to call from several threads at once.
class NetworkSource : public Downloader {
  public:
    explicit NetworkSource(NetworkLimits limits = {});
    ~NetworkSource() override;

    FetchResult Fetch(const FetchRequest& request) override;
    // The link's look-up, left to the session: the watcher thread moves it on as the session
    // reports and ends it with the link's answer (its file staged only when it is taken).
    std::shared_ptr<PendingFetch> Begin(const FetchRequest& request) override;
    // Starts the session and its DHT bootstrap now, in the background of the library.
    void Warm();
    void Checkpoint() override;

    int sessionsStarted() const { return sessionsStarted_; }

  private:
    using Clock = std::chrono::steady_clock;
    struct Wait;
    NetworkSession& Session();  // started when there is none; lock_ held
    void SavePairs();           // the hybrid pairs learnt, when there are new ones; lock_ held
    std::shared_ptr<Lookup> Join(const FetchRequest& request,
                                 libtorrent::add_torrent_params& params, const LinkNames& named,
                                 FetchResult& failure);
    // A look-up was joined: the DHT is asked for it now or as soon as it is ready; lock_ held.
    void TurnToDht(Clock::time_point now);
    void Leave(const std::shared_ptr<Lookup>& lookup);
    // Moves every waiting link on, and ends those whose answer is there; what `ended` gets is
    // called once lock_ is let go. lock_ held.
    void Step(std::vector<std::function<void()>>& ended);
    void EndWaits();  // ends every waiting link as cancelled; lock_ not held
    // One waiting link's answer, when it has one now (with the metadata, when it came).
    std::optional<FetchResult> Progress(Wait& wait, Clock::time_point now,
                                        std::shared_ptr<const std::string>& metadata);
    // Why a link got nothing, with lock_ held: the private addresses it named, when there were
    // any and nothing was ever reached; that the system ran out of descriptors while it waited
    // (since `since`); what each of its trackers answered.
    FetchResult Unreached(const LinkNames& named, bool everReached, bool lost,
                          const Lookup* lookup = nullptr,
                          Clock::time_point since = Clock::time_point::max()) const;
    // Why a link is not asked about at all: everything it names failed a moment ago.
    FetchResult NotAskedAgain(const LinkNames& named, Clock::time_point now) const;
    // Reads what the session has said since the last call; lock_ held.
    void Poll();
    // What one alert says of the session and of what it reached; lock_ held.
    void Note(libtorrent::alert* alert);
    // Reads the session's alerts as they come, and moves the waiting links on.
    void Watch();
    // The DHT bootstrapped again when it was found offline and its wait has passed; lock_ held.
    void RetryDht(Clock::time_point now);
    void AskDht(Clock::time_point now);  // lock_ held

    // How long the DHT, bootstrapped again, may stay without a node before it is offline again.
    static constexpr std::chrono::milliseconds kDhtRetryBound{2000};

    NetworkLimits limits_;
    std::mutex lock_;
    std::mutex alertLock_;                 // never held with lock_ by the library's thread
    std::condition_variable alerted_;      // the library has alerts to read
    bool alerts_ = false;                  // with alertLock_
    std::atomic<bool> dhtWaiting_{false};  // look-ups wait for the DHT: the watcher looks often
    bool closing_ = false;                 // with alertLock_
    std::thread watcher_;
    Clock::time_point statsAsked_;
    Clock::time_point updatesAsked_;
    Lookups lookups_;
    // Every link waiting on a look-up.
    std::vector<std::shared_ptr<Wait>> waits_;
    std::unique_ptr<NetworkSession> session_;
    std::optional<Reachability> reached_;  // with the session
    bool linkSeen_ = false;                // a link came to the session already; lock_ held
    std::atomic<int> sessionsStarted_{0};
};

}  // namespace velindra

// Links run ahead of the one the front end is at: on worker threads, at most a window of links
// in hand past the last one it has taken, with their results handed back in input order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "link_pipeline.h"

namespace velindra {

// How many links of a run may wait on the BitTorrent network at once, beside its workers: a
// look-up costs a thread, a few sockets and a few kilobytes while it waits.
inline constexpr size_t kNetworkWaits = 512;

class AheadRun {
  public:
    using Work = std::function<LinkResult(size_t)>;

    // Runs work(i) for every link. Links in one group (links that save to the same file) run
    // one after another on one worker, in input order; leaders[i] names the group's first
    // link (i itself for the first or only one), and groups start in the order of their first
    // link. With no workers nothing runs ahead: Take runs the work itself. A group waits while
    // `window` links are in hand (started, not waiting on the network, and not yet taken or
    // dropped). `workers` bounds the links fetched from the web at once; a link that goes on
    // to wait on the network (WaitingOnTheNetwork) frees its worker for the next link, up to
    // `networkWaits` such links at once. An exception the work throws becomes a failed result.
    // It keeps a few bytes a link, and the results of the links done but not yet taken.
    AheadRun(std::vector<uint32_t> leaders, int workers, size_t window, Work work,
             size_t networkWaits = kNetworkWaits);
    // Waits for the workers: whatever they still run must be on its way to an end.
    ~AheadRun();
    AheadRun(const AheadRun&) = delete;
    AheadRun& operator=(const AheadRun&) = delete;

    // Whether link i's result is there.
    bool Ready(size_t i);
    // Link i's result, once it is there. Links are taken (or dropped) in order.
    LinkResult Take(size_t i);
    // Goes past link i without its result, which is dropped once it comes.
    void Drop(size_t i);
    // No further group starts; those running finish.
    void Stop();
    // How many links have ended so far.
    size_t finished();

    // Called by a link's work on a worker when it starts waiting on the network: its worker's
    // place goes to the next link, and a thread is added for it. Nothing happens off a
    // worker, or when the run has as many links waiting so as it allows.
    static void WaitingOnTheNetwork();

  private:
    void Worker();
    void Release();         // WaitingOnTheNetwork on this run's worker; lock_ not held
    bool CanStart() const;  // with lock_ held

    static constexpr uint32_t kNone = UINT32_MAX;
    std::vector<uint32_t> leaders_;
    std::vector<uint32_t> next_;  // the next link of the same group
    Work work_;
    size_t window_;
    size_t workers_;       // links fetched from the web at once
    size_t networkWaits_;  // links waiting on the network at once
    size_t groups_ = 0;
    bool threaded_ = false;  // whether links run ahead on workers at all
    std::mutex lock_;
    std::condition_variable changed_;
    std::map<size_t, LinkResult> results_;
    std::vector<bool> dropped_;
    size_t nextGroup_ = 0;  // the first link of the next group to start
    size_t finished_ = 0;
    size_t open_ = 0;     // links started and not yet taken or dropped
    size_t webBusy_ = 0;  // links running on a worker's place
    size_t netBusy_ = 0;  // links waiting on the network
    size_t idle_ = 0;     // threads waiting for a link to start
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// Every link on its own, except links that save to the same file: those are one group, in
// order, so that one worker writes it after the other; as AheadRun's leaders. Links without a
// destination go alone.
std::vector<uint32_t> GroupByDestination(const std::vector<LinkPlan>& plans);

}  // namespace velindra

// Links run ahead of the one the front end is at: on worker threads, at most a window of links
// in hand past the last one it has taken, with their results handed back in input order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "core/link_pipeline.h"

namespace velindra {

// How many links of a run may wait on the BitTorrent network at once, beside its workers: a
// look-up holds no thread while it waits, only a few sockets and a few kilobytes.
inline constexpr size_t kNetworkWaits = 512;

class AheadRun {
  public:
    using Work = std::function<LinkResult(size_t)>;
    // What follows when a link's pending answer has come, on a worker: by default the answer
    // taken into its result.
    using Resume = std::function<LinkResult(size_t, LinkResult)>;

    // Runs work(i) for every link. Links in one group (links that save to the same file) run
    // one after another, in input order; leaders[i] names the group's first link (i itself for
    // the first or only one), and groups start in the order of their first link. With no
    // workers (or none the system would give) nothing runs ahead: Take runs the work itself.
    // A group waits while `window` links are in hand (started, not waiting on the network, and
    // not yet taken). `workers` bounds the links fetched from the web at once. A
    // link whose work leaves an answer pending (the network's) holds no worker while it waits;
    // while `networkWaits` such links wait, no further group starts, and the workers take the
    // answers as they come: a worker runs resume(i, result) and goes on with the link's group.
    // A pending answer must end by itself (the source's own bound). An exception the work throws
    // becomes a failed result. It keeps a few bytes a link, and the results of the links done
    // but not yet taken.
    AheadRun(std::vector<uint32_t> leaders, int workers, size_t window, Work work,
             Resume resume = nullptr, size_t networkWaits = kNetworkWaits);
    // Waits for the workers and for every pending answer: whatever still runs or waits must be
    // on its way to an end.
    ~AheadRun();
    AheadRun(const AheadRun&) = delete;
    AheadRun& operator=(const AheadRun&) = delete;

    // Whether link i's result is there.
    bool Ready(size_t i);
    // Link i's result, once it is there. Links are taken in order.
    LinkResult Take(size_t i);
    // The result of whichever link ends next, with its index, for a front end that says each
    // link as it ends; every link is taken once, by this or by Take, never by both.
    size_t TakeAny(LinkResult& result);
    // No further group starts; those running finish.
    void Stop();
    // How many links have ended so far.
    size_t finished();
    // How many threads the run has.
    size_t threads();

  private:
    void Worker();
    // Runs link i and the rest of its group, until the group ends or a link's answer is left
    // pending; lock_ held.
    void RunGroup(size_t i, std::unique_lock<std::mutex>& guard);
    void Ended(size_t i, LinkResult result);  // lock_ held
    void Answered(size_t i);                  // a pending answer came; lock_ not held
    bool CanStart() const;                    // with lock_ held
    bool Done() const;                        // with lock_ held: nothing left for a worker
    LinkResult Resumed(size_t i, LinkResult result);

    static constexpr uint32_t kNone = UINT32_MAX;
    std::vector<uint32_t> leaders_;
    std::vector<uint32_t> next_;  // the next link of the same group
    Work work_;
    Resume resume_;
    size_t window_;
    size_t workers_;       // links fetched from the web at once
    size_t networkWaits_;  // links waiting on the network at once
    size_t groups_ = 0;
    bool threaded_ = false;  // whether links run ahead on workers at all
    std::mutex lock_;
    std::condition_variable changed_;
    std::map<size_t, LinkResult> results_;
    std::map<size_t, LinkResult> waiting_;  // links whose answer is pending
    std::deque<size_t> answered_;           // ... and whose answer has come
    size_t nextGroup_ = 0;                  // the first link of the next group to start
    size_t finished_ = 0;
    size_t serial_ = 0;   // the next link TakeAny runs itself, with no workers
    size_t open_ = 0;     // links started and not yet taken
    size_t webBusy_ = 0;  // links running on a worker's place
    size_t netBusy_ = 0;  // links waiting on the network
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace velindra

// Links run ahead of the one the front end is at: on worker threads, at most a window of links
// past the last one it has taken, with their results handed back in input order.
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

class AheadRun {
  public:
    using Work = std::function<LinkResult(size_t)>;

    // Runs work(i) for every link. Links in one group (links that save to the same file) run
    // one after another on one worker, in input order; leaders[i] names the group's first
    // link (i itself for the first or only one), and groups start in the order of their first
    // link. With no workers nothing runs ahead: Take runs the work itself. A group whose first
    // link is `window` or more places past the last link taken (or dropped) waits. An
    // exception the work throws becomes a failed result. It keeps a few bytes a link, and the
    // results of the links done but not yet taken.
    AheadRun(std::vector<uint32_t> leaders, int workers, size_t window, Work work);
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

  private:
    void Worker();
    void Advance(size_t i);  // with lock_ held

    static constexpr uint32_t kNone = UINT32_MAX;
    std::vector<uint32_t> leaders_;
    std::vector<uint32_t> next_;  // the next link of the same group
    Work work_;
    size_t window_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::map<size_t, LinkResult> results_;
    std::vector<bool> dropped_;
    size_t nextGroup_ = 0;  // the first link of the next group to start
    size_t taken_ = 0;      // links taken or dropped, all before this one
    size_t finished_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// Every link on its own, except links that save to the same file: those are one group, in
// order, so that one worker writes it after the other; as AheadRun's leaders. Links without a
// destination go alone.
std::vector<uint32_t> GroupByDestination(const std::vector<LinkPlan>& plans);

}  // namespace velindra

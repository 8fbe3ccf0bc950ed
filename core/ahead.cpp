#include "ahead.h"

#include <exception>
#include <map>

namespace velindra {

namespace {

LinkResult Guarded(const AheadRun::Work& work, size_t i) {
    try {
        return work(i);
    } catch (const std::exception& e) {
        return FailedLink(FetchError::Other, std::string("internal error: ") + e.what());
    } catch (...) {
        return FailedLink(FetchError::Other, "internal error");
    }
}

}  // namespace

std::vector<uint32_t> GroupByDestination(const std::vector<LinkPlan>& plans) {
    std::vector<uint32_t> leaders(plans.size());
    std::map<std::string, uint32_t> first;
    for (size_t i = 0; i < plans.size(); ++i) {
        leaders[i] = static_cast<uint32_t>(i);
        if (!plans[i].destination.empty())
            leaders[i] = first.try_emplace(plans[i].destination, leaders[i]).first->second;
    }
    return leaders;
}

namespace {

// The run a worker thread belongs to, and whether the link it runs holds a worker's place.
struct Lane {
    AheadRun* run = nullptr;
    bool holdsPlace = false;
};
thread_local Lane tLane;

}  // namespace

AheadRun::AheadRun(std::vector<uint32_t> leaders, int workers, size_t window, Work work,
                   size_t networkWaits)
    : leaders_(std::move(leaders)),
      next_(leaders_.size(), kNone),
      work_(std::move(work)),
      window_(window == 0 ? 1 : window),
      workers_(static_cast<size_t>(std::max(workers, 0))),
      networkWaits_(networkWaits),
      dropped_(leaders_.size(), false) {
    std::vector<uint32_t> last(leaders_.size(), kNone);  // each group's last link so far
    for (size_t i = 0; i < leaders_.size(); ++i) {
        const uint32_t leader = leaders_[i];
        if (leader == i)
            ++groups_;
        else
            next_[last[leader] == kNone ? leader : last[leader]] = static_cast<uint32_t>(i);
        last[leader] = static_cast<uint32_t>(i);
    }
    threaded_ = std::min(workers_, groups_) > 0;
    std::lock_guard<std::mutex> guard(lock_);
    for (size_t k = 0; k < std::min(workers_, groups_); ++k)
        threads_.emplace_back([this] { Worker(); });
}

AheadRun::~AheadRun() {
    Stop();  // no thread is added after this
    for (std::thread& t : threads_)
        t.join();
}

bool AheadRun::CanStart() const {
    return webBusy_ < workers_ && open_ - netBusy_ < window_;
}

void AheadRun::Worker() {
    tLane.run = this;
    const size_t count = leaders_.size();
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        ++idle_;
        changed_.wait(guard, [&] { return stopping_ || nextGroup_ >= count || CanStart(); });
        --idle_;
        if (stopping_ || nextGroup_ >= count)
            return;
        const size_t first = nextGroup_;
        do
            ++nextGroup_;
        while (nextGroup_ < count && leaders_[nextGroup_] != nextGroup_);
        for (size_t i = first; i != kNone; i = next_[i]) {
            changed_.wait(guard, [&] { return webBusy_ < workers_; });
            ++webBusy_;
            ++open_;
            tLane.holdsPlace = true;
            guard.unlock();
            LinkResult result = Guarded(work_, i);
            guard.lock();
            --(tLane.holdsPlace ? webBusy_ : netBusy_);
            tLane.holdsPlace = false;
            ++finished_;
            if (dropped_[i])
                --open_;
            else
                results_[i] = std::move(result);
            changed_.notify_all();
        }
    }
}

void AheadRun::WaitingOnTheNetwork() {
    if (tLane.run)
        tLane.run->Release();
}

void AheadRun::Release() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!tLane.holdsPlace || netBusy_ >= networkWaits_)
        return;
    tLane.holdsPlace = false;
    --webBusy_;
    ++netBusy_;
    if (!stopping_ && idle_ == 0 && nextGroup_ < leaders_.size() &&
        threads_.size() < workers_ + networkWaits_)
        threads_.emplace_back([this] { Worker(); });
    changed_.notify_all();
}

bool AheadRun::Ready(size_t i) {
    std::lock_guard<std::mutex> guard(lock_);
    return !threaded_ || results_.contains(i);
}

LinkResult AheadRun::Take(size_t i) {
    if (!threaded_) {
        LinkResult result = Guarded(work_, i);
        std::lock_guard<std::mutex> guard(lock_);
        ++finished_;
        return result;
    }
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [&] { return results_.contains(i); });
    LinkResult result = std::move(results_[i]);
    results_.erase(i);
    --open_;
    changed_.notify_all();
    return result;
}

void AheadRun::Drop(size_t i) {
    std::lock_guard<std::mutex> guard(lock_);
    dropped_[i] = true;
    if (results_.erase(i) > 0)
        --open_;
    if (!threaded_)
        ++finished_;
    changed_.notify_all();
}

void AheadRun::Stop() {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    changed_.notify_all();
}

size_t AheadRun::finished() {
    std::lock_guard<std::mutex> guard(lock_);
    return finished_;
}

}  // namespace velindra

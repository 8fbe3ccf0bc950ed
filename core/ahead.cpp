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

AheadRun::AheadRun(std::vector<uint32_t> leaders, int workers, size_t window, Work work)
    : leaders_(std::move(leaders)),
      next_(leaders_.size(), kNone),
      work_(std::move(work)),
      window_(window == 0 ? 1 : window),
      dropped_(leaders_.size(), false) {
    std::vector<uint32_t> last(leaders_.size(), kNone);  // each group's last link so far
    size_t groups = 0;
    for (size_t i = 0; i < leaders_.size(); ++i) {
        const uint32_t leader = leaders_[i];
        if (leader == i)
            ++groups;
        else
            next_[last[leader] == kNone ? leader : last[leader]] = static_cast<uint32_t>(i);
        last[leader] = static_cast<uint32_t>(i);
    }
    const size_t threads = std::min(static_cast<size_t>(std::max(workers, 0)), groups);
    for (size_t k = 0; k < threads; ++k)
        threads_.emplace_back([this] { Worker(); });
}

AheadRun::~AheadRun() {
    Stop();
    for (std::thread& t : threads_)
        t.join();
}

void AheadRun::Worker() {
    const size_t count = leaders_.size();
    for (;;) {
        size_t first = 0;
        {
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait(guard, [&] {
                return stopping_ || nextGroup_ >= count || nextGroup_ < taken_ + window_;
            });
            if (stopping_ || nextGroup_ >= count)
                return;
            first = nextGroup_;
            do
                ++nextGroup_;
            while (nextGroup_ < count && leaders_[nextGroup_] != nextGroup_);
        }
        for (size_t i = first; i != kNone; i = next_[i]) {
            LinkResult result = Guarded(work_, i);
            std::lock_guard<std::mutex> guard(lock_);
            ++finished_;
            if (!dropped_[i])
                results_[i] = std::move(result);
            changed_.notify_all();
        }
    }
}

bool AheadRun::Ready(size_t i) {
    std::lock_guard<std::mutex> guard(lock_);
    return threads_.empty() || results_.contains(i);
}

LinkResult AheadRun::Take(size_t i) {
    if (threads_.empty()) {
        LinkResult result = Guarded(work_, i);
        std::lock_guard<std::mutex> guard(lock_);
        ++finished_;
        Advance(i);
        return result;
    }
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [&] { return results_.contains(i); });
    LinkResult result = std::move(results_[i]);
    results_.erase(i);
    Advance(i);
    return result;
}

void AheadRun::Drop(size_t i) {
    std::lock_guard<std::mutex> guard(lock_);
    dropped_[i] = true;
    results_.erase(i);
    if (threads_.empty())
        ++finished_;
    Advance(i);
}

void AheadRun::Advance(size_t i) {
    taken_ = std::max(taken_, i + 1);
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

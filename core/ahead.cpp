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

std::vector<std::vector<size_t>> GroupByDestination(const std::vector<LinkPlan>& plans) {
    std::vector<std::vector<size_t>> groups;
    std::map<std::string, size_t> groupOf;
    for (size_t i = 0; i < plans.size(); ++i) {
        if (plans[i].destination.empty()) {
            groups.push_back({i});
            continue;
        }
        auto [it, fresh] = groupOf.try_emplace(plans[i].destination, groups.size());
        if (fresh)
            groups.push_back({});
        groups[it->second].push_back(i);
    }
    return groups;
}

AheadRun::AheadRun(std::vector<std::vector<size_t>> groups, size_t count, int workers,
                   size_t window, Work work)
    : groups_(std::move(groups)),
      work_(std::move(work)),
      window_(window == 0 ? 1 : window),
      results_(count),
      dropped_(count, false) {
    const size_t threads = std::min(static_cast<size_t>(std::max(workers, 0)), groups_.size());
    for (size_t k = 0; k < threads; ++k)
        threads_.emplace_back([this] { Worker(); });
}

AheadRun::~AheadRun() {
    Stop();
    for (std::thread& t : threads_)
        t.join();
}

void AheadRun::Worker() {
    for (;;) {
        size_t g = 0;
        {
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait(guard, [this] {
                return stopping_ || nextGroup_ >= groups_.size() ||
                       groups_[nextGroup_].front() < taken_ + window_;
            });
            if (stopping_ || nextGroup_ >= groups_.size())
                return;
            g = nextGroup_++;
        }
        for (size_t i : groups_[g]) {
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
    return threads_.empty() || results_[i].has_value();
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
    changed_.wait(guard, [&] { return results_[i].has_value(); });
    LinkResult result = std::move(*results_[i]);
    results_[i].reset();
    Advance(i);
    return result;
}

void AheadRun::Drop(size_t i) {
    std::lock_guard<std::mutex> guard(lock_);
    dropped_[i] = true;
    results_[i].reset();
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

#include "core/ahead.h"

#include <exception>
#include <system_error>

namespace velindra {

namespace {

// A link's work, with an exception it throws as a failed result.
template <typename Job>
LinkResult Guarded(Job&& job) {
    try {
        return job();
    } catch (const std::exception& e) {
        return FailedLink(FetchError::Other, std::string("internal error: ") + e.what());
    } catch (...) {
        return FailedLink(FetchError::Other, "internal error");
    }
}

}  // namespace

AheadRun::AheadRun(std::vector<uint32_t> leaders, int workers, size_t window, Work work,
                   Resume resume, size_t networkWaits)
    : leaders_(std::move(leaders)),
      next_(leaders_.size(), kNone),
      work_(std::move(work)),
      resume_(std::move(resume)),
      window_(window == 0 ? 1 : window),
      workers_(static_cast<size_t>(std::max(workers, 0))),
      networkWaits_(std::max<size_t>(networkWaits, 1)) {
    std::vector<uint32_t> last(leaders_.size(), kNone);  // each group's last link so far
    for (size_t i = 0; i < leaders_.size(); ++i) {
        const uint32_t leader = leaders_[i];
        if (leader == i)
            ++groups_;
        else
            next_[last[leader] == kNone ? leader : last[leader]] = static_cast<uint32_t>(i);
        last[leader] = static_cast<uint32_t>(i);
    }
    std::lock_guard<std::mutex> guard(lock_);
    for (size_t k = 0; k < std::min(workers_, groups_); ++k) {
        try {
            threads_.emplace_back([this] { Worker(); });
        } catch (const std::system_error&) {
            break;  // the system has no more threads to give: the ones there are do it all
        }
    }
    threaded_ = !threads_.empty();
    workers_ = std::max<size_t>(threads_.size(), threaded_ ? 1 : 0);
}

AheadRun::~AheadRun() {
    Stop();  // no group starts after this; the links waiting still end, and are resumed
    for (std::thread& t : threads_)
        t.join();
}

// While as many links wait on the network as the run allows, no further group starts (its link
// might wait too), but the workers stay free for the answers that come: a quick answer is never
// held up behind links that wait out their bound.
bool AheadRun::CanStart() const {
    return webBusy_ < workers_ && open_ - netBusy_ < window_ && netBusy_ < networkWaits_;
}

bool AheadRun::Done() const {
    return (stopping_ || nextGroup_ >= leaders_.size()) && answered_.empty() && netBusy_ == 0;
}

LinkResult AheadRun::Resumed(size_t i, LinkResult result) {
    return Guarded([&]() -> LinkResult {
        if (resume_)
            return resume_(i, std::move(result));
        TakeAnswer(result);
        return std::move(result);
    });
}

void AheadRun::Worker() {
    const size_t count = leaders_.size();
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        changed_.wait(guard, [&] {
            return !answered_.empty() || Done() || (!stopping_ && nextGroup_ < count && CanStart());
        });
        if (!answered_.empty()) {
            const size_t i = answered_.front();
            answered_.pop_front();
            LinkResult result = std::move(waiting_[i]);
            waiting_.erase(i);
            guard.unlock();
            result = Resumed(i, std::move(result));
            guard.lock();
            --netBusy_;
            Ended(i, std::move(result));
            RunGroup(next_[i], guard);
        } else if (!stopping_ && nextGroup_ < count && CanStart()) {
            const size_t first = nextGroup_;
            do
                ++nextGroup_;
            while (nextGroup_ < count && leaders_[nextGroup_] != nextGroup_);
            RunGroup(first, guard);
        } else {
            return;  // Done
        }
    }
}

void AheadRun::RunGroup(size_t i, std::unique_lock<std::mutex>& guard) {
    for (; i != kNone; i = next_[i]) {
        changed_.wait(guard, [&] { return webBusy_ < workers_; });
        ++webBusy_;
        ++open_;
        guard.unlock();
        LinkResult result = Guarded([&] { return work_(i); });
        if (result.pending) {
            // It waits without a thread: its worker goes on with the next link, and the group
            // goes on once its answer has come. Links that started together may take the run a
            // few past its bound (at most one a worker); none starts while it is full.
            guard.lock();
            --webBusy_;
            ++netBusy_;
            const std::shared_ptr<PendingFetch> pending = result.pending;
            waiting_[i] = std::move(result);
            changed_.notify_all();
            guard.unlock();
            pending->WhenEnded([this, i] { Answered(i); });
            guard.lock();
            return;
        }
        guard.lock();
        --webBusy_;
        Ended(i, std::move(result));
    }
}

void AheadRun::Ended(size_t i, LinkResult result) {
    ++finished_;
    results_[i] = std::move(result);
    changed_.notify_all();
}

void AheadRun::Answered(size_t i) {
    std::lock_guard<std::mutex> guard(lock_);
    answered_.push_back(i);
    changed_.notify_all();
}

bool AheadRun::Ready(size_t i) {
    std::lock_guard<std::mutex> guard(lock_);
    return !threaded_ || results_.contains(i);
}

LinkResult AheadRun::Take(size_t i) {
    if (!threaded_) {
        LinkResult result = Guarded([&] { return work_(i); });
        if (result.pending)
            result = Resumed(i, std::move(result));
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

size_t AheadRun::TakeAny(LinkResult& result) {
    if (!threaded_) {
        const size_t i = serial_++;
        result = Take(i);
        return i;
    }
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [&] { return !results_.empty(); });
    const auto first = results_.begin();
    const size_t i = first->first;
    result = std::move(first->second);
    results_.erase(first);
    --open_;
    changed_.notify_all();
    return i;
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

size_t AheadRun::threads() {
    std::lock_guard<std::mutex> guard(lock_);
    return threads_.size();
}

}  // namespace velindra

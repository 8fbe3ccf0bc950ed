#include "workers.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

namespace velindra::cli {

std::vector<std::vector<size_t>> GroupByDestination(const std::vector<LinkPlan>& plans) {
    std::vector<std::vector<size_t>> groups;
    std::map<std::string, size_t> groupOf;
    for (size_t i = 0; i < plans.size(); ++i) {
        if (!plans[i].parsed) {
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

namespace {

Outcome Guarded(const std::function<Outcome(size_t)>& work, size_t i) {
    try {
        return work(i);
    } catch (const std::exception& e) {
        return InternalError(e.what());
    } catch (...) {
        return InternalError({});
    }
}

}  // namespace

void RunInOrder(const std::vector<std::vector<size_t>>& groups, size_t count, int workers,
                const std::function<Outcome(size_t)>& work,
                const std::function<void(size_t, Outcome&, size_t finished)>& deliver) {
    std::vector<Outcome> outcomes(count);
    std::mutex lock;
    std::condition_variable changed;
    size_t nextGroup = 0;
    size_t finished = 0;
    const auto worker = [&] {
        for (;;) {
            size_t g = 0;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (nextGroup >= groups.size())
                    return;
                g = nextGroup++;
            }
            for (size_t i : groups[g]) {
                Outcome result = Guarded(work, i);
                result.done = true;
                std::lock_guard<std::mutex> guard(lock);
                outcomes[i] = std::move(result);
                ++finished;
                changed.notify_all();
            }
        }
    };
    std::vector<std::thread> threads;
    for (int k = 0; k < std::min<int>(workers, static_cast<int>(groups.size())); ++k)
        threads.emplace_back(worker);
    for (size_t i = 0; i < count; ++i) {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [&] { return outcomes[i].done; });
        Outcome outcome = std::move(outcomes[i]);
        const size_t finishedNow = finished;
        guard.unlock();
        deliver(i, outcome, finishedNow);
    }
    for (auto& t : threads)
        t.join();
}

}  // namespace velindra::cli

// What a run found it could not reach (a cache, a peer, a tracker, the DHT), and when it is to
// be tried again: a moment after it failed, the wait doubling while it keeps failing (0.5 s,
// 1 s, 2 s, 4 s, at most 5 s), so that a source that comes back is soon asked again while one
// that stays down costs a failed attempt only now and then.
#pragma once

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <string>

namespace velindra {

class RetryWait {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kFirstWait{500};
    static constexpr std::chrono::milliseconds kLongestWait{5000};
    static constexpr std::chrono::milliseconds kLongestProbe{10000};

    // `key` could not be reached at `now`. A failure seen while it was resting (an attempt
    // that started before) does not lengthen the wait; one after the wait does.
    void Failed(const std::string& key, Clock::time_point now) {
        if (entries_.size() > kMaxEntries && !entries_.contains(key))
            entries_.clear();
        auto [entry, added] = entries_.try_emplace(key, Entry{now, kFirstWait});
        if (added)
            return;
        if (now < entry->second.failed + entry->second.wait)
            return;
        entry->second.wait = std::min(entry->second.wait * 2, kLongestWait);
        entry->second.failed = now;
        entry->second.probe.reset();
    }
    // `key` answered: it is asked as anything new is.
    void Reached(const std::string& key) { entries_.erase(key); }
    void Forget() { entries_.clear(); }

    // How long ago `key` failed, while it is still not to be asked again; nothing when it may
    // be asked. Once its wait has passed and one asker is trying it again (Probing), it still
    // rests for the others until that answer comes (or kLongestProbe has passed).
    // A link that is itself waiting on `key` passes `probes` false: the probe may be its own.
    std::optional<Clock::duration> Resting(const std::string& key, Clock::time_point now,
                                           bool probes = true) const {
        const auto found = entries_.find(key);
        if (found == entries_.end())
            return std::nullopt;
        const Entry& e = found->second;
        const bool probed = probes && e.probe && now < *e.probe + kLongestProbe;
        if (now >= e.failed + e.wait && !probed)
            return std::nullopt;
        return now - e.failed;
    }
    // One asker tries `key` again now that its wait has passed: the others learn its answer
    // (Failed or Reached) instead of all trying at once.
    void Probing(const std::string& key, Clock::time_point now) {
        const auto found = entries_.find(key);
        if (found != entries_.end() && !Resting(key, now))
            found->second.probe = now;
    }
    // How long `key` still rests, while its whole wait is at most `shortWait` (it failed only
    // once or twice lately); nothing when it may be asked, or rests longer.
    std::optional<Clock::duration> ShortRestLeft(const std::string& key, Clock::time_point now,
                                                 std::chrono::milliseconds shortWait) const {
        const auto found = entries_.find(key);
        if (found == entries_.end() || found->second.wait > shortWait ||
            now >= found->second.failed + found->second.wait)
            return std::nullopt;
        return found->second.failed + found->second.wait - now;
    }
    // Whether `key` failed at or after `since` (and has not answered since).
    bool FailedSince(const std::string& key, Clock::time_point since) const {
        const auto found = entries_.find(key);
        return found != entries_.end() && found->second.failed >= since;
    }

  private:
    static constexpr size_t kMaxEntries = 10'000;
    struct Entry {
        Clock::time_point failed;
        std::chrono::milliseconds wait;
        std::optional<Clock::time_point> probe = std::nullopt;  // when one asker tried it again
    };
    std::map<std::string, Entry> entries_;
};

// Seconds as the reasons say them, with one decimal ("0.3").
inline std::string TenthsOfSeconds(std::chrono::steady_clock::duration d) {
    const long long tenths = std::chrono::duration_cast<std::chrono::milliseconds>(d).count() / 100;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

}  // namespace velindra

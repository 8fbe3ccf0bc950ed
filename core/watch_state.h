// What the watch remembers between its starts: when each link it could not save yet was first
// asked, how often, and when it is asked next; and which links of a file still in the folder
// were saved already, so that they are not asked again. Written and read as text by the
// front end; times are seconds since the epoch.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

namespace velindra {

// How patient the watch is with a link no source has yet.
struct WatchPatience {
    int64_t firstWait = 60;           // asked again after a minute,
    int64_t longestWait = 6 * 3600;   // the wait doubling up to six hours,
    int64_t giveUpAfter = 7 * 86400;  // for a week after it was first asked
};

class WatchState {
  public:
    // The state a text holds; lines it does not understand are left out.
    static WatchState Read(std::string_view text);
    std::string Text() const;

    // Whether link `hash` may be asked at `now` (it is not waiting out a wait).
    bool Due(const std::string& hash, int64_t now) const;
    // When a link that failed at `now` is asked again; nothing when it is given up.
    std::optional<int64_t> Failed(const std::string& hash, int64_t now,
                                  const WatchPatience& patience);
    // When a link is asked next (0: at once).
    int64_t NextAsk(const std::string& hash) const;
    // How many times a link has failed.
    int attempts(const std::string& hash) const;

    void Saved(const std::string& file, const std::string& hash);
    bool WasSaved(const std::string& file, const std::string& hash) const;
    // A file that is done (removed or given up): its saved links, and the waits of `hashes`.
    void Forget(const std::string& file, const std::set<std::string>& hashes);
    // Keeps only what the files in the folder (their names and links) still need.
    void KeepOnly(const std::set<std::string>& files, const std::set<std::string>& hashes);

  private:
    struct Wait {
        int64_t first = 0;
        int attempts = 0;
        int64_t next = 0;
    };
    std::map<std::string, Wait> waits_;
    std::set<std::pair<std::string, std::string>> saved_;  // (file, hash)
};

}  // namespace velindra

#include "cli/watch.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>

#include "cli/link_run.h"
#include "cli/store.h"
#include "core/links.h"
#include "core/torrent.h"
#include "core/watch_state.h"
#include "platform/atomic_file.h"
#include "platform/digests.h"
#include "platform/file_reading.h"
#include "platform/folder_watch.h"
#include "platform/host_paths.h"
#include "platform/user_folders.h"
#include "platform/utf16.h"

namespace velindra::cli {

namespace {

namespace t = cli_texts;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Network folders send no events: the folder is looked over this often, and a file no event
// said was being written is taken once its size and time have stood still for kStill.
constexpr auto kLookOver = std::chrono::seconds(2);
constexpr auto kStill = std::chrono::seconds(5);
// Files dropped together (a thousand at once) are taken together: after an event the watch
// waits for the events to stop for this long (at most kGatherAtMost) before it begins.
constexpr auto kGather = std::chrono::milliseconds(150);
constexpr auto kGatherAtMost = std::chrono::seconds(1);
// The network's state is saved this often, not only at the end.
constexpr auto kCheckpoint = std::chrono::minutes(5);
// A watched folder gone for this long ends the watch (exit status 1).
constexpr auto kGoneBound = std::chrono::minutes(5);
// A .magnet file is read up to this: Sonarr, Radarr and the indexers write one link a file.
constexpr size_t kMaxFileBytes = size_t{1} << 20;

int64_t Now() {
    return static_cast<int64_t>(std::time(nullptr));
}

// A time as the log shows it: local time to the second.
std::string LocalTime(int64_t at) {
    const std::time_t when = static_cast<std::time_t>(at);
    std::tm parts{};
#ifdef _WIN32
    localtime_s(&parts, &when);
#else
    localtime_r(&when, &parts);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

bool IsMagnetFileName(const std::string& name) {
    constexpr std::string_view kEnd = ".magnet";
    if (name.size() <= kEnd.size())
        return false;
    for (size_t k = 0; k < kEnd.size(); ++k) {
        if (std::tolower(static_cast<unsigned char>(name[name.size() - kEnd.size() + k])) !=
            kEnd[k])
            return false;
    }
    return true;
}

// One line of the watch's log on standard error (what journald or a container log shows).
void Log(const std::string& line) {
    std::cerr << t::kProgram << ": " << EscapeControls(line) << std::endl;
}

// The state file of a watched folder: one a folder, in the user's state folder.
std::string StateFileFor(const std::string& folder) {
    const std::string state = UserStateFolder();
    std::error_code ec;
    const fs::path absolute = fs::weakly_canonical(PathFromUtf8(folder), ec);
    const std::optional<Sha1Digest> digest = Sha1(PathToUtf8(ec ? PathFromUtf8(folder) : absolute));
    if (state.empty() || !digest)
        return {};
    const std::string name = "watch-" + HexOf(*digest).substr(0, 16) + ".state";
    return InUserFolder(state, name.c_str());
}

// A file of the folder as the look-overs saw it.
struct Seen {
    uintmax_t size = 0;
    fs::file_time_type time;
    Clock::time_point since;  // when it was first seen with this size and time
    bool closed = false;      // its writer closed it since
    bool writing = false;     // an event said it is being written (and none yet that it is done)
    int64_t notBefore = 0;    // its links wait until then (wall clock)
};

// One link of a file taken in a batch.
struct Taken {
    size_t file;        // index into the batch's files
    std::string piece;  // as cut from the file's text
    std::string hash;   // empty: no usable hash
};

class Watcher {
  public:
    Watcher(Options& options, const Console& console, BatchSources& sources)
        : options_(options),
          console_(console),
          folder_(options.watch),
          stateFile_(StateFileFor(options.watch)),
          sources_(sources),
          watch_(options.watch) {
        if (!options_.outputGiven)
            options_.output = folder_;
        std::string text;
        if (!stateFile_.empty() && SafeToRead(stateFile_, 64u << 20) &&
            ReadRegularFile(stateFile_, 64u << 20, text).ok())
            state_ = WatchState::Read(text);
    }

    int Run() {
        Log(Say(t::kWatching, {folder_, options_.output}));
        Clock::time_point checkpoint = Clock::now();
        while (!gStop) {
            if (!LookOver())
                return 1;
            std::vector<std::string> ready = Ready();
            if (!ready.empty())
                Batch(ready);
            if (gStop)
                break;
            if (Clock::now() - checkpoint >= kCheckpoint) {
                sources_.Checkpoint();
                checkpoint = Clock::now();
            }
            Gather(watch_.Wait(WaitFor()));
        }
        SaveState();
        return 0;
    }

  private:
    // How long to wait for events: until the next look-over, or sooner when a file's links
    // are due before it.
    std::chrono::milliseconds WaitFor() const {
        std::chrono::milliseconds wait = kLookOver;
        const int64_t now = Now();
        for (const auto& [name, seen] : seen_) {
            if (seen.notBefore > now)
                wait = std::min<std::chrono::milliseconds>(
                    wait, std::chrono::seconds(seen.notBefore - now));
        }
        return wait;
    }

    // The names the folder's events gave, and those of the events right after them.
    void Gather(std::vector<FolderEvent> events) {
        const Clock::time_point until = Clock::now() + kGatherAtMost;
        while (!events.empty() && !gStop) {
            for (const FolderEvent& event : events) {
                if (!IsMagnetFileName(event.name))
                    continue;
                heard_[event.name] = event.done;
                if (const auto found = seen_.find(event.name); found != seen_.end()) {
                    found->second.closed = event.done;
                    found->second.writing = !event.done;
                }
            }
            if (Clock::now() >= until)
                break;
            events = watch_.Wait(kGather);
        }
    }

    // A file as this look-over sees it, with what the last one and the events said of it.
    Seen Compared(const std::string& name, Seen seen) const {
        seen.since = Clock::now();
        if (const auto before = seen_.find(name); before != seen_.end()) {
            seen.notBefore = before->second.notBefore;
            seen.closed = before->second.closed;
            seen.writing = before->second.writing;
            if (before->second.size == seen.size && before->second.time == seen.time)
                seen.since = before->second.since;
        } else if (const auto heard = heard_.find(name); heard != heard_.end()) {
            seen.closed = heard->second;
            seen.writing = !heard->second;
        } else if (fs::file_time_type::clock::now() - seen.time >= kStill) {
            seen.since -= kStill;  // found at the start, untouched for a while
        }
        return seen;
    }

    // Looks the folder over; false when it has been gone too long.
    bool LookOver() {
        std::error_code ec;
        fs::directory_iterator entries(PathFromUtf8(folder_), ec);
        if (ec) {
            if (!goneSince_) {
                goneSince_ = Clock::now();
                Log(Say(t::kWatchFolderGone, {folder_}));
            } else if (Clock::now() - *goneSince_ >= kGoneBound) {
                Log(Say(
                    t::kWatchGaveUpFolder,
                    {std::to_string(
                        std::chrono::duration_cast<std::chrono::seconds>(kGoneBound).count())}));
                return false;
            }
            return true;
        }
        if (goneSince_) {
            goneSince_.reset();
            Log(Say(t::kWatchFolderBack, {folder_}));
            watch_.Rewatch();
        } else if (!watch_.watching()) {
            watch_.Rewatch();
        }
        std::map<std::string, Seen> now;
        for (const fs::directory_entry& entry : entries) {
            const std::string name = PathToUtf8(entry.path().filename());
            if (!IsMagnetFileName(name))
                continue;
            const fs::file_status status = entry.symlink_status(ec);
            if (ec)
                continue;
            if (!fs::is_regular_file(status)) {
                if (passedOver_.insert(name).second)
                    Log(Say(t::kWatchPassedOver, {name}));
                continue;
            }
            Seen seen;
            seen.size = entry.file_size(ec);
            seen.time = entry.last_write_time(ec);
            if (ec)
                continue;
            now[name] = Compared(name, seen);
        }
        heard_.clear();
        std::erase_if(passedOver_, [&](const std::string& name) {
            return !fs::exists(fs::symlink_status(PathFromUtf8(Path(name)), ec));
        });
        seen_ = std::move(now);
        return true;
    }

    // The files to take now, when due: closed by their writers, or (no event having said that
    // one writes them) standing still and open for writing nowhere the system can tell.
    std::vector<std::string> Ready() const {
        std::vector<std::string> ready;
        const int64_t now = Now();
        for (const auto& [name, seen] : seen_) {
            const bool still = !seen.writing && Clock::now() - seen.since >= kStill;
            if ((seen.closed || still) && seen.notBefore <= now && NobodyWrites(Path(name)))
                ready.push_back(name);
        }
        return ready;
    }

    std::string Path(const std::string& name) const {
        return JoinDestination(folder_, name, HostPathRules());
    }

    // Reads a file's links; a file that cannot be read or holds none is dealt with here.
    std::vector<std::string> LinksOf(const std::string& name) {
        std::string text;
        const FetchResult read = ReadWholeFile(Path(name), text, kMaxFileBytes, gStop);
        if (!read.ok()) {
            if (gStop)
                return {};
            if (read.error == FetchError::TooLarge) {
                GiveUp(name, Say(t::kWatchTooLarge, {std::to_string(kMaxFileBytes >> 20)}));
            } else {
                Log(Say(
                    t::kWatchReadLater,
                    {Say(t::kCannotRead, {name, SystemReason(read.systemError, read.detail)})}));
                seen_[name].notBefore = Now() + options_.patience.firstWait;
            }
            return {};
        }
        if (std::optional<std::string> links = BareHashesAsLinks(text))
            text = *links;
        std::vector<std::string> pieces;
        for (const LinkSpan& span : FindLinks(text))
            pieces.push_back(PieceAt(text, span));
        if (pieces.empty())
            GiveUp(name, Say(t::kNoLinks));
        return pieces;
    }

    // A file renamed NAME.failed, with the reason.
    void GiveUp(const std::string& name, const std::string& why) {
        const std::string failed = name + ".failed";
        std::error_code ec;
        fs::rename(PathFromUtf8(Path(name)), PathFromUtf8(Path(failed)), ec);
        if (ec)
            Log(Say(t::kWatchCannotRename, {name, SystemReason(ec.value(), ec.message())}));
        Log(Say(t::kWatchGivenUp, {name, failed, why}));
        seen_.erase(name);
    }

    void Batch(const std::vector<std::string>& files);
    void Settle(const std::vector<std::string>& files, const std::vector<Taken>& taken,
                const std::map<size_t, std::string>& givenUp,
                const std::set<std::string>& givenUpHashes, bool interrupted);
    void Event(const char* kind, const std::string& file, const LinkPlan& plan,
               const Outcome& outcome, std::optional<int64_t> next);

    void SaveState() {
        if (stateFile_.empty())
            return;
        std::set<std::string> files, hashes;
        for (const auto& [name, seen] : seen_)
            files.insert(name);
        for (const auto& [name, links] : hashesOf_) {
            if (files.count(name))
                hashes.insert(links.begin(), links.end());
        }
        if (lookedOverOnce_)
            state_.KeepOnly(files, hashes);
        std::erase_if(hashesOf_, [&](const auto& entry) { return !files.count(entry.first); });
        MakeFolders(PathToUtf8(PathFromUtf8(stateFile_).parent_path()));
        AtomicFile file(stateFile_);
        if (file.Open().ok())
            file.Commit(state_.Text());
    }

    Options& options_;
    const Console& console_;
    const std::string folder_;
    const std::string stateFile_;
    WatchState state_;
    BatchSources& sources_;  // one network session for the life of the watch
    // Shared with --serve: asked first, and given what was saved.
    TorrentStore& store_ = TorrentStore::ForThisUser();
    FolderWatch watch_;
    std::map<std::string, Seen> seen_;
    std::map<std::string, bool> heard_;  // events before a look-over saw the file: done?
    std::set<std::string> passedOver_;   // said once each
    std::map<std::string, std::set<std::string>> hashesOf_;  // the links of the files read
    bool lookedOverOnce_ = false;
    std::optional<Clock::time_point> goneSince_;
};

// The due links of the files, in one run: each link's end said as it comes, then each file
// removed, renamed or kept for later.
void Watcher::Batch(const std::vector<std::string>& files) {
    std::vector<Taken> taken;
    const PathRules rules = HostPathRules();
    const int64_t now = Now();
    for (size_t f = 0; f < files.size() && !gStop; ++f) {
        std::set<std::string>& hashes = hashesOf_[files[f]];
        hashes.clear();
        for (std::string& piece : LinksOf(files[f])) {
            const LinkPlan plan = PlanLink(piece, true, "", rules);
            const std::string hash =
                plan.hashes ? plan.hashes->V1Text() + plan.hashes->V2Text() : std::string();
            if (!hash.empty())
                hashes.insert(hash);
            if (hash.empty() || (!state_.WasSaved(files[f], hash) && state_.Due(hash, now)))
                taken.push_back({f, std::move(piece), hash});
        }
    }
    lookedOverOnce_ = true;
    std::map<size_t, std::string> givenUp;  // a file's reason, once a link of it is given up
    std::set<std::string> givenUpHashes;
    PathRules folderRules = rules;
    folderRules.ignoresCase = FolderIgnoresCase(options_.output);
    const BatchPlanner planner(
        taken.size(), [&](size_t i) { return taken[i].piece; }, options_.settings.usedn,
        options_.output, folderRules);
    if (!taken.empty()) {
        LinkRun(options_, console_, planner, folderRules, std::nullopt, &sources_,
                [&](size_t i, const LinkPlan& plan, const Outcome& outcome) {
                    const Taken& link = taken[i];
                    const std::string& file = files[link.file];
                    if (outcome.ok()) {
                        state_.Saved(file, link.hash);
                        store_.Keep(*plan.hashes, plan.destination);
                        Event("saved", file, plan, outcome, std::nullopt);
                    } else if (outcome.verdict() == Verdict::Refused) {
                        givenUp[link.file] = outcome.reason;
                        Event("refused", file, plan, outcome, std::nullopt);
                    } else if (outcome.verdict() == Verdict::Failed) {
                        const std::optional<int64_t> next =
                            state_.Failed(link.hash, Now(), options_.patience);
                        if (!next) {
                            givenUp[link.file] = outcome.reason;
                            givenUpHashes.insert(link.hash);
                        }
                        Event(next ? "waiting" : "given up", file, plan, outcome, next);
                    }
                })
            .AnswerFrom(store_)
            .Execute();
    }
    Settle(files, taken, givenUp, givenUpHashes, gStop.load());
    SaveState();
}

// Each file of a batch once its links have ended: kept while a link of it waits to be asked
// again (until the first is due), else removed when every link is saved, or renamed with the
// reason when one was refused or given up.
void Watcher::Settle(const std::vector<std::string>& files, const std::vector<Taken>& taken,
                     const std::map<size_t, std::string>& givenUp,
                     const std::set<std::string>& givenUpHashes, bool interrupted) {
    for (size_t f = 0; f < files.size(); ++f) {
        const std::string& name = files[f];
        if (interrupted || !seen_.count(name))
            continue;  // kept for the next start, or dealt with already
        const std::set<std::string>& hashes = hashesOf_[name];
        int64_t due = INT64_MAX;
        for (const std::string& hash : hashes) {
            if (!state_.WasSaved(name, hash) && !givenUpHashes.count(hash))
                due = std::min(due, state_.NextAsk(hash));
        }
        const bool refused = std::any_of(taken.begin(), taken.end(), [&](const Taken& link) {
            return link.file == f && link.hash.empty();
        });
        if (due != INT64_MAX) {
            seen_[name].notBefore = due;
            seen_[name].closed = false;
        } else if (const auto why = givenUp.find(f); why != givenUp.end() || refused) {
            GiveUp(name, why != givenUp.end() ? why->second : Say(t::kNoLinks));
            state_.Forget(name, hashes);
        } else {
            std::error_code ec;
            fs::remove(PathFromUtf8(Path(name)), ec);
            if (ec)
                Log(Say(t::kWatchCannotRemove, {name, SystemReason(ec.value(), ec.message())}));
            state_.Forget(name, hashes);
            seen_.erase(name);
        }
    }
}

// One line on standard error for a link's end, and with --json one object on standard output.
void Watcher::Event(const char* kind, const std::string& file, const LinkPlan& plan,
                    const Outcome& outcome, std::optional<int64_t> next) {
    const std::string hash =
        plan.hashes ? plan.hashes->V1Text() + plan.hashes->V2Text() : plan.piece.substr(0, 60);
    if (options_.json) {
        const std::string line = JsonLine(plan.index + 1, plan, outcome);
        std::cout << "{\"event\":\"" << kind << "\",\"file\":" << JsonString(file)
                  << ",\"again\":" << (next ? JsonString(LocalTime(*next)) : std::string("null"))
                  << "," << line.substr(1) << std::endl;
        return;
    }
    if (outcome.ok())
        Log(Say(t::kWatchSaved, {plan.destination, file}));
    else if (next)
        Log(Say(t::kWatchWaiting, {hash, file, outcome.reason, LocalTime(*next),
                                   std::to_string(state_.attempts(hash))}));
    else
        Log(Say(t::kWatchLinkGivenUp, {hash, file, outcome.reason}));
}

}  // namespace

std::optional<std::string> CheckWatchedFolder(const Options& options) {
    std::error_code ec;
    if (fs::is_directory(PathFromUtf8(options.watch), ec))
        return std::nullopt;
    return Say(t::kWatchNotAFolder,
               {options.watch, SystemReason(ec ? ec.value() : ENOTDIR,
                                            ec ? ec.message() : std::strerror(ENOTDIR))});
}

int Watch(Options& options, const Console& console, BatchSources& sources) {
    return Watcher(options, console, sources).Run();
}

}  // namespace velindra::cli

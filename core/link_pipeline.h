// The stages of one link, the same for the windows' batch and the command line's run: planning
// (parse, hashes, file name, destination, refusal of links no source could help with) and
// fetching (the mirrors, the link's own addresses, then the network source), with one result
// per link that says what every source answered.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/file_names.h"
#include "core/interfaces.h"
#include "core/links.h"
#include "core/mirrors.h"
#include "core/torrent.h"

namespace velindra {

struct LinkPlan {
    std::string link;                  // the whole link, "magnet:?" and the piece
    std::string piece;                 // the piece as cut from the text
    std::optional<ParsedLink> parsed;  // none: the link holds no info-hash parameter
    std::optional<LinkHashes> hashes;  // none: no delivered file could be checked
    std::string fileName;              // decoded, made safe, with ".torrent"
    std::string destination;           // in the folder; empty when no folder was given
    size_t index = 0;                  // its place in the batch, from 0
    bool fetchable() const { return parsed && hashes; }
};

// Takes one piece of the text (as SplitLinks cut it) as far as the point where its file can be
// fetched. The destination is the file name in `folder`, or empty when `folder` is.
LinkPlan PlanLink(std::string_view piece, bool usedn, std::string_view folder, PathRules rules);

// The file names of a batch, decided once for all its links in input order, keeping a few
// bytes a link: a link's plan is made again whenever it is asked for. Within the batch no
// link's file may replace another link's: a link whose name another link with a different
// torrent has taken already (the same display name, names equal once made safe or shortened,
// or equal but for case where the folder ignores case) is named after its info-hash instead,
// as fileName=btih would name it, and after its info-hash and a number when even that is
// taken. Links of the same torrent under one name (as the folder compares names) share the
// file, under the name the first of them took.
class BatchPlanner {
  public:
    using Pieces = std::function<std::string(size_t)>;  // the i-th piece of the text
    // Once `stop` is set, the links not yet looked at are left as they are (unnamed).
    BatchPlanner(size_t count, Pieces pieces, bool usedn, std::string folder, PathRules rules,
                 const std::atomic<bool>* stop = nullptr);
    size_t size() const { return leaders_.size(); }
    LinkPlan Plan(size_t i) const;
    // For every link, the first link that saves to the same file (itself when none before it
    // does).
    const std::vector<uint32_t>& leaders() const { return leaders_; }

  private:
    LinkPlan Named(size_t i, LinkPlan plan) const;

    Pieces pieces_;
    bool usedn_;
    std::string folder_;
    PathRules rules_;
    std::vector<uint32_t> variants_;  // 0: its own name; 1: its hash; n: its hash and n
    std::vector<uint32_t> leaders_;
};

// Every piece of a batch planned, in order, named as BatchPlanner names them; fewer once
// `stop` is set.
std::vector<LinkPlan> PlanBatch(const std::vector<std::string>& pieces, bool usedn,
                                std::string_view folder, PathRules rules,
                                const std::atomic<bool>* stop = nullptr);

struct Attempt;

// Where a link's file is asked for.
struct LinkSources {
    Downloader& downloader;
    const std::vector<std::string>& mirrors = BuiltInMirrors();
    bool askNetwork = false;  // the sources that wait on the network, when all others failed
    // A web source's transient failure (FetchResult::transient) is asked again up to this many
    // times, after 1, 2, 4 ... seconds or what the server asked for, at most kLongestRetryWait.
    int retries = 0;
    // Told of every request to a web source as it ends, each try of it (the network's answer
    // comes later: see LinkResult::pending), on the thread that fetches.
    std::function<void(const LinkPosition&, const Attempt&)> attemptEnded = nullptr;
    // Whether a link is treated as a private tracker's (asked of no public cache, nor of the
    // DHT): as its trackers say, or always, or never.
    enum class Privacy { AsTheLinkSays, Private, Public } privacy = Privacy::AsTheLinkSays;
    // Trackers the user adds to every saved file after the link's own (never to a private
    // torrent), also asked by the network for a link that is not private.
    std::vector<std::string> addedTrackers = {};
};

inline constexpr int kLongestRetryWait = 60;  // seconds

// One source asked for a link, and its answer.
struct Attempt {
    Attempt() = default;
    Attempt(SourceKind k, int i, FetchResult r) : kind(k), index(i), result(std::move(r)) {}
    SourceKind kind{};
    int index = 0;  // among the sources of its kind, 1-based
    FetchResult result;
    std::string url;  // the address asked, for a web source
    int tries = 1;    // how often it was asked
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration took{};  // from the first try to the answer
};

// Everything that happened to one link's fetch.
struct LinkResult {
    std::vector<Attempt> attempts;  // in the order asked; the last one delivered, if any did
    // The last source's answer while it is still to come (the network's): TakeAnswer puts it in
    // the last attempt.
    std::shared_ptr<PendingFetch> pending;
    bool ok() const { return !attempts.empty() && attempts.back().result.ok(); }
    bool cancelled() const {
        return !attempts.empty() && attempts.back().result.error == FetchError::Cancelled;
    }
    // The file the last source delivered, staged.
    std::shared_ptr<StagedFile> staged() const {
        return ok() ? attempts.back().result.staged : nullptr;
    }
};

// Asks the sources for a planned link in order and stops at the first that delivers: the
// mirrors, each with the hash in the form the caches index (they index no v2 hashes, so a
// v2-only link skips them), then the link's own addresses of its file, then the BitTorrent
// network (when asked), whose answer is left pending: nobody's thread waits for it. Every delivery
// is checked against every hash the link has, and staged beside `destination`. A link whose hashes
// have no checkable form fails at once with FetchError::InvalidHash, and nothing is asked. A
// destination that cannot be written, or a cancel, ends the chain at once: no other source could
// help. `activity`, when given, says which source is being asked.
LinkResult FetchLink(const LinkPlan& plan, const std::string& destination,
                     const LinkSources& sources, LinkPosition position = {},
                     const std::atomic<bool>* cancel = nullptr, Activity* activity = nullptr);

// Asks one web source for a link, again after a transient failure as `sources` says;
// attempt.took is then the time from the first try to the last answer.
void Ask(Attempt& attempt, const FetchRequest& request, const LinkSources& sources);

// Whether a link is asked as a private tracker's: of its own trackers and peers only.
bool IsPrivateLink(const LinkPlan& plan, const LinkSources& sources);

// Puts the pending answer, once it has come, in the last attempt (waiting for it meanwhile).
void TakeAnswer(LinkResult& result);

// A failed attempt of its own, for a link whose work could not even start: it names no source
// (index 0).
LinkResult FailedLink(FetchError error, std::string detail);

}  // namespace velindra

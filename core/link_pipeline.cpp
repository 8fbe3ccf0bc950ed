#include "core/link_pipeline.h"

#include <map>
#include <optional>
#include <thread>
#include <unordered_map>

#include "core/torrent.h"
#include "core/utf8.h"

namespace velindra {

LinkPlan PlanLink(std::string_view piece, bool usedn, std::string_view folder, PathRules rules) {
    LinkPlan plan;
    plan.piece = std::string(piece);
    plan.link = std::string(kMagnetMarker) + plan.piece;
    plan.parsed = ParseLink(piece, usedn);
    if (!plan.parsed)
        return plan;
    plan.hashes = ReadLinkHashes(plan.parsed->infoHash, plan.parsed->v2Hash);
    plan.fileName = FileNameFor(plan.parsed->stem, rules);
    if (!folder.empty())
        plan.destination = JoinDestination(folder, plan.fileName, rules);
    return plan;
}

namespace {

// A file name as the file system compares it: where it ignores case, letters of either case
// are one.
std::string NameKey(std::string_view name, PathRules rules) {
    return rules.ignoresCase ? FoldCase(name) : std::string(name);
}

bool SameTorrent(const LinkHashes& a, const LinkHashes& b) {
    return a.v1 ? a.v1 == b.v1 : (!b.v1 && a.v2 == b.v2);
}

// The name a link takes when the ones before are taken: its own, its hash, its hash and n.
std::string NameVariant(const LinkPlan& plan, uint32_t n, PathRules rules) {
    if (n == 0)
        return plan.fileName;
    const std::string hashStem = DecodeDisplayName(plan.parsed->shownHash());
    if (n == 1)
        return MakeFileName(hashStem, rules);
    return MakeFileName(hashStem + " (" + std::to_string(n) + ")", rules);
}

}  // namespace

BatchPlanner::BatchPlanner(size_t count, Pieces pieces, bool usedn, std::string folder,
                           PathRules rules, const std::atomic<bool>* stop)
    : pieces_(std::move(pieces)),
      usedn_(usedn),
      folder_(std::move(folder)),
      rules_(rules),
      variants_(count, 0),
      leaders_(count) {
    // The link that took each name, by a digest of the name as the folder compares names;
    // links whose digests meet are told apart by their names, made again.
    std::unordered_multimap<uint64_t, uint32_t> taken;
    for (size_t i = 0; i < count; ++i) {
        leaders_[i] = static_cast<uint32_t>(i);
        if (folder_.empty() || (stop && *stop))
            continue;
        const LinkPlan plan = PlanLink(pieces_(i), usedn_, folder_, rules_);
        if (!plan.fetchable())
            continue;
        for (uint32_t n = 0;; ++n) {
            const std::string key = NameKey(NameVariant(plan, n, rules_), rules_);
            const uint64_t digest = std::hash<std::string>{}(key);
            std::optional<LinkPlan> holder;
            auto [first, last] = taken.equal_range(digest);
            for (; first != last && !holder; ++first) {
                LinkPlan other = Plan(first->second);
                if (NameKey(other.fileName, rules_) == key)
                    holder = std::move(other);
            }
            if (!holder) {
                taken.emplace(digest, static_cast<uint32_t>(i));
                variants_[i] = n;
                break;
            }
            if (SameTorrent(*holder->hashes, *plan.hashes)) {
                leaders_[i] = leaders_[holder->index];
                break;
            }
        }
    }
}

LinkPlan BatchPlanner::Named(size_t i, LinkPlan plan) const {
    plan.index = i;
    if (!plan.fetchable() || folder_.empty())
        return plan;
    plan.fileName =
        leaders_[i] != i ? Plan(leaders_[i]).fileName : NameVariant(plan, variants_[i], rules_);
    plan.destination = JoinDestination(folder_, plan.fileName, rules_);
    return plan;
}

LinkPlan BatchPlanner::Plan(size_t i) const {
    return Named(i, PlanLink(pieces_(i), usedn_, folder_, rules_));
}

std::vector<LinkPlan> PlanBatch(const std::vector<std::string>& pieces, bool usedn,
                                std::string_view folder, PathRules rules,
                                const std::atomic<bool>* stop) {
    const BatchPlanner planner(
        pieces.size(), [&pieces](size_t i) { return pieces[i]; }, usedn, std::string(folder), rules,
        stop);
    std::vector<LinkPlan> plans;
    plans.reserve(pieces.size());
    for (size_t i = 0; i < pieces.size() && !(stop && *stop); ++i)
        plans.push_back(planner.Plan(i));
    return plans;
}

void TakeAnswer(LinkResult& result) {
    if (!result.pending)
        return;
    const std::shared_ptr<PendingFetch> pending = std::move(result.pending);
    Attempt& last = result.attempts.back();
    last.result = pending->Take();
    last.took = std::chrono::steady_clock::now() - last.started;
}

LinkResult FailedLink(FetchError error, std::string detail) {
    LinkResult result;
    result.attempts.push_back({SourceKind{}, 0, FetchResult::Failed(error, std::move(detail))});
    return result;
}

namespace {

// Waits `wait`, saying so, unless the link is cancelled meanwhile; false then.
bool WaitToRetry(std::chrono::milliseconds wait, const FetchRequest& request) {
    const auto until = std::chrono::steady_clock::now() + wait;
    for (auto now = std::chrono::steady_clock::now(); now < until;
         now = std::chrono::steady_clock::now()) {
        if (request.cancel && request.cancel->load())
            return false;
        if (request.activity) {
            const auto left = std::chrono::ceil<std::chrono::seconds>(until - now);
            request.activity->Retrying(static_cast<int>(left.count()));
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            until - now, std::chrono::milliseconds(100)));
    }
    if (request.activity)
        request.activity->Retrying(0);
    return true;
}

// A link whose every source failed, one of them only because it rests a short while after
// failing (a cache that refused once and may be back), waits that out and asks it again.
void LastChance(LinkResult& result, const std::vector<FetchRequest>& chain,
                const LinkSources& sources) {
    if (result.attempts.empty() || result.attempts.back().result.error == FetchError::CannotWrite)
        return;
    for (size_t k = 0; k < result.attempts.size() && k < chain.size(); ++k) {
        const long left = result.attempts[k].result.restLeftMs;
        if (result.attempts[k].result.error != FetchError::NotAskedAgain || left < 0)
            continue;
        // Asked again after its wait, as the last of the link's attempts.
        Attempt again = result.attempts[k];
        result.attempts.erase(result.attempts.begin() + static_cast<std::ptrdiff_t>(k));
        const FetchRequest& request = chain[k];
        if (request.activity)
            request.activity->Asking(request.source, request.sourceIndex, request.url);
        if (!WaitToRetry(std::chrono::milliseconds(left + 10), request)) {
            again.result = FetchResult::Failed(FetchError::Cancelled, "cancelled");
        } else {
            again.started = std::chrono::steady_clock::now();
            again.result = FetchResult();
            Ask(again, request, sources);
        }
        result.attempts.push_back(std::move(again));
        return;
    }
}

}  // namespace

void Ask(Attempt& attempt, const FetchRequest& request, const LinkSources& sources) {
    // The wait doubles up to the longest one and stays there, however many retries are allowed.
    for (long wait = 1;; wait = std::min<long>(wait * 2, kLongestRetryWait)) {
        const auto started = std::chrono::steady_clock::now();
        attempt.result = sources.downloader.Fetch(request);
        attempt.took = std::chrono::steady_clock::now() - started;
        if (sources.attemptEnded)
            sources.attemptEnded(request.position, attempt);
        attempt.took = std::chrono::steady_clock::now() - attempt.started;
        if (!attempt.result.transient || attempt.tries > sources.retries)
            return;
        const long asked = attempt.result.retryAfterSeconds;
        const int seconds =
            static_cast<int>(std::min<long>(asked > 0 ? asked : wait, kLongestRetryWait));
        if (!WaitToRetry(std::chrono::seconds(seconds), request))
            return;
        ++attempt.tries;
    }
}

bool IsPrivateLink(const LinkPlan& plan, const LinkSources& sources) {
    using Privacy = LinkSources::Privacy;
    return sources.privacy == Privacy::Private || (sources.privacy == Privacy::AsTheLinkSays &&
                                                   plan.parsed && plan.parsed->privateTracker);
}

namespace {

// The requests for a link, in the order its sources are asked.
std::vector<FetchRequest> Chain(const LinkPlan& plan, const LinkHashes& hashes,
                                const LinkSources& sources) {
    std::vector<FetchRequest> chain;
    const auto add = [&](SourceKind kind, int index, std::string url) {
        FetchRequest& r = chain.emplace_back();
        r.source = kind;
        r.url = std::move(url);
        r.sourceIndex = index;
    };
    const std::string v1 = hashes.V1Text();
    const bool privateLink = IsPrivateLink(plan, sources);
    const std::vector<std::string> exact =
        plan.parsed ? plan.parsed->exactSources : std::vector<std::string>();
    for (const SourceKindRow& row : kSourceKinds) {
        if (row.waitsOnNetwork && !sources.askNetwork)
            continue;
        switch (row.asked) {
            case Asked::EachMirror:
                for (size_t k = 0; hashes.v1 && !privateLink && k < sources.mirrors.size(); ++k)
                    add(row.kind, static_cast<int>(k + 1), BuildMirrorUrl(sources.mirrors[k], v1));
                break;
            case Asked::EachLinkAddress:
                for (size_t k = 0; k < exact.size(); ++k)
                    add(row.kind, static_cast<int>(k + 1), exact[k]);
                break;
            case Asked::Once:
                add(row.kind, 1, {});
                break;
        }
    }
    return chain;
}

}  // namespace

LinkResult FetchLink(const LinkPlan& plan, const std::string& destination,
                     const LinkSources& sources, LinkPosition position,
                     const std::atomic<bool>* cancel, Activity* activity) {
    // Only a hash whose bytes are known can be checked against what a source delivers, and
    // only its canonical form can reach a URL: nothing else of the link ever does.
    if (!plan.hashes)
        return FailedLink(FetchError::InvalidHash, "not 40 hexadecimal or 32 base-32 characters");
    const LinkHashes& hashes = *plan.hashes;
    std::vector<FetchRequest> chain = Chain(plan, hashes, sources);
    LinkResult result;
    for (FetchRequest& request : chain) {
        request.link = plan.link;
        request.destination = destination;
        request.hashes = hashes;
        request.position = position;
        request.cancel = cancel;
        request.activity = activity;
        request.privateLink = IsPrivateLink(plan, sources);
        request.addedTrackers = sources.addedTrackers;
        if (activity)
            activity->Asking(request.source, request.sourceIndex, request.url);
        Attempt& attempt = result.attempts.emplace_back();
        attempt.kind = request.source;
        attempt.index = request.sourceIndex;
        attempt.url = request.url;
        if (RowOf(request.source).waitsOnNetwork) {
            // A look-up in the network mostly waits: it is left to the session to finish.
            attempt.result = FetchResult::Failed(FetchError::Other, "no answer yet");
            result.pending = sources.downloader.Begin(request);
            break;
        }
        Ask(attempt, request, sources);
        const FetchResult& answer = attempt.result;
        if (answer.ok() || answer.error == FetchError::CannotWrite ||
            answer.error == FetchError::Cancelled)
            break;
    }
    if (!result.pending && !result.ok() && !result.cancelled())
        LastChance(result, chain, sources);
    return result;
}

}  // namespace velindra

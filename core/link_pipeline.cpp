#include "link_pipeline.h"

#include <map>

#include "torrent.h"
#include "utf8.h"

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

// A file name as the file system compares it: on Windows letters of either case are one.
std::string NameKey(std::string_view name, PathRules rules) {
    if (!rules.windows)
        return std::string(name);
    std::string key;
    for (size_t i = 0; i < name.size();) {
        uint32_t cp = 0;
        size_t length = DecodeUtf8(name, i, cp);
        if (length == 0) {
            key.push_back(name[i++]);
            continue;
        }
        // ASCII, Latin-1, Greek and Cyrillic capitals: the case pairs names meet most.
        if ((cp >= 'A' && cp <= 'Z') || (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) ||
            (cp >= 0x391 && cp <= 0x3AB) || (cp >= 0x410 && cp <= 0x42F))
            cp += 0x20;
        else if (cp >= 0x400 && cp <= 0x40F)
            cp += 0x50;
        key += EncodeUtf8(cp);
        i += length;
    }
    return key;
}

bool SameTorrent(const LinkHashes& a, const LinkHashes& b) {
    return a.v1 ? a.v1 == b.v1 : (!b.v1 && a.v2 == b.v2);
}

}  // namespace

std::vector<LinkPlan> PlanBatch(const std::vector<std::string>& pieces, bool usedn,
                                std::string_view folder, PathRules rules) {
    std::vector<LinkPlan> plans;
    plans.reserve(pieces.size());
    std::map<std::string, LinkHashes> taken;  // the torrent each name holds
    for (const std::string& piece : pieces) {
        LinkPlan& plan = plans.emplace_back(PlanLink(piece, usedn, folder, rules));
        if (!plan.fetchable() || folder.empty())
            continue;
        const std::string hashStem = DecodeDisplayName(plan.parsed->shownHash());
        for (int n = 0;; ++n) {
            const std::string name =
                n == 0   ? plan.fileName
                : n == 1 ? MakeFileName(hashStem, rules)
                         : MakeFileName(hashStem + " (" + std::to_string(n) + ")", rules);
            const auto [it, fresh] = taken.try_emplace(NameKey(name, rules), *plan.hashes);
            if (fresh || SameTorrent(it->second, *plan.hashes)) {
                plan.fileName = name;
                plan.destination = JoinDestination(folder, name, rules);
                break;
            }
        }
    }
    return plans;
}

LinkResult FailedLink(FetchError error, std::string detail) {
    LinkResult result;
    result.attempts.push_back(
        {SourceKind::Mirror, 0, FetchResult::Failed(error, std::move(detail))});
    return result;
}

LinkResult FetchLink(const LinkPlan& plan, const std::string& destination,
                     const LinkSources& sources, LinkPosition position,
                     const std::atomic<bool>* cancel, Activity* activity) {
    // Only a hash whose bytes are known can be checked against what a source delivers, and
    // only its canonical form can reach a URL: nothing else of the link ever does.
    if (!plan.hashes)
        return FailedLink(FetchError::InvalidHash, "not 40 hexadecimal or 32 base-32 characters");
    const LinkHashes& hashes = *plan.hashes;
    std::vector<FetchRequest> chain;
    const auto add = [&](SourceKind kind, int index, std::string url) {
        FetchRequest& r = chain.emplace_back();
        r.source = kind;
        r.url = std::move(url);
        r.sourceIndex = index;
    };
    const std::string v1 = hashes.V1Text();
    for (size_t k = 0; hashes.v1 && k < sources.mirrors.size(); ++k)
        add(SourceKind::Mirror, static_cast<int>(k + 1), BuildMirrorUrl(sources.mirrors[k], v1));
    const std::vector<std::string> exact =
        plan.parsed ? plan.parsed->exactSources : std::vector<std::string>();
    for (size_t k = 0; k < exact.size(); ++k)
        add(SourceKind::LinkAddress, static_cast<int>(k + 1), exact[k]);
    if (sources.askNetwork)
        add(SourceKind::Network, 1, {});
    LinkResult result;
    for (FetchRequest& request : chain) {
        request.link = plan.link;
        request.destination = destination;
        request.hashes = hashes;
        request.position = position;
        request.cancel = cancel;
        request.activity = activity;
        // The caches are the user's choice; what the link names itself is not.
        request.onlyPublicAddresses =
            request.source != SourceKind::Mirror && !sources.allowPrivateAddresses;
        if (activity)
            activity->Asking(request.source, request.sourceIndex, request.url);
        result.attempts.push_back(
            {request.source, request.sourceIndex, sources.downloader.Fetch(request)});
        const FetchResult& answer = result.attempts.back().result;
        if (answer.ok() || answer.error == FetchError::CannotWrite ||
            answer.error == FetchError::Cancelled)
            break;
    }
    return result;
}

}  // namespace velindra

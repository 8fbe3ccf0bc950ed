#include "link_pipeline.h"

#include "torrent.h"

namespace velindra {

LinkPlan PlanLink(std::string_view piece, bool usedn, std::string_view folder, PathRules rules) {
    LinkPlan plan;
    plan.piece = std::string(piece);
    plan.link = std::string(kMagnetMarker) + plan.piece;
    plan.parsed = ParseLink(piece, usedn);
    if (!plan.parsed)
        return plan;
    plan.hashes = CanonicalHashes(plan.parsed->infoHash, plan.parsed->v2Hash);
    plan.fileName = FileNameFor(plan.parsed->stem, rules);
    if (!folder.empty())
        plan.destination = JoinDestination(folder, plan.fileName, rules);
    return plan;
}

MirrorOutcome FetchLink(const LinkPlan& plan, const std::string& destination,
                        const LinkSources& sources, LinkPosition position,
                        const std::atomic<bool>* cancel) {
    ChainRequest link;
    if (plan.parsed) {
        link.infoHash = plan.parsed->infoHash;
        link.v2Hash = plan.parsed->v2Hash;
        link.exactSources = plan.parsed->exactSources;
    }
    if (sources.askNetwork)
        link.networkLink = plan.link;
    link.destination = destination;
    link.position = position;
    link.cancel = cancel;
    return FetchFromSources(link, sources.downloader, sources.mirrors);
}

}  // namespace velindra

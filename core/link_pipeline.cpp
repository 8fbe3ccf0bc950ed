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
    plan.hash = CanonicalInfoHash(plan.parsed->infoHash);
    plan.fileName = FileNameFor(plan.parsed->stem, rules);
    if (!folder.empty())
        plan.destination = JoinDestination(folder, plan.fileName, rules);
    return plan;
}

MirrorOutcome FetchLink(const LinkPlan& plan, const std::string& destination,
                        const LinkSources& sources, LinkPosition position,
                        const std::atomic<bool>* cancel) {
    const std::string_view infoHash = plan.parsed ? plan.parsed->infoHash : std::string_view();
    return FetchFromMirrors(infoHash, destination, sources.downloader, sources.mirrors,
                            sources.askNetwork ? std::string_view(plan.link) : std::string_view(),
                            position, cancel);
}

}  // namespace velindra

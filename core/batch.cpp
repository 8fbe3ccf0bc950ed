#include "batch.h"

#include "texts.h"

namespace velindra {

void FetchBatch(std::string_view text, RunOptions& options, const Services& services) {
    std::vector<std::string> links = SplitLinks(text);
    if (links.empty()) {
        services.messages.ShowMessage(texts::kNoLinks);
        return;
    }
    options.Load(services.settings);
    const int count = static_cast<int>(links.size());
    for (int i = 0; i < count; ++i) {
        ProcessLink(links[static_cast<size_t>(i)], options, services, LinkPosition{i + 1, count});
    }
}

void ProcessLink(std::string& link, RunOptions& options, const Services& services,
                 LinkPosition position) {
    const LinkPlan plan = PlanLink(link, options.usedn, options.basePath, services.pathRules);
    if (!plan.fetchable()) {
        // No hash at all, or one no delivered file could be checked against: nothing is
        // fetched for such a link.
        if (options.showErr)
            services.messages.ShowMessage(plan.parsed ? texts::kFetchFailed : texts::kParseFailed);
        return;
    }
    if (!options.basePath.empty() && !IsAbsoluteFolder(options.basePath, services.pathRules)) {
        // A folder relative to wherever the program happened to start would be a guess.
        if (options.showErr)
            services.messages.ShowMessage(std::string(texts::kFetchFailed) + "\n" +
                                          texts::kFolderNotAbsolute + options.basePath);
        return;
    }
    std::string destination = plan.destination;
    if (options.basePath.empty()) {
        destination = plan.fileName;
        const SaveDialogRequest request{texts::kSaveTitle, texts::kSaveFilter,
                                        texts::kSaveFilterIndex, "", texts::kSaveFlags};
        if (!services.saveDialog.ShowSaveDialog(destination, request)) {
            return;  // cancelled: skip the link without a word
        }
    }
    const MirrorOutcome outcome = FetchLink(
        plan, destination, {services.downloader, services.mirrors, services.askNetwork}, position);
    if (!outcome.ok) {
        if (options.showErr && !outcome.cancelled())
            services.messages.ShowMessage(texts::kFetchFailed);
        return;
    }
    CarryOutFinishAction(destination, options, services.prompt, services.launcher);
}

}  // namespace velindra

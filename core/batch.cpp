#include "batch.h"

#include <algorithm>
#include <cerrno>

#include "texts.h"

namespace velindra {

namespace {

// Why no source delivered the link's file, in plain words.
std::string FailureReason(const MirrorOutcome& outcome, const std::string& destination,
                          PathRules rules) {
    const auto all = [&](auto test) {
        return !outcome.attempts.empty() &&
               std::all_of(outcome.attempts.begin(), outcome.attempts.end(), test);
    };
    const FetchResult last = outcome.last();
    if (outcome.attempts.empty())
        return texts::kReasonNoSource;
    if (last.error == FetchError::CannotWrite) {
        std::string folder =
            destination.substr(0, destination.find_last_of(rules.windows ? "\\/" : "/"));
        std::string why = texts::kReasonCannotWrite + folder;
        switch (last.systemError) {
            case ENOENT:
            case ENOTDIR:
                return why + texts::kColon + texts::kReasonFolderMissing;
            case EACCES:
            case EPERM:
            case EROFS:
                return why + texts::kColon + texts::kReasonNoPermission;
            case ENOSPC:
                return why + texts::kColon + texts::kReasonDiskFull;
            case EISDIR:
                return why + texts::kColon + texts::kReasonFolderInTheWay;
            default:
                return why;
        }
    }
    if (last.error == FetchError::InvalidHash)
        return texts::Describe(FetchError::InvalidHash);
    if (all([](const FetchResult& r) { return r.error == FetchError::HttpStatus; }))
        return texts::kReasonNotOnMirrors;
    if (all([](const FetchResult& r) {
            return r.error == FetchError::NoConnection || r.error == FetchError::Timeout;
        }))
        return texts::kReasonOffline;
    if (std::any_of(outcome.attempts.begin(), outcome.attempts.end(), [](const FetchResult& r) {
            return r.error == FetchError::WrongTorrent || r.error == FetchError::NotATorrent;
        }))
        return texts::kReasonNotTheTorrent;
    return texts::Describe(last.error);
}

// Reports a link's failure when failures are reported; more links to come may be stopped.
void ReportFailure(const std::string& text, const RunOptions& options, const Services& services,
                   LinkPosition position) {
    if (!options.showErr)
        return;
    if (position.link < position.links && services.stop) {
        if (services.messages.ShowFailure(text))
            *services.stop = true;
        return;
    }
    services.messages.ShowMessage(text);
}

}  // namespace

void FetchBatch(std::string_view text, RunOptions& options, const Services& services) {
    std::vector<std::string> links = SplitLinks(text);
    if (links.empty()) {
        services.messages.ShowMessage(texts::kNoLinks);
        return;
    }
    options.Load(services.settings);
    const int count = static_cast<int>(links.size());
    for (int i = 0; i < count && !(services.stop && *services.stop); ++i) {
        ProcessLink(links[static_cast<size_t>(i)], options, services, LinkPosition{i + 1, count});
    }
}

void ProcessLink(std::string& link, RunOptions& options, const Services& services,
                 LinkPosition position) {
    const LinkPlan plan = PlanLink(link, options.usedn, options.basePath, services.pathRules);
    if (!plan.fetchable()) {
        // No hash at all, or one no delivered file could be checked against: nothing is
        // fetched for such a link.
        ReportFailure(plan.parsed
                          ? std::string(texts::kFetchFailed) + "\n" + plan.fileName + "\n" +
                                texts::Describe(FetchError::InvalidHash)
                          : std::string(texts::kParseFailed) + "\n" + texts::kReasonNoHashInLink,
                      options, services, position);
        return;
    }
    if (!options.basePath.empty() && !IsAbsoluteFolder(options.basePath, services.pathRules)) {
        // A folder relative to wherever the program happened to start would be a guess.
        ReportFailure(std::string(texts::kFetchFailed) + "\n" + plan.fileName + "\n" +
                          texts::kFolderNotAbsolute + options.basePath,
                      options, services, position);
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
    const MirrorOutcome outcome =
        FetchLink(plan, destination, {services.downloader, services.mirrors, services.askNetwork},
                  position, services.stop);
    if (!outcome.ok) {
        if (!outcome.cancelled()) {
            ReportFailure(std::string(texts::kFetchFailed) + "\n" + plan.fileName + "\n" +
                              FailureReason(outcome, destination, services.pathRules),
                          options, services, position);
        }
        return;
    }
    CarryOutFinishAction(destination, options, services.prompt, services.launcher);
}

}  // namespace velindra

#include "batch.h"

#include "links.h"
#include "texts.h"
#include "torrent.h"

namespace velindra {

void RunOptions::Load(SettingsStore& store) {
    selection = store.Read(keys::kOnFinish, kBatchDefaults.onFinish);
    showErr = store.Read(keys::kOnError, kBatchDefaults.onError) != values::kIgnore;
    basePath = store.Read(keys::kOnStart, kBatchDefaults.onStart);
    usedn = store.Read(keys::kFileName, kBatchDefaults.fileName) != values::kInfoHash;
}

std::string FileNameFor(std::string_view stem, PathRules rules) {
    return MakeFileName(DecodeDisplayName(stem), rules);
}

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
    const std::optional<ParsedLink> parsed = ParseLink(link, options.usedn);
    if (!parsed) {
        if (options.showErr) {
            services.messages.ShowMessage(texts::kParseFailed);
        }
        return;
    }
    if (!CanonicalInfoHash(parsed->infoHash)) {
        // No delivered file could be checked against such a hash: nothing is fetched for it.
        if (options.showErr) {
            services.messages.ShowMessage(texts::kFetchFailed);
        }
        return;
    }
    const std::string fileName = FileNameFor(parsed->stem, services.pathRules);

    std::string destination;
    if (options.basePath.empty()) {
        destination = fileName;
        const SaveDialogRequest request{texts::kSaveTitle, texts::kSaveFilter,
                                        texts::kSaveFilterIndex, "", texts::kSaveFlags};
        if (!services.saveDialog.ShowSaveDialog(destination, request)) {
            return;  // cancelled: skip the link without a word
        }
    } else {
        destination = JoinDestination(options.basePath, fileName, services.pathRules);
    }

    const MirrorOutcome outcome = FetchFromMirrors(
        parsed->infoHash, destination, services.downloader, services.mirrors,
        services.askNetwork ? std::string_view(link) : std::string_view(), position);
    if (!outcome.ok) {
        if (options.showErr && !outcome.cancelled()) {
            services.messages.ShowMessage(texts::kFetchFailed);
        }
        return;
    }
    FinishAction(destination, options, services.prompt, services.launcher);
}

void FinishAction(const std::string& destination, RunOptions& options, CompletionPrompt& prompt,
                  Launcher& launcher) {
    if (options.selection == values::kSelect) {
        prompt.ShowCompletionPrompt(options);
    }
    if (options.selection == values::kOpen) {
        launcher.OpenFile(destination);
    } else if (options.selection == values::kReveal) {
        launcher.RevealFile(destination);
    }
}

}  // namespace velindra

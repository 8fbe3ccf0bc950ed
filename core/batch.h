// The batch run behind "获取种子": every link of the pasted text, one after another.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "interfaces.h"
#include "link_pipeline.h"
#include "run_options.h"

namespace velindra {

// Everything a batch reaches outside the conversion logic.
struct Services {
    SettingsStore& settings;
    MessageSink& messages;
    SaveDialog& saveDialog;
    CompletionPrompt& prompt;
    Downloader& downloader;
    Launcher& launcher;
    const std::vector<std::string>& mirrors = BuiltInMirrors();
    PathRules pathRules = kHostPathRules;
    // Ask the BitTorrent network (through the downloader) when every mirror has failed.
    bool askNetwork = false;
    // Set (by the user's "取消", or by the main window closing) to stop the batch: the current
    // download ends as cancelled, and no further link starts.
    std::atomic<bool>* stop = nullptr;
};

// Splits the text into links; with none it says "没有链接" and reads no setting. Otherwise it
// loads the options from the store and processes each link to its end before the next, until
// the batch is stopped.
void FetchBatch(std::string_view text, RunOptions& options, const Services& services);

// One link: plan it, choose the destination, fetch it, finish.
void ProcessLink(std::string& link, RunOptions& options, const Services& services,
                 LinkPosition position = {});

}  // namespace velindra

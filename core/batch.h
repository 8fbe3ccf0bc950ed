// The batch run behind "获取种子": every link of the pasted text, one after another.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "fetch.h"
#include "interfaces.h"
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
};

// The file name a link's stem gives: decoded, made safe, followed by ".torrent".
std::string FileNameFor(std::string_view stem, PathRules rules = kHostPathRules);

// Splits the text into links; with none it says "没有链接" and reads no setting. Otherwise it
// loads the options from the store and processes each link to its end before the next.
void FetchBatch(std::string_view text, RunOptions& options, const Services& services);

// One link: parse, name, choose the destination, fetch from the mirrors, finish.
void ProcessLink(std::string& link, RunOptions& options, const Services& services,
                 LinkPosition position = {});

// After a successful download: "select" asks first (the answer lands in options.selection),
// then "open" opens the file, "poi" shows it in its folder, anything else does nothing.
void FinishAction(const std::string& destination, RunOptions& options, CompletionPrompt& prompt,
                  Launcher& launcher);

}  // namespace velindra

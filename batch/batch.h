// The batch run behind "获取种子": every link of the pasted text, each to its end before the
// next, while the files of the links after it are fetched ahead.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/dialogs.h"
#include "core/interfaces.h"
#include "core/link_pipeline.h"
#include "core/run_options.h"

namespace velindra {

// What the batch is waiting for: which link, by its file's name, and what its fetch is doing.
struct WaitingFor {
    LinkPosition position;
    std::string fileName;
    const Activity* activity = nullptr;
};

// How the batch waits for what runs on other threads: the windows keep painting meanwhile and
// show how far the link has come. Returns once ready() holds, or once the batch is stopped.
class BatchWaiter {
  public:
    virtual ~BatchWaiter() = default;
    virtual void WaitFor(const std::function<bool()>& ready, const WaitingFor& what) = 0;
};

// Everything a batch reaches outside the conversion logic.
struct Services {
    SettingsStore& settings;
    MessageSink& messages;
    SaveDialog& saveDialog;
    CompletionPrompt& prompt;
    Downloader& downloader;
    Launcher& launcher;
    FileCommitter& committer;
    BatchWaiter& waiter;
    const std::vector<std::string>& mirrors = BuiltInMirrors();
    PathRules pathRules = PathRules{};  // the host's, handed in by the windows
    // Makes the save folder and its parents as a batch starts, when they are missing.
    std::function<bool(const std::string& folder)> makeFolder = nullptr;
    // Whether the save folder's file system ignores case, found out as a batch starts; without
    // it, the system's custom.
    std::function<bool(const std::string& folder)> folderIgnoresCase = nullptr;
    // Ask the BitTorrent network (through the downloader) when every mirror has failed.
    bool askNetwork = false;
    // Set (by the user's "取消", or by the main window closing) to stop the batch: every fetch
    // in flight ends as cancelled, and no further link starts.
    std::atomic<bool>* stop = nullptr;
    // How many links are fetched from the web at once ahead of the one the batch is at, and how
    // many fetched files at most wait for their turn (links waiting on the network hold none).
    // With no workers, each link is fetched at its turn on the calling thread.
    int aheadWorkers = 0;
    size_t aheadWindow = 64;
    // Where the files of links that are saved through the Save-as dialog wait, fetched ahead,
    // until the dialog says where they go; without one they are fetched once it has.
    std::string stagingFolder = {};
};

// Splits the text into links; with none it says "没有链接" and reads no setting. Otherwise it
// loads the options from the store and takes each link to its end (its dialog, its failure
// box, its finish action) before the next, in input order, until the batch is stopped. A
// link's file is put in its place only at its turn.
void FetchBatch(std::string_view text, RunOptions& options, const Services& services);

}  // namespace velindra

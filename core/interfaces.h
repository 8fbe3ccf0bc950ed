// The small interfaces through which the conversion logic reaches the outside world.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/result.h"
#include "core/source_kinds.h"
#include "core/torrent.h"

namespace velindra {

// Which link of the batch this is (1-based), and of how many.
struct LinkPosition {
    int link = 0;
    int links = 0;
};

// What one link's fetch is doing now: written as its sources are asked, read by the progress
// displays of both front ends, from any thread.
class Activity {
  public:
    struct Now {
        bool started = false;  // a source has been asked
        SourceKind source{};
        int index = 0;    // among the sources of its kind, 1-based
        std::string url;  // the address asked (mirrors and link addresses)
        int peers = 0;    // the network's connected peers
        int nodes = 0;    // ... and the DHT nodes it knows
        int retryIn = 0;  // seconds until the source is asked again, while it waits for that
    };
    void Asking(SourceKind source, int index, std::string url) {
        std::lock_guard<std::mutex> guard(lock_);
        now_ = Now{true, source, index, std::move(url)};
    }
    void Retrying(int seconds) {
        std::lock_guard<std::mutex> guard(lock_);
        now_.retryIn = seconds;
    }
    void Network(int peers, int nodes) {
        std::lock_guard<std::mutex> guard(lock_);
        now_.peers = peers;
        now_.nodes = nodes;
    }
    Now Read() const {
        std::lock_guard<std::mutex> guard(lock_);
        return now_;
    }

  private:
    mutable std::mutex lock_;
    Now now_;
};

struct FetchRequest {
    SourceKind source{};
    int sourceIndex = 0;  // 1-based position of the source among those of its kind
    std::string url;      // mirrors and link addresses
    std::string link;     // the whole magnet link, "magnet:?" included
    // Where the file is to go: the source stages it beside this path (see StagedFile).
    std::string destination;
    LinkHashes hashes;  // what the delivered torrent must describe
    LinkPosition position;
    // When set, the download gives up with FetchError::Cancelled as soon as it becomes true.
    const std::atomic<bool>* cancel = nullptr;
    // Where the network source reports its peers and DHT nodes; may be null.
    Activity* activity = nullptr;
    // The link belongs to a private tracker: the network asks its trackers and peers only,
    // never the DHT.
    bool privateLink = false;
    // The user's trackers, for the saved file after the link's own (see CompletedForLink).
    std::vector<std::string> addedTrackers;
};

// An answer that a source gives later on its own, while no thread waits for it: a look-up in
// the network is a state that the session's events complete.
class PendingFetch {
  public:
    virtual ~PendingFetch() = default;
    // Calls `ended` once when the answer is there: on a thread of the source's, or at once on
    // this one when it is there already. `ended` must not call into the source.
    virtual void WhenEnded(std::function<void()> ended) = 0;
    // The answer, staged as Fetch stages it; waits for it when it has not come yet. Called once.
    virtual FetchResult Take() = 0;
};

// An answer that is there already.
class AnsweredFetch : public PendingFetch {
  public:
    explicit AnsweredFetch(FetchResult result) : result_(std::move(result)) {}
    void WhenEnded(std::function<void()> ended) override { ended(); }
    FetchResult Take() override { return std::move(result_); }

  private:
    FetchResult result_;
};

// One blocking download of one URL. The checked file comes back staged beside the destination
// (FetchResult::staged), for a FileCommitter to put in its place; on failure nothing is left.
class Downloader {
  public:
    virtual ~Downloader() = default;
    virtual FetchResult Fetch(const FetchRequest& request) = 0;
    // The same fetch, for a source that can answer it without a thread waiting; the others
    // answer at once, through Fetch.
    virtual std::shared_ptr<PendingFetch> Begin(const FetchRequest& request) {
        return std::make_shared<AnsweredFetch>(Fetch(request));
    }
    // Keeps what the source has learnt as it would at its end (the network: its DHT state),
    // for a program that runs for days.
    virtual void Checkpoint() {}
};

// Whether a file put in its place may replace one that is there.
enum class Placing {
    Replace,       // it takes the place of whatever file is there
    KeepExisting,  // only where nothing is there: else it fails (systemError EEXIST)
};

// Puts staged files durably in their places.
class FileCommitter {
  public:
    virtual ~FileCommitter() = default;
    // Starts putting the file at `destination`, moving it there when it was staged beside
    // another path. A file whose `cancel` is set before it is in place is removed, and fails
    // with FetchError::Cancelled.
    virtual std::shared_ptr<PendingCommit> Submit(std::shared_ptr<StagedFile> file,
                                                  const std::string& destination,
                                                  const std::atomic<bool>* cancel,
                                                  Placing placing = Placing::Replace) = 0;
};

// Why a file could not be opened or shown in its folder.
enum class LaunchProblem {
    None,
    NoOpener,       // the desktop has no program that opens files at all
    NoProgram,      // no program is set to open .torrent files
    NoFileManager,  // nothing shows folders
    Failed,         // the program started and said it failed
};

// Opening a saved file with its associated program, and showing it selected in its folder.
// Neither waits for the launched program; false when nothing could be started for the file,
// and lastProblem() then says why.
class Launcher {
  public:
    virtual ~Launcher() = default;
    virtual bool OpenFile(const std::string& path) = 0;
    virtual bool RevealFile(const std::string& path) = 0;
    virtual LaunchProblem lastProblem() const { return LaunchProblem::Failed; }
};

}  // namespace velindra

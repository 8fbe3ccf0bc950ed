// Makes saved files durable in groups. A worker hands its finished, checked temporary file
// over and goes on with its next link at once; the committer takes every file that is ready,
// puts their contents on disk together, moves them into place, syncs each folder once for
// the group, and only then says that they are saved. At most kMaxWaitingFiles wait for the
// next group (each holds an open file): beyond that, Submit waits for room.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/interfaces.h"
#include "core/result.h"
#include "platform/atomic_file.h"

namespace velindra {

// The disk operations of a commit, in the order the committer calls them for a group: Flush
// for every file, then Replace for every file, then SyncFolder once per folder. Tests put a
// recorder in their place.
class DiskSteps {
  public:
    virtual ~DiskSteps() = default;
    virtual FetchResult Flush(AtomicFile& file) { return file.Flush(); }
    virtual FetchResult Replace(AtomicFile& file, bool replace) { return file.Replace(replace); }
    virtual FetchResult SyncFolder(const std::string& folder) {
        return velindra::SyncFolder(folder);
    }
};

// Files waiting for the next group, at most; a slow disk slows the workers down instead of
// piling up open files.
inline constexpr size_t kMaxWaitingFiles = 64;

class Committer : public FileCommitter {
  public:
    // With no steps given, the real disk operations.
    explicit Committer(DiskSteps* steps = nullptr);
    // Commits everything handed over first.
    ~Committer() override;
    Committer(const Committer&) = delete;
    Committer& operator=(const Committer&) = delete;

    // Takes a file a source staged (an opened, written AtomicFile), moved to `destination`
    // first when it was staged beside another path. A file whose `cancel` is set before it has
    // been moved into place is removed and fails with FetchError::Cancelled.
    std::shared_ptr<PendingCommit> Submit(std::shared_ptr<StagedFile> file,
                                          const std::string& destination,
                                          const std::atomic<bool>* cancel,
                                          Placing placing = Placing::Replace) override;

    // The most files that ever waited at once.
    size_t mostWaiting() const { return mostWaiting_; }

  private:
    struct Entry;
    void Run();
    void CommitGroup(std::vector<std::shared_ptr<Entry>>& group);

    // Refuses a file whose destination, under another name, is a file this committer put in
    // place for another link: a folder that ignores case or normalises names took the two
    // names for one. The earlier name is looked at again, so a file number that another
    // program's file took over meanwhile fools nothing.
    FetchResult NotAnotherLinksFile(const std::string& destination);

    DiskSteps defaultSteps_;
    // The files put in place so far, by their identity, with the name each was given; only the
    // committing thread reads it.
    std::map<std::pair<uint64_t, uint64_t>, std::string> placed_;
    DiskSteps& steps_;
    std::mutex lock_;
    std::mutex alone_;  // one file at a time when there is no committing thread
    std::condition_variable ready_;
    std::condition_variable room_;
    std::vector<std::shared_ptr<Entry>> queue_;
    bool stopping_ = false;
    std::atomic<size_t> mostWaiting_{0};
    std::thread thread_;
};

}  // namespace velindra

#include "platform/committer.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <system_error>

namespace velindra {

namespace {

// Syncs of several files issued together can share one journal commit; one after another,
// each pays for its own.
constexpr size_t kParallelFlushes = 8;

bool Cancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load();
}

}  // namespace

struct Committer::Entry : PendingCommit {
    std::shared_ptr<StagedFile> staged;
    AtomicFile* file = nullptr;
    const std::atomic<bool>* cancel = nullptr;
    bool replace = true;                     // or only where nothing is there
    FetchResult step = FetchResult::Done();  // the first failure on the way

    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    FetchResult outcome;

    void Finish(FetchResult result) {
        file = nullptr;
        staged.reset();  // a temporary file that did not make it is removed here
        std::lock_guard<std::mutex> guard(lock);
        outcome = std::move(result);
        finished = true;
        done.notify_all();
    }
    bool Ended() override {
        std::lock_guard<std::mutex> guard(lock);
        return finished;
    }
    FetchResult Wait() override {
        std::unique_lock<std::mutex> guard(lock);
        done.wait(guard, [this] { return finished; });
        return outcome;
    }
};

Committer::Committer(DiskSteps* steps) : steps_(steps ? *steps : defaultSteps_) {
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread to be had: each file is put in its place as it is handed over.
    }
}

Committer::~Committer() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    ready_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

std::shared_ptr<PendingCommit> Committer::Submit(std::shared_ptr<StagedFile> staged,
                                                 const std::string& destination,
                                                 const std::atomic<bool>* cancel, Placing placing) {
    auto entry = std::make_shared<Entry>();
    entry->replace = placing == Placing::Replace;
    entry->file = dynamic_cast<AtomicFile*>(staged.get());
    entry->staged = std::move(staged);
    entry->cancel = cancel;
    if (!entry->file) {
        entry->Finish(FetchResult::Failed(FetchError::Other, "nothing was staged"));
        return entry;
    }
    if (entry->file->destination() != destination) {
        if (FetchResult moved = entry->file->MoveTo(destination); !moved.ok()) {
            entry->Finish(std::move(moved));
            return entry;
        }
    }
    if (!thread_.joinable()) {
        std::lock_guard<std::mutex> guard(alone_);
        std::vector<std::shared_ptr<Entry>> group{entry};
        CommitGroup(group);
        return entry;
    }
    {
        std::unique_lock<std::mutex> guard(lock_);
        room_.wait(guard, [this] { return queue_.size() < kMaxWaitingFiles; });
        queue_.push_back(entry);
        mostWaiting_ = std::max(mostWaiting_.load(), queue_.size());
    }
    ready_.notify_one();
    return entry;
}

void Committer::Run() {
    for (;;) {
        std::vector<std::shared_ptr<Entry>> group;
        {
            std::unique_lock<std::mutex> guard(lock_);
            ready_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty())
                return;  // stopping, and nothing left
            group.swap(queue_);
        }
        room_.notify_all();
        CommitGroup(group);
    }
}

FetchResult Committer::NotAnotherLinksFile(const std::string& destination) {
    const auto identity = FileIdentity(destination);
    if (!identity)
        return FetchResult::Done();
    const auto found = placed_.find(*identity);
    if (found == placed_.end() || found->second == destination)
        return FetchResult::Done();
    // Another program may have replaced the earlier file since, and its file number gone to a
    // new file: the two names are one file only while the earlier name still is that file.
    if (FileIdentity(found->second) != identity) {
        placed_.erase(found);
        return FetchResult::Done();
    }
    return FetchResult::Failed(
        FetchError::CannotWrite,
        "the folder takes this name for another link's file, " + found->second, EEXIST);
}

void Committer::CommitGroup(std::vector<std::shared_ptr<Entry>>& group) {
    // The contents first, several at a time.
    std::atomic<size_t> next{0};
    const auto flush = [&] {
        for (size_t i = next++; i < group.size(); i = next++) {
            Entry& e = *group[i];
            e.step = Cancelled(e.cancel) ? FetchResult::Failed(FetchError::Cancelled, "cancelled")
                                         : steps_.Flush(*e.file);
        }
    };
    std::vector<std::thread> flushers;
    for (size_t k = 1; k < std::min(group.size(), kParallelFlushes); ++k) {
        try {
            flushers.emplace_back(flush);
        } catch (const std::system_error&) {
            break;  // no more threads to be had: this one flushes the rest
        }
    }
    flush();
    for (std::thread& t : flushers)
        t.join();
    // Then the names, and each folder once.
    std::map<std::string, std::vector<Entry*>> folders;
    for (const auto& e : group) {
        if (e->step.ok() && Cancelled(e->cancel))
            e->step = FetchResult::Failed(FetchError::Cancelled, "cancelled");
        const std::string& destination = e->file->destination();
        if (e->step.ok())
            e->step = NotAnotherLinksFile(destination);
        if (e->step.ok())
            e->step = steps_.Replace(*e->file, e->replace);
        if (e->step.ok()) {
            if (const auto identity = FileIdentity(destination))
                placed_[*identity] = destination;
            folders[ParentFolder(destination)].push_back(e.get());
        }
    }
    for (const auto& [folder, entries] : folders) {
        const FetchResult synced = steps_.SyncFolder(folder);
        for (Entry* e : entries)
            e->step = synced.ok() ? FetchResult::Done("saved") : synced;
    }
    for (const auto& e : group)
        e->Finish(e->step);
}

}  // namespace velindra

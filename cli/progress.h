// The progress line on a terminal: how many links are done, and which ones are in progress
// where (a cache, an address from the link, or the network with its peer or node count).
// Redrawn in place a few times a second while links run.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "interfaces.h"
#include "link_pipeline.h"

namespace velindra::cli {

// What one link is doing now; written by its source, read by the progress line.
struct Activity {
    std::atomic<int> source{-1};  // a SourceKind; -1 before its first source
    std::atomic<int> index{0};    // among the sources of its kind, 1-based
    std::atomic<int> peers{0};
    std::atomic<int> nodes{0};
};

class ProgressLine {
  public:
    // Draws nothing unless `shown`; `columns` is the terminal's width.
    ProgressLine(const std::vector<LinkPlan>& plans, bool shown, int columns);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Link i (0-based) starts or ends.
    void Begin(size_t i);
    void End(size_t i);
    Activity& activity(size_t i) { return activities_[i]; }
    size_t size() const { return plans_.size(); }
    void Finished(size_t finished);
    // Runs `print` with the progress line out of its way, then draws it again.
    void Print(const std::function<void()>& print);
    // Takes the line away for good.
    void Stop();

    // The line for these counts and links in progress (for tests: no terminal needed).
    std::string Compose(size_t finished, const std::vector<size_t>& active) const;

  private:
    void Draw();  // with lock_ held
    void Tick();

    const std::vector<LinkPlan>& plans_;
    const bool shown_;
    const size_t columns_;
    std::unique_ptr<Activity[]> activities_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::vector<size_t> active_;
    size_t finished_ = 0;
    bool drawn_ = false;
    bool stopped_ = false;
    std::string last_;
    std::thread ticker_;
};

// A downloader that tells the progress line which source each link is asking, and lets the
// network source report its peers and DHT nodes there.
class WatchedDownloader : public Downloader {
  public:
    WatchedDownloader(Downloader& inner, ProgressLine& progress)
        : inner_(inner), progress_(progress) {}
    FetchResult Fetch(const FetchRequest& request) override;

  private:
    Downloader& inner_;
    ProgressLine& progress_;
};

}  // namespace velindra::cli

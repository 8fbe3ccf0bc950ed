// The progress line on a terminal: how many links are done, and which ones are in progress
// where (a cache, an address from the link, or the network with its peer or node count).
// Redrawn in place a few times a second while links run.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/interfaces.h"
#include "core/link_pipeline.h"

namespace velindra::cli {

class ProgressLine {
  public:
    // For `count` links, named by `nameOf` (their file names). Draws nothing unless `shown`;
    // `columns` is the terminal's width, and `currentColumns`, when given, says it anew before
    // each drawing (a narrowed terminal would wrap the line and leave its first row behind).
    ProgressLine(size_t count, std::function<std::string(size_t)> nameOf, bool shown, int columns,
                 std::function<int()> currentColumns = nullptr);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Link i (0-based) starts or ends.
    void Begin(size_t i);
    void End(size_t i);
    // What link i's fetch is doing; kept from its first use until End(i).
    Activity& activity(size_t i);
    size_t size() const { return count_; }
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

    const size_t count_;
    std::function<std::string(size_t)> nameOf_;
    bool shown_;
    size_t columns_;
    std::function<int()> currentColumns_;
    std::map<size_t, std::unique_ptr<Activity>> activities_;  // of the links in progress
    std::mutex lock_;
    std::condition_variable wake_;
    std::vector<size_t> active_;
    size_t finished_ = 0;
    bool drawn_ = false;
    bool stopped_ = false;
    std::string last_;
    std::thread ticker_;
};

}  // namespace velindra::cli

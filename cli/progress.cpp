#include "cli/progress.h"

#include <chrono>
#include <iostream>
#include <system_error>

#include "cli/cli_texts.h"
#include "core/terminal_text.h"

namespace velindra::cli {

namespace t = cli_texts;

namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
constexpr size_t kNameColumns = 24;  // of each link's name on the line

std::string Where(const Activity& activity) {
    const Activity::Now a = activity.Read();
    if (!a.started)
        return {};
    const std::string index = std::to_string(a.index);
    const std::string retrying =
        a.retryIn > 0 ? ", " + Say(t::kRetrying, {std::to_string(a.retryIn)}) : "";
    const SourceKindRow& row = RowOf(a.source);
    // A source that waits on the network counts its DHT nodes until it has a peer.
    if (row.waitsOnNetwork && a.peers == 0 && a.nodes > 0)
        return a.nodes == 1 ? Say(t::kProgressNode)
                            : Say(t::kProgressNodes, {std::to_string(a.nodes)});
    if (row.waitsOnNetwork && a.peers == 1)
        return Say(t::kProgressPeer);
    return Say(row.brief, {index, "", std::to_string(a.peers)}) + retrying;
}

}  // namespace

ProgressLine::ProgressLine(size_t count, std::function<std::string(size_t)> nameOf, bool shown,
                           int columns, std::function<int()> currentColumns)
    : count_(count),
      nameOf_(std::move(nameOf)),
      shown_(shown),
      columns_(columns > 1 ? static_cast<size_t>(columns - 1) : 79),
      currentColumns_(std::move(currentColumns)) {
    if (shown_) {
        try {
            ticker_ = std::thread([this] { Tick(); });
        } catch (const std::system_error&) {
            shown_ = false;  // no thread to redraw it: the run goes on without the line
        }
    }
}

ProgressLine::~ProgressLine() {
    Stop();
}

std::string ProgressLine::Compose(size_t finished, const std::vector<size_t>& active) const {
    std::string line = "[" + std::to_string(finished) + "/" + std::to_string(count_) + "]";
    if (!active.empty())
        line += " " + Say(t::kInProgress, {std::to_string(active.size())}) + ":";
    for (size_t k = 0; k < active.size(); ++k) {
        line += (k ? " | " : " ") + FitWidth(EscapeControls(nameOf_(active[k])), kNameColumns);
        const auto activity = activities_.find(active[k]);
        if (activity == activities_.end())
            continue;
        if (const std::string where = Where(*activity->second); !where.empty())
            line += " " + where;
    }
    return FitWidth(line, columns_);
}

void ProgressLine::Begin(size_t i) {
    std::lock_guard<std::mutex> guard(lock_);
    active_.push_back(i);
}

Activity& ProgressLine::activity(size_t i) {
    std::lock_guard<std::mutex> guard(lock_);
    std::unique_ptr<Activity>& activity = activities_[i];
    if (!activity)
        activity = std::make_unique<Activity>();
    return *activity;
}

void ProgressLine::End(size_t i) {
    std::lock_guard<std::mutex> guard(lock_);
    std::erase(active_, i);
    activities_.erase(i);
}

void ProgressLine::Finished(size_t finished) {
    std::lock_guard<std::mutex> guard(lock_);
    finished_ = finished;
    Draw();
}

void ProgressLine::Print(const std::function<void()>& print) {
    std::lock_guard<std::mutex> guard(lock_);
    if (drawn_) {
        std::cerr << "\r\033[K" << std::flush;
        drawn_ = false;
        last_.clear();
    }
    print();
    Draw();
}

void ProgressLine::Draw() {
    if (!shown_ || stopped_)
        return;
    if (currentColumns_) {
        if (const int columns = currentColumns_(); columns > 1)
            columns_ = static_cast<size_t>(columns - 1);  // the last column would wrap
    }
    std::string line = Compose(finished_, active_);
    if (line == last_)
        return;
    std::cerr << "\r\033[K" << line << std::flush;
    last_ = std::move(line);
    drawn_ = true;
}

void ProgressLine::Tick() {
    std::unique_lock<std::mutex> guard(lock_);
    while (!stopped_) {
        Draw();
        wake_.wait_for(guard, kRedrawEvery);
    }
}

void ProgressLine::Stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (drawn_)
            std::cerr << "\r\033[K" << std::flush;
        drawn_ = false;
        stopped_ = true;
    }
    wake_.notify_all();
    if (ticker_.joinable())
        ticker_.join();
}

}  // namespace velindra::cli

// What velindra-cli says about each link: the saved path (or a JSON object) on standard output,
// a failure line on standard error.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "cli/progress.h"
#include "core/ending.h"
#include "core/link_pipeline.h"
#include "core/run_loop.h"

namespace velindra::cli {

// How the links of a run ended, for the summary.
struct Tally {
    size_t saved = 0, kept = 0, failed = 0, interrupted = 0;
};

struct Outcome {
    Ending ending = Ending::Failed;
    std::string reason = {};  // why it was not saved, in the user's language
    LinkResult result = {};   // what its sources answered, for a link that was fetched
    std::optional<TorrentFacts> torrent = {};  // what its saved (or kept) file holds
    Verdict verdict() const { return VerdictOf(ending); }
    bool ok() const { return verdict() == Verdict::Saved || verdict() == Verdict::Kept; }
};

// The outcome of a link that ended so before its fetch.
Outcome Ended(const LinkPlan& plan, Ending ending);
// ... of a link as its plan decides before anything is asked: refused, or Saved (a usable link;
// no reason).
Outcome Refused(const LinkPlan& plan);
// ... of a link that was fetched (its file, if any, not yet on disk).
Outcome Fetched(const LinkPlan& plan, LinkResult result);

// The outcome of a link whose steps are done (settled).
Outcome OutcomeOf(const LinkPlan& plan, LinkStep step);

// The system's reason for an error number in the user's language: in English the words the
// error came with (or the system's), in Chinese the common ones by name, others by number.
std::string SystemReason(int error, const std::string& englishDetail);

// One request as it ended, for --verbose: the link's position, the source and the address asked
// (as it is to be shown), its answer, bytes and time, and for the network its peers and nodes.
std::string VerboseLine(const LinkPosition& position, const Attempt& attempt,
                        const std::string& url);
// The run's last line on a terminal: "saved 3, kept 1, failed 1 in 2.4 s".
std::string Summary(const Tally& tally, std::chrono::steady_clock::duration took);
// A link's plan, for --dry-run: its position, hash and where its file would go, or why it is
// refused.
std::string PlanLine(size_t position, const LinkPlan& plan);

// Where a saved link's file came from, as JSON and the logs say it: "mirror 2", "address 1" or
// "network".
std::string SourceLabel(const LinkResult& result);

// The line on standard error for a link that was not saved.
std::string FailureLine(const LinkPlan& plan, const Outcome& outcome);
// One JSON object for a link, on one line: its input position (1-based), hash, file name,
// saved path, source, outcome, reason and what its torrent holds; what does not apply is null.
std::string JsonLine(size_t position, const LinkPlan& plan, const Outcome& outcome);

// Prints the outcomes in input order as they are delivered; links ended by an interruption are
// counted in one line at the end instead of one line each (in JSON, each has its object).
// When standard output can no longer be written, it says so once, sets `stop` and prints
// nothing more.
class Printer {
  public:
    // `paths`: whether a saved file's path is printed (not when the file itself is the output).
    Printer(bool quiet, bool json, bool paths, ProgressLine& progress, std::atomic<bool>& stop)
        : quiet_(quiet), json_(json), paths_(paths), progress_(progress), stop_(stop) {}
    void Deliver(size_t index, const LinkPlan& plan, const Outcome& outcome, size_t finished);
    void Finish();
    bool allSaved() const { return allSaved_ && !outputLost_; }
    const Tally& tally() const { return tally_; }

  private:
    void Write(const std::string& line);
    bool quiet_;
    bool json_;
    bool paths_;
    ProgressLine& progress_;
    std::atomic<bool>& stop_;
    bool allSaved_ = true;
    bool outputLost_ = false;
    size_t interrupted_ = 0;
    Tally tally_;
};

}  // namespace velindra::cli

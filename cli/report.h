// What velindra-cli prints about each link: the saved path on standard output, a failure line
// on standard error, and the progress line on a terminal.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "link_pipeline.h"

namespace velindra::cli {

struct Outcome {
    bool done = false;
    bool ok = false;
    std::string line;            // the path on success, the failure line otherwise
    MirrorOutcome fetched = {};  // for a link that was fetched
    bool interrupted = false;    // ended by the run's interruption, not by its sources
};

// A link that is not fetched at all: no hash, or one no file could be checked against.
std::string RefusalLine(const LinkPlan& plan);
// A link that was not started because the run was interrupted.
std::string InterruptedLine(const LinkPlan& plan);
// Every source asked for the link, and why each gave nothing.
std::string FailureLine(const LinkPlan& plan, const MirrorOutcome& outcome);

// Waits until a saved file's commit has ended: a file that did not make it to disk fails.
void SettleCommit(const LinkPlan& plan, Outcome& outcome);

// Prints the outcomes in input order as they are delivered; links ended by an interruption are
// counted in one line at the end instead of one line each. When the saved paths can no
// longer be written out, it says so once, sets `stop` and prints nothing more.
class Printer {
  public:
    Printer(bool quiet, bool progress, std::atomic<bool>& stop)
        : quiet_(quiet), progress_(progress), stop_(stop) {}
    void Deliver(const Outcome& outcome, size_t finished, size_t total);
    void Finish();
    bool allSaved() const { return allSaved_ && !outputLost_; }

  private:
    bool quiet_;
    bool progress_;
    std::atomic<bool>& stop_;
    bool allSaved_ = true;
    bool outputLost_ = false;
    size_t interrupted_ = 0;
};

}  // namespace velindra::cli

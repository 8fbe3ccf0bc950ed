#include "report.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include "cli_texts.h"
#include "terminal_text.h"
#include "texts.h"

namespace velindra::cli {

namespace t = cli_texts;

namespace {

std::string Prefix(const std::string& about) {
    return std::string(t::kProgram) + ": " + about + ": ";
}

}  // namespace

std::string RefusalLine(const LinkPlan& plan) {
    if (!plan.parsed)
        return Prefix(plan.piece) + texts::kParseFailed + t::kNoHashInLink;
    return Prefix(plan.parsed->infoHash) + texts::Describe(FetchError::InvalidHash) + t::kHashForms;
}

std::string InterruptedLine(const LinkPlan& plan) {
    return Prefix(plan.parsed->infoHash) + t::kInterrupted;
}

std::string FailureLine(const LinkPlan& plan, const MirrorOutcome& outcome, size_t mirrorCount) {
    std::string line = Prefix(plan.parsed->infoHash);
    const FetchResult last = outcome.last();
    if (last.error == FetchError::InvalidHash)
        return RefusalLine(plan);
    if (last.error == FetchError::CannotWrite)
        return line + t::kCannotWrite + plan.destination + " (" + last.detail + ")";
    if (last.error == FetchError::Cancelled)
        return line + t::kInterrupted;
    line += texts::kFetchFailed;
    line += ": ";
    for (size_t k = 0; k < outcome.attempts.size(); ++k) {
        const FetchResult& a = outcome.attempts[k];
        if (k)
            line += "; ";
        line += (k < mirrorCount ? t::kMirror + std::to_string(k + 1) : std::string(t::kNetwork)) +
                " " + texts::Describe(a.error);
        if (!a.detail.empty())
            line += " (" + a.detail + ")";
    }
    return line;
}

void SettleCommit(const LinkPlan& plan, Outcome& o, size_t mirrorCount) {
    if (!o.ok || o.fetched.attempts.empty())
        return;
    FetchResult& last = o.fetched.attempts.back();
    last = Settle(std::move(last));
    if (!last.ok()) {
        o.ok = false;
        o.fetched.ok = false;
        o.line = FailureLine(plan, o.fetched, mirrorCount);
    }
}

void Printer::Deliver(const Outcome& o, size_t finished, size_t total) {
    if (progress_)
        std::cerr << "\r\033[K";
    if (o.ok && !outputLost_) {
        std::cout << EscapeControls(o.line) << "\n" << std::flush;
        if (!std::cout) {
            // Nobody learns of the files saved from here on: stop, and say so.
            outputLost_ = true;
            stop_ = true;
            std::cerr << t::kProgram << t::kCannotWriteOutput << std::strerror(errno) << "\n";
        }
    } else if (!o.ok) {
        allSaved_ = false;
        if (!quiet_ && !outputLost_)
            std::cerr << EscapeControls(o.line) << "\n";
    }
    if (progress_)
        std::cerr << "[" << finished << "/" << total << "] " << std::flush;
}

void Printer::Finish() {
    if (progress_)
        std::cerr << "\r\033[K" << std::flush;
}

}  // namespace velindra::cli

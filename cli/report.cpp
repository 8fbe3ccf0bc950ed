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

// A link by its hash and the file it was to be saved as: "HASH (name.torrent)".
std::string Named(const LinkPlan& plan) {
    return plan.parsed->shownHash() + " (" + plan.fileName + ")";
}

// "镜像 2", "链接中的地址 1" or the network, for the k-th source asked.
std::string SourceName(const MirrorOutcome& outcome, size_t k) {
    int index = 0;  // among the sources of its kind
    for (size_t i = 0; i <= k; ++i)
        index += outcome.kinds[i] == outcome.kinds[k];
    switch (outcome.kinds[k]) {
        case SourceKind::Mirror:
            return t::kMirror + std::to_string(index);
        case SourceKind::LinkAddress:
            return t::kLinkAddress + std::to_string(index);
        case SourceKind::Network:
            break;
    }
    return t::kNetwork;
}

}  // namespace

std::string RefusalLine(const LinkPlan& plan) {
    if (!plan.parsed)
        return Prefix(plan.piece) + texts::kParseFailed + t::kNoHashInLink;
    return Prefix(Named(plan)) + texts::Describe(FetchError::InvalidHash) +
           (plan.parsed->infoHash.empty() ? t::kV2HashForm : t::kHashForms);
}

std::string InterruptedLine(const LinkPlan& plan) {
    return Prefix(Named(plan)) + t::kInterrupted;
}

std::string FailureLine(const LinkPlan& plan, const MirrorOutcome& outcome) {
    std::string line = Prefix(Named(plan));
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
        line += SourceName(outcome, k) + " " + texts::Describe(a.error);
        if (!a.detail.empty())
            line += " (" + a.detail + ")";
    }
    return line;
}

void SettleCommit(const LinkPlan& plan, Outcome& o) {
    if (!o.ok || o.fetched.attempts.empty())
        return;
    FetchResult& last = o.fetched.attempts.back();
    last = Settle(std::move(last));
    if (!last.ok()) {
        o.ok = false;
        o.fetched.ok = false;
        o.interrupted = last.error == FetchError::Cancelled;
        o.line = FailureLine(plan, o.fetched);
    }
}

void Printer::Deliver(const Outcome& o, size_t finished, size_t total) {
    if (progress_)
        std::cerr << "\r\033[K";
    if (o.interrupted) {
        // Said once for all of them, at the end.
        ++interrupted_;
        allSaved_ = false;
    } else if (o.ok && !outputLost_) {
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
    if (interrupted_ > 0 && !quiet_ && !outputLost_) {
        std::cerr << t::kProgram << ": " << t::kInterrupted << texts::kColon << interrupted_
                  << t::kNotFinished << "\n";
    }
}

}  // namespace velindra::cli

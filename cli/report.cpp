#include "report.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

#include "cli_texts.h"
#include "terminal_text.h"

namespace velindra::cli {

namespace t = cli_texts;

namespace {

// A link by its hash and the file it was to be saved as: "HASH (name.torrent)"; a piece of
// text that is no link by itself.
std::string Named(const LinkPlan& plan) {
    if (!plan.parsed)
        return plan.piece;
    return plan.parsed->shownHash() + " (" + plan.fileName + ")";
}

// Which of its kind the k-th source asked was (1-based).
int IndexAmongItsKind(const MirrorOutcome& outcome, size_t k) {
    int index = 0;
    for (size_t i = 0; i <= k; ++i)
        index += outcome.kinds[i] == outcome.kinds[k];
    return index;
}

// "镜像 2", "链接中的地址 1" or the network, for the k-th source asked.
std::string SourceName(const MirrorOutcome& outcome, size_t k) {
    const std::string index = std::to_string(IndexAmongItsKind(outcome, k));
    switch (outcome.kinds[k]) {
        case SourceKind::Mirror:
            return Say(t::kMirror, {index});
        case SourceKind::LinkAddress:
            return Say(t::kLinkAddress, {index});
        case SourceKind::Network:
            break;
    }
    return Say(t::kNetwork);
}

const Text& Describe(FetchError error) {
    switch (error) {
        case FetchError::NoConnection:
            return t::kNoConnection;
        case FetchError::Timeout:
            return t::kTimeout;
        case FetchError::HttpStatus:
            return t::kServerError;
        case FetchError::Redirect:
            return t::kBadRedirect;
        case FetchError::NotHttp:
            return t::kNotHttp;
        case FetchError::TooLarge:
            return t::kTooLarge;
        case FetchError::NotATorrent:
            return t::kNotATorrent;
        case FetchError::WrongTorrent:
            return t::kWrongTorrent;
        case FetchError::CannotWrite:
            return t::kCannotWrite;
        case FetchError::InvalidHash:
            return t::kInvalidHash;
        case FetchError::Cancelled:
            return t::kCancelled;
        case FetchError::None:
        case FetchError::Other:
            break;
    }
    return t::kFailed;
}

// One source's answer: what went wrong, with the server's status or, in English, the
// transfer's own words.
std::string AttemptText(const MirrorOutcome& outcome, size_t k) {
    const FetchResult& a = outcome.attempts[k];
    std::string text = SourceName(outcome, k) + " " + Say(Describe(a.error));
    std::string detail;
    constexpr std::string_view kStatus = "HTTP status ";  // how the downloader says a status
    if (a.error == FetchError::HttpStatus && a.detail.starts_with(kStatus))
        detail = Say(t::kHttpStatus, {a.detail.substr(kStatus.size())});
    else if (CurrentLanguage() == Language::English)
        detail = a.detail;
    return detail.empty() ? text : text + " (" + detail + ")";
}

std::string FetchReason(const LinkPlan& plan, const MirrorOutcome& outcome) {
    const FetchResult last = outcome.last();
    if (last.error == FetchError::InvalidHash)
        return Refused(plan).reason;
    if (last.error == FetchError::CannotWrite)
        return Say(t::kCannotWrite,
                   {plan.destination, SystemReason(last.systemError, last.detail)});
    if (last.error == FetchError::Cancelled)
        return Say(t::kInterrupted);
    std::string all;
    for (size_t k = 0; k < outcome.attempts.size(); ++k)
        all += (k ? "; " : "") + AttemptText(outcome, k);
    return Say(t::kFetchFailed, {all});
}

// Where a saved link's file came from: "mirror 2", "address 1" or "network".
std::string JsonSource(const MirrorOutcome& outcome) {
    if (outcome.attempts.empty())
        return "null";
    const size_t k = outcome.attempts.size() - 1;
    const std::string index = std::to_string(IndexAmongItsKind(outcome, k));
    switch (outcome.kinds[k]) {
        case SourceKind::Mirror:
            return JsonString("mirror " + index);
        case SourceKind::LinkAddress:
            return JsonString("address " + index);
        case SourceKind::Network:
            break;
    }
    return JsonString("network");
}

}  // namespace

std::string SystemReason(int error, const std::string& englishDetail) {
    // The error numbers people meet, in their words; any other is named by its number.
    static const std::pair<int, const Text*> kKnown[] = {
        {ENOENT, &t::kNoSuchFile},        {EACCES, &t::kNoPermission}, {EPERM, &t::kNoPermission},
        {EISDIR, &t::kIsAFolder},         {ENOTDIR, &t::kNotAFolder},  {ENOSPC, &t::kDiskFull},
        {EROFS, &t::kReadOnly},
#ifdef EDQUOT
        {EDQUOT, &t::kQuotaExceeded},
#endif
        {ENAMETOOLONG, &t::kNameTooLong}, {EIO, &t::kInputOutput},     {EPIPE, &t::kBrokenPipe},
        {EMFILE, &t::kTooManyFiles},
    };
    const Text* known = nullptr;
    for (const auto& [number, text] : kKnown)
        if (number == error)
            known = text;
    if (CurrentLanguage() == Language::English && !englishDetail.empty())
        return englishDetail;
    if (known)
        return Say(*known);
    return Say(t::kSystemError, {std::to_string(error)});
}

Outcome Refused(const LinkPlan& plan) {
    Outcome o{true, Ending::Refused, {}};
    if (!plan.parsed)
        o.reason = Say(t::kNoHashInLink);
    else
        o.reason = Say(plan.parsed->infoHash.empty() ? t::kInvalidV2Hash : t::kInvalidHash);
    return o;
}

Outcome NotStarted() {
    return Outcome{true, Ending::Interrupted, Say(t::kInterrupted)};
}

Outcome Fetched(const LinkPlan& plan, MirrorOutcome fetched) {
    Outcome o{true, Ending::Saved, {}};
    if (!fetched.ok) {
        o.ending = fetched.cancelled()                               ? Ending::Interrupted
                   : fetched.last().error == FetchError::InvalidHash ? Ending::Refused
                                                                     : Ending::Failed;
        o.reason = FetchReason(plan, fetched);
    }
    o.fetched = std::move(fetched);
    return o;
}

Outcome InternalError(const std::string& what) {
    return Outcome{true, Ending::Failed,
                   Say(t::kInternalError) + (what.empty() ? "" : ": " + what)};
}

void SettleCommit(const LinkPlan& plan, Outcome& o) {
    if (!o.ok() || o.fetched.attempts.empty())
        return;
    FetchResult& last = o.fetched.attempts.back();
    last = Settle(std::move(last));
    if (!last.ok()) {
        o.fetched.ok = false;
        o = Fetched(plan, std::move(o.fetched));
    }
}

std::string FailureLine(const LinkPlan& plan, const Outcome& outcome) {
    return std::string(t::kProgram) + ": " + Named(plan) + ": " + outcome.reason;
}

std::string JsonLine(size_t position, const LinkPlan& plan, const Outcome& o) {
    static constexpr const char* kEndings[] = {"saved", "failed", "refused", "interrupted"};
    const auto orNull = [](bool present, const std::string& value) {
        return present ? JsonString(value) : std::string("null");
    };
    std::string line = "{\"position\":" + std::to_string(position);
    line += ",\"hash\":" +
            orNull(plan.parsed.has_value(), plan.parsed ? plan.parsed->shownHash() : std::string());
    line += ",\"name\":" + orNull(plan.parsed.has_value(), plan.fileName);
    line += ",\"path\":" + orNull(o.ok(), plan.destination);
    line += ",\"source\":" + (o.ok() ? JsonSource(o.fetched) : std::string("null"));
    line += ",\"outcome\":" + JsonString(kEndings[static_cast<int>(o.ending)]);
    line += ",\"reason\":" + orNull(!o.ok(), o.reason);
    return line + "}";
}

void Printer::Write(const std::string& line) {
    std::cout << line << "\n" << std::flush;
    if (!std::cout) {
        // Nobody learns of the files saved from here on: stop, and say so.
        const int error = errno;
        outputLost_ = true;
        stop_ = true;
        std::cerr << t::kProgram << ": "
                  << Say(t::kCannotWriteOutput, {SystemReason(error, std::strerror(error))})
                  << "\n";
    }
}

void Printer::Deliver(size_t index, const LinkPlan& plan, const Outcome& o, size_t finished) {
    progress_.Print([&] {
        if (!o.ok())
            allSaved_ = false;
        if (json_ && !outputLost_)
            Write(JsonLine(index + 1, plan, o));
        if (o.ending == Ending::Interrupted)
            ++interrupted_;  // said once for all of them, at the end
        else if (o.ok() && !json_ && !outputLost_)
            Write(EscapeControls(plan.destination));
        else if (!o.ok() && !json_ && !quiet_ && !outputLost_)
            std::cerr << EscapeControls(FailureLine(plan, o)) << "\n";
    });
    progress_.Finished(finished);
}

void Printer::Finish() {
    progress_.Stop();
    if (interrupted_ > 0 && !quiet_ && !outputLost_) {
        std::cerr << t::kProgram << ": " << Say(t::kNotFinished, {std::to_string(interrupted_)})
                  << "\n";
    }
}

}  // namespace velindra::cli

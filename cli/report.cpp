#include "cli/report.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

#include "cli/cli_texts.h"
#include "core/terminal_text.h"

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

// "镜像 2", "链接中的地址 1" or the network, for a source asked.
std::string SourceText(const Attempt& a) {
    return Say(RowOf(a.kind).label, {std::to_string(a.index)});
}

// Whether an error's detail says more than its words: the words of the transfer library or the
// server (a TLS problem, a refused connection), an address not contacted.
bool DetailSaysMore(FetchError error) {
    switch (error) {
        case FetchError::NoConnection:
        case FetchError::Timeout:
        case FetchError::Redirect:
        case FetchError::NotHttp:
        case FetchError::PrivateAddress:
        case FetchError::Other:
            return true;
        default:
            return false;
    }
}

// What an answer says beyond its words: the server's status, a fact the program has words for,
// the address or the library's own words.
std::string DetailOf(const FetchResult& r) {
    if (r.error == FetchError::HttpStatus && r.httpStatus != 0)
        return Say(t::kHttpStatus, {std::to_string(r.httpStatus)});
    // A transfer's own words name the host and the port: English keeps them.
    if (IsTransferFact(r.fact) && CurrentLanguage() == Language::English && !r.detail.empty())
        return r.detail;
    if (const Text* fact = FactWords(r.fact)) {
        std::string text = Say(*fact);
        for (const TrackerAnswer& said : r.trackerAnswers) {
            if (const Text* words = FactWords(said.fact))
                text += Say(t::kTrackerSaid,
                            {said.tracker, Say(*words, {std::to_string(said.httpStatus)})});
        }
        return text;
    }
    return DetailSaysMore(r.error) ? r.detail : std::string();
}

// One source's answer in one pattern, with the same facts in both languages: which source,
// what went wrong, and the server's status, the address or the library's own words; and how
// often it was asked, when more than once.
std::string AttemptText(const Attempt& a) {
    const FetchResult& r = a.result;
    const std::string tries = a.tries > 1 ? Say(t::kTries, {std::to_string(a.tries)}) : "";
    if (r.error == FetchError::NotAskedAgain && a.index > 0)
        return Say(t::kNotAskedAgain, {SourceText(a), r.detail}) + tries;
    const std::string detail = DetailOf(r);
    // A link whose work could not start names no source.
    const std::string words = Say(Words(r.error));
    std::string text = a.index > 0 ? Say(t::kAttempt, {SourceText(a), words}) : words;
    if (r.error == FetchError::PrivateAddress && a.index > 0)
        text = Say(t::kNotContacted, {SourceText(a)});
    return (detail.empty() ? text : Say(t::kWithDetail, {text, detail})) + tries;
}

// What the command line says of each ending, in the enum's order: nothing for a link saved,
// kept or planned; "%1" is what each source answered, or the place (with "%2" the system's
// reason).
struct ReasonRow {
    Ending ending;
    const Text* words;
};
constexpr ReasonRow kReasons[] = {
    {Ending::Saved, nullptr},
    {Ending::Kept, nullptr},
    {Ending::LeftAlone, &t::kLeftAlone},
    {Ending::NoHashInLink, &t::kNoHashInLink},
    {Ending::InvalidHash, &t::kInvalidHash},
    {Ending::InvalidV2Hash, &t::kInvalidV2Hash},
    {Ending::FolderNotAbsolute, &t::kFetchFailed},  // not met: a relative -o is the current folder
    {Ending::NotStarted, &t::kInterrupted},
    {Ending::Skipped, &t::kInterrupted},
    {Ending::NoSource, &t::kFetchFailed},
    {Ending::CannotWrite, &t::kCannotWrite},
    {Ending::Interrupted, &t::kInterrupted},
    {Ending::Failed, &t::kFetchFailed},
    {Ending::Planned, nullptr},
};
static_assert(OneRowEach(kReasons), "every ending has the command line's words");

// Why a link was not saved, in the command line's words: a refusal, the place that could not
// be written or is taken, an interruption, or what every source answered.
std::string Reason(const LinkPlan& plan, Ending ending, const LinkResult& result) {
    const Text* words = kReasons[static_cast<size_t>(ending)].words;
    if (!words)
        return {};
    if (ending == Ending::LeftAlone)
        return Say(*words, {PrintablePath(plan.destination)});
    if (ending == Ending::CannotWrite) {
        const FetchResult& last = result.attempts.back().result;
        return Say(*words, {plan.destination, SystemReason(last.systemError, last.detail)});
    }
    std::string all;
    for (size_t k = 0; k < result.attempts.size(); ++k)
        all += (k ? "; " : "") + AttemptText(result.attempts[k]);
    return Say(*words, {all});
}

std::string JsonSource(const LinkResult& result) {
    return result.attempts.empty() ? "null" : JsonString(SourceLabel(result));
}

}  // namespace

std::string SourceLabel(const LinkResult& result) {
    if (result.attempts.empty())
        return {};
    const Attempt& a = result.attempts.back();
    const SourceKindRow& row = RowOf(a.kind);
    if (row.asked == Asked::EachMirror && a.index == 0)
        return "store";  // the local store, before every cache (--watch)
    const std::string name = row.name;
    return row.asked == Asked::Once ? name : name + " " + std::to_string(a.index);
}

namespace {

std::string JsonTorrent(const TorrentFacts& facts) {
    return "{\"name\":" + JsonString(facts.name) + ",\"size\":" + std::to_string(facts.size) +
           ",\"files\":" + std::to_string(facts.files) +
           ",\"private\":" + (facts.isPrivate ? "true" : "false") + "}";
}

}  // namespace

std::string SystemReason(int error, const std::string& englishDetail) {
    if (CurrentLanguage() == Language::English && !englishDetail.empty())
        return englishDetail;
    if (const Text* words = SystemWords(ProblemOf(error)))
        return Say(*words);
    return Say(t::kSystemError, {std::to_string(error)});
}

Outcome Ended(const LinkPlan& plan, Ending ending) {
    Outcome o;
    o.ending = ending;
    o.reason = Reason(plan, ending, {});
    return o;
}

Outcome Refused(const LinkPlan& plan) {
    return Ended(plan, Refusal(plan).ending);
}

Outcome Fetched(const LinkPlan& plan, LinkResult result) {
    Outcome o;
    o.ending = Classify(result).ending;
    o.reason = Reason(plan, o.ending, result);
    if (o.ending == Ending::Saved)
        o.torrent = result.attempts.back().result.torrent;
    o.result = std::move(result);
    return o;
}

Outcome OutcomeOf(const LinkPlan& plan, LinkStep step) {
    return step.asked ? Fetched(plan, std::move(step.result)) : Ended(plan, step.ending);
}

std::string VerboseLine(const LinkPosition& position, const Attempt& a, const std::string& url) {
    const FetchResult& r = a.result;
    std::string line = std::string(t::kProgram) + ": [" + std::to_string(position.link) + "/" +
                       std::to_string(position.links) + "] " + SourceText(a);
    if (!url.empty())
        line += " " + url;
    const std::string detail = DetailOf(r);
    line += ": " + Say(Words(r.error)) + (detail.empty() ? "" : " (" + detail + ")");
    const double seconds = std::chrono::duration<double>(a.took).count();
    char time[32];
    std::snprintf(time, sizeof time, "%.2f", seconds);
    line += Say(t::kVerboseAmounts, {std::to_string(r.bytes), time});
    if (a.tries > 1)
        line += Say(t::kTry, {std::to_string(a.tries)});
    if (r.peersDialled >= 0) {
        line +=
            Say(t::kVerboseNetwork, {std::to_string(r.peersDialled),
                                     std::to_string(r.peersConnected), std::to_string(r.dhtNodes)});
    }
    return line;
}

std::string Summary(const Tally& tally, std::chrono::steady_clock::duration took) {
    char time[32];
    std::snprintf(time, sizeof time, "%.1f", std::chrono::duration<double>(took).count());
    std::string line = Say(t::kSummary, {std::to_string(tally.saved), std::to_string(tally.kept),
                                         std::to_string(tally.failed)});
    if (tally.interrupted > 0)
        line += Say(t::kSummaryInterrupted, {std::to_string(tally.interrupted)});
    return line + Say(t::kSummaryTime, {time});
}

std::string PlanLine(size_t position, const LinkPlan& plan) {
    const Outcome refused = Refused(plan);
    if (refused.reason.empty() && plan.parsed) {
        return Say(t::kPlanned, {std::to_string(position), plan.parsed->shownHash(),
                                 PrintablePath(plan.destination)});
    }
    return Say(t::kPlanRefused, {std::to_string(position), Named(plan), refused.reason});
}

std::string FailureLine(const LinkPlan& plan, const Outcome& outcome) {
    return std::string(t::kProgram) + ": " + Named(plan) + ": " + outcome.reason;
}

std::string JsonLine(size_t position, const LinkPlan& plan, const Outcome& o) {
    const auto orNull = [](bool present, const std::string& value) {
        return present ? JsonString(value) : std::string("null");
    };
    std::string line = "{\"position\":" + std::to_string(position);
    line += ",\"hash\":" +
            orNull(plan.parsed.has_value(), plan.parsed ? plan.parsed->shownHash() : std::string());
    line += ",\"name\":" + orNull(plan.parsed.has_value(), plan.fileName);
    line += ",\"path\":" + orNull(o.ok() || o.ending == Ending::Planned, plan.destination);
    line +=
        ",\"source\":" + (o.ending == Ending::Saved ? JsonSource(o.result) : std::string("null"));
    line += ",\"outcome\":" + JsonString(RowOf(o.ending).name);
    line += ",\"reason\":" + orNull(!o.ok() && o.ending != Ending::Planned, o.reason);
    line += ",\"torrent\":" + (o.ok() && o.torrent ? JsonTorrent(*o.torrent) : "null");
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
        const Verdict verdict = o.verdict();
        ++(verdict == Verdict::Saved         ? tally_.saved
           : verdict == Verdict::Kept        ? tally_.kept
           : verdict == Verdict::Interrupted ? tally_.interrupted
                                             : tally_.failed);
        if (json_ && !outputLost_)
            Write(JsonLine(index + 1, plan, o));
        if (verdict == Verdict::Interrupted)
            ++interrupted_;  // said once for all of them, at the end
        else if (o.ok() && !json_ && paths_ && !outputLost_)
            Write(PrintablePath(plan.destination));
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

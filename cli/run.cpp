#include "run.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>

#include "ahead.h"
#include "atomic_file.h"
#include "cli_texts.h"
#include "committer.h"
#include "curl_downloader.h"
#include "digests.h"
#include "file_reading.h"
#include "host_paths.h"
#include "link_pipeline.h"
#include "options.h"
#include "progress.h"
#include "report.h"
#include "sources.h"
#include "terminal_text.h"
#include "torrent.h"
#include "utf16.h"

namespace velindra::cli {

namespace {

namespace t = cli_texts;

constexpr size_t kMaxInputBytes = size_t{256} << 20;

// Set from a signal handler, or when the saved paths can no longer be written out: every
// transfer watches it and ends, leaving no temporary file behind.
std::atomic<bool> gStop{false};
std::atomic<int> gSignal{0};

extern "C" void OnSignal(int number) {
    gSignal = number;
    gStop = true;
}

// Every input's text, one after the other in one buffer (at most kMaxInputBytes for all of
// them together), and where its links lie; an exit status when an input cannot be read.
std::optional<int> ReadInputs(const Options& options, std::string& text,
                              std::vector<LinkSpan>& spans) {
    for (const Options::Input& input : options.inputs) {
        const size_t begin = text.size();
        if (input.isLinkText) {
            if (text.size() + input.value.size() > kMaxInputBytes) {
                std::cerr << t::kProgram << ": "
                          << Say(t::kCannotRead,
                                 {EscapeControls(input.value.substr(0, 60)),
                                  Say(t::kInputTooLarge, {std::to_string(kMaxInputBytes >> 20)})})
                          << "\n";
                return 2;
            }
            text += input.value;
        } else if (FetchResult read = ReadWholeFile(input.value, text, kMaxInputBytes, gStop);
                   !read.ok()) {
            if (gSignal != 0)
                return 128 + gSignal;  // interrupted while reading
            const std::string why =
                read.error == FetchError::TooLarge
                    ? Say(t::kInputTooLarge, {std::to_string(kMaxInputBytes >> 20)})
                    : SystemReason(read.systemError, read.detail);
            std::cerr << t::kProgram << ": "
                      << Say(t::kCannotRead, {EscapeControls(input.value), why}) << "\n";
            return 2;
        }
        // A line that is a bare info-hash is its link.
        if (std::optional<std::string> links =
                BareHashesAsLinks(std::string_view(text).substr(begin))) {
            text.resize(begin);
            text += *links;
        }
        // Each input's links end with it: a link never runs on into the next input.
        for (LinkSpan span : FindLinks(std::string_view(text).substr(begin))) {
            span.begin += begin;
            spans.push_back(span);
        }
    }
    text.shrink_to_fit();
    spans.shrink_to_fit();
    return std::nullopt;
}

// What is at a link's file's place already, for --no-clobber: nothing, or the link's own
// torrent (checked by hash; one file read at a time, so that large files of those names cost
// one file's memory), or anything else, which is never replaced. A file larger than a torrent
// may be is something else, unread.
LinkStep::Why AtItsPlace(const LinkPlan& plan) {
    std::error_code ec;
    if (!std::filesystem::exists(
            std::filesystem::symlink_status(PathFromUtf8(plan.destination), ec)))
        return LinkStep::Why::None;
    const size_t bound = DownloadLimits{}.maxBodyBytes;
    if (!SafeToRead(plan.destination, bound))
        return kLeftAlone;
    // A file that does not begin as a torrent does is decided from its first bytes.
    std::string body;
    ReadRegularFile(plan.destination, kTorrentHeadBytes, body);
    if (!BeginsAsTorrent(body))
        return kLeftAlone;
    static std::mutex oneAtATime;
    std::lock_guard<std::mutex> guard(oneAtATime);
    const bool holds = ReadRegularFile(plan.destination, bound, body).ok() &&
                       CheckDelivered(body, *plan.hashes, nullptr).ok();
    return holds ? kKept : kLeftAlone;
}

// How far past the link being printed the workers may run: the results waiting to be printed
// stay few, however long the input.
constexpr size_t kWindow = size_t{1} << 14;

// One run over planned links: workers fetch them and hand their files to the committer, and
// their outcomes are printed in input order, each saved path once its file is on disk.
class LinkRun : public StepHooks {
  public:
    LinkRun(const Options& options, const Console& console, const BatchPlanner& planner)
        : options_(options),
          console_(console),
          planner_(planner),
          count_(planner.size()),
          // Redrawn in place, which needs a terminal that understands escapes.
          progress_(
              count_, [this](size_t i) { return ShownName(i); },
              !options.quiet && console.errorIsTerminal && console.escapes, console.columns,
              ErrorColumns),
          program_(options.sources),
          sources_(program_.web(), program_.Network()),
          chain_{sources_.downloader(),
                 options.mirrors.empty() ? BuiltInMirrors() : options.mirrors,
                 sources_.askNetwork(),
                 options.retries,
                 options.verbose
                     ? [this](const LinkPosition& at, const Attempt& a) { SayRequest(at, a); }
                     : std::function<void(const LinkPosition&, const Attempt&)>(),
                 options.privacy} {}

    // Whether every link was saved (or kept).
    bool Execute() {
        Printer printer(options_.quiet && !options_.showErrors, options_.json, progress_, gStop);
        {
            AheadRun run(
                planner_.leaders(), options_.jobs, kWindow, [this](size_t i) { return Work(i); },
                [this](size_t i, LinkResult) { return Resume(i); });
            for (size_t i = 0; i < count_; ++i) {
                const LinkResult failed = run.Take(i);
                LinkStep step = TakeStep(i);
                if (!failed.attempts.empty()) {
                    step = LinkStep{};  // the work itself failed
                    step.result = failed;
                }
                // A path is printed only once its file is durably in place.
                SettleLink(i, step, *this);
                if (step.placeFailed && step.placing == Placing::KeepExisting &&
                    step.result.attempts.back().result.systemError == EEXIST) {
                    // Another file took the name meanwhile (another run's, perhaps).
                    step.end = LinkStep::End::Stopped;
                    step.why = AtItsPlace(planner_.Plan(i)) == kKept ? kKept : kLeftAlone;
                }
                const LinkPlan plan = planner_.Plan(i);
                printer.Deliver(i, plan, OutcomeOf(plan, std::move(step)), run.finished());
            }
        }
        printer.Finish();
        // On a terminal the run ends with what it did, as wget's "Downloaded:" line.
        if (!options_.quiet && !options_.json && console_.errorIsTerminal && gSignal == 0)
            std::cerr << Summary(printer.tally(), std::chrono::steady_clock::now() - started_)
                      << "\n";
        return printer.allSaved();
    }

  private:
    std::string ShownName(size_t i) const {
        const LinkPlan plan = planner_.Plan(i);
        return plan.parsed ? plan.fileName : plan.piece;
    }

    // A worker's part: the link's first steps, its file handed to the committer; the worker
    // goes on with its next link meanwhile.
    LinkResult Work(size_t i) {
        const LinkPlan plan = planner_.Plan(i);
        LinkStep step = BeginLink(i, plan, *this, committer_, &gStop);
        // Once the run is interrupted, only a link without any hash is still called refused.
        if (step.end == LinkStep::End::Refused && plan.parsed && gStop) {
            step.end = LinkStep::End::Stopped;
            step.why = kNotStarted;
        }
        LinkResult waiting;
        waiting.pending = step.result.pending;  // the run resumes the link once it has come
        std::lock_guard<std::mutex> guard(lock_);
        steps_[i] = std::move(step);
        return waiting;
    }

    // A worker's part once the network has answered: the file handed to the committer.
    LinkResult Resume(size_t i) {
        LinkStep step = TakeStep(i);
        ContinueLink(step, committer_, &gStop);
        progress_.End(i);
        if (options_.verbose && !step.result.attempts.empty())
            SayRequest({static_cast<int>(i + 1), static_cast<int>(count_)},
                       step.result.attempts.back());
        std::lock_guard<std::mutex> guard(lock_);
        steps_[i] = std::move(step);
        return LinkResult{};
    }

    bool Proceed(size_t, const LinkPlan& plan, LinkStep& step) override {
        step.why = gStop                ? kNotStarted
                   : options_.noClobber ? AtItsPlace(plan)
                                        : LinkStep::Why::None;
        if (options_.noClobber)
            step.placing = Placing::KeepExisting;  // checked and placed in one step
        return step.why == LinkStep::Why::None;
    }

    std::optional<LinkResult> Fetch(size_t i, const LinkPlan& plan,
                                    std::string& destination) override {
        progress_.Begin(i);
        const LinkPosition position{static_cast<int>(i + 1), static_cast<int>(count_)};
        if (options_.verbose && IsPrivateLink(plan, chain_)) {
            const std::string line = Say(
                t::kVerbosePrivate,
                {std::string(t::kProgram), std::to_string(i + 1) + "/" + std::to_string(count_)});
            progress_.Print([&] { std::cerr << line << "\n"; });
        }
        LinkResult result =
            FetchLink(plan, destination, chain_, position, &gStop, &progress_.activity(i));
        if (!result.pending)  // else the network still reports its peers there (see Resume)
            progress_.End(i);
        return result;
    }

    // --verbose: a request as it ended, with the progress line out of its way.
    void SayRequest(const LinkPosition& at, const Attempt& a) {
        const std::string url = a.url.empty() ? a.url : WithoutCredentials(a.url);
        const std::string line = EscapeControls(VerboseLine(at, a, url));
        progress_.Print([&] { std::cerr << line << "\n"; });
    }

    LinkStep TakeStep(size_t i) {
        std::lock_guard<std::mutex> guard(lock_);
        LinkStep step = std::move(steps_[i]);
        steps_.erase(i);
        return step;
    }

    const Options& options_;
    const Console& console_;
    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    const BatchPlanner& planner_;
    const size_t count_;
    ProgressLine progress_;
    Committer committer_;  // goes after the sources: it finishes what they handed over
    ProgramSources program_;
    BatchSources sources_;
    const LinkSources chain_;
    std::mutex lock_;
    std::map<size_t, LinkStep> steps_;  // of the links begun and not yet printed
};

// Whether the output folder is there (made when missing) and takes a new file; an exit status
// and the reason when not.
std::optional<int> CheckOutput(const std::string& folder) {
    const auto refuse = [](const std::string& where, int error, const std::string& detail) {
        std::cerr << t::kProgram << ": "
                  << EscapeControls(
                         Say(t::kCannotWriteFolder, {where, SystemReason(error, detail)}))
                  << "\n";
        return 2;
    };
    if (!MakeFolders(folder)) {
        // The first folder on the way that could not be made, and the system's reason: a
        // read-only place or one the user may not write says so, not that something is missing.
        std::string missing = folder;
        std::error_code ec;
        for (size_t cut = missing.find_last_of(HostPathRules().windows ? "\\/" : "/");
             cut != std::string::npos && cut > 0 &&
             !std::filesystem::exists(PathFromUtf8(missing.substr(0, cut)), ec);
             cut = missing.find_last_of(HostPathRules().windows ? "\\/" : "/"))
            missing.resize(cut);
        std::filesystem::create_directory(PathFromUtf8(missing), ec);
        std::error_code there;
        if (ec && !std::filesystem::is_directory(PathFromUtf8(missing), there))
            return refuse(missing, ec.value(), ec.message());
    }
    AtomicFile probe(JoinDestination(folder, "velindra-probe", HostPathRules()));
    const FetchResult opened = probe.Open();
    if (opened.ok())
        return std::nullopt;  // and the probe is gone with it
    return refuse(folder, opened.systemError, opened.detail);
}

// --dry-run: each link's plan in input order, nothing asked; 1 when any link would be refused.
int PrintPlans(const Options& options, const BatchPlanner& planner) {
    bool allUsable = true;
    for (size_t i = 0; i < planner.size(); ++i) {
        const LinkPlan plan = planner.Plan(i);
        Outcome outcome = Refused(plan);
        if (outcome.reason.empty() && plan.parsed)
            outcome.ending = Ending::Planned;
        allUsable = allUsable && outcome.ending == Ending::Planned;
        std::cout << (options.json ? JsonLine(i + 1, plan, outcome)
                                   : EscapeControls(PlanLine(i + 1, plan)))
                  << "\n";
    }
    std::cout << std::flush;
    return !std::cout ? 1 : allUsable ? 0 : 1;
}

}  // namespace

int ExitStatus(int status) {
    const int caught = gSignal;
    return caught != 0 ? 128 + caught : status;
}

int Run(const std::vector<std::string>& arguments, const Console& console) {
    Options options;
    if (auto status = ParseArguments(arguments, options, std::cout, std::cerr))
        return *status;
    if (options.inputs.empty()) {
        if (console.inputIsTerminal) {
            // Nothing to read but a terminal: say how to use the program instead of waiting.
            PrintUsageHint(std::cerr);
            return 2;
        }
        options.inputs.push_back({false, "-"});
    }
    // A folder that cannot take the files is refused before anything is asked (as curl and
    // wget stop before they download); made when missing, as wget -P and aria2c -d do.
    if (!options.dryRun) {
        if (auto status = CheckOutput(options.output))
            return *status;
    }
    HandleInterrupts(OnSignal);
    std::string text;
    std::vector<LinkSpan> spans;
    if (auto status = ReadInputs(options, text, spans))
        return *status;
    if (spans.empty()) {
        std::cerr << t::kProgram << ": " << t::kNoLinks << "\n";
        return 2;
    }
    // Every link's name decided at once, so that no two links of the run take one file,
    // compared as the folder's file system compares names. A link's plan is made again when
    // it is needed: a long input keeps only a few bytes a link.
    // A dry run makes nothing: the folder's case rule is then the system's custom, unprobed.
    PathRules rules = HostPathRules();
    if (!options.dryRun)
        rules.ignoresCase = FolderIgnoresCase(options.output);
    const BatchPlanner planner(
        spans.size(), [&](size_t i) { return PieceAt(text, spans[i]); }, options.settings.usedn,
        options.output, rules);
    if (options.dryRun)
        return PrintPlans(options, planner);
    const bool allSaved = LinkRun(options, console, planner).Execute();
    if (gSignal != 0)
        return 128 + gSignal;  // the shell's convention: 130 for Ctrl-C, 129 and 143
    return allSaved ? 0 : 1;
}

}  // namespace velindra::cli

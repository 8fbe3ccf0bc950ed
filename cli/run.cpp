#include "run.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <random>

#include "ahead.h"
#include "atomic_file.h"
#include "cli_texts.h"
#include "committer.h"
#include "console.h"
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
#include "utf8.h"

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
// may be is something else, unread. `facts` receives what a kept file holds.
LinkStep::Why AtItsPlace(const std::string& destination, const LinkHashes& hashes,
                         std::optional<TorrentFacts>* facts = nullptr) {
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(PathFromUtf8(destination), ec)))
        return LinkStep::Why::None;
    const size_t bound = DownloadLimits{}.maxBodyBytes;
    if (!SafeToRead(destination, bound))
        return kLeftAlone;
    // A file that does not begin as a torrent does is decided from its first bytes.
    std::string body;
    ReadRegularFile(destination, kTorrentHeadBytes, body);
    if (!BeginsAsTorrent(body))
        return kLeftAlone;
    static std::mutex oneAtATime;
    std::lock_guard<std::mutex> guard(oneAtATime);
    const bool holds = ReadRegularFile(destination, bound, body).ok() &&
                       CheckDelivered(body, hashes, nullptr).ok();
    if (holds && facts)
        *facts = DescribeTorrent(body);
    return holds ? kKept : kLeftAlone;
}

// The file name at the end of a path.
std::string FileNameOf(const std::string& path) {
    const size_t cut = path.find_last_of(HostPathRules().windows ? "\\/" : "/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// How far past the link being printed the workers may run: the results waiting to be printed
// stay few, however long the input.
constexpr size_t kWindow = size_t{1} << 14;

// One run over planned links: workers fetch them and hand their files to the committer, and
// their outcomes are printed in input order, each saved path once its file is on disk.
// With --name torrent a file's name is known only once it has come, and the names are given
// in the order the links are printed: a link's file is held here until its turn.
class HeldCommit : public FileCommitter {
  public:
    std::shared_ptr<PendingCommit> Submit(std::shared_ptr<StagedFile> file, const std::string&,
                                          const std::atomic<bool>*, Placing placing) override {
        file_ = std::move(file);
        placing_ = placing;
        return nullptr;
    }
    std::shared_ptr<StagedFile> file_;
    Placing placing_ = Placing::Replace;
};

class LinkRun : public StepHooks {
  public:
    // `fixed`, when given, is the one place every link's file goes (-O).
    LinkRun(const Options& options, const Console& console, const BatchPlanner& planner,
            PathRules rules, std::optional<std::string> fixed)
        : options_(options),
          console_(console),
          planner_(planner),
          rules_(rules),
          fixed_(std::move(fixed)),
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
                 options.privacy,
                 options.trackers} {}

    // Whether every link was saved (or kept). Paths are printed unless the file goes to
    // standard output.
    bool Execute(bool printPaths = true) {
        Printer printer(options_.quiet && !options_.showErrors, options_.json, printPaths,
                        progress_, gStop);
        {
            AheadRun run(
                planner_.leaders(), options_.jobs, kWindow, [this](size_t i) { return Work(i); },
                [this](size_t i, LinkResult) { return Resume(i); });
            for (size_t k = 0; k < count_; ++k) {
                LinkResult failed;
                const size_t i = options_.unordered ? run.TakeAny(failed) : k;
                if (!options_.unordered)
                    failed = run.Take(i);
                auto [plan, outcome] = Settled(i, std::move(failed));
                printer.Deliver(i, plan, outcome, run.finished());
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
    // Link i's plan, its file going where this run puts it.
    LinkPlan PlanOf(size_t i) const {
        LinkPlan plan = planner_.Plan(i);
        if (fixed_ && plan.parsed) {
            plan.destination = *fixed_;
            plan.fileName = FileNameOf(*fixed_);
        }
        return plan;
    }

    std::string ShownName(size_t i) const {
        const LinkPlan plan = PlanOf(i);
        return plan.parsed ? plan.fileName : plan.piece;
    }

    // Link i once its file is in its place (or why not): its plan as it ended (its file's
    // place the one it took) and its outcome. A path is printed only once its file is durably
    // in place.
    std::pair<LinkPlan, Outcome> Settled(size_t i, LinkResult failed) {
        LinkStep step = TakeStep(i);
        if (!failed.attempts.empty()) {
            step = LinkStep{};  // the work itself failed
            step.result = failed;
        }
        if (HeldCommit held = TakeHeld(i); held.file_) {
            NameAfterTheTorrent(PlanOf(i), step.result, step.destination);
            step.commit =
                committer_.Submit(std::move(held.file_), step.destination, &gStop, held.placing_);
        }
        SettleLink(i, step, *this);
        LinkPlan plan = PlanOf(i);
        std::optional<TorrentFacts> kept = TakeKept(i);
        if (step.placeFailed && step.placing == Placing::KeepExisting &&
            step.result.attempts.back().result.systemError == EEXIST) {
            // Another file took the name meanwhile (another run's, perhaps).
            step.end = LinkStep::End::Stopped;
            step.why =
                AtItsPlace(step.destination, *plan.hashes, &kept) == kKept ? kKept : kLeftAlone;
        }
        if (plan.parsed && !step.destination.empty() && step.destination != plan.destination) {
            plan.destination = step.destination;
            plan.fileName = FileNameOf(step.destination);
        }
        Outcome outcome = OutcomeOf(plan, std::move(step));
        if (outcome.ending == Ending::Kept)
            outcome.torrent = kept;
        return {std::move(plan), std::move(outcome)};
    }

    bool Naming() const { return options_.nameAfterTorrent && !options_.outputDocument; }

    void Hold(size_t i, HeldCommit& held) {
        if (!held.file_)
            return;
        std::lock_guard<std::mutex> guard(lock_);
        held_[i] = std::move(held);
    }

    HeldCommit TakeHeld(size_t i) {
        std::lock_guard<std::mutex> guard(lock_);
        HeldCommit held;
        if (const auto found = held_.find(i); found != held_.end()) {
            held = std::move(found->second);
            held_.erase(found);
        }
        return held;
    }

    std::optional<TorrentFacts> TakeKept(size_t i) {
        std::lock_guard<std::mutex> guard(lock_);
        const auto found = kept_.find(i);
        if (found == kept_.end())
            return std::nullopt;
        std::optional<TorrentFacts> facts = std::move(found->second);
        kept_.erase(found);
        return facts;
    }

    // --name torrent: the place of a delivered file named after the torrent's own name, unless
    // another torrent of this run took that name, or the torrent has none (then its hash).
    void NameAfterTheTorrent(const LinkPlan& plan, const LinkResult& result,
                             std::string& destination) {
        if (!result.ok())
            return;
        const std::optional<TorrentFacts>& facts = result.attempts.back().result.torrent;
        if (!facts || facts->name.empty())
            return;
        const std::string name = MakeFileName(facts->name, rules_);
        const std::string hash = plan.hashes->V1Text() + plan.hashes->V2Text();
        std::lock_guard<std::mutex> guard(lock_);
        const auto [taken, fresh] =
            claimed_.try_emplace(rules_.ignoresCase ? FoldCase(name) : name, hash);
        if (fresh || taken->second == hash)
            destination = JoinDestination(options_.output, name, rules_);
    }

    // A worker's part: the link's first steps, its file handed to the committer; the worker
    // goes on with its next link meanwhile.
    LinkResult Work(size_t i) {
        const LinkPlan plan = PlanOf(i);
        HeldCommit held;
        LinkStep step = BeginLink(
            i, plan, *this, Naming() ? static_cast<FileCommitter&>(held) : committer_, &gStop);
        Hold(i, held);
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
        HeldCommit held;
        ContinueLink(step, Naming() ? static_cast<FileCommitter&>(held) : committer_, &gStop);
        Hold(i, held);
        progress_.End(i);
        if (options_.verbose && !step.result.attempts.empty())
            SayRequest({static_cast<int>(i + 1), static_cast<int>(count_)},
                       step.result.attempts.back());
        std::lock_guard<std::mutex> guard(lock_);
        steps_[i] = std::move(step);
        return LinkResult{};
    }

    // With --no-clobber a link whose file is there already is not fetched; a file named after
    // its torrent is known only once it has come, and its place is then only taken when free.
    bool Proceed(size_t i, const LinkPlan& plan, LinkStep& step) override {
        const bool lookFirst =
            options_.noClobber && !(options_.nameAfterTorrent && !options_.outputDocument);
        std::optional<TorrentFacts> facts;
        step.why = gStop       ? kNotStarted
                   : lookFirst ? AtItsPlace(plan.destination, *plan.hashes, &facts)
                               : LinkStep::Why::None;
        if (options_.noClobber)
            step.placing = Placing::KeepExisting;  // checked and placed in one step
        if (step.why == kKept) {
            std::lock_guard<std::mutex> guard(lock_);
            kept_[i] = std::move(facts);
        }
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
    const PathRules rules_;
    const std::optional<std::string> fixed_;
    const size_t count_;
    ProgressLine progress_;
    Committer committer_;  // goes after the sources: it finishes what they handed over
    ProgramSources program_;
    BatchSources sources_;
    const LinkSources chain_;
    std::mutex lock_;
    std::map<size_t, LinkStep> steps_;                    // of the links begun and not yet printed
    std::map<size_t, std::optional<TorrentFacts>> kept_;  // what kept files hold (-n)
    std::map<std::string, std::string> claimed_;          // --name torrent: names taken, by hash
    std::map<size_t, HeldCommit> held_;                   // --name torrent: files before their turn
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

// -O -: a folder of this run's own, where the file waits until it is written to standard
// output; removed with everything in it when the run ends.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::error_code ec;
        const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
        for (int k = 0; k < 100 && path_.empty(); ++k) {
            std::filesystem::path tried =
                base / ("velindra-" + std::to_string(std::random_device{}()));
            if (std::filesystem::create_directory(tried, ec)) {
                std::filesystem::permissions(tried, std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::replace, ec);
                path_ = tried;
            }
        }
    }
    ~ScratchFolder() {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    // Empty when no folder could be made.
    std::string path() const { return path_.empty() ? std::string() : PathToUtf8(path_); }

  private:
    std::filesystem::path path_;
};

// -O -: the saved file written to standard output; false when it could not be (said).
bool WriteToStandardOutput(const std::string& file) {
    std::string body;
    if (FetchResult read = ReadRegularFile(file, DownloadLimits{}.maxBodyBytes, body); !read.ok()) {
        std::cerr << t::kProgram << ": "
                  << Say(t::kCannotRead, {file, SystemReason(read.systemError, read.detail)})
                  << "\n";
        return false;
    }
    BinaryStandardOutput();
    std::cout.write(body.data(), static_cast<std::streamsize>(body.size()));
    std::cout.flush();
    if (std::cout)
        return true;
    const int error = errno;
    std::cerr << t::kProgram << ": "
              << Say(t::kCannotWriteOutput, {SystemReason(error, std::strerror(error))}) << "\n";
    return false;
}

// Where -O puts the one link's file, with the folder it goes in as the run's output folder;
// an exit status when -O cannot be taken with the other options.
std::optional<int> PlaceOfTheDocument(Options& options, const ScratchFolder* scratch,
                                      std::optional<std::string>& fixed) {
    if (!options.outputDocument)
        return std::nullopt;
    if (*options.outputDocument != "-") {
        fixed = *options.outputDocument;
        options.output = ParentFolder(*fixed);
        return std::nullopt;
    }
    if (options.json) {
        std::cerr << t::kProgram << ": " << Say(t::kStdoutNoJson) << "\n";
        PrintUsageHint(std::cerr);
        return 2;
    }
    if (!scratch || scratch->path().empty()) {
        std::cerr << t::kProgram << ": "
                  << Say(t::kCannotWriteFolder, {PathToUtf8(std::filesystem::temp_directory_path()),
                                                 SystemReason(EACCES, std::strerror(EACCES))})
                  << "\n";
        return 2;
    }
    options.output = scratch->path();  // the file named there as any run names it
    return std::nullopt;
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
    const bool toStandardOutput = options.outputDocument == "-";
    std::optional<ScratchFolder> scratch;
    if (toStandardOutput && !options.dryRun)
        scratch.emplace();
    std::optional<std::string> fixed;
    if (auto status = PlaceOfTheDocument(options, scratch ? &*scratch : nullptr, fixed))
        return *status;
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
    if (options.outputDocument && spans.size() != 1) {
        std::cerr << t::kProgram << ": " << Say(t::kOneLinkOnly, {std::to_string(spans.size())})
                  << "\n";
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
    bool allSaved = LinkRun(options, console, planner, rules, fixed).Execute(!toStandardOutput);
    if (gSignal != 0)
        return 128 + gSignal;  // the shell's convention: 130 for Ctrl-C, 129 and 143
    if (allSaved && toStandardOutput)
        allSaved = WriteToStandardOutput(planner.Plan(0).destination);
    return allSaved ? 0 : 1;
}

}  // namespace velindra::cli

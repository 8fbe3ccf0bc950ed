// The command line's part in the one run over planned links (core/run_loop.h), the same for a
// run of velindra-cli, each batch of its watch and each look-up of its server: its progress
// line, --no-clobber and --name torrent, and each link's outcome printed (or handed to the
// front end) in input order, each saved path once its file is on disk.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "cli/cli_texts.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/store.h"
#include "core/link_pipeline.h"
#include "core/run_loop.h"
#include "core/terminal_text.h"
#include "core/utf8.h"
#include "platform/atomic_file.h"
#include "platform/committer.h"
#include "platform/console.h"
#include "platform/host_paths.h"
#include "platform/sources.h"

namespace velindra::cli {

// Set from a signal handler, or when the saved paths can no longer be written out: every
// transfer watches it and ends, leaving no temporary file behind.
inline std::atomic<bool> gStop{false};
inline std::atomic<int> gSignal{0};
// Called from the signal handler too, when set: what waits for a folder wakes (it must be
// safe in a signal handler).
inline std::atomic<void (*)()> gWake{nullptr};

// gStop and gSignal set on SIGINT, SIGTERM and SIGHUP (Ctrl-C, a closed console on Windows).
void CatchInterrupts();

// What is at a link's file's place already, for --no-clobber: nothing, the link's own torrent
// (Kept; `facts` receives what it holds), or anything else, never replaced (LeftAlone).
std::optional<Ending> AtItsPlace(const std::string& destination, const LinkHashes& hashes,
                                 std::optional<TorrentFacts>* facts = nullptr);

// The file name at the end of a path.
std::string FileNameOf(const std::string& path);

// How far past the link being printed the workers may run: the results waiting to be printed
// stay few, however long the input.
constexpr size_t kWindow = size_t{1} << 14;

// One run over planned links: workers fetch them and hand their files to the committer, and
// their outcomes are printed in input order (or as they end), each saved path once its file is
// on disk. With --name torrent a file's name is known only once it has come, and the names are
// given in the order the links are printed: a link's file waits for its turn.
class LinkRun : public RunHooks {
  public:
    // How a link ended, for a front end that says it in its own way (the watch), in the
    // order the run prints.
    using Deliver = std::function<void(size_t, const LinkPlan&, const Outcome&)>;
    // `fixed`, when given, is the one place every link's file goes (-O). `shared`: the
    // sources of a program that runs batch after batch (the watch), else the run's own.
    LinkRun(const Options& options, const Console& console, const BatchPlanner& planner,
            PathRules rules, std::optional<std::string> fixed, BatchSources* shared = nullptr,
            Deliver deliver = {})
        : options_(options),
          console_(console),
          planner_(planner),
          rules_(rules),
          fixed_(std::move(fixed)),
          count_(planner.size()),
          // Redrawn in place, which needs a terminal that understands escapes.
          progress_(
              count_, [this](size_t i) { return ShownName(i); },
              !options.quiet && !deliver && console.errorIsTerminal && console.escapes,
              console.columns, ErrorColumns),
          program_(shared ? nullptr : std::make_unique<ProgramSources>(options.sources)),
          ownSources_(shared
                          ? nullptr
                          : std::make_unique<BatchSources>(program_->web(), program_->Network())),
          sources_(shared ? *shared : *ownSources_),
          deliver_(std::move(deliver)),
          chain_{sources_.downloader(),
                 options.mirrors.empty() ? BuiltInMirrors() : options.mirrors,
                 sources_.askNetwork(),
                 options.retries,
                 options.verbose
                     ? [this](const LinkPosition& at, const Attempt& a) { SayRequest(at, a); }
                     : std::function<void(const LinkPosition&, const Attempt&)>(),
                 options.privacy,
                 options.trackers} {}

    // Links whose torrent the store keeps are answered from it before any source is asked.
    LinkRun& AnswerFrom(const TorrentStore& store) {
        store_ = &store;
        return *this;
    }

    // Whether every link was saved (or kept). Paths are printed unless the file goes to
    // standard output.
    bool Execute(bool printPaths = true) {
        Printer printer(options_.quiet && !options_.showErrors, options_.json, printPaths,
                        progress_, gStop);
        printer_ = &printer;
        RunPolicy policy;
        policy.workers = options_.jobs;
        policy.window = kWindow;
        policy.holdFiles = Naming();
        policy.asTheyEnd = options_.unordered;
        RunLoop(count_, planner_.leaders(), policy, *this, committer_).Run();
        printer_ = nullptr;
        if (deliver_)
            return true;
        printer.Finish();
        // On a terminal the run ends with what it did, as wget's "Downloaded:" line.
        if (!options_.quiet && !options_.json && console_.errorIsTerminal && gSignal == 0)
            std::cerr << Summary(printer.tally(), std::chrono::steady_clock::now() - started_)
                      << "\n";
        return printer.allSaved();
    }

  private:
    // Link i's plan, its file going where this run puts it.
    LinkPlan PlanOf(size_t i) const override {
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

    // Link i once its file is in its place (or why not), said with its plan as it ended (its
    // file's place the one it took). A path is printed only once its file is durably in place.
    void Ended(size_t i, LinkStep step, size_t finished) override {
        LinkPlan plan = PlanOf(i);
        std::optional<TorrentFacts> kept = TakeKept(i);
        if (step.placeFailed && step.placing == Placing::KeepExisting &&
            step.result.attempts.back().result.systemError == EEXIST) {
            // Another file took the name meanwhile (another run's, perhaps).
            step.asked = false;
            step.ending =
                AtItsPlace(step.destination, *plan.hashes, &kept).value_or(Ending::LeftAlone);
        }
        if (plan.parsed && !step.destination.empty() && step.destination != plan.destination) {
            plan.destination = step.destination;
            plan.fileName = FileNameOf(step.destination);
        }
        Outcome outcome = OutcomeOf(plan, std::move(step));
        if (outcome.ending == Ending::Kept)
            outcome.torrent = kept;
        if (deliver_)
            deliver_(i, plan, outcome);
        else
            printer_->Deliver(i, plan, outcome, finished);
    }

    // --name torrent: the file named after its torrent at its turn.
    void AtTurn(size_t i, LinkStep& step) override {
        if (Naming() && step.asked)
            NameAfterTheTorrent(PlanOf(i), step.result, step.destination);
    }

    const std::atomic<bool>* CancelOf(size_t) override { return &gStop; }

    bool Naming() const { return options_.nameAfterTorrent && !options_.outputDocument; }

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

    // On a worker, once the network has answered: its line ends, and --verbose says it.
    void Answered(size_t i, const LinkStep& step) override {
        progress_.End(i);
        if (options_.verbose && !step.result.attempts.empty())
            SayRequest({static_cast<int>(i + 1), static_cast<int>(count_)},
                       step.result.attempts.back());
    }

    // With --no-clobber a link whose file is there already is not fetched; a file named after
    // its torrent is known only once it has come, and its place is then only taken when free.
    std::optional<Ending> Proceed(size_t i, const LinkPlan& plan, LinkStep& step) override {
        const bool lookFirst = options_.noClobber && !Naming();
        std::optional<TorrentFacts> facts;
        const std::optional<Ending> ended = gStop ? Ending::NotStarted
                                            : lookFirst
                                                ? AtItsPlace(plan.destination, *plan.hashes, &facts)
                                                : std::nullopt;
        if (options_.noClobber)
            step.placing = Placing::KeepExisting;  // checked and placed in one step
        if (ended == Ending::Kept) {
            std::lock_guard<std::mutex> guard(lock_);
            kept_[i] = std::move(facts);
        }
        return ended;
    }

    std::optional<LinkResult> Fetch(size_t i, const LinkPlan& plan,
                                    std::string& destination) override {
        progress_.Begin(i);
        const LinkPosition position{static_cast<int>(i + 1), static_cast<int>(count_)};
        if (options_.verbose && IsPrivateLink(plan, chain_)) {
            const std::string line = Say(cli_texts::kVerbosePrivate,
                                         {std::string(cli_texts::kProgram),
                                          std::to_string(i + 1) + "/" + std::to_string(count_)});
            progress_.Print([&] { std::cerr << line << "\n"; });
        }
        if (store_) {
            if (std::optional<LinkResult> kept =
                    store_->Answer(plan, destination, options_.trackers)) {
                progress_.End(i);
                return kept;
            }
        }
        LinkResult result =
            FetchLink(plan, destination, chain_, position, &gStop, &progress_.activity(i));
        if (!result.pending)  // else the network still reports its peers there (see Answered)
            progress_.End(i);
        return result;
    }

    // --verbose: a request as it ended, with the progress line out of its way.
    void SayRequest(const LinkPosition& at, const Attempt& a) {
        const std::string url = a.url.empty() ? a.url : WithoutCredentials(a.url);
        const std::string line = EscapeControls(VerboseLine(at, a, url));
        progress_.Print([&] { std::cerr << line << "\n"; });
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
    std::unique_ptr<ProgramSources> program_;
    std::unique_ptr<BatchSources> ownSources_;
    BatchSources& sources_;
    const Deliver deliver_;
    const TorrentStore* store_ = nullptr;
    Printer* printer_ = nullptr;  // while the run prints its links
    const LinkSources chain_;
    std::mutex lock_;
    std::map<size_t, std::optional<TorrentFacts>> kept_;  // what kept files hold (-n)
    std::map<std::string, std::string> claimed_;          // --name torrent: names taken, by hash
};

}  // namespace velindra::cli

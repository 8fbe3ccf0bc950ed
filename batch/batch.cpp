#include "batch/batch.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>

#include "batch/texts.h"
#include "core/ahead.h"
#include "core/ending.h"
#include "core/link_steps.h"

namespace velindra {

namespace {

// What each kind of source asked answered, in one short line: "镜像都没有这个种子；BitTorrent
// 网络无法连接". Sources of a kind that all answered alike are said once.
std::string WhatEachSourceDid(const LinkResult& result) {
    std::string said;
    for (const SourceKindRow& row : kSourceKinds) {
        std::vector<FetchError> errors;
        for (const Attempt& a : result.attempts) {
            if (a.kind == row.kind && a.index > 0 &&
                std::find(errors.begin(), errors.end(), a.result.error) == errors.end())
                errors.push_back(a.result.error);
        }
        if (errors.empty())
            continue;
        std::string part;
        if (row.noneHadIt && errors == std::vector{FetchError::HttpStatus})
            part = row.noneHadIt;
        for (size_t k = 0; part.empty() && k < errors.size(); ++k)
            part += (k ? "、" : std::string(row.all)) + Words(errors[k]).zh;
        said += (said.empty() ? "" : texts::kSemicolon) + part;
    }
    return said.empty() ? Words(result.attempts.back().result.error).zh : said;
}

// What the windows say of each ending, in the enum's order: the failure box's first line
// (none: no box) and its reason (none: said from what the sources answered, or the place).
struct BoxRow {
    Ending ending;
    const char* title;
    const char* reason;
};
constexpr BoxRow kBoxes[] = {
    {Ending::Saved, nullptr, nullptr},
    {Ending::Kept, nullptr, nullptr},       // not met: a file there is replaced
    {Ending::LeftAlone, nullptr, nullptr},  // ... and not left alone
    {Ending::NoHashInLink, texts::kParseFailed, texts::kReasonNoHashInLink},
    {Ending::InvalidHash, texts::kFetchFailed, nullptr},
    {Ending::InvalidV2Hash, texts::kFetchFailed, nullptr},
    {Ending::FolderNotAbsolute, texts::kFetchFailed, texts::kFolderNotAbsolute},
    {Ending::NotStarted, nullptr, nullptr},
    {Ending::Skipped, nullptr, nullptr},
    {Ending::NoSource, texts::kFetchFailed, texts::kReasonNoSource},
    {Ending::CannotWrite, texts::kFetchFailed, nullptr},
    {Ending::Interrupted, nullptr, nullptr},
    {Ending::Failed, texts::kFetchFailed, nullptr},
    {Ending::Planned, nullptr, nullptr},
};
static_assert(OneRowEach(kBoxes), "every ending has the windows' words");

// The folder a file was to go in, said after "无法写入 ", and why it could not take it.
std::string CannotWriteReason(const Failure& failure, const std::string& destination,
                              PathRules rules) {
    const std::string folder =
        destination.substr(0, destination.find_last_of(rules.windows ? "\\/" : "/"));
    const std::string why = texts::kReasonCannotWrite + folder;
    switch (failure.problem) {
        case SystemProblem::NotFound:
        case SystemProblem::NotAFolder:
            return why + texts::kColon + texts::kReasonFolderMissing;
        case SystemProblem::NoPermission:
        case SystemProblem::ReadOnly:
            return why + texts::kColon + texts::kReasonNoPermission;
        case SystemProblem::IsAFolder:
            return why + texts::kColon + texts::kReasonFolderInTheWay;
        case SystemProblem::DiskFull:
        case SystemProblem::NameTaken:  // in the system's words
            return why + texts::kColon + SystemWords(failure.problem)->zh;
        default:
            return why;
    }
}

// The save folder made when it is missing (as velindra-cli -o does; a folder that cannot be
// made fails each link with the reason), and how names are compared in it.
PathRules PrepareFolder(const Services& services, const std::string& folder) {
    PathRules rules = services.pathRules;
    if (!IsAbsoluteFolder(folder, rules))
        return rules;
    if (services.makeFolder)
        services.makeFolder(folder);
    if (services.folderIgnoresCase)
        rules.ignoresCase = services.folderIgnoresCase(folder);
    return rules;
}

// One batch: its links planned, fetched ahead, and taken to their ends in order.
class BatchRun : public StepHooks {
  public:
    BatchRun(std::vector<LinkPlan> plans, RunOptions& options, const Services& services)
        : options_(options),
          services_(services),
          plans_(std::move(plans)),
          count_(plans_.size()),
          cancel_(std::make_unique<std::atomic<bool>[]>(count_)),
          activities_(std::make_unique<Activity[]>(count_)),
          sources_{services.downloader, services.mirrors, services.askNetwork} {
        const bool folderUsable =
            options.basePath.empty() || IsAbsoluteFolder(options.basePath, services.pathRules);
        saveAs_ = options.basePath.empty();
        // Links that go through the Save-as dialog are fetched ahead only where they can wait.
        ahead_ = services.aheadWorkers > 0 && folderUsable &&
                 (!saveAs_ || !services.stagingFolder.empty());
        // Without a place to wait in, a link's file is still fetched off the calling thread.
        offThread_ = services.aheadWorkers > 0 && !ahead_;
        chosen_.resize(count_);
        run_ = std::make_unique<AheadRun>(GroupByDestination(plans_),
                                          ahead_ ? services.aheadWorkers : 0, services.aheadWindow,
                                          [this](size_t i) { return Work(i); });
    }

    ~BatchRun() {
        // Whatever is still on its way ends, and what was fetched ahead and not reached is
        // dropped with its temporary file.
        for (size_t i = 0; i < count_; ++i)
            cancel_[i] = true;
        run_.reset();
    }

    void Run() {
        for (size_t i = 0; i < count_; ++i) {
            if (Stopped()) {
                Stop();
                return;
            }
            ProcessLink(i);
        }
    }

  private:
    bool Stopped() const { return services_.stop && *services_.stop; }

    void Stop() {
        run_->Stop();
        for (size_t i = 0; i < count_; ++i)
            cancel_[i] = true;
    }

    LinkPosition Position(size_t i) const {
        return {static_cast<int>(i + 1), static_cast<int>(count_)};
    }

    // A link's fetch: ahead of its turn into the folder (or the staging folder), or at its
    // turn into the place chosen for it.
    LinkResult Work(size_t i) {
        const LinkPlan& plan = plans_[i];
        if (!plan.fetchable() || cancel_[i])
            return FailedLink(FetchError::Cancelled, "not fetched");
        std::string destination = plan.destination;
        if (saveAs_)
            destination = ahead_ ? JoinDestination(services_.stagingFolder, plan.fileName,
                                                   services_.pathRules)
                                 : chosen_[i];
        // The network's answer, when it is asked, is taken once it has come (AheadRun).
        return FetchLink(plans_[i], destination, sources_, Position(i), &cancel_[i],
                         &activities_[i]);
    }

    // A link's fetch to its end, on the thread that asks.
    LinkResult FetchAt(size_t i, const std::string& destination) {
        LinkResult result =
            FetchLink(plans_[i], destination, sources_, Position(i), &cancel_[i], &activities_[i]);
        TakeAnswer(result);
        return result;
    }

    // Runs `job` on a thread of its own while the batch waits for it.
    template <typename Job>
    auto OffThread(Job job, size_t i, const std::string& destination) {
        decltype(job()) result;
        std::atomic<bool> done{false};
        std::thread worker;
        try {
            worker = std::thread([&] {
                result = job();
                done = true;
            });
        } catch (const std::system_error&) {
            return job();  // no thread to be had: the batch waits for it here
        }
        services_.waiter.WaitFor([&] { return done.load(); }, Waiting(i, destination));
        if (!done)
            cancel_[i] = true;  // stopped meanwhile
        worker.join();
        return result;
    }

    WaitingFor Waiting(size_t i, const std::string& destination) const {
        const size_t slash = destination.find_last_of(services_.pathRules.windows ? "\\/" : "/");
        return {Position(i),
                slash == std::string::npos ? destination : destination.substr(slash + 1),
                &activities_[i]};
    }

    // Reports a link's failure when failures are reported; more links to come may be stopped.
    void ReportFailure(const std::string& text, size_t i) {
        if (!options_.showErr)
            return;
        if (i + 1 < count_ && services_.stop) {
            if (services_.messages.ShowFailure(text))
                *services_.stop = true;
            return;
        }
        services_.messages.ShowMessage(text);
    }

    // The Save-as dialog for link i; false when the user cancelled it, which skips the link
    // without a word.
    bool AskWhere(size_t i, std::string& destination) {
        destination = plans_[i].fileName;
        const SaveDialogRequest request{texts::kSaveTitle, texts::kSaveFilter,
                                        texts::kSaveFilterIndex, "", texts::kSaveFlags};
        if (!services_.saveDialog.ShowSaveDialog(destination, request)) {
            cancel_[i] = true;
            return false;
        }
        chosen_[i] = destination;
        return true;
    }

    // Link i's fetch at its turn, with the place its file goes (the Save-as dialog asked when
    // there is a file to save, or first where files cannot wait); nothing when the link ends
    // here without a word (a cancelled dialog, a stopped batch).
    std::optional<LinkResult> TakeFile(size_t i, std::string& destination) {
        if (saveAs_ && ahead_) {
            // Fetched ahead into the staging folder: the Save-as dialog comes only when there is
            // a file to save, and a link no source has goes straight to its failure.
            destination = plans_[i].fileName;
            services_.waiter.WaitFor([&] { return run_->Ready(i); }, Waiting(i, destination));
            if (Stopped())
                return std::nullopt;
            LinkResult result = run_->Take(i);
            const bool stagingFailed =
                !result.ok() && result.attempts.back().result.error == FetchError::CannotWrite;
            if ((result.ok() || stagingFailed) && !AskWhere(i, destination))
                return std::nullopt;  // the file fetched ahead is dropped with the result
            if (stagingFailed) {
                // The staging folder could not take the file: it is fetched again for the
                // place the user chose.
                result = OffThread([&] { return FetchAt(i, destination); }, i, destination);
            }
            return result;
        }
        if (saveAs_ && !AskWhere(i, destination)) {
            run_->Drop(i);
            return std::nullopt;
        }
        if (offThread_) {
            run_->Drop(i);
            return OffThread([&] { return FetchAt(i, destination); }, i, destination);
        }
        services_.waiter.WaitFor([&] { return run_->Ready(i); }, Waiting(i, destination));
        if (Stopped())
            return std::nullopt;
        return run_->Take(i);
    }

    // A usable link goes on when its file has a place: a folder relative to wherever the
    // program happened to start would be a guess.
    std::optional<Ending> Proceed(size_t, const LinkPlan&, LinkStep&) override {
        if (saveAs_ || IsAbsoluteFolder(options_.basePath, services_.pathRules))
            return std::nullopt;
        return Ending::FolderNotAbsolute;
    }

    std::optional<LinkResult> Fetch(size_t i, const LinkPlan&, std::string& destination) override {
        return TakeFile(i, destination);
    }

    void WaitForCommit(size_t i, const std::function<bool()>& ended,
                       const std::string& destination) override {
        services_.waiter.WaitFor(ended, Waiting(i, destination));
        if (!ended())
            cancel_[i] = true;  // stopped while the disk was busy: the file goes
    }

    // One link at its turn: its refusal, its place, its file (put in its place now), its finish.
    void ProcessLink(size_t i) {
        LinkStep step = BeginLink(i, plans_[i], *this, services_.committer, &cancel_[i]);
        SettleLink(i, step, *this);
        if (!step.asked)
            run_->Drop(i);  // nothing is fetched for such a link
        if (step.saved()) {
            CarryOutFinishAction(
                step.destination, options_.selection,
                [this] { services_.prompt.ShowCompletionPrompt(options_); }, services_.launcher);
            return;
        }
        const BoxRow& box = kBoxes[static_cast<size_t>(step.ending)];
        if (!box.title || (step.asked && !step.placeFailed && Stopped()))
            return;  // a stopped batch says nothing more
        std::string text = std::string(box.title) + "\n";
        if (plans_[i].parsed)
            text += plans_[i].fileName + "\n";
        if (step.ending == Ending::FolderNotAbsolute)
            text += box.reason + options_.basePath;
        else if (box.reason)
            text += box.reason;
        else if (step.ending == Ending::CannotWrite)
            text += CannotWriteReason(Classify(step.result), step.destination, services_.pathRules);
        else if (step.asked)
            text += WhatEachSourceDid(step.result);
        else
            text += Words(Refusal(plans_[i]).last).zh;
        ReportFailure(text, i);
    }

    RunOptions& options_;
    const Services& services_;
    std::vector<LinkPlan> plans_;
    size_t count_;
    std::unique_ptr<std::atomic<bool>[]> cancel_;
    std::unique_ptr<Activity[]> activities_;
    LinkSources sources_;
    bool saveAs_ = false;
    bool ahead_ = false;               // links are fetched ahead of their turn
    bool offThread_ = false;           // ... or at their turn, but not on the calling thread
    std::vector<std::string> chosen_;  // the place the Save-as dialog gave each link
    std::unique_ptr<AheadRun> run_;
};

// The batch with each torrent once: a link whose info-hash an earlier link of the batch has
// is fetched, saved and asked about (in a Save-as) with that one only.
std::vector<LinkPlan> WithoutRepeats(std::vector<LinkPlan> plans) {
    std::set<std::string> seen;
    std::vector<LinkPlan> once;
    once.reserve(plans.size());
    for (LinkPlan& plan : plans) {
        if (plan.hashes &&
            !seen.insert(plan.hashes->v1 ? plan.hashes->V1Text() : plan.hashes->V2Text()).second)
            continue;
        plan.index = once.size();
        once.push_back(std::move(plan));
    }
    return once;
}

}  // namespace

void FetchBatch(std::string_view text, RunOptions& options, const Services& services) {
    std::vector<std::string> links = SplitLinks(text);
    if (links.empty()) {
        services.messages.ShowMessage(texts::kNoLinks);
        return;
    }
    options.Load(services.settings);
    const PathRules rules = PrepareFolder(services, options.basePath);
    // A long input is planned on a thread of its own, so that the windows show the batch's
    // progress and take 取消 meanwhile, however many links it holds.
    std::vector<LinkPlan> plans;
    std::atomic<bool> planned{false};
    const auto plan = [&] {
        plans =
            WithoutRepeats(PlanBatch(links, options.usedn, options.basePath, rules, services.stop));
        planned = true;
    };
    try {
        std::thread planner(plan);
        services.waiter.WaitFor([&] { return planned.load(); },
                                {LinkPosition{0, static_cast<int>(links.size())}, "", nullptr});
        planner.join();
    } catch (const std::system_error&) {
        if (!planned)
            plan();  // no thread to be had: planned here
    }
    if (services.stop && *services.stop)
        return;
    BatchRun(std::move(plans), options, services).Run();
}

}  // namespace velindra

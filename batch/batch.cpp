#include "batch/batch.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>

#include "batch/texts.h"
#include "core/ending.h"
#include "core/run_loop.h"

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
class BatchRun : public RunHooks {
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
        hasPlace_ = saveAs_ || IsAbsoluteFolder(options.basePath, services.pathRules);
        // Links that go through the Save-as dialog are fetched ahead only where they can wait.
        ahead_ = services.aheadWorkers > 0 && folderUsable &&
                 (!saveAs_ || !services.stagingFolder.empty());
        // Without a place to wait in, a link's file is still fetched off the calling thread.
        offThread_ = services.aheadWorkers > 0 && !ahead_;
    }

    void Run() {
        // A link's file is put in its place only at its turn; without workers each link is
        // begun at its turn, on this thread.
        RunPolicy policy;
        policy.workers = ahead_ ? services_.aheadWorkers : 0;
        policy.window = services_.aheadWindow;
        policy.holdFiles = true;
        RunLoop(count_, GroupByDestination(plans_), policy, *this, services_.committer).Run();
    }

  private:
    LinkPlan PlanOf(size_t i) const override { return plans_[i]; }
    const std::atomic<bool>* CancelOf(size_t i) override { return &cancel_[i]; }

    bool Stopped() override { return services_.stop && *services_.stop; }

    // Whatever is still on its way ends, and what was fetched ahead and not reached is dropped
    // with its temporary file.
    void Leaving() override {
        for (size_t i = 0; i < count_; ++i)
            cancel_[i] = true;
    }

    LinkPosition Position(size_t i) const {
        return {static_cast<int>(i + 1), static_cast<int>(count_)};
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
        return true;
    }

    // A usable link goes on when its file has a place: a folder relative to wherever the
    // program happened to start would be a guess. On a worker: it reads what the batch decided
    // as it started, not the options the windows may change meanwhile.
    std::optional<Ending> Proceed(size_t i, const LinkPlan&, LinkStep&) override {
        if (cancel_[i])
            return Ending::NotStarted;
        return hasPlace_ ? std::nullopt : std::optional(Ending::FolderNotAbsolute);
    }

    // A link's fetch: ahead of its turn into the folder (or the staging folder, until the
    // Save-as dialog says where it goes), or at its turn into the place chosen for it (the
    // dialog asked first where files cannot wait). The network's answer, when it is asked, is
    // taken once it has come.
    std::optional<LinkResult> Fetch(size_t i, const LinkPlan& plan,
                                    std::string& destination) override {
        if (ahead_) {
            if (saveAs_)
                destination =
                    JoinDestination(services_.stagingFolder, plan.fileName, services_.pathRules);
        } else if (saveAs_ && !AskWhere(i, destination)) {
            return std::nullopt;
        }
        if (offThread_)
            return OffThread([&] { return FetchAt(i, destination); }, i, destination);
        return FetchLink(plan, destination, sources_, Position(i), &cancel_[i], &activities_[i]);
    }

    bool WaitForTurn(size_t i, const std::function<bool()>& ready) override {
        services_.waiter.WaitFor(ready,
                                 Waiting(i, saveAs_ ? plans_[i].fileName : plans_[i].destination));
        return !Stopped();
    }

    // Fetched ahead into the staging folder: the Save-as dialog comes only when there is a file
    // to save, and a link no source has goes straight to its failure.
    void AtTurn(size_t i, LinkStep& step) override {
        if (!saveAs_ || !ahead_ || !step.asked)
            return;
        LinkResult& result = step.result;
        const bool stagingFailed = !result.ok() && !result.attempts.empty() &&
                                   result.attempts.back().result.error == FetchError::CannotWrite;
        step.destination = plans_[i].fileName;
        if ((result.ok() || stagingFailed) && !AskWhere(i, step.destination)) {
            step = LinkStep{};  // the file fetched ahead goes with it
            step.ending = Ending::Skipped;
            return;
        }
        if (stagingFailed) {
            // The staging folder could not take the file: it is fetched again for the place the
            // user chose.
            result = OffThread([&] { return FetchAt(i, step.destination); }, i, step.destination);
        }
    }

    void WaitForCommit(size_t i, const std::function<bool()>& ended,
                       const std::string& destination) override {
        services_.waiter.WaitFor(ended, Waiting(i, destination));
        if (!ended())
            cancel_[i] = true;  // stopped while the disk was busy: the file goes
    }

    // One link at its end: its failure box, or its finish.
    void Ended(size_t i, LinkStep step, size_t) override {
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
    bool hasPlace_ = false;   // the Save-as dialog, or a full folder path
    bool ahead_ = false;      // links are fetched ahead of their turn
    bool offThread_ = false;  // ... or at their turn, but not on the calling thread
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

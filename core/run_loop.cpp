#include "core/run_loop.h"

#include <map>

#include "core/ahead.h"

namespace velindra {

std::vector<uint32_t> GroupByDestination(const std::vector<LinkPlan>& plans) {
    std::vector<uint32_t> leaders(plans.size());
    std::map<std::string, uint32_t> first;
    for (size_t i = 0; i < plans.size(); ++i) {
        leaders[i] = static_cast<uint32_t>(i);
        if (!plans[i].destination.empty())
            leaders[i] = first.try_emplace(plans[i].destination, leaders[i]).first->second;
    }
    return leaders;
}

void RunLoop::Run() {
    AheadRun run(
        std::move(leaders_), policy_.workers, policy_.window, [this](size_t i) { return Begin(i); },
        [this](size_t i, LinkResult) { return Resume(i); });
    // However the run ends (stopped, or by an exception at a link's turn), what is still on its
    // way is told to end before the workers are waited for.
    struct Leaving {
        RunHooks& hooks;
        AheadRun& run;
        ~Leaving() {
            hooks.Leaving();
            run.Stop();
        }
    } leaving{hooks_, run};
    for (size_t k = 0; k < count_ && !hooks_.Stopped(); ++k) {
        LinkResult failed;
        size_t i = k;
        if (policy_.asTheyEnd)
            i = run.TakeAny(failed);
        else if (hooks_.WaitForTurn(i, [&] { return run.Ready(i); }))
            failed = run.Take(i);
        else
            return;
        Turn(i, std::move(failed), run);
    }
}

LinkResult RunLoop::Begin(size_t i) {
    const LinkPlan plan = hooks_.PlanOf(i);
    const std::atomic<bool>* cancel = hooks_.CancelOf(i);
    LinkStep step;
    step.destination = plan.destination;
    step.ending = Refusal(plan).ending;
    if (step.ending != Ending::Saved) {
        // Once the run is stopped, only a link without any hash is still called refused.
        if (plan.parsed && cancel && *cancel)
            step.ending = Ending::NotStarted;
    } else if (const std::optional<Ending> ended = hooks_.Proceed(i, plan, step)) {
        step.ending = *ended;
    } else if (std::optional<LinkResult> fetched = hooks_.Fetch(i, plan, step.destination)) {
        step.asked = true;
        step.result = std::move(*fetched);
        if (!step.result.pending)
            HandOver(i, step, false);
    } else {
        step.ending = Ending::Skipped;
    }
    LinkResult waiting;
    waiting.pending = step.result.pending;  // the run resumes the link once it has come
    Keep(i, std::move(step));
    return waiting;
}

LinkResult RunLoop::Resume(size_t i) {
    LinkStep step = Take(i);
    HandOver(i, step, false);
    hooks_.Answered(i, step);
    Keep(i, std::move(step));
    return {};
}

void RunLoop::HandOver(size_t i, LinkStep& step, bool turn) {
    TakeAnswer(step.result);
    if (!step.result.ok() || step.commit || (policy_.holdFiles && !turn))
        return;
    if (std::shared_ptr<StagedFile> staged = std::move(step.result.attempts.back().result.staged))
        step.commit = committer_.Submit(std::move(staged), step.destination, hooks_.CancelOf(i),
                                        step.placing);
}

void RunLoop::Turn(size_t i, LinkResult failed, AheadRun& run) {
    LinkStep step = Take(i);
    if (!failed.attempts.empty()) {
        step = LinkStep{};  // the work itself failed
        step.asked = true;
        step.result = std::move(failed);
    }
    hooks_.AtTurn(i, step);
    if (step.asked)
        HandOver(i, step, true);
    // The file in its place: one that did not make it fails the link with the reason, as its
    // last source's answer.
    if (const std::shared_ptr<PendingCommit> commit = std::move(step.commit)) {
        hooks_.WaitForCommit(
            i, [&] { return commit->Ended(); }, step.destination);
        FetchResult saved = commit->Wait();
        if (!saved.ok()) {
            step.placeFailed = true;
            step.result.attempts.back().result = std::move(saved);
        }
    }
    if (step.asked)
        step.ending = Classify(step.result).ending;
    hooks_.Ended(i, std::move(step), run.finished());
}

void RunLoop::Keep(size_t i, LinkStep step) {
    std::lock_guard<std::mutex> guard(lock_);
    steps_[i] = std::move(step);
}

LinkStep RunLoop::Take(size_t i) {
    std::lock_guard<std::mutex> guard(lock_);
    LinkStep step = std::move(steps_[i]);
    steps_.erase(i);
    return step;
}

}  // namespace velindra

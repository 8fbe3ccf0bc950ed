#include "core/link_steps.h"

namespace velindra {

LinkStep BeginLink(size_t i, const LinkPlan& plan, StepHooks& hooks, FileCommitter& committer,
                   const std::atomic<bool>* cancel) {
    LinkStep step;
    step.destination = plan.destination;
    step.ending = Refusal(plan).ending;
    if (step.ending != Ending::Saved)
        return step;
    if (const std::optional<Ending> ended = hooks.Proceed(i, plan, step)) {
        step.ending = *ended;
        return step;
    }
    std::optional<LinkResult> fetched = hooks.Fetch(i, plan, step.destination);
    if (!fetched) {
        step.ending = Ending::Skipped;
        return step;
    }
    step.asked = true;
    step.result = std::move(*fetched);
    if (!step.result.pending)
        ContinueLink(step, committer, cancel);
    return step;
}

void ContinueLink(LinkStep& step, FileCommitter& committer, const std::atomic<bool>* cancel) {
    TakeAnswer(step.result);
    if (step.result.ok())
        step.commit = committer.Submit(std::move(step.result.attempts.back().result.staged),
                                       step.destination, cancel, step.placing);
}

void SettleLink(size_t i, LinkStep& step, StepHooks& hooks) {
    if (const std::shared_ptr<PendingCommit> commit = std::move(step.commit)) {
        hooks.WaitForCommit(
            i, [&] { return commit->Ended(); }, step.destination);
        FetchResult saved = commit->Wait();
        if (!saved.ok()) {
            step.placeFailed = true;
            step.result.attempts.back().result = std::move(saved);
        }
    }
    if (step.asked)
        step.ending = Classify(step.result).ending;
}

}  // namespace velindra

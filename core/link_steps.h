// The steps of one link, the same for the windows' batch and the command line's run, in two
// halves: where its file is fetched (refused, ended by the front end, or fetched and its file
// handed to the committer) and at its turn (the file in its place, or why not). What differs
// between the front ends (whether a link goes on, where its file goes, how they wait, what
// they say) comes through StepHooks.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/ending.h"
#include "core/interfaces.h"
#include "core/link_pipeline.h"

namespace velindra {

struct LinkStep {
    // How it ended: set where it ends before its fetch (refused, or by the front end's
    // Proceed), and for a link whose sources were asked once it is settled.
    Ending ending = Ending::Failed;
    bool asked = false;  // its sources were asked; `result` says what they answered
    LinkResult result;
    std::string destination;  // where its file goes
    // Whether its file may replace one that is there (the front end's Proceed says).
    Placing placing = Placing::Replace;
    // Its file on its way to `destination`, until the link is settled.
    std::shared_ptr<PendingCommit> commit;
    // The file came but could not be put in its place: the last attempt says why.
    bool placeFailed = false;
    bool saved() const { return ending == Ending::Saved; }
};

class StepHooks {
  public:
    virtual ~StepHooks() = default;
    // How link i, a usable link, ends before its fetch; nothing when it goes on (the front end
    // may set how its file is placed).
    virtual std::optional<Ending> Proceed(size_t, const LinkPlan&, LinkStep&) {
        return std::nullopt;
    }
    // Link i's fetch, and the place its file goes (the plan's, unless the front end chooses
    // another); nothing ends the link without a word.
    virtual std::optional<LinkResult> Fetch(size_t i, const LinkPlan& plan,
                                            std::string& destination) = 0;
    // Waits until `ended` holds, or the front end stops waiting (its file is then cancelled
    // through the flag the committer was given).
    virtual void WaitForCommit(size_t, const std::function<bool()>&, const std::string&) {}
};

// The first half: link i refused, ended by the front end, or fetched, its file (when one came)
// handed to the committer; `cancel` is the link's, and ends its commit too. When the fetch left
// its last answer pending (step.result.pending), ContinueLink takes it from there.
LinkStep BeginLink(size_t i, const LinkPlan& plan, StepHooks& hooks, FileCommitter& committer,
                   const std::atomic<bool>* cancel);

// The rest of the first half for a link whose last answer was left pending (BeginLink leaves
// it so): the answer taken, and its file handed to the committer.
void ContinueLink(LinkStep& step, FileCommitter& committer, const std::atomic<bool>* cancel);

// The second half, at the link's turn: waits until its file is in its place. A file that did
// not make it fails the link with the reason, as its last source's answer. A link whose sources
// were asked ends as their answers (and its file's place) say.
void SettleLink(size_t i, LinkStep& step, StepHooks& hooks);

}  // namespace velindra

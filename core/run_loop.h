// One run over planned links, the same for the windows' batch and the command line: each link
// begun on a worker ahead of its turn (refused, ended by the front end, or fetched, its file
// handed to the committer or held until its turn), then taken to its end at its turn, in
// input order or as the links end. What differs between the front ends comes through a small
// policy (how many links at once, where a file waits before its turn, whose turn comes first)
// and RunHooks (whether a link goes on, its fetch, what happens at its turn and at its end).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/ending.h"
#include "core/interfaces.h"
#include "core/link_pipeline.h"

namespace velindra {

class AheadRun;

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

struct RunPolicy {
    // Links begun at once ahead of their turn; with none, each link is begun at its turn on
    // the thread that runs.
    int workers = 0;
    // Links in hand (begun, not waiting on the network, not yet at their turn) at most.
    size_t window = 64;
    // A fetched file waits, staged, until its link's turn before it goes to the committer
    // (else the worker hands it over at once, and it is in its place by the link's turn).
    bool holdFiles = false;
    // A link's turn comes as soon as it has ended, not in input order.
    bool asTheyEnd = false;
};

class RunHooks {
  public:
    virtual ~RunHooks() = default;
    // Link i's plan, its file going where this run puts it.
    virtual LinkPlan PlanOf(size_t i) const = 0;
    // The flag that ends link i's transfers and its file's commit.
    virtual const std::atomic<bool>* CancelOf(size_t i) = 0;
    // How link i, a usable link, ends before its fetch; nothing when it goes on (the front end
    // may set how its file is placed).
    virtual std::optional<Ending> Proceed(size_t, const LinkPlan&, LinkStep&) {
        return std::nullopt;
    }
    // Link i's fetch, and the place its file goes (the plan's, unless the front end chooses
    // another); nothing ends the link without a word (Skipped). Its answer may be left pending.
    virtual std::optional<LinkResult> Fetch(size_t i, const LinkPlan& plan,
                                            std::string& destination) = 0;
    // On a worker, once link i's pending answer has been taken.
    virtual void Answered(size_t, const LinkStep&) {}
    // Whether the run stops before the next link's turn.
    virtual bool Stopped() { return false; }
    // Waits until link i is ready for its turn; false when the run was stopped meanwhile.
    virtual bool WaitForTurn(size_t, const std::function<bool()>&) { return true; }
    // At link i's turn, before a held file goes to the committer: the front end may choose its
    // place (step.destination), fetch it again (step.result), or end it.
    virtual void AtTurn(size_t, LinkStep&) {}
    // Waits until `ended` holds, or the front end stops waiting (its file is then cancelled
    // through the link's flag).
    virtual void WaitForCommit(size_t, const std::function<bool()>&, const std::string&) {}
    // Link i at its end, its file in its place or why not; `finished` links have ended so far.
    virtual void Ended(size_t i, LinkStep step, size_t finished) = 0;
    // The run is over, or stopped: whatever is still on its way is to end.
    virtual void Leaving() {}
};

// Every link on its own, except links that save to the same file: those are one group, in
// order, so that one worker writes it after the other; as a RunLoop's leaders. Links without a
// destination go alone.
std::vector<uint32_t> GroupByDestination(const std::vector<LinkPlan>& plans);

class RunLoop {
  public:
    // `leaders`: links that save to the same file are one group, run one after another (as
    // GroupByDestination makes them).
    RunLoop(size_t count, std::vector<uint32_t> leaders, RunPolicy policy, RunHooks& hooks,
            FileCommitter& committer)
        : count_(count),
          leaders_(std::move(leaders)),
          policy_(policy),
          hooks_(hooks),
          committer_(committer) {}

    // Every link to its end, one turn after another, until the hooks stop the run.
    void Run();

  private:
    // A worker's part: the link's first steps, its file handed over (or held).
    LinkResult Begin(size_t i);
    // A worker's part once the network has answered.
    LinkResult Resume(size_t i);
    // The file fetched handed to the committer, unless it waits for the link's turn.
    void HandOver(size_t i, LinkStep& step, bool turn);
    // Link i at its turn: `failed` is the run's result for it (a failure of the work itself).
    void Turn(size_t i, LinkResult failed, AheadRun& run);
    void Keep(size_t i, LinkStep step);
    LinkStep Take(size_t i);

    const size_t count_;
    std::vector<uint32_t> leaders_;
    const RunPolicy policy_;
    RunHooks& hooks_;
    FileCommitter& committer_;
    std::mutex lock_;
    std::map<size_t, LinkStep> steps_;  // of the links begun and not yet at their turn
};

}  // namespace velindra

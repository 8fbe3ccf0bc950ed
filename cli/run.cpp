#include "run.h"

#include <atomic>
#include <iostream>
#include <optional>

#include "ahead.h"
#include "cli_texts.h"
#include "file_reading.h"
#include "link_pipeline.h"
#include "options.h"
#include "progress.h"
#include "report.h"
#include "sources.h"
#include "terminal_text.h"

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

// The text of every input, in order; an exit status when an input cannot be read.
std::optional<int> ReadInputs(const Options& options, std::vector<std::string>& pieces) {
    for (const Options::Input& input : options.inputs) {
        std::string text;
        if (input.isLinkText) {
            text = input.value;
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
        for (std::string& piece : SplitLinks(text))
            pieces.push_back(std::move(piece));
    }
    return std::nullopt;
}

}  // namespace

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
    HandleInterrupts(OnSignal);
    std::vector<std::string> pieces;
    if (auto status = ReadInputs(options, pieces))
        return *status;
    if (pieces.empty()) {
        std::cerr << t::kNoLinks << "\n";
        return 2;
    }
    // Every link planned at once, so that no two links of the run take one file name.
    const std::vector<LinkPlan> plans = PlanBatch(pieces, options.usedn, options.output);
    // Like wget -P and aria2c -d; a folder that cannot be made fails every link below.
    MakeFolders(options.output);

    // The progress line is redrawn in place, which needs a terminal that understands escapes.
    ProgressLine progress(plans, !options.quiet && console.errorIsTerminal && console.escapes,
                          console.columns, ErrorColumns);
    RunSources sources(options);
    const LinkSources chain{sources.downloader(),
                            options.mirrors.empty() ? BuiltInMirrors() : options.mirrors,
                            sources.askNetwork(), options.allowPrivateAddresses};
    std::vector<Outcome> outcomes(plans.size());
    // A worker fetches its link and hands the file to the committer, then goes on with its
    // next; the file is on disk by the time its path is printed.
    const auto work = [&](size_t i) {
        const LinkPlan& plan = plans[i];
        if (!plan.parsed) {
            outcomes[i] = Refused(plan);
            return LinkResult{};
        }
        if (gStop) {
            outcomes[i] = NotStarted();
            return LinkResult{};
        }
        if (!plan.fetchable()) {
            outcomes[i] = Refused(plan);
            return LinkResult{};
        }
        progress.Begin(i);
        const LinkPosition position{static_cast<int>(i + 1), static_cast<int>(plans.size())};
        LinkResult result =
            FetchLink(plan, plan.destination, chain, position, &gStop, &progress.activity(i));
        progress.End(i);
        Outcome& outcome = outcomes[i];
        outcome = Fetched(plan, std::move(result));
        if (outcome.ok())
            outcome.commit = sources.committer().Submit(
                std::move(outcome.result.attempts.back().result.staged), plan.destination, &gStop);
        return LinkResult{};
    };
    Printer printer(options.quiet, options.json, progress, gStop);
    {
        AheadRun run(GroupByDestination(plans), plans.size(), options.jobs, plans.size(), work);
        for (size_t i = 0; i < plans.size(); ++i) {
            if (LinkResult failed = run.Take(i); !failed.attempts.empty())
                outcomes[i] = Fetched(plans[i], std::move(failed));  // the work itself failed
            // A path is printed only once its file is durably in place.
            SettleCommit(plans[i], outcomes[i]);
            printer.Deliver(i, plans[i], outcomes[i], run.finished());
        }
    }
    printer.Finish();
    if (gSignal != 0)
        return 128 + gSignal;  // the shell's convention: 130 for Ctrl-C, 129 and 143
    return printer.allSaved() ? 0 : 1;
}

}  // namespace velindra::cli

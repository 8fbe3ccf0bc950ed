// velindra-cli: the command-line front end. Reads text with magnet links from files or standard
// input, saves each link's .torrent file into a folder, and prints the saved paths.
#include <atomic>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli_texts.h"
#include "console.h"
#include "link_pipeline.h"
#include "options.h"
#include "process_setup.h"
#include "progress.h"
#include "report.h"
#include "sources.h"
#include "terminal_text.h"
#include "workers.h"

namespace {

using namespace velindra;
using namespace velindra::cli;
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

// Every link of every input, planned, in input order; an exit status when an input cannot
// be read.
std::optional<int> ReadPlans(const Options& options, std::vector<LinkPlan>& plans) {
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
        for (const std::string& piece : SplitLinks(text))
            plans.push_back(PlanLink(piece, options.usedn, options.output));
    }
    return std::nullopt;
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
    HandleInterrupts(OnSignal);
    std::vector<LinkPlan> plans;
    if (auto status = ReadPlans(options, plans))
        return *status;
    if (plans.empty()) {
        std::cerr << t::kNoLinks << "\n";
        return 2;
    }
    // Like wget -P and aria2c -d; a folder that cannot be made fails every link below.
    MakeFolders(options.output);

    // The progress line is redrawn in place, which needs a terminal that understands escapes.
    ProgressLine progress(plans, !options.quiet && console.errorIsTerminal && console.escapes,
                          console.columns);
    RunSources sources(options);
    WatchedDownloader watched(sources.downloader(), progress);
    const LinkSources chain{watched, options.mirrors.empty() ? BuiltInMirrors() : options.mirrors,
                            sources.askNetwork()};
    const auto work = [&](size_t i) {
        const LinkPlan& plan = plans[i];
        if (!plan.parsed)
            return Refused(plan);
        if (gStop)
            return NotStarted();
        if (!plan.fetchable())
            return Refused(plan);
        progress.Begin(i);
        const LinkPosition position{static_cast<int>(i + 1), static_cast<int>(plans.size())};
        Outcome outcome = Fetched(plan, FetchLink(plan, plan.destination, chain, position, &gStop));
        progress.End(i);
        return outcome;
    };
    Printer printer(options.quiet, options.json, progress, gStop);
    RunInOrder(GroupByDestination(plans), plans.size(), options.jobs, work,
               [&](size_t i, Outcome& o, size_t finished) {
                   // A path is printed only once its file is durably in place.
                   SettleCommit(plans[i], o);
                   printer.Deliver(i, plans[i], o, finished);
               });
    printer.Finish();
    if (gSignal != 0)
        return 128 + gSignal;  // the shell's convention: 130 for Ctrl-C, 129 and 143
    return printer.allSaved() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    velindra::EnsureStandardDescriptors();  // before anything opens a file or a socket
    try {
        const velindra::Console console = velindra::SetUpConsole();
        velindra::SetLanguage(velindra::UserLanguage());
        return Run(velindra::Utf8Arguments(argc, argv), console);
    } catch (const std::exception& e) {
        std::cerr << t::kProgram << ": " << velindra::EscapeControls(e.what()) << "\n";
    } catch (...) {
        std::cerr << t::kProgram << ": " << t::kInternalError << "\n";
    }
    return 2;
}

#include "cli/run.h"

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
#include <thread>

#include "cli/cli_texts.h"
#include "cli/link_run.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "cli/serve.h"
#include "cli/watch.h"
#include "core/link_pipeline.h"
#include "core/terminal_text.h"
#include "core/torrent.h"
#include "core/utf8.h"
#include "platform/atomic_file.h"
#include "platform/committer.h"
#include "platform/console.h"
#include "platform/curl_downloader.h"
#include "platform/digests.h"
#include "platform/file_reading.h"
#include "platform/folder_watch.h"
#include "platform/host_paths.h"
#include "platform/sources.h"
#include "platform/utf16.h"

namespace velindra::cli {

namespace {

namespace t = cli_texts;

constexpr size_t kMaxInputBytes = size_t{256} << 20;

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

// --watch and --serve, alone or together: checked as a run's options are, then one set of
// sources (one network session) for both until a signal stops them.
int StartService(Options& options, const Console& console) {
    const auto refuse = [](const std::string& why) {
        std::cerr << t::kProgram << ": " << why << "\n";
        return 2;
    };
    if (!options.inputs.empty() || options.outputDocument || options.dryRun)
        return refuse(Say(t::kWatchWithInput));
    std::string host;
    int port = 0;
    if (options.serve) {
        if (std::optional<std::string> why = CheckServeOptions(options, host, port))
            return refuse(*why);
    }
    if (!options.watch.empty()) {
        if (std::optional<std::string> why = CheckWatchedFolder(options))
            return refuse(*why);
        if (options.outputGiven) {
            if (auto status = CheckOutput(options.output))
                return *status;
        }
    }
    CatchInterrupts();
    gWake = &FolderWatch::Wake;
    ProgramSources program(options.sources);
    BatchSources sources(program.web(), program.Network());
    int status = 0;
    if (options.serve && options.watch.empty()) {
        status = Serve(options, console, sources, host, port);
    } else if (options.serve) {
        Options watching = options;
        std::thread server([&] {
            if (Serve(options, console, sources, host, port) != 0) {
                gStop = true;
                FolderWatch::Wake();
            }
        });
        status = Watch(watching, console, sources);
        gStop = true;
        FolderWatch::Wake();
        server.join();
    } else {
        status = Watch(options, console, sources);
    }
    return gSignal != 0 ? 128 + gSignal : status;
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
    if (!options.watch.empty() || options.serve)
        return StartService(options, console);
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
    CatchInterrupts();
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

// velindra-cli's command line: the options, their defaults, the parser and --help, all made
// from one table (options.cpp).
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "core/link_pipeline.h"
#include "core/run_options.h"
#include "core/watch_state.h"
#include "platform/sources.h"

namespace velindra::cli {

inline constexpr int kDefaultJobs = 4;
inline constexpr int kMaxJobs = 32;
inline constexpr int kMaxRetries = 100;

struct Options {
    std::string output = ".";
    RunOptions settings = RunOptions::Defaults();  // those a stored setting's option sets
    int jobs = kDefaultJobs;
    std::vector<std::string> mirrors;
    SourceOptions sources;  // --timeout, --cacert, the network's options and the addresses
    bool quiet = false;
    bool showErrors = false;  // -S: failure lines even with -q
    bool verbose = false;     // every request on standard error as it ends
    bool dryRun = false;      // each link's plan, nothing asked
    int retries = 0;          // a transient failure is tried again up to this many times
    // --private, --public: links asked as a private tracker's, or as public ones, whatever
    // their trackers say.
    LinkSources::Privacy privacy = LinkSources::Privacy::AsTheLinkSays;
    bool noClobber = false;  // a link whose file is there already, with its torrent, is kept
    bool json = false;       // one JSON object per link on standard output instead of the paths
    bool unordered = false;  // each link said as it ends, not in input order
    bool nameAfterTorrent = false;  // --name torrent: files named after the torrent's own name
    // -O: the one link's file, or "-" for standard output; none saves into `output`.
    std::optional<std::string> outputDocument;
    std::vector<std::string> trackers;  // --tracker: added to every saved file
    bool outputGiven = false;           // -o was given (the watch saves into its folder else)
    std::string watch;                  // --watch: the folder watched; empty for a run
    std::optional<std::string> serve;   // --serve: [ADDRESS:]PORT
    std::string token;                  // --token: what every request must carry
    WatchPatience patience;             // --watch-longest-wait, --watch-give-up
    // Files ("-" is standard input) and link texts, in the order given.
    struct Input {
        bool isLinkText;
        std::string value;
    };
    std::vector<Input> inputs;
};

// Parses the command line into options; returns an exit status when the program should stop
// at once (after --help or --version on `out`, or a usage error on `err`).
std::optional<int> ParseArguments(const std::vector<std::string>& argv, Options& options,
                                  std::ostream& out, std::ostream& err);

// The complete --help text.
std::string UsageText();

// The one-line usage hint after an error, or when there is nothing to read.
void PrintUsageHint(std::ostream& err);

}  // namespace velindra::cli

#include "cli/options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>

#include "cli/cli_texts.h"
#include "cli/report.h"
#include "core/links.h"
#include "core/option_table.h"
#include "core/run_options.h"
#include "core/terminal_text.h"
#include "core/text_values.h"
#include "core/utf8.h"
#include "platform/addresses.h"
#include "platform/console.h"
#include "platform/curl_downloader.h"
#include "platform/file_reading.h"
#include "platform/sources.h"
#include "platform/utf16.h"
#include "version.h"

namespace velindra::cli {

namespace {

namespace t = cli_texts;

using OptionRow = velindra::OptionRow<Options>;
using Stop = OptionStop;

// The largest certificate file read: a whole system bundle is a few hundred kilobytes.
constexpr size_t kMaxCertificateBytes = 16u << 20;

std::string Seconds(long milliseconds) {
    return std::to_string(milliseconds / 1000);
}

bool IsHttpUrl(const std::string& url) {
    // A web address with a host after its "://".
    const size_t host = url.find("://") + 3;
    return IsWebAddress(url) && host < url.size() && url[host] != '/';
}

// A tracker's address as a client takes it: http, https, udp or wss, and a host.
bool IsTrackerUrl(const std::string& url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos || url.find_first_of(" \t\r\n") != std::string::npos)
        return false;
    std::string name = url.substr(0, scheme);
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t host = scheme + 3;
    const size_t end = std::min(url.find_first_of("/?#", host), url.size());
    return (name == "http" || name == "https" || name == "udp" || name == "wss") && end > host &&
           url[host] != ':';
}

// A positive number of seconds, at most a day.
std::optional<double> ParseSeconds(const std::string& text) {
    char* end = nullptr;
    const double s = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(s > 0) || s > 86400)
        return std::nullopt;
    return s;
}

// A duration above 0: seconds, or a number followed by s, m, h or d; at most ten years.
std::optional<int64_t> ParseDuration(const std::string& text) {
    char* end = nullptr;
    const double n = std::strtod(text.c_str(), &end);
    static const std::map<std::string, double> kUnits = {
        {"", 1}, {"s", 1}, {"m", 60}, {"h", 3600}, {"d", 86400}};
    const auto unit = kUnits.find(end ? std::string(end) : std::string());
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) ||
        unit == kUnits.end() || !(n * unit->second >= 1) || n * unit->second > 3650.0 * 86400)
        return std::nullopt;
    return static_cast<int64_t>(n * unit->second);
}

OptionRow::Apply DurationInto(int64_t WatchPatience::*field) {
    return [field](Options& o, const std::optional<std::string>& v, const std::string& as) {
        const std::optional<int64_t> seconds = v ? ParseDuration(*v) : std::nullopt;
        if (!seconds)
            return Say(t::kNeedsDuration, {as, v.value_or("")});
        o.patience.*field = *seconds;
        return std::string();
    };
}

std::string Watch(Options& o, const std::optional<std::string>& v, const std::string& as) {
    if (!v || v->empty())
        return Say(t::kNeedsFolder, {as});
    o.watch = *v;
    return std::string();
}

std::string ServeAt(Options& o, const std::optional<std::string>& v, const std::string& as) {
    if (!v || v->empty())
        return Say(t::kServeAddress, {as});
    o.serve = *v;
    return std::string();
}

std::string Token(Options& o, const std::optional<std::string>& v, const std::string& as) {
    if (!v || v->empty())
        return Say(t::kNeedsValue, {as});
    o.token = *v;
    return std::string();
}

std::optional<int> ParseJobs(const std::string& text) {
    if (const std::optional<long> n = NumberIn(text, 1, kMaxJobs))
        return static_cast<int>(*n);
    return std::nullopt;
}

bool& Field(Options& o, bool Options::*field) {
    return o.*field;
}

bool& Field(Options& o, bool SourceOptions::*field) {
    return o.sources.*field;
}

template <typename Member>
OptionRow::Apply Switch(Member field, bool value) {
    return [field, value](Options& o, auto&, auto&) {
        Field(o, field) = value;
        return std::string();
    };
}

OptionRow::Apply Privacy(LinkSources::Privacy privacy) {
    return [privacy](Options& o, auto&, auto&) {
        o.privacy = privacy;
        return std::string();
    };
}

// "" when `endpoint` is HOST:PORT (an IPv6 address in brackets) with a port from `lowest` to
// 65535 and, where `localOnly`, a host that is an address or interface of this machine;
// otherwise the usage error.
std::string CheckEndpoint(const std::string& endpoint, const std::string& as, bool localOnly) {
    const std::optional<Endpoint> split = SplitEndpoint(endpoint);
    if (!split || split->written().empty() || endpoint.find_first_of(" \t") != endpoint.npos)
        return Say(t::kNeedsAddress, {as});
    const std::string& port = split->port;
    if (port.empty() || port[0] == '-' || port[0] == '+' ||
        !NumberIn(port, localOnly ? 0 : 1, 65535))
        return Say(localOnly ? t::kListenPort : t::kNodePort, {port});
    if (localOnly && !IsLocalHost(split->host))
        return Say(t::kListenHost, {split->written()});
    return {};
}

OptionRow::Apply Address(std::string SourceOptions::*single,
                         std::vector<std::string> SourceOptions::*many) {
    return [single, many](Options& o, const std::optional<std::string>& v, const std::string& as) {
        if (!v || v->empty())
            return Say(t::kNeedsAddress, {as});
        // --listen takes several, separated by commas; --dht-node one each time.
        for (const std::string_view one :
             single ? SplitOn(*v, ',') : std::vector<std::string_view>{*v}) {
            if (const std::string error = CheckEndpoint(std::string(one), as, single);
                !error.empty())
                return error;
        }
        if (single)
            o.sources.*single = *v;
        else
            (o.sources.*many).push_back(*v);
        return std::string();
    };
}

OptionRow::Apply SecondsInto(std::optional<double> SourceOptions::*field) {
    return [field](Options& o, const std::optional<std::string>& v, const std::string& as) {
        const std::optional<double> seconds = v ? ParseSeconds(*v) : std::nullopt;
        if (!seconds)
            return Say(t::kNeedsSeconds, {as, v.value_or("")});
        o.sources.*field = seconds;
        return std::string();
    };
}

using V = const std::optional<std::string>&;
using S = const std::string&;

std::string Output(Options& o, V v, S as) {
    if (!v || v->empty())
        return Say(t::kNeedsFolder, {as});
    if (*v == "-")  // curl's and wget's standard output: a folder named "-" is never meant
        return Say(t::kOutputNotStdout, {as});
    o.output = *v;
    o.outputGiven = true;
    return std::string();
}

// wget's and aria2c's -i: a file of links, read as any other input.
std::string InputFile(Options& o, V v, S as) {
    if (!v || v->empty())
        return Say(t::kNeedsFile, {as});
    o.inputs.push_back({false, *v});
    return std::string();
}

// What --name takes beyond the stored setting's texts: files named after the torrent's own
// name, which only a run can do (the name is known once the file has come).
constexpr const char* kTorrentName = "torrent";

// The option of a stored setting: it sets for one run what the setting sets, from the same
// texts, but nothing else; --name takes "torrent" too.
OptionRow FromSetting(const Setting& setting) {
    static std::deque<std::string> values;  // what --help shows, kept for the table's life
    const bool byName = setting.key == std::string_view(keys::kFileName);
    std::vector<std::string> texts = setting.texts;
    if (byName)
        texts.push_back(kTorrentName);
    const std::string& value =
        values.emplace_back(setting.optionValue + (byName ? std::string("|") + kTorrentName : ""));
    return {"",
            setting.option,
            {value.c_str(), value.c_str()},
            byName ? Say(t::kNameHelp) + Say(t::kNameTorrentHelp) : std::string(),
            [&setting, byName, texts](Options& o, V v, S as) {
                if (v && byName)
                    o.nameAfterTorrent = *v == kTorrentName;
                if (v && (setting.Knows(*v) || (byName && *v == kTorrentName))) {
                    // Named after the hash until the torrent's own name is known.
                    setting.apply(o.settings, setting.Knows(*v) ? *v : std::string("btih"));
                    return std::string();
                }
                std::string said;
                for (size_t k = 0; k < texts.size(); ++k)
                    said += (k == 0 ? "" : k + 1 < texts.size() ? ", " : Say(t::kOr)) + texts[k];
                return Say(t::kSettingValues, {as, said});
            }};
}

// wget's -O: the one link's torrent as FILE, or on standard output.
std::string OutputDocument(Options& o, V v, S as) {
    if (!v || v->empty())
        return Say(t::kNeedsFile, {as});
    o.outputDocument = *v;
    return std::string();
}

std::string Tracker(Options& o, V v, S) {
    if (!v || !IsTrackerUrl(*v))
        return Say(t::kTrackerUrl, {v.value_or("")});
    if (std::find(o.trackers.begin(), o.trackers.end(), *v) == o.trackers.end())
        o.trackers.push_back(*v);
    return std::string();
}

std::string Jobs(Options& o, V v, S as) {
    if (!v)
        return Say(t::kNeedsNumber, {as});
    const std::optional<int> jobs = ParseJobs(*v);
    if (!jobs)
        return Say(t::kJobsRange, {std::to_string(kMaxJobs)});
    o.jobs = *jobs;
    return std::string();
}

std::string Retries(Options& o, V v, S as) {
    const std::optional<long> n = v ? NumberIn(*v, 0, kMaxRetries) : std::nullopt;
    if (!n)
        return Say(t::kRetryRange, {as, std::to_string(kMaxRetries), v.value_or("")});
    o.retries = static_cast<int>(*n);
    return std::string();
}

std::string Mirror(Options& o, V v, S) {
    if (!v || !IsHttpUrl(*v))
        return Say(t::kMirrorUrl, {v.value_or("")});
    if (v->find("{hash}") == std::string::npos)  // it would ask every link for one file
        return Say(t::kMirrorNoHash, {*v});
    o.mirrors.push_back(*v);
    return std::string();
}

// Checked when given: a file that cannot be read would fail every HTTPS link.
std::string Certificates(Options& o, V v, S) {
    if (!v || v->empty())
        return Say(t::kNeedsCertificate);
    std::string pem;
    if (FetchResult read = ReadRegularFile(*v, kMaxCertificateBytes, pem); !read.ok())
        return Say(t::kCannotReadCertificate,
                   {*v, read.systemError == EINVAL  // a folder, a FIFO, a device
                            ? Say(t::kNotARegularFile)
                            : SystemReason(read.systemError, read.detail)});
    o.sources.caFile = *v;
    return std::string();
}

// The options of the modes that run until stopped: the watch folder and the local cache.
std::vector<OptionRow> ServiceRows() {
    return {
        {"", "--watch", t::kValueFolder, Say(t::kHelpWatch), Watch},
        {"", "--watch-longest-wait", t::kValueDuration, Say(t::kHelpWatchLongest),
         DurationInto(&WatchPatience::longestWait)},
        {"", "--watch-give-up", t::kValueDuration, Say(t::kHelpWatchGiveUp),
         DurationInto(&WatchPatience::giveUpAfter)},
        {"", "--serve", t::kValueServe, Say(t::kHelpServe), ServeAt},
        {"", "--token", t::kValueToken, Say(t::kHelpToken), Token},
    };
}

const std::vector<OptionRow>& Table() {
    static const std::vector<OptionRow> table = [] {
        std::vector<OptionRow> rows = {
            {"-o", "--output", t::kValueFolder, Say(t::kHelpOutput), Output},
            {"-O", "--output-document", t::kValueFile, Say(t::kHelpOutputDocument), OutputDocument},
        };
        // The stored settings' options come next, as their table declares them.
        for (const Setting& setting : Settings()) {
            if (setting.option)
                rows.push_back(FromSetting(setting));
        }
        std::vector<OptionRow> rest = {
            {"-j", "--jobs", t::kValueNumber,
             Say(t::kHelpJobs, {std::to_string(kMaxJobs), std::to_string(kDefaultJobs)}), Jobs},
            {"", "--mirror", t::kValueTemplate, Say(t::kHelpMirror), Mirror},
            {"", "--tracker", t::kValueUrl, Say(t::kHelpTracker), Tracker},
            {"", "--retry", t::kValueNumber, Say(t::kHelpRetry), Retries},
            {"", "--timeout", t::kValueSeconds,
             Say(t::kHelpTimeout, {Seconds(DownloadLimits{}.stallTimeoutMs)}),
             SecondsInto(&SourceOptions::stallSeconds)},
            {"", "--cacert", t::kValueFile, Say(t::kHelpCacert), Certificates},
            {"", "--no-swarm", kNoValue, Say(t::kHelpNoNetwork),
             Switch(&SourceOptions::network, false)},
            {"", "--no-dht", kNoValue, Say(t::kHelpNoDht), Switch(&SourceOptions::dht, false)},
            {"", "--private", kNoValue, Say(t::kHelpPrivate),
             Privacy(LinkSources::Privacy::Private)},
            {"", "--public", kNoValue, Say(t::kHelpPublic), Privacy(LinkSources::Privacy::Public)},
            {"", "--swarm-timeout", t::kValueSeconds,
             Say(t::kHelpNetworkTimeout, {Seconds(NetworkPerLinkMs())}),
             SecondsInto(&SourceOptions::perLinkSeconds)},
            {"", "--listen", t::kValueListen, Say(t::kHelpListen),
             Address(&SourceOptions::listen, nullptr)},
            {"", "--dht-node", t::kValueNode, Say(t::kHelpDhtNode),
             Address(nullptr, &SourceOptions::dhtNodes)},
            {"", "--allow-private-addresses", kNoValue, Say(t::kHelpAllowPrivate),
             Switch(&SourceOptions::allowPrivateAddresses, true)},
            {"", "--json", kNoValue, Say(t::kHelpJson), Switch(&Options::json, true)},
            {"", "--unordered", kNoValue, Say(t::kHelpUnordered),
             Switch(&Options::unordered, true)},
            {"-n", "--no-clobber", kNoValue, Say(t::kHelpNoClobber),
             Switch(&Options::noClobber, true)},
            {"", "--dry-run", kNoValue, Say(t::kHelpDryRun), Switch(&Options::dryRun, true)},
            {"-q", "--quiet", kNoValue, Say(t::kHelpQuiet), Switch(&Options::quiet, true)},
            {"-S", "--show-errors", kNoValue, Say(t::kHelpShowErrors),
             Switch(&Options::showErrors, true)},
            {"-i", "--input-file", t::kValueFile, Say(t::kHelpInputFile), InputFile},
            {"-v", "--verbose", kNoValue, Say(t::kHelpVerbose), Switch(&Options::verbose, true)},
            {"-h", "--help", kNoValue, Say(t::kHelpHelp), nullptr, Stop::Help},
            {"", "--version", kNoValue, Say(t::kHelpVersion), nullptr, Stop::Version},
        };
        rows.insert(rows.end(), rest.begin(), rest.end());
        const std::vector<OptionRow> service = ServiceRows();  // before --help and --version
        rows.insert(rows.end() - 2, service.begin(), service.end());
        return rows;
    }();
    return table;
}

const OptionRow* Find(const std::string& name) {
    return FindOption(Table(), name);
}

}  // namespace

namespace {

// A text broken to fit: lines that start at the margin run on into one paragraph; a line
// indented on its own keeps its indent for the lines it is broken into.
std::string Wrapped(const std::string& given, size_t columns) {
    std::vector<std::string> lines;
    bool runOn = false;  // the last line takes the next one
    for (size_t begin = 0; begin <= given.size();) {
        const size_t end = std::min(given.find('\n', begin), given.size());
        const std::string line = given.substr(begin, end - begin);
        const bool margin = !line.empty() && line[0] != ' ';
        if (runOn && margin)
            lines.back() += " " + line;
        else
            lines.push_back(line);
        runOn = margin && !line.ends_with(':');
        begin = end + 1;
    }
    std::string wrapped;
    for (size_t k = 0; k < lines.size(); ++k) {
        const std::string& line = lines[k];
        const size_t indent = std::min(line.find_first_not_of(' '), line.size());
        wrapped += (k ? "\n" : "") + line.substr(0, indent) +
                   WrapWidth(line.substr(indent), columns, indent, indent);
    }
    return wrapped;
}

}  // namespace

std::string UsageText() {
    constexpr size_t kHelpColumn = 25, kColumns = 79;
    std::string text = Say(t::kUsageLine) + Wrapped(Say(t::kUsageIntro), kColumns);
    text += OptionLines(Table(), kHelpColumn, kColumns);
    return text + Wrapped(Say(t::kUsageOutro), kColumns);
}

void PrintUsageHint(std::ostream& err) {
    err << t::kUsageLine << t::kSeeHelp << "\n";
}

namespace {

// A value written after its option that looks like one (-o --help) is not taken as its value;
// a negative number (--timeout -1) is, so that it is refused for what it is.
bool CanBeAValue(const std::string& next) {
    return next == "-" || !next.starts_with("-") ||
           (next.size() > 1 &&
            (std::isdigit(static_cast<unsigned char>(next[1])) || next[1] == '.'));
}

// The options one argument gives, as getopt reads them: "--name" or "--name=VALUE", or short
// ones bundled ("-qn"), the first that takes a value taking the rest of the argument ("-j8",
// "-qoDIR").
std::vector<std::pair<std::string, std::optional<std::string>>> Given(const std::string& arg) {
    if (arg.starts_with("--")) {
        const size_t equals = arg.find('=');
        if (equals == std::string::npos)
            return {{arg, std::nullopt}};
        return {{arg.substr(0, equals), arg.substr(equals + 1)}};
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> given;
    for (size_t k = 1; k < arg.size(); ++k) {
        const std::string name = {'-', arg[k]};
        const OptionRow* row = Find(name);
        if (!row) {  // named as typed when it is the first
            given.push_back({k == 1 ? arg : name, std::nullopt});
            break;
        }
        if (row->takesValue() && k + 1 < arg.size()) {
            given.push_back({name, arg.substr(k + 1)});
            break;
        }
        given.push_back({name, std::nullopt});
    }
    return given;
}

}  // namespace

std::optional<int> ParseArguments(const std::vector<std::string>& argv, Options& o,
                                  std::ostream& out, std::ostream& err) {
    const auto usageError = [&err](const std::string& message) {
        err << t::kProgram << ": " << EscapeControls(message) << "\n";
        PrintUsageHint(err);
        return 2;
    };
    bool onlyFiles = false;
    for (size_t i = 1; i < argv.size(); ++i) {
        const std::string& arg = argv[i];
        if (onlyFiles || arg == "-" || arg.empty() || arg[0] != '-') {
            // A bare info-hash is its link, unless a file has that name.
            std::error_code ec;
            if (const std::string_view hash = BareHash(arg);
                !onlyFiles && !hash.empty() && !std::filesystem::exists(PathFromUtf8(arg), ec))
                o.inputs.push_back({true, std::string(kMagnetMarker) + "xt=" + std::string(kV1Urn) +
                                              std::string(hash)});
            else
                o.inputs.push_back({arg.starts_with(kMagnetMarker), arg});
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
            continue;
        }
        for (auto& [name, value] : Given(arg)) {
            const OptionRow* row = Find(name);
            if (!row)
                return usageError(Say(t::kUnknownOption, {name}));
            if (row->stop != Stop::None) {
                out << (row->stop == Stop::Help ? UsageText()
                                                : std::string(t::kProgram) + " " + kVersion + "\n");
                return 0;
            }
            if (!row->takesValue() && value)
                return usageError(Say(t::kTakesNoValue, {name}));  // --quiet=yes
            if (row->takesValue() && !value && i + 1 < argv.size() && CanBeAValue(argv[i + 1]))
                value = argv[++i];
            if (const std::string error = row->apply(o, value, name); !error.empty())
                return usageError(error);
        }
    }
    return std::nullopt;
}

}  // namespace velindra::cli

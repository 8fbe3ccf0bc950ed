// velindra-cli: the command-line front end. Reads text with magnet links from files or standard
// input, saves each link's .torrent file into a folder, and prints the saved paths.
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "batch.h"
#include "console.h"
#include "curl_downloader.h"
#include "fetch.h"
#include "links.h"
#include "process_setup.h"
#include "swarm_source.h"
#include "texts.h"
#include "torrent.h"

namespace {

using namespace velindra;

constexpr const char* kProgram = "velindra-cli";
constexpr const char* kVersion = "1.0.0";

constexpr const char* kUsageLine = "用法: velindra-cli [选项] [文件或磁力链接...]";
constexpr const char* kUsage = R"(用法: velindra-cli [选项] [文件或磁力链接...]

从文件(或标准输入)读取含有磁力链接的文本, 为每个链接下载 .torrent 种子文件并保存,
每保存一个文件就在标准输出打印它的路径。以 "magnet:?" 开头的参数本身就是链接;
文件名为 "-" 或未给出文件时读取标准输入。

选项:
  -o, --output 目录      保存到该目录, 不存在时自动创建 (默认: 当前目录)
      --name dn|btih     dn: 优先用链接的显示名命名 (默认); btih: 总是用种子特征码命名
  -j, --jobs N           同时下载的链接数, 1 到 32 (默认 4)
      --mirror 模板      用这些镜像代替内置镜像, 按给出的顺序询问 (可重复);
                         占位符 {hash} {first2} {last2}, 必须是 http:// 或 https:// 地址
      --timeout 秒       传输停滞多久后放弃 (默认 15)
      --cacert 文件      用该文件中的证书检查 HTTPS 镜像 (也读 CURL_CA_BUNDLE、
                         SSL_CERT_FILE、SSL_CERT_DIR 环境变量)
      --no-swarm         镜像都失败时不向 BitTorrent 网络索取种子信息
      --no-dht           向网络索取时只用链接中的 tracker 和节点地址 (不用 DHT、本地发现和端口映射)
      --swarm-timeout 秒 向 BitTorrent 网络索取一个链接最多等待多久 (默认 60)
      --listen 地址:端口 BitTorrent 连接监听的地址, 可用逗号分隔多个 (默认所有接口, 随机端口)
      --dht-node 主机:端口
                         从这些节点 (而不是公共路由节点) 加入 DHT, 用于内部网络 (可重复)
  -q, --quiet            不显示进度和失败说明
  -h, --help             显示本帮助
      --version          显示版本

退出码: 0 全部保存; 1 有链接失败; 2 用法错误或没有链接;
        被信号中断时 128 加信号编号 (Ctrl-C 为 130)。
)";

constexpr size_t kMaxInputBytes = size_t{256} << 20;

// Set from a signal handler, or when the saved paths can no longer be written out: every
// transfer watches it and ends, leaving no temporary file behind.
std::atomic<bool> gStop{false};
std::atomic<int> gSignal{0};

extern "C" void OnSignal(int number) {
    gSignal = number;
    gStop = true;
}

struct Options {
    std::string output = ".";
    bool usedn = true;
    int jobs = 4;
    std::vector<std::string> mirrors;
    std::optional<double> timeoutSeconds;
    bool swarm = true;
    bool dht = true;
    std::string listen;
    std::vector<std::string> dhtNodes;
    std::optional<double> swarmSeconds;
    bool quiet = false;
    std::string caFile;
    // Files ("-" is standard input) and link texts, in the order given.
    struct Input {
        bool isLinkText;
        std::string value;
    };
    std::vector<Input> inputs;
};

int UsageError(const std::string& message) {
    std::cerr << kProgram << ": " << EscapeControls(message) << "\n"
              << kUsageLine << "  (详见 --help)\n";
    return 2;
}

bool IsHttpUrl(const std::string& url) {
    for (const char* scheme : {"http://", "https://"}) {
        const size_t n = std::strlen(scheme);
        if (url.size() <= n || url[n] == '/')
            continue;
        bool same = true;
        for (size_t k = 0; k < n; ++k)
            same = same && std::tolower(static_cast<unsigned char>(url[k])) == scheme[k];
        if (same)
            return true;
    }
    return false;
}

// A positive number of seconds, at most a day.
std::optional<double> ParseSeconds(const std::string& text) {
    char* end = nullptr;
    const double s = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(s > 0) || s > 86400)
        return std::nullopt;
    return s;
}

// Parses the command line; returns an exit status when the program should stop at once.
std::optional<int> ParseArguments(const std::vector<std::string>& argv, Options& o) {
    const int argc = static_cast<int>(argv.size());
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (onlyFiles || arg == "-" || arg.empty() || arg[0] != '-') {
            o.inputs.push_back({arg.starts_with(kMagnetMarker), arg});
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
            continue;
        }
        std::string value;
        bool hasValue = false;
        if (arg.starts_with("--") && arg.find('=') != std::string::npos) {
            value = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
            hasValue = true;
        } else if (!arg.starts_with("--") && arg.size() > 2) {
            value = arg.substr(2);  // -oDIR, -j8
            arg = arg.substr(0, 2);
            hasValue = true;
        }
        const auto need = [&](std::string& out) {
            if (hasValue) {
                out = value;
                return true;
            }
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg == "--version") {
            std::cout << kProgram << " " << kVersion << "\n";
            return 0;
        } else if (arg == "-q" || arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "-o" || arg == "--output") {
            if (!need(v) || v.empty())
                return UsageError("选项 " + arg + " 需要一个目录");
            o.output = v;
        } else if (arg == "--name") {
            if (!need(v) || (v != "dn" && v != "btih"))
                return UsageError("--name 只能是 dn 或 btih");
            o.usedn = v == "dn";
        } else if (arg == "-j" || arg == "--jobs") {
            if (!need(v))
                return UsageError("选项 " + arg + " 需要一个数字");
            char* end = nullptr;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || n < 1 || n > 32) {
                return UsageError("--jobs 必须是 1 到 32 之间的整数");
            }
            o.jobs = static_cast<int>(n);
        } else if (arg == "--mirror") {
            if (!need(v) || !IsHttpUrl(v)) {
                return UsageError("--mirror 必须是 http:// 或 https:// 地址: " + v);
            }
            o.mirrors.push_back(v);
        } else if (arg == "--cacert") {
            if (!need(v) || v.empty())
                return UsageError("--cacert 需要一个证书文件");
            o.caFile = v;
        } else if (arg == "--no-swarm") {
            o.swarm = false;
        } else if (arg == "--listen" || arg == "--dht-node") {
            if (!need(v) || v.find(':') == std::string::npos || v.find_first_of(" \t") != v.npos)
                return UsageError(arg + " 需要 地址:端口");
            if (arg == "--listen")
                o.listen = v;
            else
                o.dhtNodes.push_back(v);
        } else if (arg == "--no-dht") {
            o.dht = false;
        } else if (arg == "--swarm-timeout" || arg == "--timeout") {
            const std::optional<double> seconds = need(v) ? ParseSeconds(v) : std::nullopt;
            if (!seconds)
                return UsageError(arg + " 必须是正的秒数");
            (arg == "--timeout" ? o.timeoutSeconds : o.swarmSeconds) = seconds;
        } else {
            return UsageError("未知选项: " + arg);
        }
    }
    return std::nullopt;
}

struct Job {
    std::string piece;  // the link as cut from the text
    std::optional<ParsedLink> parsed;
    std::string destination;
};

struct Outcome {
    bool done = false;
    bool ok = false;
    std::string line;  // the path on success, the failure line otherwise
};

std::string FailureLine(const Job& job, const MirrorOutcome& outcome, size_t mirrorCount) {
    std::string line = std::string(kProgram) + ": " + job.parsed->infoHash + ": ";
    const FetchResult last = outcome.last();
    if (last.error == FetchError::InvalidHash) {
        return line + Describe(last.error) + " (应为 40 位十六进制或 32 位 base32 字符)";
    }
    if (last.error == FetchError::CannotWrite) {
        return line + "无法写入 " + job.destination + " (" + last.detail + ")";
    }
    if (last.error == FetchError::Cancelled) {
        return line + "已中断";
    }
    line += texts::kFetchFailed;
    line += ": ";
    for (size_t k = 0; k < outcome.attempts.size(); ++k) {
        const FetchResult& a = outcome.attempts[k];
        if (k)
            line += "; ";
        line +=
            (k < mirrorCount ? "镜像 " + std::to_string(k + 1) : std::string("BitTorrent 网络")) +
            " " + Describe(a.error);
        if (!a.detail.empty())
            line += " (" + a.detail + ")";
    }
    return line;
}

int Run(const std::vector<std::string>& arguments, const Console& console) {
    Options options;
    if (auto status = ParseArguments(arguments, options)) {
        return *status;
    }
    if (options.inputs.empty()) {
        if (console.inputIsTerminal) {
            // Nothing to read but a terminal: say how to use the program instead of waiting.
            std::cerr << kUsageLine << "  (详见 --help)\n";
            return 2;
        }
        options.inputs.push_back({false, "-"});
    }

    HandleInterrupts(OnSignal);

    std::vector<Job> jobs;
    for (const Options::Input& input : options.inputs) {
        std::string text;
        std::string why;
        if (input.isLinkText) {
            text = input.value;
        } else if (!ReadWholeFile(input.value, text, why, kMaxInputBytes, gStop)) {
            if (gSignal != 0)
                return 128 + gSignal;  // interrupted while reading
            std::cerr << kProgram << ": 无法读取 " << EscapeControls(input.value) << ": " << why
                      << "\n";
            return 2;
        }
        for (std::string& piece : SplitLinks(text)) {
            Job job;
            job.parsed = ParseLink(piece, options.usedn);
            if (job.parsed) {
                job.destination = JoinDestination(options.output, FileNameFor(job.parsed->stem));
            }
            job.piece = std::move(piece);
            jobs.push_back(std::move(job));
        }
    }
    if (jobs.empty()) {
        std::cerr << texts::kNoLinks << "\n";
        return 2;
    }
    // Like wget -P and aria2c -d; a folder that cannot be made fails every link below.
    MakeFolders(options.output);

    DownloadLimits limits;
    if (options.timeoutSeconds) {
        limits.stallTimeoutMs = static_cast<long>(*options.timeoutSeconds * 1000);
    }
    CurlDownloader downloader(limits, TrustStore::FromEnvironment(options.caFile));
#ifdef VELINDRA_SWARM
    SwarmLimits swarmLimits;
    swarmLimits.dht = options.dht;
    swarmLimits.stateFile = DefaultSwarmStateFile();
    if (!options.listen.empty())
        swarmLimits.listenInterfaces = options.listen;
    if (!options.dhtNodes.empty()) {
        swarmLimits.dhtBootstrapNodes.clear();
        for (const std::string& node : options.dhtNodes)
            swarmLimits.dhtBootstrapNodes +=
                (swarmLimits.dhtBootstrapNodes.empty() ? "" : ",") + node;
    }
    if (options.swarmSeconds) {
        swarmLimits.perLinkMs = static_cast<long>(*options.swarmSeconds * 1000);
        swarmLimits.unreachableMs = std::min(swarmLimits.unreachableMs, swarmLimits.perLinkMs);
    }
    // One network session for the whole run, started now so that its DHT bootstrap is done
    // by the time a link's mirrors have all failed; it is asked only for such links.
    std::unique_ptr<SwarmSource> swarm =
        options.swarm ? std::make_unique<SwarmSource>(swarmLimits) : nullptr;
    if (swarm)
        swarm->Warm();
    SourceRouter sources(downloader, swarm.get());
#else
    options.swarm = false;  // built without the network source
    SourceRouter sources(downloader, nullptr);
#endif
    const std::vector<std::string>& mirrors =
        options.mirrors.empty() ? BuiltInMirrors() : options.mirrors;

    // Links that name the same file are fetched one after another, in input order, by one
    // worker; everything else runs in parallel.
    std::vector<std::vector<size_t>> groups;
    std::map<std::string, size_t> groupOf;
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (!jobs[i].parsed) {
            groups.push_back({i});
            continue;
        }
        auto [it, fresh] = groupOf.try_emplace(jobs[i].destination, groups.size());
        if (fresh)
            groups.push_back({});
        groups[it->second].push_back(i);
    }

    std::vector<Outcome> outcomes(jobs.size());
    std::mutex lock;
    std::condition_variable changed;
    size_t nextGroup = 0;
    size_t finished = 0;

    // Every transfer watches the interrupt flag, so Ctrl-C ends them all and leaves no
    // temporary file behind.
    struct CancellingDownloader : Downloader {
        Downloader& inner;
        explicit CancellingDownloader(Downloader& d) : inner(d) {}
        FetchResult Fetch(const FetchRequest& request) override {
            FetchRequest r = request;
            r.cancel = &gStop;
            return inner.Fetch(r);
        }
    };
    CancellingDownloader cancelling(sources);
    const auto work = [&] {
        for (;;) {
            size_t g = 0;
            {
                std::lock_guard<std::mutex> guard(lock);
                if (nextGroup >= groups.size())
                    return;
                g = nextGroup++;
            }
            for (size_t i : groups[g]) {
                Outcome result;
                const Job& job = jobs[i];
                if (!job.parsed) {
                    result.line = std::string(kProgram) + ": " + job.piece + ": " +
                                  texts::kParseFailed + ": 链接中没有 xt=urn:btih:";
                } else if (gStop) {
                    result.line = std::string(kProgram) + ": " + job.parsed->infoHash + ": 已中断";
                } else {
                    const MirrorOutcome outcome = FetchFromMirrors(
                        job.parsed->infoHash, job.destination, cancelling, mirrors,
                        options.swarm ? std::string_view(job.piece) : std::string_view());
                    result.ok = outcome.ok;
                    result.line =
                        outcome.ok ? job.destination : FailureLine(job, outcome, mirrors.size());
                }
                result.done = true;
                std::lock_guard<std::mutex> guard(lock);
                outcomes[i] = std::move(result);
                ++finished;
                changed.notify_all();
            }
        }
    };

    const int workers = std::min<int>(options.jobs, static_cast<int>(groups.size()));
    std::vector<std::thread> threads;
    for (int k = 0; k < workers; ++k)
        threads.emplace_back(work);

    // The progress line is redrawn in place, which needs a terminal that understands escapes.
    const bool progress = !options.quiet && console.errorIsTerminal && console.escapes;
    bool allSaved = true;
    bool outputLost = false;
    {
        std::unique_lock<std::mutex> guard(lock);
        for (size_t i = 0; i < outcomes.size(); ++i) {
            changed.wait(guard, [&] { return outcomes[i].done; });
            const Outcome& o = outcomes[i];
            if (progress)
                std::cerr << "\r\033[K";
            if (o.ok && !outputLost) {
                std::cout << EscapeControls(o.line) << "\n" << std::flush;
                if (!std::cout) {
                    // Nobody learns of the files saved from here on: stop, and say so.
                    outputLost = true;
                    gStop = true;
                    std::cerr << kProgram << ": 无法写入标准输出: " << std::strerror(errno) << "\n";
                }
            } else if (!o.ok) {
                allSaved = false;
                if (!options.quiet && !outputLost)
                    std::cerr << EscapeControls(o.line) << "\n";
            }
            if (progress) {
                std::cerr << "[" << finished << "/" << jobs.size() << "] " << std::flush;
            }
        }
    }
    for (auto& t : threads)
        t.join();
    if (progress)
        std::cerr << "\r\033[K" << std::flush;
    if (gSignal != 0)
        return 128 + gSignal;  // the shell's convention: 130 for Ctrl-C, 129 and 143
    return allSaved && !outputLost ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    velindra::EnsureStandardDescriptors();  // before anything opens a file or a socket
    try {
        const velindra::Console console = velindra::SetUpConsole();
        return Run(velindra::Utf8Arguments(argc, argv), console);
    } catch (const std::exception& e) {
        std::cerr << kProgram << ": " << velindra::EscapeControls(e.what()) << "\n";
    } catch (...) {
        std::cerr << kProgram << ": 内部错误\n";
    }
    return 2;
}

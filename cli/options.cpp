#include "options.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <ostream>

#include "cli_texts.h"
#include "console.h"
#include "curl_downloader.h"
#include "links.h"
#include "swarm_source.h"
#include "terminal_text.h"
#include "utf8.h"
#include "version.h"

namespace velindra::cli {

namespace {

namespace t = cli_texts;

// What an option does with its value (nullopt when it takes one and none was given) and the
// name it was typed as; returns the usage error, or "" when all is well.
using Apply = std::function<std::string(Options&, const std::optional<std::string>&,
                                        const std::string& typed)>;

enum class Stop { None, Help, Version };

struct OptionRow {
    const char* shortName;  // "-o", or "" when there is none
    const char* longName;   // "--output"
    const char* valueName;  // shown in --help; "" for a switch
    std::string help;       // "\n" starts a continuation line
    Apply apply;
    Stop stop = Stop::None;
};

std::string Seconds(long milliseconds) {
    return std::to_string(milliseconds / 1000);
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

std::optional<int> ParseJobs(const std::string& text) {
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || n < 1 || n > kMaxJobs)
        return std::nullopt;
    return static_cast<int>(n);
}

Apply Switch(bool Options::*field, bool value) {
    return [field, value](Options& o, auto&, auto&) {
        o.*field = value;
        return std::string();
    };
}

// "" when `endpoint` is HOST:PORT (an IPv6 address in brackets) with a port from `lowest` to
// 65535 and, where `localOnly`, a host that is an address or interface of this machine;
// otherwise the usage error.
std::string CheckEndpoint(const std::string& endpoint, const std::string& as, bool localOnly) {
    const size_t colon = endpoint.rfind(':');
    if (colon == std::string::npos || colon == 0 || endpoint.find_first_of(" \t") != endpoint.npos)
        return as + t::kNeedsAddress;
    const std::string host = endpoint.substr(0, colon), port = endpoint.substr(colon + 1);
    char* end = nullptr;
    const long number = std::strtol(port.c_str(), &end, 10);
    const long lowest = localOnly ? 0 : 1;
    if (port.empty() || *end != '\0' || port[0] == '-' || port[0] == '+' || number < lowest ||
        number > 65535)
        return (localOnly ? t::kListenPort : t::kNodePort) + port;
    const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
    if (localOnly && !IsLocalHost(bracketed ? host.substr(1, host.size() - 2) : host))
        return t::kListenHost + host;
    return {};
}

Apply Address(std::string Options::*single, std::vector<std::string> Options::*many) {
    return [single, many](Options& o, const std::optional<std::string>& v, const std::string& as) {
        if (!v || v->empty())
            return as + t::kNeedsAddress;
        // --listen takes several, separated by commas; --dht-node one each time.
        for (size_t begin = 0; begin <= v->size();) {
            const size_t end = single ? std::min(v->find(',', begin), v->size()) : v->size();
            const std::string error = CheckEndpoint(v->substr(begin, end - begin), as, single);
            if (!error.empty())
                return error;
            begin = end + 1;
        }
        if (single)
            o.*single = *v;
        else
            (o.*many).push_back(*v);
        return std::string();
    };
}

Apply SecondsInto(std::optional<double> Options::*field) {
    return [field](Options& o, const std::optional<std::string>& v, const std::string& as) {
        const std::optional<double> seconds = v ? ParseSeconds(*v) : std::nullopt;
        if (!seconds)
            return as + t::kNeedsSeconds;
        o.*field = seconds;
        return std::string();
    };
}

using V = const std::optional<std::string>&;
using S = const std::string&;

const std::vector<OptionRow>& Table() {
    static const std::vector<OptionRow> table = {
        {"-o", "--output", "目录", "保存到该目录, 不存在时自动创建 (默认: 当前目录)",
         [](Options& o, V v, S as) {
             if (!v || v->empty())
                 return t::kOption + as + t::kNeedsFolder;
             o.output = *v;
             return std::string();
         }},
        {"", "--name", "dn|btih", "dn: 优先用链接的显示名命名 (默认); btih: 总是用种子特征码命名",
         [](Options& o, V v, S) {
             if (!v || (*v != "dn" && *v != "btih"))
                 return std::string(t::kNameValues);
             o.usedn = *v == "dn";
             return std::string();
         }},
        {"-j", "--jobs", "N",
         "同时下载的链接数, 1 到 " + std::to_string(kMaxJobs) + " (默认 " +
             std::to_string(kDefaultJobs) + ")",
         [](Options& o, V v, S as) {
             if (!v)
                 return t::kOption + as + t::kNeedsNumber;
             const std::optional<int> jobs = ParseJobs(*v);
             if (!jobs)
                 return std::string(t::kJobsRange);
             o.jobs = *jobs;
             return std::string();
         }},
        {"", "--mirror", "模板",
         "用这些镜像代替内置镜像, 按给出的顺序询问 (可重复);\n"
         "占位符 {hash} {first2} {last2}, 必须是 http:// 或 https:// 地址",
         [](Options& o, V v, S) {
             if (!v || !IsHttpUrl(*v))
                 return t::kMirrorUrl + v.value_or("");
             o.mirrors.push_back(*v);
             return std::string();
         }},
        {"", "--timeout", "秒",
         "传输停滞多久后放弃 (默认 " + Seconds(DownloadLimits{}.stallTimeoutMs) + ")",
         SecondsInto(&Options::timeoutSeconds)},
        {"", "--cacert", "文件",
         "用该文件中的证书检查 HTTPS 镜像 (也读 CURL_CA_BUNDLE、\n"
         "SSL_CERT_FILE、SSL_CERT_DIR 环境变量)",
         [](Options& o, V v, S) {
             if (!v || v->empty())
                 return std::string(t::kNeedsCertificate);
             o.caFile = *v;
             return std::string();
         }},
        {"", "--no-swarm", "",
         "不使用 BitTorrent 网络。不加此选项时, 每次运行一开始就加入 DHT (解析路由节点的域名,\n"
         "在每个网络接口上监听一个 TCP 和一个 UDP 端口, 结束时写入状态文件), 即使所有链接\n"
         "都从镜像得到; 镜像都失败的链接再向网络索取种子信息",
         Switch(&Options::swarm, false)},
        {"", "--no-dht", "",
         "向网络索取时不用 DHT, 只用链接中的 tracker 和节点地址 (本地发现和端口映射总是不用)",
         Switch(&Options::dht, false)},
        {"", "--swarm-timeout", "秒",
         "向 BitTorrent 网络索取一个链接最多等待多久 (默认 " + Seconds(SwarmLimits{}.perLinkMs) +
             ")",
         SecondsInto(&Options::swarmSeconds)},
        {"", "--listen", "地址:端口",
         "BitTorrent 连接监听的地址, 可用逗号分隔多个 (默认所有接口, 随机端口)",
         Address(&Options::listen, nullptr)},
        {"", "--dht-node", "主机:端口",
         "从这些节点 (而不是公共路由节点) 加入 DHT, 用于内部网络 (可重复)",
         Address(nullptr, &Options::dhtNodes)},
        {"-q", "--quiet", "", "不显示进度和失败说明", Switch(&Options::quiet, true)},
        {"-h", "--help", "", "显示本帮助", nullptr, Stop::Help},
        {"", "--version", "", "显示版本", nullptr, Stop::Version},
    };
    return table;
}

const OptionRow* Find(const std::string& name) {
    for (const OptionRow& row : Table()) {
        if (name == row.longName || (row.shortName[0] && name == row.shortName))
            return &row;
    }
    return nullptr;
}

// Columns a text takes on a terminal: East Asian characters take two.
size_t DisplayWidth(std::string_view text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const size_t length = DecodeUtf8(text, i, cp);
        width += length != 0 && cp >= 0x2E80 ? 2 : 1;
        i += length ? length : 1;
    }
    return width;
}

}  // namespace

std::string UsageText() {
    constexpr size_t kHelpColumn = 25;
    std::string text = std::string(t::kUsageLine) + t::kUsageIntro;
    for (const OptionRow& row : Table()) {
        std::string left = row.shortName[0] ? std::string("  ") + row.shortName + ", " : "      ";
        left += row.longName;
        if (row.valueName[0])
            left += std::string(" ") + row.valueName;
        const size_t width = DisplayWidth(left);
        text += left + (width < kHelpColumn ? std::string(kHelpColumn - width, ' ')
                                            : "\n" + std::string(kHelpColumn, ' '));
        for (char c : row.help)
            text += c == '\n' ? "\n" + std::string(kHelpColumn, ' ') : std::string(1, c);
        text += "\n";
    }
    return text + t::kUsageOutro;
}

void PrintUsageHint(std::ostream& err) {
    err << t::kUsageLine << t::kSeeHelp << "\n";
}

std::optional<int> ParseArguments(const std::vector<std::string>& argv, Options& o,
                                  std::ostream& out, std::ostream& err) {
    const auto usageError = [&err](const std::string& message) {
        err << t::kProgram << ": " << EscapeControls(message) << "\n";
        PrintUsageHint(err);
        return 2;
    };
    bool onlyFiles = false;
    for (size_t i = 1; i < argv.size(); ++i) {
        std::string arg = argv[i];
        if (onlyFiles || arg == "-" || arg.empty() || arg[0] != '-') {
            o.inputs.push_back({arg.starts_with(kMagnetMarker), arg});
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
            continue;
        }
        std::optional<std::string> value;  // written into the argument: --name=dn, -oDIR, -j8
        if (arg.starts_with("--") && arg.find('=') != std::string::npos) {
            value = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
        } else if (!arg.starts_with("--") && arg.size() > 2) {
            value = arg.substr(2);
            arg = arg.substr(0, 2);
        }
        const OptionRow* row = Find(arg);
        if (!row)
            return usageError(t::kUnknownOption + arg);
        if (row->stop != Stop::None) {
            out << (row->stop == Stop::Help ? UsageText()
                                            : std::string(t::kProgram) + " " + kVersion + "\n");
            return 0;
        }
        if (!row->valueName[0] && value)
            return usageError(t::kOption + arg + t::kTakesNoValue);  // -q5, --quiet=yes
        // A value of its own must not look like an option (-o --help): one written into the
        // argument (--output=--help) is taken as it is.
        if (row->valueName[0] && !value && i + 1 < argv.size() &&
            (argv[i + 1] == "-" || !argv[i + 1].starts_with("-")))
            value = argv[++i];
        if (const std::string error = row->apply(o, value, arg); !error.empty())
            return usageError(error);
    }
    return std::nullopt;
}

}  // namespace velindra::cli

// Every word velindra-cli says, in both of its languages, in one place: Chinese under a "zh"
// locale, English otherwise (see language.h). "%1", "%2" stand for what is put in.
#pragma once

#include "cli/language.h"

namespace velindra::cli_texts {

inline constexpr const char* kProgram = "velindra-cli";

// --help.
inline constexpr Text kUsageLine = {"用法: velindra-cli [选项] [文件或磁力链接...]",
                                    "Usage: velindra-cli [OPTION]... [FILE or MAGNET LINK]..."};
inline constexpr Text kSeeHelp = {"  (详见 --help)", "  (see --help)"};
inline constexpr Text kUsageIntro = {R"(

从文件(或标准输入)读取含有磁力链接的文本, 为每个链接下载 .torrent 种子文件并保存,
每保存一个文件就在标准输出打印它的路径。以 "magnet:?" 开头的参数本身就是链接,
单独的种子特征 (40 位十六进制或 32 位 base32, 参数或输入中的一行) 也是;
文件名为 "-" 或未给出文件时读取标准输入。

选项:
)",
                                     R"(

Reads text holding magnet links from files (or standard input), downloads
each link's .torrent file and saves it, printing the path of every saved file
on standard output. Arguments starting with "magnet:?" are links themselves,
and so is a bare info-hash (40 hexadecimal or 32 base32 characters, as an
argument or a line of input); with no file, or when a file is "-", standard
input is read.

Options:
)"};
inline constexpr Text kUsageOutro = {R"(
退出码: 0 全部保存; 1 有链接失败 (或保存的路径无法输出); 2 用法错误、输出目录无法写入、
        输入无法读取或没有链接; 被信号中断时 128 加信号编号 (Ctrl-C 为 130,
        终端关闭为 129, SIGTERM 为 143)。
)",
                                     R"(
Exit status: 0 all saved; 1 some link failed (or the saved paths could not be
             written out); 2 usage error, an output folder that cannot take
             files, unreadable input or no links; 128 plus the signal's number
             when interrupted (130 for Ctrl-C, 129 for a closed terminal, 143
             for SIGTERM).
)"};

// The options: what --help shows as their value, and what they do.
inline constexpr Text kValueFolder = {"目录", "DIR"};
inline constexpr Text kValueNumber = {"N", "N"};
inline constexpr Text kValueTemplate = {"模板", "TEMPLATE"};
inline constexpr Text kValueSeconds = {"秒", "SECONDS"};
inline constexpr Text kValueFile = {"文件", "FILE"};
inline constexpr Text kValueUrl = {"地址", "URL"};
inline constexpr Text kValueListen = {"地址:端口", "ADDRESS:PORT"};
inline constexpr Text kValueNode = {"主机:端口", "HOST:PORT"};
inline constexpr Text kHelpOutput = {"保存到该目录, 不存在时自动创建 (默认: 当前目录)",
                                     "save into DIR, made if it does not exist\n"
                                     "(default: the current folder)"};
inline constexpr Text kHelpJobs = {
    "同时从网上下载的链接数, 1 到 %1 (默认 %2);\n等待 BitTorrent 网络的链接不占用",
    "links fetched from the web at the same time, 1 to %1\n(default %2); links waiting on the "
    "BitTorrent\nnetwork do not count"};
inline constexpr Text kHelpMirror = {
    "用这些镜像代替内置镜像, 按给出的顺序询问 (可重复);\n"
    "占位符 {hash} {first2} {last2}, 必须是 http:// 或 https:// 地址",
    "ask these caches instead of the built-in ones,\n"
    "in the order given (may be repeated); placeholders\n"
    "{hash} {first2} {last2}; http:// or https:// only"};
inline constexpr Text kHelpTimeout = {"传输停滞多久后放弃 (默认 %1)",
                                      "give a transfer up after it stalled this long\n"
                                      "(default %1)"};
inline constexpr Text kHelpCacert = {
    "用该文件中的证书检查 HTTPS 镜像 (也读 CURL_CA_BUNDLE、\n"
    "SSL_CERT_FILE、SSL_CERT_DIR 环境变量)",
    "check HTTPS caches with the certificates in FILE\n"
    "(CURL_CA_BUNDLE, SSL_CERT_FILE and SSL_CERT_DIR\n"
    "are read too)"};
inline constexpr Text kHelpNoNetwork = {
    "不使用 BitTorrent 网络。不加此选项时, 每次运行一开始就加入 DHT (解析路由节点的域名,\n"
    "在每个网络接口上监听一个 TCP 和一个 UDP 端口, 结束时写入状态文件), 即使所有链接\n"
    "都从镜像得到; 镜像都失败的链接再向网络索取种子信息",
    "do not use the BitTorrent network. Without this\n"
    "option every run joins the DHT at its start (it\n"
    "looks up the routers' names, listens on a TCP and\n"
    "a UDP port on every interface and writes a state\n"
    "file at the end), even when every link comes from\n"
    "a cache; links no cache has are asked of the network"};
inline constexpr Text kHelpNoDht = {
    "向网络索取时不用 DHT, 只用链接中的 tracker 和节点地址 (本地发现和端口映射总是不用)",
    "ask the network without the DHT, only the trackers\n"
    "and peers the link names (local discovery and port\n"
    "mapping are never used)"};
inline constexpr Text kHelpPrivate = {
    "把每个链接都当作私有 tracker 的链接: 只向它的 tracker 和节点索取, 不问公共镜像和 DHT",
    "ask every link as a private tracker's: only of its\n"
    "trackers and peers, never of the public caches or\n"
    "the DHT (a link whose tracker carries a passkey is\n"
    "asked so by default)"};
inline constexpr Text kHelpPublic = {"把每个链接都当作公开链接, 即使它的 tracker 带有 passkey",
                                     "ask every link as a public one, also one whose\n"
                                     "tracker carries a passkey"};
inline constexpr Text kVerbosePrivate = {
    "%1: [%2] 私有 tracker 的链接: 只向它的 tracker 和节点索取, 不问公共镜像和 DHT",
    "%1: [%2] a private tracker's link: asked only of its trackers and peers, not of the public "
    "caches or the DHT"};
inline constexpr Text kHelpNetworkTimeout = {"向 BitTorrent 网络索取一个链接最多等待多久 (默认 %1)",
                                             "wait at most this long for one link from the\n"
                                             "BitTorrent network (default %1)"};
inline constexpr Text kHelpListen = {
    "BitTorrent 连接监听的地址, 可用逗号分隔多个 (默认所有接口, 随机端口)",
    "where BitTorrent connections are listened for,\n"
    "several separated by commas (default: every\n"
    "interface, a random port)"};
inline constexpr Text kHelpDhtNode = {
    "从这些节点 (而不是公共路由节点) 加入 DHT, 用于内部网络 (可重复)",
    "join the DHT through this node instead of the\n"
    "public routers, for an internal network (may be\n"
    "repeated)"};
inline constexpr Text kHelpAllowPrivate = {
    "允许链接自带的地址 (xs=、as=、tracker 和节点) 位于本机或内部网络;\n"
    "默认不连接这些地址。链接中写的用户名和密码从不发送",
    "let the addresses a link names itself (xs=, as=,\n"
    "its trackers and peers) be on this machine or a\n"
    "private network; by default they are not\n"
    "contacted (credentials in a link are never sent)"};
inline constexpr Text kHelpJson = {
    "每个链接在标准输出打印一个 JSON 对象 (按输入顺序), 代替保存的路径",
    "print one JSON object per link on standard output\n"
    "(in input order) instead of the saved paths"};
inline constexpr Text kHelpNoClobber = {
    "从不替换已有的文件: 链接的文件已存在并且就是这个链接的种子 (按特征码检查) 时不再获取, "
    "算作已保存; 是别的内容时不保存, 算作失败",
    "never replace an existing file: a link whose file\n"
    "exists and holds that link's torrent (checked by\n"
    "hash) is kept, asking nobody, and counts as saved;\n"
    "one whose file holds anything else is not saved\n"
    "and counts as failed"};
inline constexpr Text kHelpQuiet = {"不显示进度、失败说明和结束时的统计",
                                    "show no progress, no failures and no summary"};
inline constexpr Text kHelpShowErrors = {"与 -q 同用时仍显示失败说明 (如 curl 的 -sS)",
                                         "with -q, still show the failures (as curl's -sS)"};
inline constexpr Text kHelpInputFile = {"从这个文件读取链接 (可重复; - 为标准输入)",
                                        "read links from FILE (may be repeated; - is standard\n"
                                        "input), as wget's and aria2c's -i"};
inline constexpr Text kOutputNotStdout = {"选项 %1 需要一个目录; 要写到标准输出请用 -O -",
                                          "option %1 takes a folder; for standard output use -O -"};
inline constexpr Text kHelpOutputDocument = {
    "把唯一的链接的种子保存为这个文件 (如 wget 的 -O); - 为标准输出",
    "save the one link's torrent as FILE (as wget's -O);\n"
    "- writes it to standard output"};
inline constexpr Text kOneLinkOnly = {"-O 只能用于一个链接, 输入中有 %1 个",
                                      "-O takes exactly one link; the input holds %1"};
inline constexpr Text kStdoutNoJson = {
    "-O - 把种子写到标准输出, 不能与 --json 同用",
    "-O - writes the torrent to standard output: not with --json"};
inline constexpr Text kHelpTracker = {
    "把这个 tracker 加到每个保存的文件中, 排在链接自己的之后 (可重复, 如 aria2c 的 "
    "--bt-tracker);\n不加到私有种子; BitTorrent 网络查找非私有链接时也询问它",
    "add this tracker to every saved file after the\n"
    "link's own (may be repeated, as aria2c's\n"
    "--bt-tracker), never to a private torrent; the\n"
    "network asks it too for a link that is not private"};
inline constexpr Text kTrackerUrl = {
    "--tracker 必须是 http://、https://、udp:// 或 wss:// 的 tracker 地址: %1",
    "--tracker must be an http://, https://, udp:// or wss:// tracker address: %1"};
inline constexpr Text kHelpUnordered = {
    "每个链接一结束就打印它的行 (和 JSON 对象), 不按输入顺序; JSON 中的 position 说明是哪个链接",
    "print each link's line (and JSON object) as soon\n"
    "as it ends, not in input order; the JSON object's\n"
    "position says which link it is"};
// The stored settings' options: their lines in --help.
inline constexpr Text kNameHelp = {"dn: 优先用链接的显示名命名 (默认); btih: 总是用种子特征码命名",
                                   "dn: name files after the link's display name\n"
                                   "where it has one (default); btih: always after\n"
                                   "the info-hash"};
inline constexpr Text kNameTorrentHelp = {"; torrent: 用种子自己的名称命名",
                                          ";\ntorrent: after the torrent's own name"};
inline constexpr Text kNeedsFile = {"选项 %1 需要一个文件", "option %1 needs a file"};
inline constexpr Text kHelpVerbose = {
    "每个请求结束时在标准错误输出一行: 来源、请求的地址、HTTP 状态或系统错误、字节数和用时;\n"
    "BitTorrent 网络还有拨号和连上的节点数以及应答的 DHT 节点数",
    "say each request on standard error as it ends:\n"
    "the source, the address asked, the HTTP status or\n"
    "the system's error, bytes and time; for the\n"
    "network, peers dialled and connected and DHT nodes"};
inline constexpr Text kHelpRetry = {
    "暂时的失败 (连接被拒绝或重置、超时、HTTP 408、429、500、502、503、504) 最多重试 N 次,\n"
    "依次等待 1、2、4… 秒或服务器 Retry-After 要求的时间, 最多 60 秒 (默认 0)",
    "try a transient failure (connection refused or\n"
    "reset, time-out, HTTP 408, 429, 500, 502, 503,\n"
    "504) again up to N times, waiting 1, 2, 4 ... s or\n"
    "what the server's Retry-After asks, at most 60 s\n"
    "(default 0)"};
inline constexpr Text kHelpDryRun = {
    "只读取输入并打印每个链接的计划 (位置、特征码、文件名、保存位置或拒绝的原因),\n"
    "不询问任何来源, 也不加入 BitTorrent 网络",
    "read the input and print each link's plan (its\n"
    "position, hash, name and where its file would go,\n"
    "or why it is refused) without asking any source\n"
    "or joining the BitTorrent network"};
inline constexpr Text kHelpHelp = {"显示本帮助", "show this help"};
inline constexpr Text kHelpVersion = {"显示版本", "show the version"};

// Usage errors; "%1" is the option as typed.
inline constexpr Text kNeedsFolder = {"选项 %1 需要一个目录", "option %1 needs a folder"};
inline constexpr Text kNeedsValue = {"选项 %1 需要一个值", "option %1 needs a value"};
inline constexpr Text kNeedsNumber = {"选项 %1 需要一个数字", "option %1 needs a number"};
// A stored setting's option given another text: the option, and the texts it takes.
inline constexpr Text kSettingValues = {"%1 只能是 %2", "%1 is either %2"};
inline constexpr Text kOr = {" 或 ", " or "};
inline constexpr Text kJobsRange = {"--jobs 必须是 1 到 %1 之间的整数",
                                    "--jobs must be a whole number from 1 to %1"};
inline constexpr Text kMirrorNoHash = {"--mirror 必须含有 {hash}: %1",
                                       "--mirror must hold {hash}: %1"};
inline constexpr Text kMirrorUrl = {"--mirror 必须是 http:// 或 https:// 地址: %1",
                                    "--mirror must be an http:// or https:// address: %1"};
inline constexpr Text kNeedsCertificate = {"--cacert 需要一个证书文件",
                                           "--cacert needs a certificate file"};
inline constexpr Text kNeedsAddress = {"%1 需要 地址:端口", "%1 needs ADDRESS:PORT"};
inline constexpr Text kListenPort = {"--listen 的端口必须是 0 到 65535 之间的整数: %1",
                                     "--listen's port must be a whole number from 0 to 65535: %1"};
inline constexpr Text kNodePort = {"--dht-node 的端口必须是 1 到 65535 之间的整数: %1",
                                   "--dht-node's port must be a whole number from 1 to 65535: %1"};
inline constexpr Text kListenHost = {
    "--listen 的地址必须是本机的 IP 地址或网络接口: %1",
    "--listen's address must be an IP address or interface of this machine: %1"};
inline constexpr Text kTakesNoValue = {"选项 %1 不带值", "option %1 takes no value"};
inline constexpr Text kNeedsSeconds = {
    "%1 必须是大于 0、至多 86400（一天）的秒数: %2",
    "%1 must be a number of seconds above 0 and at most 86400 (a day): %2"};
inline constexpr Text kNotARegularFile = {"不是普通文件", "not a regular file"};
inline constexpr Text kCannotReadCertificate = {
    "--cacert 的证书文件无法读取: %1: %2", "--cacert's certificate file cannot be read: %1: %2"};
inline constexpr Text kUnknownOption = {"未知选项: %1", "unknown option: %1"};
inline constexpr Text kRetryRange = {"%1 必须是 0 到 %2 之间的整数: %3",
                                     "%1 must be a whole number from 0 to %2: %3"};

// The watch (--watch).
inline constexpr Text kValueDuration = {"时长", "DURATION"};
inline constexpr Text kHelpWatch = {
    "一直运行, 把该目录中已有和之后出现的每个 *.magnet 文件转换为种子文件, 保存到 -o (默认: 该目录"
    "本身); 链接都保存后删除该文件, 暂时获取不到的过一会儿再问, 放弃时改名为 NAME.magnet.failed",
    "run until stopped, converting every *.magnet file\n"
    "that is in DIR or arrives there into .torrent files\n"
    "saved into -o (default: DIR itself); a file whose\n"
    "links are all saved is removed, a link no source\n"
    "has yet is asked again later, and a file given up\n"
    "is renamed NAME.magnet.failed"};
inline constexpr Text kHelpWatchLongest = {
    "暂时获取不到的链接 1 分钟后再问, 每次等待加倍, 至多这么久 (默认 6h; 可用 s、m、h、d)",
    "a link no source has is asked again after 1 minute,\n"
    "the wait doubling up to this long (default 6h;\n"
    "s, m, h or d after the number)"};
inline constexpr Text kHelpWatchGiveUp = {
    "第一次询问之后这么久仍获取不到就放弃 (默认 7d)",
    "give a link up this long after it was first asked\n(default 7d)"};
inline constexpr Text kNeedsDuration = {
    "%1 必须是大于 0 的时长 (秒数, 或带 s、m、h、d 的数): %2",
    "%1 must be a duration above 0 (seconds, or a number with s, m, h or d): %2"};
inline constexpr Text kWatchWithInput = {
    "--watch 从文件夹读取链接, 不能同时给出文件、链接、-O 或 --dry-run",
    "--watch reads its links from the folder: not with files, links, -O or --dry-run"};
inline constexpr Text kWatching = {"正在监视 %1, 种子保存到 %2", "watching %1, saving into %2"};
inline constexpr Text kWatchSaved = {"已保存 %1 (来自 %2)", "saved %1 (from %2)"};
inline constexpr Text kWatchWaiting = {"%1 (%2): %3; %4 再次询问 (第 %5 次之后)",
                                       "%1 (%2): %3; asked again at %4 (after attempt %5)"};
inline constexpr Text kWatchGivenUp = {"%1: 已放弃, 改名为 %2: %3", "%1: given up, renamed %2: %3"};
inline constexpr Text kWatchLinkGivenUp = {"%1 (%2): 已放弃: %3", "%1 (%2): given up: %3"};
inline constexpr Text kWatchTooLarge = {"文件超过 %1 MiB, 未读取", "larger than %1 MiB, not read"};
inline constexpr Text kWatchPassedOver = {"%1: 不是普通文件, 已跳过",
                                          "%1: not a regular file, passed over"};
inline constexpr Text kWatchReadLater = {"%1; 稍后再试", "%1; tried again later"};
inline constexpr Text kWatchCannotRename = {"无法改名 %1: %2", "cannot rename %1: %2"};
inline constexpr Text kWatchCannotRemove = {"无法删除 %1: %2", "cannot remove %1: %2"};
inline constexpr Text kWatchFolderGone = {"监视的文件夹不在了: %1; 等待它回来",
                                          "the watched folder is gone: %1; waiting for it"};
inline constexpr Text kWatchFolderBack = {"监视的文件夹又在了: %1",
                                          "the watched folder is back: %1"};
inline constexpr Text kWatchGaveUpFolder = {"监视的文件夹已消失 %1 秒, 退出",
                                            "the watched folder has been gone for %1 s: ending"};
inline constexpr Text kWatchNotAFolder = {"--watch 需要一个存在的目录: %1: %2",
                                          "--watch needs a folder that exists: %1: %2"};

// The local cache (--serve).
inline constexpr Text kValueServe = {"[地址:]端口", "[ADDRESS:]PORT"};
inline constexpr Text kValueToken = {"令牌", "TOKEN"};
inline constexpr Text kHelpServe = {
    "一直运行, 作为本机的种子缓存应答 HTTP: GET /torrent/<特征>.torrent 和 GET "
    "/torrent?magnet=<链接>; 地址默认 127.0.0.1, 端口 0 为任一空闲端口",
    "run until stopped as a local torrent cache over HTTP,\n"
    "answering GET /torrent/<HASH>.torrent and\n"
    "GET /torrent?magnet=<LINK>; ADDRESS is 127.0.0.1\n"
    "unless given, PORT 0 takes a free port"};
inline constexpr Text kHelpToken = {
    "--serve 的每个请求都须带上这个令牌 (Authorization: Bearer 令牌 或 ?token=令牌); "
    "监听 127.0.0.1 以外的地址时必须给出",
    "every --serve request must carry this token\n"
    "(Authorization: Bearer TOKEN, or ?token=TOKEN);\n"
    "needed to listen on any address but loopback"};
inline constexpr Text kServeAddress = {"--serve 需要 [地址:]端口, 端口为 0 到 65535: %1",
                                       "--serve takes [ADDRESS:]PORT, PORT from 0 to 65535: %1"};
inline constexpr Text kServeNeedsToken = {
    "--serve 监听本机回环以外的地址 (%1) 时必须给出 --token",
    "--serve listens on an address other than loopback (%1) only with --token"};
inline constexpr Text kServeCannotListen = {"无法在 %1 上监听", "cannot listen on %1"};
inline constexpr Text kServing = {"正在应答 %1<特征>.torrent", "serving %1<HASH>.torrent"};
inline constexpr Text kServeBadHash = {
    "无效的种子特征 (应为 40 位十六进制、32 位 base32 或 64 位十六进制的 v2 特征)",
    "not an info-hash (40 hexadecimal or 32 base32 characters, or 64 hexadecimal for v2)"};

// What happened to the input, a link, and the run.
inline constexpr Text kNoLinks = {"没有链接", "no links"};
inline constexpr Text kCannotWriteFolder = {"无法写入目录 %1: %2", "cannot write to %1: %2"};
inline constexpr Text kCannotRead = {"无法读取 %1: %2", "cannot read %1: %2"};
inline constexpr Text kInputTooLarge = {"输入超过 %1 MiB", "the input is larger than %1 MiB"};
inline constexpr Text kCannotWriteOutput = {"无法写入标准输出: %1",
                                            "cannot write to standard output: %1"};
inline constexpr Text kInternalError = {"内部错误", "internal error"};
inline constexpr Text kNoHashInLink = {"分析失败: 链接中没有 xt=urn:btih:",
                                       "not a usable link: it has no xt=urn:btih:"};
inline constexpr Text kInvalidHash = {"无效的种子特征 (应为 40 位十六进制或 32 位 base32 字符)",
                                      "unusable info-hash (40 hexadecimal or 32 base32 "
                                      "characters expected)"};
inline constexpr Text kInvalidV2Hash = {
    "无效的种子特征 (应为 xt=urn:btmh:1220 加 64 位十六进制字符)",
    "unusable info-hash (xt=urn:btmh:1220 and 64 hexadecimal characters expected)"};
inline constexpr Text kCannotWrite = {"无法写入 %1 (%2)", "cannot write %1 (%2)"};
inline constexpr Text kFetchFailed = {"种子获取失败: %1", "no source had the torrent: %1"};
inline constexpr Text kInterrupted = {"已中断", "interrupted"};
inline constexpr Text kLeftAlone = {
    "未保存：%1 已存在，是另一个文件，没有替换 (--no-clobber)",
    "not saved: %1 is there already and holds something else, left alone (--no-clobber)"};
inline constexpr Text kNotFinished = {"已中断：%1 个未完成", "interrupted: %1 not finished"};
inline constexpr Text kHttpStatus = {"HTTP %1", "HTTP status %1"};
// One source's answer: "镜像 1 服务器返回错误 (HTTP 404)", "mirror 1: ... (HTTP status 404)".
inline constexpr Text kAttempt = {"%1 %2", "%1: %2"};
inline constexpr Text kWithDetail = {"%1 (%2)", "%1 (%2)"};
// What one of a link's trackers answered, after the network's reason.
inline constexpr Text kTrackerSaid = {"；tracker %1：%2", "; tracker %1: %2"};
// A source this run could not reach a moment before, not asked again for this link.
inline constexpr Text kTries = {"（共尝试 %1 次）", " (%1 attempts)"};
inline constexpr Text kTry = {"（第 %1 次）", " (try %1)"};
inline constexpr Text kNotContacted = {
    "%1 未连接：位于本机或内部网络中",
    "%1: not contacted, being on this machine or a private network"};
inline constexpr Text kNotAskedAgain = {"%1 未再询问：%2 秒前无法连接",
                                        "%1: not asked again: could not be reached %2 s earlier"};

// --verbose, the summary and --dry-run.
inline constexpr Text kVerboseAmounts = {"，%1 字节，%2 秒", ", %1 bytes, %2 s"};
inline constexpr Text kVerboseNetwork = {"，拨号 %1 个节点，连上 %2 个，DHT 路由 %3 个",
                                         ", peers dialled %1, connected %2, DHT nodes %3"};
inline constexpr Text kSummary = {"已保存 %1 个，保留 %2 个，失败 %3 个",
                                  "saved %1, kept %2, failed %3"};
inline constexpr Text kSummaryInterrupted = {"，中断 %1 个", ", interrupted %1"};
inline constexpr Text kSummaryTime = {"，用时 %1 秒", " in %1 s"};
inline constexpr Text kPlanned = {"%1 %2 %3", "%1 %2 %3"};
inline constexpr Text kPlanRefused = {"%1 %2: %3", "%1 %2: %3"};
inline constexpr Text kRetrying = {"%1 秒后重试", "retrying in %1 s"};

// A system error the program has no words for (SystemWords), by its number.
inline constexpr Text kSystemError = {"系统错误 %1", "system error %1"};

// The progress line.
inline constexpr Text kInProgress = {"%1 个进行中", "%1 in progress"};
inline constexpr Text kProgressNodes = {"网络, DHT 路由 %1 个", "network, %1 DHT nodes"};
inline constexpr Text kProgressNode = {"网络, DHT 路由 1 个", "network, 1 DHT node"};
inline constexpr Text kProgressPeer = {"网络, 已连接 1 个节点", "network, 1 peer"};

}  // namespace velindra::cli_texts

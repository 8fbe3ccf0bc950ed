#include "core/words.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <iterator>
#include <string_view>
#include <utility>

namespace velindra {

namespace {

std::atomic<Language> gLanguage{Language::Chinese};

// The words a table of pairs has for `key`; nothing when it has none.
template <typename Key, size_t N>
const Text* Lookup(const std::pair<Key, Text> (&table)[N], const Key& key) {
    for (const auto& [known, words] : table) {
        if (known == key)
            return &words;
    }
    return nullptr;
}

}  // namespace

void SetLanguage(Language language) {
    gLanguage = language;
}

Language CurrentLanguage() {
    return gLanguage;
}

std::string Say(const Text& text, std::initializer_list<std::string> arguments) {
    return Fill(gLanguage == Language::Chinese ? text.zh : text.en, arguments);
}

std::string Fill(std::string_view pattern, std::initializer_list<std::string> arguments) {
    std::string said;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const size_t n = i + 1 < pattern.size() ? size_t(pattern[i + 1] - '1') : arguments.size();
        if (pattern[i] == '%' && n < arguments.size()) {
            said += *(arguments.begin() + n);
            ++i;
        } else {
            said += pattern[i];
        }
    }
    return said;
}

namespace {

// One row each, in the enum's order: a new error without its words fails the build.
constexpr std::pair<FetchError, Text> kErrorWords[] = {
    {FetchError::None, {"已保存", "saved"}},
    {FetchError::NoConnection, {"无法连接", "could not connect"}},
    {FetchError::NotAskedAgain,
     {"稍早前无法连接，未再询问", "not asked again: could not be reached shortly before"}},
    {FetchError::Timeout, {"超时", "timed out"}},
    {FetchError::HttpStatus, {"服务器返回错误", "the server answered with an error"}},
    {FetchError::Redirect, {"重定向无效", "bad redirect"}},
    {FetchError::NotHttp, {"服务器的应答不是 HTTP", "the server did not answer in HTTP"}},
    {FetchError::TooLarge, {"文件过大", "the file is too large"}},
    {FetchError::NotATorrent, {"不是种子文件", "not a torrent file"}},
    {FetchError::WrongTorrent, {"种子与链接不符", "the torrent is for another link"}},
    {FetchError::CannotWrite, {"无法写入", "cannot write"}},
    {FetchError::InvalidHash, {"无效的种子特征", "unusable info-hash"}},
    {FetchError::PrivateAddress,
     {"地址在本机或内部网络中，没有连接",
      "not contacted, being on this machine or a private network"}},
    {FetchError::Cancelled, {"已取消", "cancelled"}},
    {FetchError::Other, {"失败", "failed"}},
};

constexpr bool InEnumOrder() {
    for (size_t k = 0; k < std::size(kErrorWords); ++k) {
        if (kErrorWords[k].first != static_cast<FetchError>(k))
            return false;
    }
    return std::size(kErrorWords) == static_cast<size_t>(FetchError::Other) + 1;
}
static_assert(InEnumOrder(), "every fetch error has its words");

}  // namespace

const Text& Words(FetchError error) {
    return kErrorWords[static_cast<size_t>(error)].second;
}

const Text* FactWords(Fact fact) {
    // What the network source says of a link it gave up on.
    static constexpr std::pair<Fact, Text> kFacts[] = {
        {Fact::Unreachable, {"没有连上任何节点，也没有 DHT 路由", "no peer, no DHT node"}},
        {Fact::ClosedByPeer,
         {"节点接受了连接，随后又关闭了连接", "a peer took the connection and closed it"}},
        {Fact::LostEveryone, {"失去了所有节点和 DHT 路由", "lost every peer and DHT node"}},
        {Fact::NoMetadataInTime,
         {"连上了节点，但没有及时收到种子信息", "peers reached, no metadata in time"}},
        {Fact::OutOfFiles,
         {"系统打开的文件过多，无法再建立连接", "the system ran out of open files"}},
        {Fact::TrackerNoAnswer, {"tracker 没有及时应答", "the tracker did not answer in time"}},
        {Fact::TrackerTooLarge, {"tracker 的应答过大", "the tracker's answer was too large"}},
        {Fact::TrackerUnreachable, {"无法连接 tracker", "could not connect"}},
        {Fact::TrackerHttpStatus, {"HTTP %1", "HTTP status %1"}},
        {Fact::TrackerRefused, {"tracker 拒绝了请求", "the tracker refused the announce"}},
        {Fact::TrackerNotContacted,
         {"未连接：本机上的 tracker 地址须以 /announce 结尾",
          "not contacted: a tracker on this machine must end in /announce"}},
        {Fact::HostNotFound, {"找不到主机", "could not resolve the host"}},
        {Fact::ConnectionRefused, {"对方拒绝连接", "the connection was refused"}},
        {Fact::CouldNotConnect, {"无法建立连接", "could not connect to the server"}},
        {Fact::ConnectTimedOut, {"连接或应答超时", "no connection or answer in time"}},
        {Fact::TransferStalled, {"传输停滞", "the transfer stalled"}},
        {Fact::ConnectionBroken, {"连接中途断开", "the connection broke off"}},
        {Fact::NothingReceived, {"服务器没有返回任何内容", "the server sent nothing"}},
        {Fact::SecureFailed, {"TLS 安全连接失败", "the TLS handshake failed"}},
        {Fact::CertificateRefused,
         {"服务器证书无法验证", "the server's certificate could not be verified"}},
    };
    return Lookup(kFacts, fact);
}

FetchResult Stated(FetchError error, Fact fact) {
    const Text* words = FactWords(fact);
    FetchResult failed = FetchResult::Failed(error, words ? words->en : "");
    failed.fact = fact;
    return failed;
}

SystemProblem ProblemOf(int errorNumber) {
    static const std::pair<int, SystemProblem> kProblems[] = {
        {ENOENT, SystemProblem::NotFound},          {ENOTDIR, SystemProblem::NotAFolder},
        {EISDIR, SystemProblem::IsAFolder},         {EACCES, SystemProblem::NoPermission},
        {EPERM, SystemProblem::NoPermission},       {EROFS, SystemProblem::ReadOnly},
        {ENOSPC, SystemProblem::DiskFull},
#ifdef EDQUOT
        {EDQUOT, SystemProblem::QuotaExceeded},
#endif
        {ENAMETOOLONG, SystemProblem::NameTooLong}, {EIO, SystemProblem::InputOutput},
        {EPIPE, SystemProblem::BrokenPipe},         {EMFILE, SystemProblem::TooManyFiles},
        {ENFILE, SystemProblem::TooManyFiles},      {EEXIST, SystemProblem::NameTaken},
    };
    if (errorNumber == 0)
        return SystemProblem::None;
    for (const auto& [number, problem] : kProblems) {
        if (number == errorNumber)
            return problem;
    }
    return SystemProblem::Other;
}

const Text* SystemWords(SystemProblem problem) {
    static constexpr std::pair<SystemProblem, Text> kWords[] = {
        {SystemProblem::NotFound, {"文件或文件夹不存在", "no such file or folder"}},
        {SystemProblem::NoPermission, {"没有权限", "permission denied"}},
        {SystemProblem::IsAFolder, {"是一个文件夹", "it is a folder"}},
        {SystemProblem::NotAFolder, {"不是文件夹", "not a folder"}},
        {SystemProblem::DiskFull, {"磁盘已满", "the disk is full"}},
        {SystemProblem::ReadOnly, {"只读文件系统", "read-only file system"}},
        {SystemProblem::QuotaExceeded, {"超出磁盘配额", "disk quota exceeded"}},
        {SystemProblem::NameTooLong, {"文件名过长", "file name too long"}},
        {SystemProblem::InputOutput, {"输入/输出错误", "input/output error"}},
        {SystemProblem::BrokenPipe, {"管道已断开", "broken pipe"}},
        {SystemProblem::TooManyFiles, {"打开的文件过多", "too many open files"}},
        {SystemProblem::NameTaken,
         {"这个文件夹不分大小写，该名字已是另一个链接的文件",
          "the folder takes this name for another link's file"}},
    };
    return Lookup(kWords, problem);
}

}  // namespace velindra

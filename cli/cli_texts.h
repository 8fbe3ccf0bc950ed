// The words velindra-cli says, in one place. The options' own lines of --help are in the
// option table (options.cpp).
#pragma once

namespace velindra::cli_texts {

inline constexpr const char* kProgram = "velindra-cli";

inline constexpr const char* kUsageLine = "用法: velindra-cli [选项] [文件或磁力链接...]";
inline constexpr const char* kSeeHelp = "  (详见 --help)";
inline constexpr const char* kUsageIntro = R"(

从文件(或标准输入)读取含有磁力链接的文本, 为每个链接下载 .torrent 种子文件并保存,
每保存一个文件就在标准输出打印它的路径。以 "magnet:?" 开头的参数本身就是链接;
文件名为 "-" 或未给出文件时读取标准输入。

选项:
)";
inline constexpr const char* kUsageOutro = R"(
退出码: 0 全部保存; 1 有链接失败; 2 用法错误或没有链接;
        被信号中断时 128 加信号编号 (Ctrl-C 为 130)。
)";

// Usage errors; the option as typed goes before or after them.
inline constexpr const char* kOption = "选项 ";
inline constexpr const char* kNeedsFolder = " 需要一个目录";
inline constexpr const char* kNeedsNumber = " 需要一个数字";
inline constexpr const char* kNameValues = "--name 只能是 dn 或 btih";
inline constexpr const char* kJobsRange = "--jobs 必须是 1 到 32 之间的整数";
inline constexpr const char* kMirrorUrl = "--mirror 必须是 http:// 或 https:// 地址: ";
inline constexpr const char* kNeedsCertificate = "--cacert 需要一个证书文件";
inline constexpr const char* kNeedsAddress = " 需要 地址:端口";
inline constexpr const char* kListenPort = "--listen 的端口必须是 0 到 65535 之间的整数: ";
inline constexpr const char* kNodePort = "--dht-node 的端口必须是 1 到 65535 之间的整数: ";
inline constexpr const char* kListenHost = "--listen 的地址必须是本机的 IP 地址或网络接口: ";
inline constexpr const char* kTakesNoValue = " 不带值";
inline constexpr const char* kNeedsSeconds = " 必须是正的秒数";
inline constexpr const char* kUnknownOption = "未知选项: ";

// What happened to a link, and to the run.
inline constexpr const char* kNoHashInLink = ": 链接中没有 xt=urn:btih:";
inline constexpr const char* kHashForms = " (应为 40 位十六进制或 32 位 base32 字符)";
inline constexpr const char* kCannotWrite = "无法写入 ";
inline constexpr const char* kInterrupted = "已中断";
inline constexpr const char* kNotFinished = " 个未完成";
inline constexpr const char* kMirror = "镜像 ";
inline constexpr const char* kLinkAddress = "链接中的地址 ";
inline constexpr const char* kV2HashForm = " (应为 xt=urn:btmh:1220 加 64 位十六进制字符)";
inline constexpr const char* kNetwork = "BitTorrent 网络";
inline constexpr const char* kCannotRead = ": 无法读取 ";
inline constexpr const char* kCannotWriteOutput = ": 无法写入标准输出: ";

}  // namespace velindra::cli_texts

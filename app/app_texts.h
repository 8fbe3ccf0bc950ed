// The words only the windows say: their captions, buttons and boxes. All user-visible text is
// Chinese; what the conversion logic says is in core/texts.h.
#pragma once

#include "batch/texts.h"

namespace velindra::texts {

inline constexpr const char* kAppTitle = "Velindra";
inline constexpr const char* kCannotOpen = "无法打开";
inline constexpr const char* kCannotReveal = "无法在文件夹中显示";
// Why, and what to do.
inline constexpr const char* kNoOpener =
    "系统中没有用来打开文件的程序 (xdg-open)。请安装 xdg-utils，或在程序设置中选择“什么都不做”。";
inline constexpr const char* kNoProgram =
    "没有为 .torrent 文件设置打开它的程序。请安装一个 BitTorrent 客户端并把它设为 .torrent "
    "文件的默认程序，或在程序设置中选择“打开所在文件夹”。";
inline constexpr const char* kNoFileManager =
    "没有找到可以显示文件夹的文件管理器。请安装一个文件管理器，或在程序设置中选择“什么都不做”。";
// Under the first such box of a batch.
inline constexpr const char* kNotSaidAgain = "本批中其余同样的失败不再提示。";
inline constexpr const char* kOpenerFailed =
    "打开它的程序启动后报告了错误。请检查 .torrent 文件的默认程序，或在程序设置中换一种操作。";

inline constexpr const char* kFolderPrompt = "请选择文件夹： ";

// The main window.
inline constexpr const char* kFetchButton = "获取种子";
// What the links box holds, as its tooltip says it: how many links, and their files' names.
inline constexpr const char* kLinksHeld = "框中有 %1 个链接：";
inline constexpr const char* kMoreLinks = "……还有 %1 个";
inline constexpr const char* kSettingsButton = "程序设置";
inline constexpr const char* kClearButton = "清空框框";

// The completion prompt.
inline constexpr const char* kPromptTitle = "恭喜恭喜";
inline constexpr const char* kPromptSaved = "种子获取成功";
inline constexpr const char* kPromptRemember = "以后自动使用同样操作";

// The finish actions, as the prompt's buttons and the settings window's options name them.
inline constexpr const char* kAsk = "用户选择";
inline constexpr const char* kOpen = "打开";
inline constexpr const char* kReveal = "打开所在文件夹";
inline constexpr const char* kNothing = "什么都不做";

// The settings window.
inline constexpr const char* kSettingsTitle = "设置";
inline constexpr const char* kSaveWhere = "保存位置";
inline constexpr const char* kSaveBelow = "保存在下面";
inline constexpr const char* kBrowse = "浏览";
inline constexpr const char* kNameFrom = "保存文件名";
inline constexpr const char* kNameFromContent = "优先使用内容信息";
inline constexpr const char* kNameFromHash = "总是使用种子特征";
inline constexpr const char* kOnFailure = "当获取种子失败";
inline constexpr const char* kTell = "提示";
inline constexpr const char* kDoNotTell = "不提示";
inline constexpr const char* kOnSuccess = "获取种子成功";
inline constexpr const char* kOk = "确定";
inline constexpr const char* kSettingsNotSaved = "设置无法保存：";
// The desktop program's own command line.
inline constexpr const char* kAppUsageLine = "用法: velindra [磁力链接...]";
inline constexpr const char* kAppUsage = R"(

打开 Velindra 窗口。给出的磁力链接放进链接框, 每个一行; 按 "获取种子" 才会获取。
已有窗口在运行时, 链接交给那个窗口, 不再打开新窗口。

选项:
)";
inline constexpr const char* kHelpHelp = "显示本帮助";
inline constexpr const char* kHelpVersion = "显示版本";
inline constexpr const char* kHelpAllowPrivate =
    "允许链接自带的地址 (xs=、as=、tracker 和节点) 位于本机或内部网络; 默认不连接这些地址";
inline constexpr const char* kNotALink = "既不是磁力链接也不是选项: ";
inline constexpr const char* kNoDisplay =
    "没有图形显示（DISPLAY 和 WAYLAND_DISPLAY 都没有设置），无法打开窗口；"
    "在没有桌面的机器上请用 velindra-cli";
inline constexpr const char* kPrivateNotApplied =
    "链接已交给正在运行的窗口；--allow-private-addresses 只在启动窗口时生效，"
    "对这些链接不起作用";
inline constexpr const char* kInstanceNoAnswer = "正在运行的 Velindra 没有响应，链接没有交给它";

// The progress window; %1 and %2 are filled in.
inline constexpr const char* kCancel = "取消";
inline constexpr const char* kProgressCounted = "正在获取第 %1/%2 个：";
inline constexpr const char* kProgressOne = "正在获取：";
inline constexpr const char* kProgressReading = "正在读取 %1 个链接……";
inline constexpr const char* kStopBatch = "停止";

}  // namespace velindra::texts

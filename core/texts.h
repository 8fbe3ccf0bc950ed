// The words the windows and the conversion logic say to their user, in one place. All
// user-visible text is Chinese. The command line's own words are in cli/cli_texts.h.
#pragma once

#include "interfaces.h"

namespace velindra::texts {

inline constexpr const char* kAppTitle = "Velindra";
inline constexpr const char* kNoLinks = "没有链接";
inline constexpr const char* kParseFailed = "分析失败";
inline constexpr const char* kFetchFailed = "种子获取失败";
inline constexpr const char* kCannotOpen = "无法打开";
inline constexpr const char* kCannotReveal = "无法在文件夹中显示";
inline constexpr const char* kInternalError = "内部错误";
inline constexpr const char* kColon = "：";  // between a message and the path it is about

inline constexpr const char* kSaveTitle = "另存为";
inline constexpr const char* kSaveFilter = "种子文件(*.torrent)|*.torrent;所有文件(*.*)|*.*";
inline constexpr int kSaveFilterIndex = 0;
inline constexpr int kSaveFlags = kSaveOverwritePromptFlag | kSaveHideReadOnlyFlag;

inline constexpr const char* kFolderPrompt = "请选择文件夹： ";

// The main window.
inline constexpr const char* kFetchButton = "获取种子";
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
inline constexpr const char* kInstanceNoAnswer = "正在运行的 Velindra 没有响应，链接没有交给它";
inline constexpr const char* kFolderNotAbsolute = "保存位置必须是完整的文件夹路径：";

// The progress window; %1 and %2 are filled in.
inline constexpr const char* kCancel = "取消";
inline constexpr const char* kProgressCounted = "正在获取第 %1/%2 个：";
inline constexpr const char* kProgressOne = "正在获取：";
inline constexpr const char* kProgressNetwork =
    "正在从 BitTorrent 网络获取种子信息，已连接 %1 个节点";
inline constexpr const char* kProgressMirror = "正在从镜像 %1 获取种子：%2";
inline constexpr const char* kProgressLinkAddress = "正在从链接中的地址获取种子：%1";

// Why a source delivered nothing, in a few words.
const char* Describe(FetchError error);

}  // namespace velindra::texts

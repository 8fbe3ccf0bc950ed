// The words the windows' batch says to its user (through the windows' boxes and
// progress). All user-visible text is Chinese. The windows' own words are in app/app_texts.h,
// the command line's in cli/cli_texts.h.
#pragma once

#include "batch/dialogs.h"

namespace velindra::texts {

inline constexpr const char* kNoLinks = "没有链接";
inline constexpr const char* kParseFailed = "分析失败";
inline constexpr const char* kFetchFailed = "种子获取失败";
inline constexpr const char* kInternalError = "内部错误";
inline constexpr const char* kColon = "：";  // between a message and the path it is about

inline constexpr const char* kSaveTitle = "另存为";
inline constexpr const char* kSaveFilter = "种子文件(*.torrent)|*.torrent;所有文件(*.*)|*.*";
inline constexpr int kSaveFilterIndex = 0;
inline constexpr int kSaveFlags = kSaveOverwritePromptFlag | kSaveHideReadOnlyFlag;
inline constexpr const char* kSeeHelp = "  (详见 --help)";
inline constexpr const char* kFolderNotAbsolute = "保存位置必须是完整的文件夹路径：";

// Why a link failed, below "种子获取失败" and the file's name.
inline constexpr const char* kSemicolon = "；";
inline constexpr const char* kReasonNoSource = "没有可以询问的来源";
inline constexpr const char* kReasonCannotWrite = "无法写入 ";
inline constexpr const char* kReasonFolderMissing = "文件夹不存在";
inline constexpr const char* kReasonNoPermission = "没有写入权限";
inline constexpr const char* kReasonFolderInTheWay = "有同名的文件夹";
inline constexpr const char* kReasonNoHashInLink = "链接中没有种子特征";

}  // namespace velindra::texts

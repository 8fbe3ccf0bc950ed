// The words the program says to its user, in one place. All user-visible text is Chinese.
#pragma once

namespace velindra::texts {

inline constexpr const char* kAppTitle = "Velindra";
inline constexpr const char* kNoLinks = "没有链接";
inline constexpr const char* kParseFailed = "分析失败";
inline constexpr const char* kFetchFailed = "种子获取失败";
inline constexpr const char* kCannotOpen = "无法打开";
inline constexpr const char* kCannotReveal = "无法在文件夹中显示";

inline constexpr const char* kSaveTitle = "另存为";
inline constexpr const char* kSaveFilter = "种子文件(*.torrent)|*.torrent;所有文件(*.*)|*.*";
inline constexpr int kSaveFilterIndex = 0;
inline constexpr int kSaveFlags = 6;  // ask before an existing file is replaced, no read-only box

inline constexpr const char* kFolderPrompt = "请选择文件夹： ";
inline constexpr int kFolderFlags = 1;  // file-system folders only

}  // namespace velindra::texts

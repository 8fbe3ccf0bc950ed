#include <QDir>
#include <QFileInfo>
#include <QString>

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
// clang-format on

#include "app/desktop_launcher.h"

namespace velindra {

namespace {

QString Absolute(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).absoluteFilePath();
}

std::wstring Native(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

// ShellExecuteW reports success as a value above 32, and no program for the file as
// SE_ERR_NOASSOC.
LaunchProblem ShellOpen(const wchar_t* verb, const std::wstring& target) {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, verb, target.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result > 32)
        return LaunchProblem::None;
    return result == SE_ERR_NOASSOC ? LaunchProblem::NoProgram : LaunchProblem::Failed;
}

// The shell's calls need COM on this thread; it is released again by whoever started it.
class ComScope {
  public:
    ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ~ComScope() {
        if (SUCCEEDED(hr_))
            CoUninitialize();
    }

  private:
    HRESULT hr_;
};

}  // namespace

bool DesktopLauncher::OpenFile(const std::string& path) {
    const QString file = Absolute(path);
    ComScope com;
    const std::wstring target = Native(file);
    // With no program for .torrent files, the shell's "open with" choice is the next best.
    problem_ = ShellOpen(L"open", target);
    if (problem_ != LaunchProblem::None && ShellOpen(L"openas", target) == LaunchProblem::None)
        problem_ = LaunchProblem::None;
    return problem_ == LaunchProblem::None;
}

bool DesktopLauncher::RevealFile(const std::string& path) {
    const QString file = Absolute(path);
    ComScope com;
    bool shown = false;
    if (PIDLIST_ABSOLUTE item = ILCreateFromPathW(Native(file).c_str())) {
        shown = SUCCEEDED(SHOpenFolderAndSelectItems(item, 0, nullptr, 0));
        ILFree(item);
    }
    problem_ =
        shown ? LaunchProblem::None : ShellOpen(L"open", Native(QFileInfo(file).absolutePath()));
    if (problem_ != LaunchProblem::None)
        problem_ = LaunchProblem::NoFileManager;
    return problem_ == LaunchProblem::None;
}

bool HasDisplay() {
    return true;
}

// Text through DirectWrite: the older GDI engine draws Chinese from a font's small bitmaps where
// it has them, with strokes missing at dialog sizes.
const char* DefaultPlatform() {
    return "windows:fontengine=directwrite";
}

}  // namespace velindra

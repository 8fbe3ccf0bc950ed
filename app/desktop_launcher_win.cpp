#include <QDir>
#include <QFileInfo>
#include <QString>

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
// clang-format on

#include "desktop_launcher.h"

namespace velindra {

namespace {

QString Absolute(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).absoluteFilePath();
}

std::wstring Native(const QString& path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

// ShellExecuteW reports success as a value above 32.
bool ShellOpen(const wchar_t* verb, const std::wstring& target) {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, verb, target.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
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
    return ShellOpen(L"open", target) || ShellOpen(L"openas", target);
}

bool DesktopLauncher::RevealFile(const std::string& path) {
    const QString file = Absolute(path);
    ComScope com;
    bool shown = false;
    if (PIDLIST_ABSOLUTE item = ILCreateFromPathW(Native(file).c_str())) {
        shown = SUCCEEDED(SHOpenFolderAndSelectItems(item, 0, nullptr, 0));
        ILFree(item);
    }
    return shown || ShellOpen(L"open", Native(QFileInfo(file).absolutePath()));
}

}  // namespace velindra

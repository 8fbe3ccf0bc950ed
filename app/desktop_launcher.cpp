#include "desktop_launcher.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
// clang-format on
#else
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#endif

namespace velindra {

namespace {

QString Absolute(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).absoluteFilePath();
}

#ifdef _WIN32
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
#else
// How long the opener is given to say that it found nothing to open the file with (xdg-open
// exits 3, "no method available"); one that is still running then has started a program.
constexpr int kOpenerVerdictMs = 3000;

bool StartOpener(const QString& target) {
    // Started directly, never through a shell. Its exit status is read if it comes soon; the
    // window keeps painting meanwhile, and an opener still running is left to run on its own.
    auto* opener = new QProcess;
    opener->start(QStringLiteral("xdg-open"), {target});
    if (!opener->waitForStarted(kOpenerVerdictMs)) {
        delete opener;
        return false;
    }
    QEventLoop loop;
    QObject::connect(opener, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kOpenerVerdictMs, &loop, &QEventLoop::quit);
    if (opener->state() != QProcess::NotRunning)
        loop.exec();
    if (opener->state() != QProcess::NotRunning) {
        QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
        return true;
    }
    const bool opened = opener->exitStatus() == QProcess::NormalExit && opener->exitCode() == 0;
    delete opener;
    return opened;
}

bool AskFileManager(const QString& file) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusConnectionInterface* names = bus.interface();
    if (!names)
        return false;
    const bool running = names->isServiceRegistered(service).value();
    const bool startable = running || names->activatableServiceNames().value().contains(service);
    if (!startable)
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                       service, QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded)} << QString();
    return bus.send(call);  // no waiting for the file manager
}
#endif

}  // namespace

bool DesktopLauncher::OpenFile(const std::string& path) {
    const QString file = Absolute(path);
#ifdef _WIN32
    ComScope com;
    const std::wstring target = Native(file);
    // With no program for .torrent files, the shell's "open with" choice is the next best.
    return ShellOpen(L"open", target) || ShellOpen(L"openas", target);
#else
    return StartOpener(file);
#endif
}

bool DesktopLauncher::RevealFile(const std::string& path) {
    const QString file = Absolute(path);
#ifdef _WIN32
    ComScope com;
    bool shown = false;
    if (PIDLIST_ABSOLUTE item = ILCreateFromPathW(Native(file).c_str())) {
        shown = SUCCEEDED(SHOpenFolderAndSelectItems(item, 0, nullptr, 0));
        ILFree(item);
    }
    return shown || ShellOpen(L"open", Native(QFileInfo(file).absolutePath()));
#else
    return AskFileManager(file) || StartOpener(QFileInfo(file).absolutePath());
#endif
}

}  // namespace velindra

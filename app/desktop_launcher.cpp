#include "desktop_launcher.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QUrl>

#ifdef _WIN32
#include <shellapi.h>
#include <shlobj.h>
#include <windows.h>
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

#ifndef _WIN32
void StartOpener(const QString& target) {
    // Started directly, never through a shell, and not waited for.
    QProcess::startDetached(QStringLiteral("xdg-open"), {target});
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

void DesktopLauncher::OpenFile(const std::string& path) {
    const QString file = Absolute(path);
#ifdef _WIN32
    ShellExecuteW(nullptr, L"open",
                  reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(file).utf16()), nullptr,
                  nullptr, SW_SHOWNORMAL);
#else
    StartOpener(file);
#endif
}

void DesktopLauncher::RevealFile(const std::string& path) {
    const QString file = Absolute(path);
#ifdef _WIN32
    PIDLIST_ABSOLUTE item =
        ILCreateFromPathW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(file).utf16()));
    if (item) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        SHOpenFolderAndSelectItems(item, 0, nullptr, 0);
        ILFree(item);
    }
#else
    if (!AskFileManager(file)) {
        StartOpener(QFileInfo(file).absolutePath());
    }
#endif
}

}  // namespace velindra

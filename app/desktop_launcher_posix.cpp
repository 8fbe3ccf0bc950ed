#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include "app/desktop_launcher.h"

namespace velindra {

namespace {

QString Absolute(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).absoluteFilePath();
}

// How long the opener is given to say that it found nothing to open the file with (xdg-open
// exits 3, "no method available"); one that is still running then has started a program.
constexpr int kOpenerVerdictMs = 3000;

LaunchProblem StartOpener(const QString& target) {
    // Started directly, never through a shell. Its exit status is read if it comes soon; the
    // window keeps painting meanwhile, and an opener still running is left to run on its own.
    auto* opener = new QProcess;
    opener->start(QStringLiteral("xdg-open"), {target});
    if (!opener->waitForStarted(kOpenerVerdictMs)) {
        delete opener;
        return LaunchProblem::NoOpener;
    }
    QEventLoop loop;
    QObject::connect(opener, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kOpenerVerdictMs, &loop, &QEventLoop::quit);
    if (opener->state() != QProcess::NotRunning)
        loop.exec();
    if (opener->state() != QProcess::NotRunning) {
        QObject::connect(opener, &QProcess::finished, opener, &QObject::deleteLater);
        return LaunchProblem::None;
    }
    const bool normal = opener->exitStatus() == QProcess::NormalExit;
    const int code = opener->exitCode();
    delete opener;
    if (normal && code == 0)
        return LaunchProblem::None;
    return normal && code == 3 ? LaunchProblem::NoProgram : LaunchProblem::Failed;
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

}  // namespace

bool DesktopLauncher::OpenFile(const std::string& path) {
    problem_ = StartOpener(Absolute(path));
    return problem_ == LaunchProblem::None;
}

bool DesktopLauncher::RevealFile(const std::string& path) {
    const QString file = Absolute(path);
    problem_ =
        AskFileManager(file) ? LaunchProblem::None : StartOpener(QFileInfo(file).absolutePath());
    // Nothing opens folders: there is no file manager to show it in.
    if (problem_ == LaunchProblem::NoOpener || problem_ == LaunchProblem::NoProgram)
        problem_ = LaunchProblem::NoFileManager;
    return problem_ == LaunchProblem::None;
}

bool HasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

const char* DefaultPlatform() {
    return nullptr;
}

}  // namespace velindra

#include <QApplication>
#include <QThread>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "app/Form1.h"
#include "app/app_texts.h"
#include "app/desktop_launcher.h"
#include "app/messages.h"
#include "app/modXP.h"
#include "app/single_instance.h"
#include "core/option_table.h"
#include "core/terminal_text.h"
#include "platform/process_setup.h"
#include "version.h"

namespace {

using velindra::SingleInstance;

// Hands the links to the window already running for this user, or becomes that window. An
// exit status when this start is done: its links are with the running window, or that
// window did not take them (this start then shows no window of its own, so that no link is
// ever shown twice).
std::optional<int> JoinOrListen(SingleInstance& instance, const QStringList& links) {
    const QString name = SingleInstance::DefaultName();
    for (int attempt = 0; attempt < 10; ++attempt) {
        switch (SingleInstance::HandOver(name, links)) {
            case SingleInstance::HandOverResult::Delivered:
                return 0;
            case SingleInstance::HandOverResult::NoAnswer:
                velindra::ShowMessageBox(nullptr,
                                         QString::fromUtf8(velindra::texts::kInstanceNoAnswer));
                return 1;
            case SingleInstance::HandOverResult::NoInstance:
                break;
        }
        // Taken: another start got there first a moment ago; it takes the links instead.
        if (instance.Listen(name) != SingleInstance::ListenResult::Taken)
            return std::nullopt;
        QThread::msleep(200);
    }
    return std::nullopt;
}

// The window program's own options; every other argument is a link, or the toolkit's.
struct AppOptions {
    bool allowPrivate = false;
};

const std::vector<velindra::OptionRow<AppOptions>>& Table() {
    using namespace velindra;
    static const std::vector<OptionRow<AppOptions>> table = {
        {"-h", "--help", kNoValue, texts::kHelpHelp, nullptr, OptionStop::Help},
        {"", "--version", kNoValue, texts::kHelpVersion, nullptr, OptionStop::Version},
        {"", "--allow-private-addresses", kNoValue, texts::kHelpAllowPrivate,
         [](AppOptions& o, const std::optional<std::string>&, const std::string&) {
             o.allowPrivate = true;
             return std::string();
         }},
    };
    return table;
}

// --help and --version are answered as programs do, on standard output, before any window
// or display is needed. An exit status when the program should end at once.
std::optional<int> AnswerOptions(int argc, char** argv) {
    using namespace velindra;
    for (int i = 1; i < argc; ++i) {
        const OptionRow<AppOptions>* row = FindOption(Table(), argv[i]);
        if (row && row->stop == OptionStop::Help) {
            std::printf("%s%s%s", texts::kAppUsageLine, texts::kAppUsage,
                        OptionLines(Table(), 30, 79).c_str());
            return 0;
        }
        if (row && row->stop == OptionStop::Version) {
            std::printf("velindra %s\n", kVersion);
            return 0;
        }
    }
    return std::nullopt;
}

// Takes the window program's own options out of the arguments the toolkit left.
AppOptions TakeOptions(QStringList& arguments) {
    AppOptions options;
    arguments.removeIf([&](const QString& argument) {
        const auto* row = velindra::FindOption(Table(), argument.toStdString());
        if (row && row->apply)
            row->apply(options, std::nullopt, argument.toStdString());
        return row && row->apply;
    });
    return options;
}

// Every argument left once the toolkit has taken its own must hold a magnet link: anything
// else is refused, not pasted. An exit status when the program should end at once.
std::optional<int> RefuseOtherArguments(const QStringList& arguments) {
    using namespace velindra;
    for (const QString& argument : arguments) {
        if (!argument.contains(QStringLiteral("magnet:?"))) {
            std::fprintf(stderr, "velindra: %s%s\n%s%s\n", texts::kNotALink,
                         EscapeControls(argument.toStdString()).c_str(), texts::kAppUsageLine,
                         texts::kSeeHelp);
            return 2;
        }
    }
    return std::nullopt;
}

// Where no window can be shown (no display, as over ssh), the toolkit would abort: the arguments
// are checked here instead, and the reason given, before it starts. The toolkit's own options
// and their values are let through. An exit status when the program should end at once.
std::optional<int> RefuseWithoutDisplay(int argc, char** argv) {
    using namespace velindra;
    if (HasDisplay())
        return std::nullopt;
    static const QStringList kWithValue = {
        QStringLiteral("-platform"),        QStringLiteral("-platformpluginpath"),
        QStringLiteral("-platformtheme"),   QStringLiteral("-plugin"),
        QStringLiteral("-display"),         QStringLiteral("-style"),
        QStringLiteral("-stylesheet"),      QStringLiteral("-session"),
        QStringLiteral("-qwindowgeometry"), QStringLiteral("-qwindowtitle"),
        QStringLiteral("-qwindowicon")};
    QStringList links;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (kWithValue.contains(argument))
            ++i;
        else if (!argument.startsWith(QLatin1Char('-')))
            links << argument;
    }
    if (const std::optional<int> status = RefuseOtherArguments(links))
        return status;
    std::fprintf(stderr, "velindra: %s\n", texts::kNoDisplay);
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    velindra::EnsureStandardDescriptors();  // before anything opens a file or a socket
    velindra::EnsureHomeFolder();
    if (const std::optional<int> status = AnswerOptions(argc, argv))
        return *status;
    if (const std::optional<int> status = RefuseWithoutDisplay(argc, argv))
        return *status;
    if (const char* platform = velindra::DefaultPlatform();
        platform && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", platform);
    try {
        QApplication app(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Velindra"));
        QApplication::setApplicationVersion(QString::fromUtf8(velindra::kVersion));
        QGuiApplication::setDesktopFileName(QStringLiteral("velindra"));
        velindra::modXP::InstallTranslations();

        // A browser handing over the next link starts us again: the running program takes it.
        QStringList links = QApplication::arguments().mid(1);
        const bool allowPrivate = TakeOptions(links).allowPrivate;
        if (const std::optional<int> status = RefuseOtherArguments(links))
            return *status;
        velindra::SingleInstance instance;
        QObject::connect(&instance, &velindra::SingleInstance::argumentsArrived,
                         [](const QStringList& more) {
                             if (velindra::Form1* form = velindra::modXP::MainWindow())
                                 form->AppendLinks(more);
                         });
        if (const std::optional<int> status = JoinOrListen(instance, links)) {
            if (*status == 0 && allowPrivate)
                std::fprintf(stderr, "velindra: %s\n", velindra::texts::kPrivateNotApplied);
            return *status;
        }

        velindra::modXP::Main(links, allowPrivate);
        return app.exec();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velindra: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "velindra: %s\n", velindra::texts::kInternalError);
    }
    return 1;
}

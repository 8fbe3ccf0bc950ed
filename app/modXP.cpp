#include "modXP.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QStyle>
#include <QTranslator>

#include "CD.h"
#include "Form1.h"
#include "curl_downloader.h"
#include "desktop_launcher.h"
#include "qt_settings_store.h"
#include "save_folder.h"
#include "swarm_source.h"
#include "texts.h"
#include "twips.h"

// The icons live in this library; the program and the tests both take them in from here.
static void InitResources() {
    Q_INIT_RESOURCE(velindra);
}

namespace velindra::modXP {

void InstallTranslations() {
    InitResources();
    // The toolkit's own dialogs and buttons speak the program's language, whatever the
    // system's is.
    auto* translator = new QTranslator(qApp);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (translator->load(QStringLiteral("qtbase_zh_CN"), folder) ||
        translator->load(QStringLiteral("qtbase_zh_CN"), QCoreApplication::applicationDirPath() +
                                                             QStringLiteral("/translations"))) {
        QCoreApplication::installTranslator(translator);
    }
}

bool InitVisualStyles() {
    // The platform's own theme gives the native look; all that can go wrong is that no style
    // could be loaded, and then Qt's built-in one serves.
    return QApplication::style() != nullptr;
}

namespace {
Form1* form = nullptr;
}  // namespace

Form1* MainWindow() {
    return form;
}

// The source asked when every mirror has failed: one BitTorrent session per batch.
static std::function<std::unique_ptr<Downloader>()> NetworkSource() {
#ifdef VELINDRA_SWARM
    return [] {
        SwarmLimits limits;
        limits.stateFile = DefaultSwarmStateFile();
        auto network = std::make_unique<SwarmSource>(limits);
        network->Warm();  // bootstraps while the mirrors are asked
        return std::unique_ptr<Downloader>(std::move(network));
    };
#else
    return {};
#endif
}

void Main(const QStringList& links) {
    InitVisualStyles();

    static QtSettingsStore settings;
    static CurlDownloader downloader;
    static DesktopLauncher launcher;
    if (!form) {
        form = new Form1(Outside{settings, downloader, launcher, SaveAsFromLastFolder,
                                 [](QWidget* owner, std::string& path) {
                                     return CD::BrowseForFolder(owner, path, texts::kFolderPrompt,
                                                                CD::kOnlyFileSystemFolders);
                                 },
                                 NetworkSource()});
        form->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(form, &QObject::destroyed, [] { form = nullptr; });
        CentreOver(form);
    }
    form->show();
    if (!links.isEmpty())
        form->AppendLinks(links);
}

}  // namespace velindra::modXP

#include "app/modXP.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QPainter>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QTranslator>

#include "app/CD.h"
#include "app/Form1.h"
#include "app/app_texts.h"
#include "app/desktop_launcher.h"
#include "app/save_folder.h"
#include "app/twips.h"
#include "platform/committer.h"
#include "platform/curl_downloader.h"
#include "platform/file_reading.h"
#include "platform/sources.h"
#include "platform/user_folders.h"
#include "settings/qt_settings_store.h"

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
    // The Windows build carries them inside the program; elsewhere they are the system's.
    if (translator->load(QStringLiteral("qtbase_zh_CN"),
                         QStringLiteral(":/velindra/translations")) ||
        translator->load(QStringLiteral("qtbase_zh_CN"), folder) ||
        translator->load(QStringLiteral("qtbase_zh_CN"), QCoreApplication::applicationDirPath() +
                                                             QStringLiteral("/translations"))) {
        QCoreApplication::installTranslator(translator);
    }
}

namespace {

// The platform's own style, except that empty radio and check indicators stay visible whatever
// the palette: some styles draw their rings a shade darker than the window, which is invisible
// when the window is nearly black (and faint on a light one). Their rings are drawn from the
// palette's window and text colours instead, well apart from the window on light and dark
// desktops alike.
class ReadableIndicators : public QProxyStyle {
  public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        const bool indicator =
            element == PE_IndicatorRadioButton || element == PE_IndicatorCheckBox;
        if (!indicator || !option) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        // Indicators come with a button's option; the copy keeps whatever the style reads.
        QStyleOptionButton button;
        QStyleOption plain;
        QStyleOption* copy = &plain;
        if (const auto* given = qstyleoption_cast<const QStyleOptionButton*>(option)) {
            button = *given;
            copy = &button;
        } else {
            plain = *option;
        }
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            const QColor window = option->palette.color(group, QPalette::Window);
            const QColor text = option->palette.color(group, QPalette::WindowText);
            // The style draws a ring from the window colour made darker by a half (a check
            // box's by two fifths, then lighter by a tenth): this window colour makes it come
            // out at 60% of the way from the window colour to the text colour.
            const QColor ring = Mix(window, text, 0.6);
            copy->palette.setColor(group, QPalette::Window,
                                   element == PE_IndicatorRadioButton
                                       ? ring.lighter(150)
                                       : ring.lighter(140).darker(110));
        }
        QProxyStyle::drawPrimitive(element, copy, painter, widget);
    }

  private:
    static QColor Mix(const QColor& from, const QColor& to, double share) {
        return QColor::fromRgbF(from.redF() + (to.redF() - from.redF()) * share,
                                from.greenF() + (to.greenF() - from.greenF()) * share,
                                from.blueF() + (to.blueF() - from.blueF()) * share);
    }
};

}  // namespace

bool InitVisualStyles() {
    // The platform's own theme gives the native look; all that can go wrong is that no style
    // could be loaded, and then Qt's built-in one serves.
    QStyle* current = QApplication::style();
    if (!current)
        return false;
    if (dynamic_cast<ReadableIndicators*>(current))
        return true;
    if (QStyle* base = QStyleFactory::create(current->name()))
        QApplication::setStyle(new ReadableIndicators(base));
    return true;
}

namespace {
Form1* form = nullptr;
}  // namespace

Form1* MainWindow() {
    return form;
}

// Files fetched ahead for the Save-as dialog wait in the user's own cache folder.
static std::string StagingFolder() {
    const std::string folder = UserCacheFolder();
    return !folder.empty() && MakeFolders(folder) ? folder : std::string();
}

void Main(const QStringList& links, bool allowPrivateAddresses) {
    InitVisualStyles();

    static QtSettingsStore settings;
    SourceOptions sources;
    sources.allowPrivateAddresses = allowPrivateAddresses;
    static ProgramSources program(sources);
    static Committer committer;
    static DesktopLauncher launcher;
    if (!form) {
        Outside outside{settings, program.web(), committer, launcher, SaveAsFromLastFolder,
                        [](QWidget* owner, std::string& path) {
                            return CD::BrowseForFolder(owner, path, texts::kFolderPrompt,
                                                       CD::kOnlyFileSystemFolders);
                        },
                        // One BitTorrent session a batch, asked when every mirror has failed.
                        [] { return program.Network(); }, StagingFolder, MakeFolders,
                        FolderIgnoresCase};
        form = new Form1(std::move(outside));
        form->setAttribute(Qt::WA_DeleteOnClose);
        QObject::connect(form, &QObject::destroyed, [] { form = nullptr; });
        CentreOver(form);
    }
    form->show();
    if (!links.isEmpty())
        form->AppendLinks(links);
}

}  // namespace velindra::modXP

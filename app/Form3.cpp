#include "app/Form3.h"

#include <QDir>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QStyleOptionGroupBox>
#include <algorithm>
#include <string_view>
#include <vector>

#include "app/app_texts.h"
#include "app/messages.h"
#include "app/twips.h"
#include "platform/host_paths.h"

namespace velindra {

namespace {

template <typename T>
T* Make(const Twips& twips, QWidget* parent, const char* name, const char* caption, int left,
        int top, int width, int height) {
    auto* w = new T(parent);
    w->setObjectName(QString::fromUtf8(name));
    if constexpr (std::is_same_v<T, QGroupBox>) {
        w->setTitle(QString::fromUtf8(caption));
    } else if constexpr (!std::is_same_v<T, QWidget>) {
        w->setText(QString::fromUtf8(caption));
    }
    twips.Place(w, left, top, width, height);
    return w;
}

// Fonts with a taller line than the one the twips were drawn for (Windows' Chinese fonts among
// them) push a group's title down into its first row: the group's contents then move down just
// enough, as far as the group has room below them.
void KeepRowsBelowTitle(QGroupBox* frame) {
    frame->ensurePolished();
    QStyleOptionGroupBox option;
    option.initFrom(frame);
    option.text = frame->title();
    option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    const int titleBottom =
        frame->style()
            ->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, frame)
            .bottom();
    int shift = 0;
    for (QAbstractButton* row : frame->findChildren<QAbstractButton*>()) {
        const int textTop =
            row->mapTo(frame, QPoint(0, 0)).y() + (row->height() - row->fontMetrics().height()) / 2;
        shift = std::max(shift, titleBottom - textTop);
    }
    int room = frame->height();
    const QList<QWidget*> contents = frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* w : contents)
        room = std::min(room, frame->height() - 1 - w->geometry().bottom());
    shift = std::min(shift, room);
    if (shift > 0)
        for (QWidget* w : contents)
            w->move(w->x(), w->y() + shift);
}

}  // namespace

QString Form3::DefaultSaveFolder() {
#ifdef _WIN32
    return QStringLiteral("F:\\TDDownload");
#else
    // "F:\TDDownload" means nothing here; the desktop's own download folder does.
    return QDir::toNativeSeparators(
        QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
#endif
}

Form3::Form3(QWidget* owner, SettingsStore& settings, BrowseFunction browseForFolder)
    : QDialog(owner), settings_(settings), browse_(std::move(browseForFolder)) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QString::fromUtf8(texts::kSettingsTitle));
    setWindowIcon(QIcon(QStringLiteral(":/velindra/velindra.png")));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    const Twips twips(this);
    setFixedSize(twips.Size(5265, 5265));
    MakeSaveGroup(twips);
    MakeErrorGroup(twips);
    MakeFinishGroup(twips);

    // The title sits on the frame line, as on the desktop these windows imitate, so that a
    // group's first row lies below both.
    for (QGroupBox* frame : {Frame1, Frame2, Frame3}) {
        frame->setStyleSheet(QStringLiteral(
            "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 0.6em; }"
            "QGroupBox::title { subcontrol-origin: margin; left: 6px; padding: 0 2px; }"));
        KeepRowsBelowTitle(frame);
    }

    Command1 = PlaceButton(twips, this, "Command1", texts::kOk, 1920, 4800, 1575, 375);

    // Tab order by index: Command1, the finish group, browse, the save-folder group, the error
    // group, the file-name group.
    QWidget* order[] = {Command1, Option1, Option2, Option3, Option4, Command2, Option5,
                        Text1,    Option6, Option8, Option7, Option9, Option10};
    for (size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }

    connect(Command1, &QPushButton::clicked, this, &Form3::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form3::Command2_Click);
    Form_Load();
}

void Form3::MakeSaveGroup(const Twips& twips) {
    Frame1 = Make<QGroupBox>(twips, this, "Frame1", texts::kSaveWhere, 240, 240, 4815, 1695);
    Picture2 = Make<QWidget>(twips, Frame1, "Picture2", "", 120, 240, 4575, 975);
    Option5 = Make<QRadioButton>(twips, Picture2, "Option5", texts::kAsk, 0, 120, 1455, 255);
    Option6 = Make<QRadioButton>(twips, Picture2, "Option6", texts::kSaveBelow, 0, 600, 1335, 255);
    Text1 = Make<QLineEdit>(twips, Picture2, "Text1", "", 1320, 600, 2415, 270);
    Text1->setText(DefaultSaveFolder());
    Command2 = PlaceButton(twips, Picture2, "Command2", texts::kBrowse, 3840, 540, 615, 330);
    Picture4 = Make<QWidget>(twips, Frame1, "Picture4", "", 120, 1200, 4575, 375);
    Label1 = Make<QLabel>(twips, Picture4, "Label1", texts::kNameFrom, 0, 120, 1095, 255);
    Option9 = Make<QRadioButton>(twips, Picture4, "Option9", texts::kNameFromContent, 960, 120,
                                 1935, 255);
    Option10 =
        Make<QRadioButton>(twips, Picture4, "Option10", texts::kNameFromHash, 2760, 120, 1815, 255);
}

void Form3::MakeErrorGroup(const Twips& twips) {
    Frame2 = Make<QGroupBox>(twips, this, "Frame2", texts::kOnFailure, 240, 2160, 4815, 735);
    Picture3 = Make<QWidget>(twips, Frame2, "Picture3", "", 120, 240, 4575, 375);
    Option7 = Make<QRadioButton>(twips, Picture3, "Option7", texts::kTell, 0, 120, 1455, 255);
    Option8 =
        Make<QRadioButton>(twips, Picture3, "Option8", texts::kDoNotTell, 2760, 120, 1575, 255);
}

void Form3::MakeFinishGroup(const Twips& twips) {
    Frame3 = Make<QGroupBox>(twips, this, "Frame3", texts::kOnSuccess, 240, 3000, 4815, 1695);
    Picture1 = Make<QWidget>(twips, Frame3, "Picture1", "", 120, 240, 4575, 1335);
    Option1 = Make<QRadioButton>(twips, Picture1, "Option1", texts::kAsk, 0, 0, 3255, 255);
    Option2 = Make<QRadioButton>(twips, Picture1, "Option2", texts::kOpen, 0, 360, 3135, 255);
    Option3 = Make<QRadioButton>(twips, Picture1, "Option3", texts::kReveal, 0, 720, 3375, 255);
    Option4 = Make<QRadioButton>(twips, Picture1, "Option4", texts::kNothing, 0, 1080, 3135, 255);
}

namespace {

// The option buttons of each setting's group, in the order of the texts the setting knows. A
// stored text no button has selects the one its reader takes it for.
struct Group {
    const char* key;
    std::vector<QRadioButton * Form3::*> buttons;
};

const std::vector<Group>& Groups() {
    static const std::vector<Group> groups = {
        {keys::kOnFinish, {&Form3::Option1, &Form3::Option2, &Form3::Option3, &Form3::Option4}},
        {keys::kOnError, {&Form3::Option7, &Form3::Option8}},
        {keys::kFileName, {&Form3::Option9, &Form3::Option10}},
    };
    return groups;
}

const Group* GroupOf(std::string_view key) {
    for (const Group& group : Groups()) {
        if (key == group.key)
            return &group;
    }
    return nullptr;
}

}  // namespace

void Form3::LoadChoice(const Setting& setting) {
    const std::string stored =
        setting.Canonical(settings_.Read(setting.key, setting.windowDefault));
    const Group* group = GroupOf(setting.key);
    for (size_t i = 0; group && i < group->buttons.size() && i < setting.texts.size(); ++i) {
        if (setting.texts[i] == stored)
            (this->*group->buttons[i])->setChecked(true);
    }
}

std::string Form3::Chosen(const char* key) const {
    const Setting& setting = SettingFor(key);
    const Group* group = GroupOf(key);
    for (size_t i = 0; group && i < group->buttons.size() && i < setting.texts.size(); ++i) {
        if ((this->*group->buttons[i])->isChecked())
            return setting.texts[i];
    }
    return setting.Canonical("");
}

void Form3::Form_Load() {
    for (const Setting& setting : Settings()) {
        if (GroupOf(setting.key)) {
            LoadChoice(setting);
            continue;
        }
        // The save folder: asked for every file while none is stored.
        const std::string start = settings_.Read(setting.key, setting.windowDefault);
        if (start.empty()) {
            Option5->setChecked(true);
        } else {
            Option6->setChecked(true);
            Text1->setText(QString::fromStdString(start));
        }
    }
}

void Form3::Command1_Click() {
    const QString folder = Text1->text();
    if (Option6->isChecked() && !folder.isEmpty() &&
        !IsAbsoluteFolder(folder.toStdString(), HostPathRules())) {
        // A folder relative to wherever the program happened to start would be a guess.
        ShowMessageBox(this, QString::fromUtf8(texts::kFolderNotAbsolute) + folder);
        return;
    }
    // Every setting of the table, in the order the program always wrote them; each is tried
    // even when one before failed. A group's text is its chosen button's; the save folder's is
    // the folder, or nothing when every file is to be asked for.
    std::vector<const Setting*> order;
    for (const Setting& setting : Settings())
        order.push_back(&setting);
    std::sort(order.begin(), order.end(),
              [](const Setting* a, const Setting* b) { return a->written < b->written; });
    bool saved = true;
    for (const Setting* setting : order) {
        const std::string text = GroupOf(setting->key)  ? Chosen(setting->key)
                                 : Option6->isChecked() ? folder.toStdString()
                                                        : std::string();
        saved = settings_.Write(setting->key, text) && saved;
    }
    if (!saved) {
        // The window stays open: nothing the user chose may look saved when it is not.
        ShowMessageBox(this,
                       QString::fromUtf8(texts::kSettingsNotSaved) +
                           QDir::toNativeSeparators(QString::fromStdString(settings_.Where())));
        return;
    }
    accept();
}

void Form3::Command2_Click() {
    std::string path = Text1->text().toStdString();
    if (browse_ && browse_(this, path)) {
        Text1->setText(QString::fromStdString(path));
        Option6->setChecked(true);
    }
}

void Form3::ShowModal() {
    if (QWidget* owner = parentWidget()) {
        CentreOver(this, owner);
    }
    Command1->setFocus();
    exec();
}

}  // namespace velindra

#include "app/Form1.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QStringList>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <set>
#include <utility>

#include "app/Form2.h"
#include "app/Form3.h"
#include "app/app_texts.h"
#include "app/messages.h"
#include "app/progress_window.h"
#include "app/twips.h"
#include "core/link_pipeline.h"
#include "core/links.h"
#include "core/words.h"
#include "platform/host_paths.h"
#include "platform/sources.h"

namespace velindra {

namespace {

// The outside as the batch sees it: every window it opens is owned by the main window, and
// the progress window goes down before any of them appears.
class BatchServices : public MessageSink,
                      public SaveDialog,
                      public CompletionPrompt,
                      public Launcher {
  public:
    explicit BatchServices(Form1& form) : form_(form) {}

    void ShowMessage(const std::string& text) override {
        form_.progress().HideProgress();
        ShowMessageBox(&form_, QString::fromStdString(text));
    }
    bool ShowFailure(const std::string& text) override {
        form_.progress().HideProgress();
        return ShowFailureBox(&form_, QString::fromStdString(text));
    }
    bool ShowSaveDialog(std::string& fileName, const SaveDialogRequest& request) override {
        form_.progress().HideProgress();
        return form_.outside().saveDialog(&form_, fileName, request);
    }
    void ShowCompletionPrompt(RunOptions& options) override {
        form_.progress().HideProgress();
        Form2 prompt(&form_, options, form_.outside().settings);
        prompt.ShowModal();
    }
    // Nothing to open it with (or no file manager, no opener at all) is said, not swallowed.
    bool OpenFile(const std::string& path) override {
        form_.progress().HideProgress();
        return form_.outside().launcher.OpenFile(path) || Report(texts::kCannotOpen, path);
    }
    bool RevealFile(const std::string& path) override {
        form_.progress().HideProgress();
        return form_.outside().launcher.RevealFile(path) || Report(texts::kCannotReveal, path);
    }
    LaunchProblem lastProblem() const override { return form_.outside().launcher.lastProblem(); }

  private:
    // The file, why it could not be opened or shown, and what to do about it: once a batch for
    // each kind of failure (twenty links and no file manager make one box, not twenty).
    bool Report(const char* what, const std::string& path) {
        const LaunchProblem problem = form_.outside().launcher.lastProblem();
        if (!reported_.insert({what, problem}).second)
            return false;
        static constexpr std::pair<LaunchProblem, const char*> kWhy[] = {
            {LaunchProblem::NoOpener, texts::kNoOpener},
            {LaunchProblem::NoProgram, texts::kNoProgram},
            {LaunchProblem::NoFileManager, texts::kNoFileManager},
            {LaunchProblem::Failed, texts::kOpenerFailed},
        };
        QString text = QString::fromUtf8(what) + QString::fromUtf8(texts::kColon) +
                       QDir::toNativeSeparators(QString::fromStdString(path));
        for (const auto& [known, why] : kWhy) {
            if (known == problem)
                text += u'\n' + QString::fromUtf8(why);
        }
        ShowMessageBox(&form_, text + u'\n' + QString::fromUtf8(texts::kNotSaidAgain));
        return false;
    }

    Form1& form_;
    std::set<std::pair<const char*, LaunchProblem>> reported_;
};

// The magnet links a paste's HTML holds that its plain text lacks (a web page's anchors), one
// a line; empty when there are none.
QString LinksOnlyInHtml(const QMimeData* source) {
    if (!source->hasHtml())
        return {};
    const std::string plain = source->text().toStdString();
    QStringList missing;
    for (const std::string& link : MagnetLinksInHtml(source->html().toStdString())) {
        if (plain.find(link) == std::string::npos)
            missing << QString::fromStdString(link);
    }
    return missing.join('\n');
}

// The links box: one text line high, taking any number of lines, without scroll bars. Its
// viewport is exactly one line tall, so the line with the cursor is always shown whole (and
// after a paste, the end of what was pasted), never a cut slice of two lines.
class LinksBox : public QPlainTextEdit {
  public:
    explicit LinksBox(QWidget* parent) : QPlainTextEdit(parent) {
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setTabChangesFocus(true);
        // Lines wrap between words only: breaking inside one huge word (a long link) would lay
        // the line out again for every break, which freezes the window on long input.
        setWordWrapMode(QTextOption::WordWrap);
        document()->setDocumentMargin(0);
        connect(this, &QPlainTextEdit::textChanged, this, &QPlainTextEdit::ensureCursorVisible);
    }

  protected:
    // A paste shows the start of the last link it brought, not the empty line after text that
    // ends in a line break (which looks as if nothing had been pasted): the cursor goes there.
    void insertFromMimeData(const QMimeData* source) override {
        const int start = textCursor().selectionStart();
        if (const QString links = LinksOnlyInHtml(source); !links.isEmpty()) {
            // A copy from a web page: its anchors' links come after its text, one a line.
            const QString text = source->text();
            insertPlainText(text + (text.isEmpty() || text.endsWith('\n') ? "" : "\n") + links);
        } else {
            QPlainTextEdit::insertFromMimeData(source);
        }
        const QTextCursor last =
            document()->find(QStringLiteral("magnet:?"), textCursor().position(),
                             QTextDocument::FindBackward | QTextDocument::FindCaseSensitively);
        if (!last.isNull() && last.selectionStart() >= start) {
            QTextCursor at(document());
            at.setPosition(last.selectionStart());
            setTextCursor(at);
            ensureCursorVisible();
        }
    }

    // The one check that holds whatever laid the lines out anew (a font from the desktop's
    // theme, the window mapped at its final size): the cursor's line is in view when drawn.
    void paintEvent(QPaintEvent* event) override {
        if (!viewport()->rect().contains(cursorRect()))
            ensureCursorVisible();
        QPlainTextEdit::paintEvent(event);
    }
    void resizeEvent(QResizeEvent* event) override {
        FitOneLine();
        QPlainTextEdit::resizeEvent(event);
        ensureCursorVisible();
    }
    void changeEvent(QEvent* event) override {
        QPlainTextEdit::changeEvent(event);
        if (event->type() == QEvent::FontChange) {
            FitOneLine();
            ensureCursorVisible();
        }
    }

  private:
    // The viewport is made exactly one laid-out line tall (lines after the first sit one
    // pixel lower in their box). Where the font's line does not fit the box's specified
    // height, the frame gets thinner, and only then does the box grow downwards by the few
    // pixels it needs rather than cut the line.
    void FitOneLine() {
        const QFontMetrics fm = fontMetrics();
        const int line = std::max({fm.lineSpacing(), fm.height(), cursorRect().height()}) + 1;
        if (height() - 2 * frameWidth() < line && frameShape() != QFrame::Panel) {
            setFrameStyle(QFrame::Panel | QFrame::Sunken);  // a thinner frame leaves more room
            setLineWidth(1);
        }
        const int frames = 2 * frameWidth();
        if (height() - frames < line) {
            resize(width(), line + frames);  // comes back here through resizeEvent
            return;
        }
        const int room = height() - frames - line;
        const int top = room / 2;
        setViewportMargins(2, top, 2, room - top);
    }
};

}  // namespace

Form1::Form1(Outside outside) : outside_(std::move(outside)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(texts::kAppTitle));
    setWindowIcon(QIcon(QStringLiteral(":/velindra/velindra.png")));
    const Twips twips(this);
    resize(twips.Size(6555, 2595));

    Label1 = new QLabel(QString::fromUtf8(texts::kAppTitle), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    twips.Place(Label1, 120, 240, 3015, 255);

    Text1 = new LinksBox(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    twips.Place(Text1, 360, 840, 5895, 270);

    Command1 = PlaceButton(twips, this, "Command1", texts::kFetchButton, 480, 1560, 1455, 495);
    Command2 = PlaceButton(twips, this, "Command2", texts::kSettingsButton, 2520, 1560, 1455, 495);
    Command3 = PlaceButton(twips, this, "Command3", texts::kClearButton, 4560, 1560, 1455, 495);

    // Tab order: Text1, Command1, (Label1 takes no focus), Command2, Command3.
    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    Text1->setFocus();

    describe_ = new QTimer(this);
    describe_->setSingleShot(true);
    describe_->setInterval(250);
    connect(Text1, &QPlainTextEdit::textChanged, describe_, qOverload<>(&QTimer::start));
    connect(describe_, &QTimer::timeout, this, &Form1::DescribeLinks);
    DescribeLinks();

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
}

Form1::~Form1() = default;

void Form1::DescribeLinks() {
    constexpr size_t kMostNamed = 20;
    const std::string text = Text1->toPlainText().toStdString();
    const std::vector<LinkSpan> spans = FindLinks(text);
    QString said = QString::fromUtf8(texts::kNoLinks);
    if (!spans.empty()) {
        RunOptions stored;
        stored.Load(outside_.settings);  // the names follow the fileName setting
        said = QString::fromStdString(Fill(texts::kLinksHeld, {std::to_string(spans.size())}));
        for (size_t i = 0; i < std::min(spans.size(), kMostNamed); ++i) {
            const LinkPlan plan =
                PlanLink(PieceAt(text, spans[i]), stored.usedn, "", HostPathRules());
            said += "\n" + QString::fromStdString(plan.parsed ? plan.fileName
                                                              : kMagnetMarker.data() + plan.piece);
        }
        if (spans.size() > kMostNamed)
            said += "\n" + QString::fromStdString(Fill(
                               texts::kMoreLinks, {std::to_string(spans.size() - kMostNamed)}));
    }
    Text1->setToolTip(said);
    Text1->setAccessibleDescription(said);
}

void Form1::Command1_Click() {
    if (batchRunning_)
        return;
    batchRunning_ = true;
    qApp->installEventFilter(this);  // the main window takes no input while a batch runs
    // The network source lives for this batch only: its session closes when the batch ends.
    const QString ran = Text1->toPlainText();
    const std::string text = ran.toStdString();
    auto sources = std::make_unique<BatchSources>(
        outside_.downloader,
        outside_.makeNetworkSource && text.find(kMagnetMarker) != std::string::npos
            ? outside_.makeNetworkSource()
            : nullptr);
    stop_ = false;
    progress_ = std::make_unique<ProgressWaiter>(this, stop_);
    BatchServices services(*this);
    Services s{outside_.settings,     services, services,           services,
               sources->downloader(), services, outside_.committer, *progress_};
    s.askNetwork = sources->askNetwork();
    s.makeFolder = outside_.makeFolder;
    s.folderIgnoresCase = outside_.folderIgnoresCase;
    s.pathRules = HostPathRules();
    s.stop = &stop_;
    s.aheadWorkers = kAheadWorkers;
    if (outside_.stagingFolder)
        s.stagingFolder = outside_.stagingFolder();
    FetchBatch(text, options, s);
    lastBatch_ = stop_ ? std::nullopt : std::optional<QString>(ran);
    progress_.reset();
    sources.reset();
    qApp->removeEventFilter(this);
    batchRunning_ = false;
    if (closeAfterBatch_) {
        close();  // asked for during the batch, which it stopped
        return;
    }
    if (!waiting_.isEmpty())
        AppendLinks(std::exchange(waiting_, {}));
}

void Form1::AppendLinks(const QStringList& links) {
    if (batchRunning_) {
        waiting_ += links;
        return;
    }
    if (isMinimized())
        showNormal();
    raise();
    activateWindow();
    if (links.isEmpty())
        return;  // started again without links: just come to the front
    QString text = Text1->toPlainText();
    if (lastBatch_ && text == *lastBatch_)
        text.clear();  // the links of a finished batch make way for the new one
    lastBatch_.reset();
    for (const QString& link : links) {
        if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
            text += QLatin1Char('\n');
        text += link;
    }
    Text1->setPlainText(text);
    Text1->moveCursor(QTextCursor::End);
    Text1->ensureCursorVisible();
    // With its focus ring, as the keyboard would have put it there: Enter presses it.
    setAttribute(Qt::WA_KeyboardFocusChange);
    Command1->setFocus(Qt::TabFocusReason);
}

void Form1::Command2_Click() {
    Form3 settings(this, outside_.settings, outside_.browseForFolder);
    settings.ShowModal();
}

void Form1::Command3_Click() {
    Text1->setPlainText(QString());
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!batchRunning_ || !widget || widget->window() != this) {
        return false;
    }
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::Drop:
            return true;
        case QEvent::Close:
            // Closing the window stops the batch, and closes it once the batch has ended.
            event->ignore();
            stop_ = true;
            closeAfterBatch_ = true;
            return true;
        default:
            return false;
    }
}

}  // namespace velindra

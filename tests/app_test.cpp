// The windows with real widgets (modal windows are answered by the test), offscreen on Linux
// and on the Windows platform plugin under wine; what they do on every system.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <set>

#include "app/CD.h"
#include "app/Form1.h"
#include "app/Form2.h"
#include "app/Form3.h"
#include "app/modXP.h"
#include "app/progress_window.h"
#include "app/save_folder.h"
#include "platform/committer.h"
#include "platform/network_source.h"
#include "tests/app_support.h"
#ifdef VELINDRA_NETWORK
#include "bench/loopback_seeder.h"
#endif

namespace velindra {
namespace {

// How much room a control's own content takes from its left edge: the text, and a check
// box's or option button's indicator.
int ContentWidth(QWidget* w) {
    const QFontMetrics fm = w->fontMetrics();
    const auto metric = [w](QStyle::PixelMetric m) {
        return w->style()->pixelMetric(m, nullptr, w);
    };
    if (auto* b = qobject_cast<QRadioButton*>(w))
        return metric(QStyle::PM_ExclusiveIndicatorWidth) +
               metric(QStyle::PM_RadioButtonLabelSpacing) + fm.horizontalAdvance(b->text());
    if (auto* b = qobject_cast<QCheckBox*>(w))
        return metric(QStyle::PM_IndicatorWidth) + metric(QStyle::PM_CheckBoxLabelSpacing) +
               fm.horizontalAdvance(b->text());
    if (auto* b = qobject_cast<QPushButton*>(w))
        return fm.horizontalAdvance(b->text()) + 2 * metric(QStyle::PM_ButtonMargin);
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->wordWrap() ? 0 : fm.horizontalAdvance(l->text());
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return fm.horizontalAdvance(g->title()) + fm.height();
    return w->width();
}

// Relations that break when texts outgrow their controls: every control lies inside its
// parent, its text fits, no two siblings' contents overlap, and a group's title stays above
// everything inside the group.
void CheckLayout(QWidget* window) {
    const auto named = [window](QWidget* w) {
        return w->isVisibleTo(window) && !w->objectName().isEmpty() && !w->isWindow();
    };
    const QList<QWidget*> all = window->findChildren<QWidget*>();
    for (QWidget* w : all) {
        if (!named(w))
            continue;
        const std::string name = w->objectName().toStdString();
        EXPECT_TRUE(w->parentWidget()->rect().contains(w->geometry())) << name;
        EXPECT_LE(ContentWidth(w), w->width()) << name << " text is cut off";
        const auto content = [](QWidget* c) {
            return QRect(c->pos(), QSize(std::min(ContentWidth(c), c->width()), c->height()));
        };
        for (QWidget* other : all) {
            // The borderless containers draw nothing of their own.
            if (other != w && other->parentWidget() == w->parentWidget() && named(other) &&
                w->metaObject() != &QWidget::staticMetaObject &&
                other->metaObject() != &QWidget::staticMetaObject) {
                EXPECT_FALSE(content(w).intersects(content(other)))
                    << name << " runs into " << other->objectName().toStdString();
            }
        }
        if (auto* group = qobject_cast<QGroupBox*>(w)) {
            QStyleOptionGroupBox option;
            option.initFrom(group);
            option.text = group->title();
            option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
            const QRect title = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                               QStyle::SC_GroupBoxLabel, group);
            for (QAbstractButton* inside : group->findChildren<QAbstractButton*>()) {
                const int textTop = inside->mapTo(group, QPoint(0, 0)).y() +
                                    (inside->height() - inside->fontMetrics().height()) / 2;
                EXPECT_GE(textTop, title.bottom())
                    << inside->objectName().toStdString() << " sits on the title of " << name;
            }
        }
    }
}

// Whatever the links box holds, the line with the cursor is shown whole.
void CheckTheCursorLineIsShown(Form1& form, int points) {
    QPlainTextEdit* box = form.Text1;
    const auto lineShown = [box] {
        const QRect cursor = box->cursorRect();
        return box->viewport()->rect().contains(cursor) && cursor.height() > 0;
    };
    form.AppendLinks({Link(Hash("AB", "CD"), "&dn=%E6%BC%94%E7%A4%BA+demo&tr=udp%3A%2F%2Fx")});
    EXPECT_TRUE(lineShown()) << "after a hand-over at " << points;
    form.Command3->click();
    box->setFocus();
    // A paste that ends in a line break shows the start of its last link.
    const QString pasted = Link(Hash("AB", "CD"), "&dn=Example&tr=udp%3A%2F%2Ft") + "\n";
    QGuiApplication::clipboard()->setText(pasted.repeated(2) + "text\n" + pasted.sliced(0, 30) +
                                          "&dn=Last  \n\n");
    box->paste();
    EXPECT_TRUE(lineShown()) << "after a paste at " << points;
    EXPECT_TRUE(box->textCursor().block().text().startsWith(pasted.sliced(0, 30) + "&dn=Last"))
        << box->textCursor().block().text().toStdString();
    EXPECT_EQ(box->toPlainText().count(QStringLiteral("magnet:?")), 3);
    // A copy from a web page brings its anchors' links after its text; links its text holds
    // come once.
    const QString anchored = Link(Hash("AB", "CD"), "&dn=Ubuntu");
    for (const QString& text : {QStringLiteral("Ubuntu 下载 (种子)"), anchored}) {
        form.Command3->click();
        auto* copy = new QMimeData;
        copy->setText(text);
        copy->setHtml("<a href=\"" + QString(anchored).replace("&", "&amp;") + "\">" + text +
                      "</a>");
        QGuiApplication::clipboard()->setMimeData(copy);
        box->paste();
        EXPECT_EQ(box->toPlainText(), text == anchored ? anchored : text + "\n" + anchored);
    }
    form.Command3->click();
    box->setFocus();
    QTest::keyClicks(box, "magnet:?xt=urn:btih:abc");
    QTest::keyClick(box, Qt::Key_Return);
    QTest::keyClicks(box, "magnet:?b");
    EXPECT_TRUE(lineShown()) << "typing on a second line at " << points;
    EXPECT_EQ(box->toPlainText(), "magnet:?xt=urn:btih:abc\nmagnet:?b");
}

// The windows' icons, and Enter on a focused button.
void CheckIconsAndEnter(Form1& form, Form2& prompt, Form3& settings) {
    // The main and settings windows show the magnet, much of it red.
    for (QWidget* window : std::vector<QWidget*>{&form, &settings}) {
        const QImage icon = window->windowIcon().pixmap(16, 16).toImage();
        int red = 0;
        for (int i = 0; i < icon.width() * icon.height(); ++i) {
            const QColor c = icon.pixelColor(i % icon.width(), i / icon.width());
            red += c.alpha() == 255 && c.red() > 160 && c.green() < 96 && c.blue() < 96;
        }
        EXPECT_GE(red, 20) << window->objectName().toStdString();
    }
    form.Command3->click();
    for (QPushButton* button : {form.Command3, prompt.Command2, settings.Command2}) {
        int clicks = 0;
        QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Return);
        QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_EQ(clicks, 2) << button->window()->objectName().toStdString();
        for (QPushButton* any : button->window()->findChildren<QPushButton*>())
            EXPECT_FALSE(any->isDefault() || any->autoDefault());
    }
}

// Every window grows with the desktop font by one factor and its texts always fit; whatever
// the links box holds, the line with the cursor is shown whole. The first focus; Enter and
// keypad Enter press the focused button, as Space does, and no button is a default.
TEST(WindowsTest, FontsAndKeyboardAsOnADesktop) {
    const QFont saved = QApplication::font();
    testing::World w;
    std::vector<QSize> reference;
    for (int points : {9, 10, 11, 12}) {
        QFont font = saved;
        font.setPointSize(points);
        QApplication::setFont(font);
        Form1 form(Wire(w));
        Form2 prompt(&form, form.options, w.settings);
        Form3 settings(&form, w.settings, nullptr);
        ProgressWindow progress(&form);
        progress.SetText(
            "正在获取第 2/3 个：演示.torrent\n正在从镜像 1 获取种子：bt.box.n0808.com");
        std::vector<QSize> sizes;
        for (QWidget* window : std::vector<QWidget*>{&form, &prompt, &settings, &progress}) {
            SCOPED_TRACE(window->objectName().toStdString() + " at " + std::to_string(points));
            window->show();
            CheckLayout(window);
            sizes.push_back(window->size());
        }
        EXPECT_EQ(form.focusWidget(), form.Text1);
        if (reference.empty())
            reference = sizes;
        const double k = double(sizes[0].width()) / reference[0].width();
        EXPECT_NEAR(k, points / 9.0, 0.05);
        for (size_t i = 0; i < sizes.size(); ++i) {
            EXPECT_NEAR(sizes[i].width(), reference[i].width() * k, 2) << i << " at " << points;
            EXPECT_NEAR(sizes[i].height(), reference[i].height() * k, 2) << i << " at " << points;
        }

        CheckTheCursorLineIsShown(form, points);
        if (points != 11)
            continue;
        CheckIconsAndEnter(form, prompt, settings);
    }
    QApplication::setFont(saved);
    // The toolkit's own buttons speak Chinese.
    modXP::InstallTranslations();
    QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Save);
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), "取消");
    EXPECT_EQ(box.button(QDialogButtonBox::Save)->text(), "保存");
}

TEST(Form2Test, EachButtonAnswersAndRemembersOnlyWhenTicked) {
    for (const auto& [button, ticked, selection] : std::vector<std::tuple<int, bool, std::string>>{
             {1, false, "open"}, {2, true, "poi"}, {3, true, "none"}, {0, true, "select"}}) {
        testing::MemorySettings settings;
        RunOptions options;
        options.selection = FinishAction::Select;
        Form2 prompt(nullptr, options, settings);
        OnNextModal([&](QWidget* w) {
            EXPECT_EQ(w, &prompt);
            EXPECT_FALSE(prompt.Check1->isChecked());
            EXPECT_EQ(prompt.focusWidget(), prompt.Command1);
            prompt.Check1->setChecked(ticked);
            QPushButton* const buttons[] = {nullptr, prompt.Command1, prompt.Command2,
                                            prompt.Command3};
            button ? buttons[button]->click() : (void)prompt.close();  // 0: the close box
        });
        prompt.ShowModal();
        EXPECT_STREQ(StoredText(options.selection), selection.c_str());
        EXPECT_EQ(settings.writes, ticked && button ? Events{"onFinish=" + selection} : Events{});
    }
}

// Whole folder paths, as the system writes them, and where a file in the second goes.
#ifdef _WIN32
const QString kSeeds = QStringLiteral("D:\\种子");
const std::string kFolder = "D:\\d", kInFolder = "D:\\d\\";
#else
const QString kSeeds = QStringLiteral("/srv/种子");
const std::string kFolder = "/d", kInFolder = "/d/";
#endif

// The settings window's option buttons by number: Options(f, "1 5") is Option1 and Option5.
std::vector<QRadioButton*> Options(Form3& f, const std::string& numbers) {
    std::vector<QRadioButton*> found;
    std::istringstream in(numbers);
    for (std::string n; in >> n;)
        found.push_back(f.findChild<QRadioButton*>(QString::fromStdString("Option" + n)));
    return found;
}

// Stored values are shown exactly as stored (unknown ones select the group's fallback); OK
// writes the selection in order, the close box writes nothing. A save folder that is not a
// whole path is refused, and nothing is written.
TEST(Form3Test, ShowsTheStoredValuesAndOkWritesTheChosenOnes) {
#ifdef _WIN32
    const QString downloads = QStringLiteral("F:\\TDDownload");  // as the program always showed
#else
    const QString downloads = QDir::toNativeSeparators(
        QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
#endif
    struct Case {
        std::map<std::string, std::string, std::less<>> stored;
        std::string shown, click;
        QString text, typed;
        std::string writes;  // "|" between them; none: closed without OK
        QString said = {};   // the message OK gave instead
    };
    // clang-format off
    const std::vector<Case> cases = {
        {{}, "1 5 7 9", "2 6 8 10", downloads, kSeeds + " ",
         "onFinish=open|onStart=" + kSeeds.toStdString() + " |onError=ignore|fileName=btih"},
        {{{"onFinish", "open"}, {"onStart", "D:\\S"}, {"onError", "ignore"}, {"fileName", "btih"}},
         "2 6 8 10", "3 5 7 9", "D:\\S", "/x", "onFinish=poi|onStart=|onError=msg|fileName=dn"},
        {{}, "1", "1 6", downloads, "", "onFinish=select|onStart=|onError=msg|fileName=dn"},
        {{{"onFinish", "Open"}, {"onError", "Ignore"}, {"fileName", "BTIH"}, {"onStart", " "}},
         "4 6 7 9", "4", " ", "/x", ""},
        {{}, "1", "6", downloads, "seeds", "", "保存位置必须是完整的文件夹路径：seeds"},
    };
    // clang-format on
    for (const auto& c : cases) {
        testing::MemorySettings settings;
        settings.values = c.stored;
        Form3 window(nullptr, settings, nullptr);
        for (QRadioButton* option : Options(window, c.shown))
            EXPECT_TRUE(option->isChecked()) << option->objectName().toStdString();
        EXPECT_EQ(window.Text1->text(), c.text);
        Names said;
        OnNextModal([&](QWidget* w) {
            EXPECT_EQ(w->focusWidget(), window.Command1);
            for (QRadioButton* option : Options(window, c.click))
                option->click();
            window.Text1->setText(c.typed);
            if (!c.writes.empty() || !c.said.isEmpty())
                said = Messages([&] { window.Command1->click(); });
            window.close();
        });
        window.ShowModal();
        EXPECT_EQ(said, c.said.isEmpty() ? Names{} : Names{c.said});
        std::string writes;
        for (const auto& w : settings.writes)
            writes += (writes.empty() ? "" : "|") + w;
        EXPECT_EQ(writes, c.writes);
    }
}

// WCAG's contrast ratio of two colours.
double Contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// How far the most visible pixel of an unticked indicator stands out from the window.
double IndicatorContrast(QAbstractButton* button, QStyle::SubElement element) {
    QStyleOptionButton option;
    option.initFrom(button);
    const QRect rect = button->style()->subElementRect(element, &option, button);
    const QImage image = button->grab().toImage();
    const QColor window = button->palette().color(QPalette::Window);
    double best = 1;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            best = std::max(best, Contrast(image.pixelColor(x, y), window));
    return best;
}

// Whatever palette the desktop gives, a light or a dark one, an empty radio ring and check box
// can be told from the window around them (3:1, what the accessibility guidelines ask of
// controls).
TEST(WindowsTest, IndicatorsAreVisibleOnLightAndDarkPalettes) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows draws the indicators from its visual style, whatever the palette";
#endif
    const QPalette original = QApplication::palette();
    modXP::InitVisualStyles();
    struct Case {
        const char* name;
        QColor window, base, text;
    };
    const std::vector<Case> cases = {
        {"light", QColor(0xf6, 0xf5, 0xf4), QColor(0xff, 0xff, 0xff), QColor(0x2e, 0x34, 0x36)},
        {"dark", QColor(0x35, 0x35, 0x35), QColor(0x2d, 0x2d, 0x2d), QColor(0xee, 0xee, 0xec)},
        {"black", QColor(0x10, 0x10, 0x10), QColor(0x00, 0x00, 0x00), QColor(0xff, 0xff, 0xff)},
    };
    for (const Case& c : cases) {
        QPalette palette = original;
        palette.setColor(QPalette::Window, c.window);
        palette.setColor(QPalette::Base, c.base);
        palette.setColor(QPalette::Button, c.window);
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(role, c.text);
        QApplication::setPalette(palette);
        testing::MemorySettings settings;
        settings.values = {{"onFinish", "open"}};
        Form3 window(nullptr, settings, nullptr);
        window.show();
        QRadioButton* empty = window.findChild<QRadioButton*>(QStringLiteral("Option1"));
        ASSERT_FALSE(empty->isChecked());
        EXPECT_GE(IndicatorContrast(empty, QStyle::SE_RadioButtonIndicator), 3.0) << c.name;
        RunOptions runOptions;
        Form2 prompt(nullptr, runOptions, settings);
        prompt.show();
        ASSERT_FALSE(prompt.Check1->isChecked());
        EXPECT_GE(IndicatorContrast(prompt.Check1, QStyle::SE_CheckBoxIndicator), 3.0) << c.name;
    }
    QApplication::setPalette(original);
}

// Browsing, through the toolkit's folder picker, fills the folder only when one is chosen.
TEST(Form3Test, BrowseFillsTheFolderOnlyWhenOneIsChosen) {
    testing::TempDir dir;
    testing::MemorySettings settings;
    Form3 window(nullptr, settings, [](QWidget* owner, std::string& path) {
        return CD::BrowseForFolder(owner, path, "请选择文件夹： ", 1);
    });
    const std::string before = window.Text1->text().toStdString();
    for (const bool choose : {false, true}) {
        OnNextModal([&dir, choose](QWidget* w) {
            auto* d = qobject_cast<QFileDialog*>(w);
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(d->windowTitle(), "请选择文件夹： ");
            EXPECT_EQ(d->fileMode(), QFileDialog::Directory);
            d->setDirectory(QString::fromStdString(dir.str()));
            choose ? static_cast<QDialog*>(d)->accept() : static_cast<QDialog*>(d)->reject();
        });
        window.Command2->click();
        EXPECT_EQ(window.Option6->isChecked() && window.Option7->isChecked(), choose);
        EXPECT_EQ(window.Text1->text().toStdString(), choose ? dir.str() : before);
    }
}

// The source of the batch window tests: hashes that start with "BA" are on no mirror, those
// with "CC" answer only once cancelled, the rest are delivered.
FetchError Mirrors(const FetchRequest& r) {
    const std::string first2 = r.hashes.V1Text().substr(0, 2);
    while (first2 == "CC" && !r.cancel->load())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return first2 == "CC"   ? FetchError::Cancelled
           : first2 == "BA" ? FetchError::HttpStatus
                            : FetchError::None;
}

// A slow download shows its progress; cancelling it skips the link without a word, and links
// handed over meanwhile wait for the end of the batch.
void CheckProgressAndCancel(Form1& form, testing::World& w) {
    QString text;
    for (const char* last2 : {"C1", "C2", "C3"})
        text += Link(Hash("CC", last2), "&dn=%E6%BC%94%E7%A4%BA\n");
    form.Text1->setPlainText(text);
    const size_t events = w.journal.size();
    // Input to the main window is ignored while the batch runs.
    QTimer::singleShot(100, [&] { QTest::mouseClick(form.Command3, Qt::LeftButton); });
    QString label;
    QElapsedTimer clock;
    clock.start();
    qint64 shownAfter = 0;
    OnNextModal([&](QWidget* w) {
        auto* progress = qobject_cast<ProgressWindow*>(w);
        ASSERT_NE(progress, nullptr);
        shownAfter = clock.elapsed();
        EXPECT_EQ(progress->cancelButton->text(), "取消");
        label = progress->label->text();
        form.AppendLinks({"magnet:?handed-over"});  // a later start during the batch
        // It takes the keyboard: Escape, wherever the focus is, is 取消. (Should it not, the
        // button is pressed, so that the batch ends either way.)
        const auto hasKeyboard = [progress] {
            QWidget* focus = QApplication::focusWidget();
            return focus && (focus == progress || progress->isAncestorOf(focus));
        };
        EXPECT_TRUE(RunEventsUntil(hasKeyboard, 5000));
        if (hasKeyboard())
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        else
            progress->cancelButton->click();
    });
    // The user presses 获取种子 in the window they work in.
    form.activateWindow();
    EXPECT_TRUE(RunEventsUntil([&] { return QApplication::activeWindow() == &form; }, 2000));
    form.Command1->click();
    EXPECT_GE(shownAfter, 400);
    EXPECT_TRUE(label.contains("第 1/3 个") && label.contains("演示.torrent") &&
                label.contains("镜像 1"))
        << label.toStdString();
    // The fetches only, of the first mirror: "取消" stops every link fetched at the time, and
    // there is no message and no launch.
    EXPECT_LE(w.journal.size(), events + 3);
    for (size_t i = events; i < w.journal.size(); ++i)
        EXPECT_TRUE(w.journal[i].starts_with("fetch http://bt.box.n0808.com/CC/C")) << w.journal[i];
    EXPECT_EQ(form.Text1->toPlainText(), text + "magnet:?handed-over");
}

// A failure box offers to stop the batch while more links are to come; closing the main window
// during a batch stops it too, and then closes the window. Nothing further starts either way.
TEST(BatchWindowTest, AFailureBoxOrClosingTheWindowStopsTheBatch) {
    testing::World w;
    w.settings.values = {{"onStart", kFolder}};
    w.decide = Mirrors;
    Form1 form(Wire(w));
    form.show();
    // The second link's file is fetched ahead, and never put in place.
    form.Text1->setPlainText(Link(Hash("BA", "01")) + "\n" + Link(Hash("AA", "02")));
    QStringList buttons;
    OnNextModal([&](QWidget* box) {
        for (QAbstractButton* b : qobject_cast<QMessageBox*>(box)->buttons())
            buttons << b->text();
        for (QAbstractButton* b : qobject_cast<QMessageBox*>(box)->buttons())
            if (b->text() == "停止")
                b->click();
    });
    form.Command1->click();
    EXPECT_EQ(buttons, (QStringList{"确定", "停止"}));
    // The mirrors of the first link and the first of the second (fetched ahead), and nothing
    // after the box.
    EXPECT_EQ(w.journal.size(), 4u);
    EXPECT_TRUE(w.commits.empty());

    w.journal.clear();
    form.Text1->setPlainText(Link(Hash("CC", "01")) + "\n" + Link(Hash("CC", "02")));
    // The progress window blocks no window, so the system's close request for the main window
    // reaches it.
    bool blocked = true;
    OnNextModal([&](QWidget*) {
        blocked = QApplication::activeModalWidget() != nullptr;
        form.close();
    });
    form.Command1->click();
    EXPECT_FALSE(blocked);
    EXPECT_EQ(w.journal.size(), 2u);  // both links fetched at once, both stopped
    EXPECT_FALSE(form.isVisible());
}

// Text without links says so and reads no setting. A remembered answer holds for the rest of
// the batch and the next, which shows no window at all. Failures are reported ("Ignore" is not
// "ignore"), and the box keeps its text. Then the progress and its cancel.
TEST(BatchWindowTest, MessagesRememberedAnswersProgressAndCancel) {
    testing::World w;
    w.settings.values = {{"onStart", kFolder}, {"onError", "Ignore"}};
    w.decide = Mirrors;
    Form1 form(Wire(w));
    form.show();
    form.Text1->setPlainText("xt=urn:btih:ABC");
    EXPECT_EQ(Messages([&] { form.Command1->click(); }), Names{"没有链接"});
    EXPECT_EQ(w.settings.reads, 0);
    const std::string a3 = Hash("A3", "A3");
    form.Text1->setPlainText(Link(Hash("A1", "A1"), "&dn=one\r\n") +
                             Link(Hash("A2", "A2"), "&dn=t%E2%91%A1o\n") + Link(a3));
    // The box says what it holds, named as the files will be (fileName is unset: dn).
    QTest::qWait(400);
    const QString held =
        QString::fromStdString("框中有 3 个链接：\none.torrent\nt②o.torrent\n" + a3 + ".torrent");
    EXPECT_EQ(form.Text1->toolTip(), held);
    EXPECT_EQ(form.Text1->accessibleDescription(), held);
    int windows = 0;
    OnNextModal([&](QWidget* w) {
        auto* p = qobject_cast<Form2*>(w);
        ASSERT_NE(p, nullptr);
        ++windows;
        p->Check1->setChecked(true);
        p->Command2->click();
    });
    form.Command1->click();
    EXPECT_EQ(windows, 1);
    EXPECT_EQ(form.options.selection, FinishAction::Reveal);
    QTimer watch;  // a local watcher: it must not outlive this test if nothing shows
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            ++windows;
            w->close();
        }
    });
    watch.start(1);
    form.Command1->click();
    EXPECT_EQ(windows, 1);
    EXPECT_EQ(w.journal.back(), "reveal " + kInFolder + a3 + ".torrent");
    EXPECT_TRUE(Form3(&form, w.settings, nullptr).Option3->isChecked());
    watch.stop();
    form.Text1->setPlainText(Link(Hash("BA", "CD")));
    EXPECT_EQ(Messages([&] { form.Command1->click(); }).size(), 1u);  // its words: BatchTest
    EXPECT_FALSE(form.Text1->toPlainText().isEmpty());

    CheckProgressAndCancel(form, w);
}

// Names and addresses from a link are text, never markup: neither the progress window nor a
// failure box reads "&lt;" or an image from them, and the window names no address as the link
// wrote it.
TEST(BatchWindowTest, OutsideTextIsNeverReadAsMarkup) {
    testing::World w;
    w.settings.values = {{"onStart", kFolder}};
    w.decide = [](const FetchRequest& r) {
        while (r.source == SourceKind::LinkAddress && !r.cancel->load())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return r.source == SourceKind::LinkAddress ? FetchError::Cancelled : FetchError::HttpStatus;
    };
    Form1 form(Wire(w));
    form.show();
    const std::string markup =
        "&dn=%26lt%3Bb%26gt%3Bbold&xs=http%3A%2F%2F%3Cimg+src%3D%2Fdev%2Fzero%3E";
    form.Text1->setPlainText(Link(Hash("E1", "E1"), "&dn=%26lt%3Bb%26gt%3B") + "\n" +
                             Link(Hash("E2", "E2"), markup));
    QString box, progress;
    Qt::TextFormat boxFormat = Qt::RichText, progressFormat = Qt::RichText;
    OnNextModal([&](QWidget* modal) {
        auto* message = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(message, nullptr);
        box = message->text();
        boxFormat = message->textFormat();
        OnNextModal([&](QWidget* next) {
            auto* window = qobject_cast<ProgressWindow*>(next);
            ASSERT_NE(window, nullptr);
            progress = window->label->text();
            progressFormat = window->label->textFormat();
            window->cancelButton->click();
        });
        message->button(QMessageBox::Ok)->click();
    });
    form.Command1->click();
    EXPECT_EQ(boxFormat, Qt::PlainText);
    EXPECT_TRUE(box.contains("&lt;b&gt;.torrent")) << box.toStdString();
    EXPECT_EQ(progressFormat, Qt::PlainText);
    EXPECT_TRUE(progress.contains("&lt;b&gt;bold.torrent")) << progress.toStdString();
    EXPECT_FALSE(progress.contains("img") || progress.contains("zero")) << progress.toStdString();
}

// A progress window that was put away (before a file is opened) presses nothing: 取消 or a key
// that reaches it while the opener's own event loop runs neither crashes nor stops the batch.
TEST(BatchWindowTest, APutAwayProgressWindowPressesNothing) {
    struct Opening : testing::World {
        std::function<void()> onOpen;
        bool OpenFile(const std::string& p) override {
            onOpen();
            return World::OpenFile(p);
        }
    } w;
    w.settings.values = {{"onStart", kFolder}, {"onFinish", "open"}};
    // Each link comes later than the one before, so the window comes back after each open.
    w.decide = [](const FetchRequest& r) {
        std::this_thread::sleep_for(
            std::chrono::milliseconds(600 * std::stoi(r.hashes.V1Text().substr(0, 2))));
        return FetchError::None;
    };
    int pressed = 0;
    w.onOpen = [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            auto* progress = qobject_cast<ProgressWindow*>(top);
            if (!progress || progress->isVisible())
                continue;
            ++pressed;
            progress->cancelButton->click();
            QTest::keyClick(progress, Qt::Key_Return);
            QTest::keyClick(progress, Qt::Key_Escape);
        }
        QEventLoop opener;  // as the desktop's opener waits for its verdict
        QTimer::singleShot(50, &opener, &QEventLoop::quit);
        opener.exec();
    };
    Form1 form(Wire(w));
    form.show();
    form.Text1->setPlainText(Link(Hash("01", "01")) + "\n" + Link(Hash("02", "02")) + "\n" +
                             Link(Hash("03", "03")));
    EXPECT_TRUE(Messages([&] { form.Command1->click(); }).empty());
    EXPECT_GE(pressed, 2);
    EXPECT_EQ(std::count_if(w.journal.begin(), w.journal.end(),
                            [](const std::string& e) { return e.starts_with("open "); }),
              3);
}

// However long the input and however quickly each of its links ends, the progress window is up
// within a few seconds of 获取种子 and 取消 ends the batch within two.
TEST(BatchWindowTest, ALongBatchOfQuickLinksShowsItsProgressAndStops) {
    testing::World w;
    w.settings.values = {{"onStart", kFolder}, {"onError", "ignore"}};
    w.decide = [](const FetchRequest&) { return FetchError::HttpStatus; };
    Form1 form(Wire(w));
    form.show();
    QString text;
    constexpr int kLinks = 30000;
    for (int i = 0; i < kLinks; ++i)
        text += Link(Hash("AB", "00").replace(2, 8, QString::number(10000000 + i).toStdString())) +
                '\n';
    form.Text1->setPlainText(text);
    QElapsedTimer clock;
    qint64 shown = -1, cancelled = -1;
    OnNextModal([&](QWidget* window) {
        shown = clock.elapsed();
        qobject_cast<ProgressWindow*>(window)->cancelButton->click();
        cancelled = clock.elapsed();
    });
    clock.start();
    form.Command1->click();
    ASSERT_GE(shown, 0);
    EXPECT_LT(shown, 5000);  // about half a second alone; a loaded machine takes longer
    // Under wine, taking the windows down costs about 2 s more.
    const qint64 ends = QSysInfo::productType() == "windows" ? 4000 : 2000;
    EXPECT_LT(clock.elapsed() - cancelled, ends) << shown << " " << cancelled;
    EXPECT_LT(std::count_if(w.journal.begin(), w.journal.end(),
                            [](const std::string& e) { return e.starts_with("fetch "); }),
              3 * kLinks);
}

// Links are fetched ahead: the first link's fetch ends only once the second's has begun, which
// waits for the third's, and so on, so a batch that fetched one link after another would never
// end. Their finish actions still come one by one, in input order, each after its own fetch.
TEST(BatchWindowTest, LinksAreFetchedAheadAndFinishInOrder) {
    testing::World w;
    w.settings.values = {{"onStart", kFolder}, {"onFinish", "open"}, {"fileName", "btih"}};
    constexpr int kLinks = 6;
    std::mutex lock;
    std::condition_variable started;
    std::set<std::string> begun;
    w.decide = [&](const FetchRequest& r) {
        const std::string first2 = r.hashes.V1Text().substr(0, 2);
        std::unique_lock<std::mutex> guard(lock);
        begun.insert(first2);
        started.notify_all();
        const std::string next = "0" + std::to_string(std::stoi(first2) + 1);
        const bool last = std::stoi(first2) == kLinks;
        started.wait_for(guard, std::chrono::seconds(20),
                         [&] { return last || begun.count(next); });
        return last || begun.count(next) ? FetchError::None : FetchError::Timeout;
    };
    Form1 form(Wire(w));
    form.show();
    QString text;
    std::vector<std::string> hashes;
    for (int i = 1; i <= kLinks; ++i) {
        hashes.push_back(Hash("0" + std::to_string(i), "00"));
        text += Link(hashes.back()) + "\n";
    }
    form.Text1->setPlainText(text);
    EXPECT_TRUE(Messages([&] { form.Command1->click(); }).empty());
    Events opens;
    for (size_t i = 0; i < w.journal.size(); ++i) {
        if (!w.journal[i].starts_with("open "))
            continue;
        opens.push_back(w.journal[i]);
        const std::string hash = hashes[opens.size() - 1];
        // Its own fetch came before it.
        EXPECT_TRUE(std::any_of(w.journal.begin(), w.journal.begin() + static_cast<long>(i),
                                [&](const std::string& e) { return e.find(hash) != e.npos; }));
    }
    Events expected;
    for (const std::string& hash : hashes)
        expected.push_back("open " + kInFolder + hash + ".torrent");
    EXPECT_EQ(opens, expected);
    // A link handed over after the batch replaces its links, still in the box as it ran; one
    // handed over after the user changed the box goes on a line of its own.
    form.AppendLinks({"magnet:?new"});
    EXPECT_EQ(form.Text1->toPlainText(), "magnet:?new");
    // The focus is on "获取种子" with its ring, as the keyboard would have put it there.
    EXPECT_EQ(form.focusWidget(), form.Command1);
    EXPECT_TRUE(form.testAttribute(Qt::WA_KeyboardFocusChange));
    form.AppendLinks({"magnet:?newer"});
    EXPECT_EQ(form.Text1->toPlainText(), "magnet:?new\nmagnet:?newer");
    // A file that cannot be opened is said with why and what to do, once a batch.
    w.launchProblem = LaunchProblem::NoProgram;
    form.Text1->setPlainText(Link(hashes[0]) + "\n" + Link(hashes[1]));
    const Names said = Messages([&] { form.Command1->click(); });
    ASSERT_EQ(said.size(), 1u);
    EXPECT_TRUE(said[0].startsWith("无法打开：") &&
                said[0].contains("没有为 .torrent 文件设置打开它的程序") &&
                said[0].endsWith("本批中其余同样的失败不再提示。"))
        << said[0].toStdString();
}

// Saved through the Save-as dialog: each link's dialog comes at its turn, in order; its file,
// fetched ahead into the staging folder, goes to the place chosen. A cancelled dialog saves
// nothing, and nothing is left in the staging folder.
TEST(BatchWindowTest, FilesFetchedAheadGoWhereTheSaveAsDialogSays) {
    testing::TempDir staging, chosen;
    const testing::Torrent a = testing::MakeTorrent("a"), b = testing::MakeTorrent("b"),
                           c = testing::MakeTorrent("c");
    // A source that writes the torrent its link names, beside the destination, as every
    // source does.
    struct FileSource : Downloader {
        std::vector<testing::Torrent> torrents;
        std::mutex lock;
        std::vector<std::string> destinations;
        FetchResult Fetch(const FetchRequest& r) override {
            {
                std::lock_guard<std::mutex> guard(lock);
                destinations.push_back(r.destination);
            }
            for (const testing::Torrent& t : torrents) {
                if (r.hashes.V1Text() != t.hash)
                    continue;
                auto file = std::make_shared<AtomicFile>(r.destination);
                if (FetchResult opened = file->Open(); !opened.ok())
                    return opened;
                file->Write(t.body);
                FetchResult done = FetchResult::Done();
                done.staged = file;
                return done;
            }
            return FetchResult::Failed(FetchError::HttpStatus, "404");
        }
    } source;
    source.torrents = {a, b, c};
    testing::World w;
    w.settings.values = {{"onFinish", "none"}, {"onError", "msg"}};
    w.saveAnswers = {chosen / "first.torrent", "", chosen / "third.torrent"};
    Committer committer;
    Outside outside{w.settings,
                    source,
                    committer,
                    w,
                    [&w](QWidget*, std::string& name, const SaveDialogRequest& r) {
                        return w.ShowSaveDialog(name, r);
                    },
                    nullptr};
    outside.stagingFolder = [&] { return staging.str(); };
    Form1 form(std::move(outside));
    form.show();
    // A link no source has asks nothing: its failure comes instead of a dialog.
    form.Text1->setPlainText(Link(a.hash, "&dn=a") + "\n" + Link(b.hash, "&dn=b") + "\n" +
                             Link(std::string(40, 'E'), "&dn=gone") + "\n" + Link(c.hash, "&dn=c"));
    const Names messages = Messages([&] { form.Command1->click(); });
    EXPECT_EQ(messages, (Names{"种子获取失败\ngone.torrent\n镜像都没有这个种子"}));
    EXPECT_EQ(w.journal, (Events{"save-as 另存为 a.torrent", "save-as 另存为 b.torrent",
                                 "save-as 另存为 c.torrent"}));
    EXPECT_EQ(testing::ReadFile(chosen / "first.torrent"), a.body);
    EXPECT_EQ(testing::ReadFile(chosen / "third.torrent"), c.body);
    EXPECT_EQ(chosen.Entries(), (std::set<std::string>{"first.torrent", "third.torrent"}));
    EXPECT_TRUE(staging.Entries().empty());
    for (const std::string& destination : source.destinations)
        EXPECT_EQ(testing::Utf8Path(PathFromUtf8(destination).parent_path()), staging.str());
}

#ifdef VELINDRA_NETWORK
TEST(BatchWindowTest, LinkWhoseMirrorsAllFailIsSavedFromTheNetwork) {
    testing::TempDir seeds, out;
    seeding::LoopbackSeeder seeder(seeds.path());
    std::string info;
    const std::string hash = seeder.Seed("window.bin", 32 * 1024, &info);
    testing::World w;
    w.settings.values = {{"onStart", out.str()}, {"onFinish", "open"}};
    w.decide = [](const FetchRequest&) { return FetchError::HttpStatus; };
    Committer committer;  // the network's file is real
    Outside outside{w.settings, w, committer, w, nullptr, nullptr};
    int sessions = 0;
    outside.makeNetworkSource = [&] {
        ++sessions;
        NetworkLimits limits;
        limits.dht = false;
        limits.listenInterfaces = "127.0.0.1:0";
        limits.allowPrivateAddresses = true;  // the seeder is on this machine
        return std::unique_ptr<Downloader>(std::make_unique<NetworkSource>(limits));
    };
    Form1 form(std::move(outside));
    form.show();
    form.Text1->setPlainText(Link(hash, "&dn=window&x.pe=" + seeder.Peer()));
    form.Command1->click();
    EXPECT_EQ(w.journal.size(), 4u);  // the three mirrors, then the network and the file opened
    EXPECT_EQ(w.journal.back(), "open " + (out / "window.torrent"));
    EXPECT_EQ(FindInfoDictionary(testing::ReadFile(out / "window.torrent")).value_or(""), info);
    EXPECT_EQ(sessions, 1);
}
#endif

// The Save-as dialog starts in the download folder (or the home folder where there is none),
// then where the last file was saved, which is kept in the program's own state file.
TEST(DialogTest, SaveAsStartsWhereTheLastFileWasSaved) {
    testing::TempDir state, first;
#ifdef _WIN32
    const char* variable = "LOCALAPPDATA";
    const std::string stateFile = state / "Velindra\\state.ini";
#else
    const char* variable = "XDG_STATE_HOME";
    const std::string stateFile = state / "velindra/state.ini";
#endif
    const testing::ScopedVariables variables({{variable, state.str()}});
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    const QString folder = QDir::fromNativeSeparators(QString::fromStdString(first.str()));
    QStringList started,
        expected = {QFileInfo(downloads).isDir() ? downloads : QDir::homePath(), folder};
    for (const bool save : {true, false}) {
        std::string name = "My Show.torrent";
        OnNextModal([&](QWidget* w) {
            auto* d = qobject_cast<QFileDialog*>(w);
            ASSERT_NE(d, nullptr);
            started << d->directory().absolutePath();
            EXPECT_EQ(d->windowTitle(), "另存为");
            EXPECT_EQ(d->nameFilters(), QStringList({"种子文件(*.torrent)", "所有文件(*.*)"}));
            EXPECT_EQ(d->selectedNameFilter(), "种子文件(*.torrent)");
            EXPECT_FALSE(d->testOption(QFileDialog::DontConfirmOverwrite));
            EXPECT_TRUE(d->defaultSuffix().isEmpty());
            d->setDirectory(folder);
            d->selectFile("typed");
            save ? static_cast<QDialog*>(d)->accept() : static_cast<QDialog*>(d)->reject();
        });
        const SaveDialogRequest request{"另存为", "种子文件(*.torrent)|*.torrent;所有文件(*.*)|*.*",
                                        0, "", 6};
        EXPECT_EQ(SaveAsFromLastFolder(nullptr, name, request), save);
        EXPECT_EQ(name, save ? QDir::toNativeSeparators(folder + "/typed").toStdString()
                             : "My Show.torrent");
    }
    EXPECT_EQ(started, expected);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(stateFile)));
}

}  // namespace
}  // namespace velindra

int main(int argc, char** argv) {
#ifndef _WIN32
    // Headless unless told otherwise: the windows are real widgets, drawn offscreen. The
    // Windows build draws them with its one platform plugin (under wine, on a virtual display).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

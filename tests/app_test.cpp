// The windows, offscreen, with real widgets (modal windows are answered by the test); the
// settings store on QSettings; opening and revealing files.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QtTest>
#include <QtWidgets>
#include <cmath>
#include <cstring>

#include "CD.h"
#include "Form1.h"
#include "Form2.h"
#include "Form3.h"
#include "desktop_launcher.h"
#include "fakes.h"
#include "modXP.h"
#include "progress_downloader.h"
#include "qt_settings_store.h"
#include "save_folder.h"
#include "single_instance.h"
#include "swarm_source.h"
#ifdef VELINDRA_SWARM
#include "loopback_seeder.h"
#endif
#include "test_support.h"

namespace velindra {
namespace {

using testing::Events;
using testing::Hash;
using Names = std::vector<QString>;

// Runs `act` on the next modal window, from inside that window's own event loop.
void OnNextModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer(qApp);  // owned by the application if no modal ever comes
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
        }
    });
    timer->start(10);
}

// Answers every message box of `run` in turn, recording texts; checks their shape on the way.
Names Messages(const std::function<void()>& run) {
    Names seen;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen.push_back(box->text());
            EXPECT_EQ(box->windowTitle(), "Velindra");
            EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
            // With "停止" while more links are to come; "确定", continuing, stays the default.
            EXPECT_LE(box->buttons().size(), 2);
            if (box->buttons().size() == 2) {
                EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Ok));
            }
            box->button(QMessageBox::Ok)->click();
        }
    });
    watch.start(5);
    run();
    return seen;
}

QString Link(const std::string& hash, const std::string& rest = "&x") {
    return QString::fromStdString("magnet:?xt=urn:btih:" + hash + rest);
}

// The windows' outside, all of it recorded by the world.
Outside Wire(testing::World& w) {
    return Outside{w.settings, w, w,
                   [&w](QWidget*, std::string& name, const SaveDialogRequest& r) {
                       return w.ShowSaveDialog(name, r);
                   },
                   nullptr};
}

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
    box->insertPlainText(
        (Link(Hash("AB", "CD"), "&dn=Example&tr=udp%3A%2F%2Ft") + "\n").repeated(3));
    EXPECT_TRUE(lineShown()) << "after a paste at " << points;
    form.Command3->click();
    box->setFocus();
    QTest::keyClicks(box, "magnet:?xt=urn:btih:abc");
    QTest::keyClick(box, Qt::Key_Return);
    QTest::keyClicks(box, "magnet:?b");
    EXPECT_TRUE(lineShown()) << "typing on a second line at " << points;
    EXPECT_EQ(box->toPlainText(), "magnet:?xt=urn:btih:abc\nmagnet:?b");
}

// A link of a megabyte in one line is taken and drawn without freezing the window (breaking
// inside the one huge word took a minute), and its end, where the cursor is, stays in view.
TEST(WindowsTest, AOneMegabyteLineDoesNotFreezeTheLinksBox) {
    testing::World w;
    Form1 form(Wire(w));
    form.show();
    const QString line = "magnet:?xt=urn:btih:" + QString(1 << 20, 'a');
    QElapsedTimer clock;
    clock.start();
    form.Text1->setPlainText(line);
    form.Text1->moveCursor(QTextCursor::End);
    form.grab();
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_TRUE(form.Text1->viewport()->rect().contains(form.Text1->cursorRect()));
}

// The windows' icons, their tab order, and Enter on a focused button.
void CheckIconsTabOrderAndEnter(Form1& form, Form2& prompt, Form3& settings) {
    const auto chain = [](QWidget* first) {
        Names names{first->objectName()};
        for (QWidget* w = first->nextInFocusChain(); w != first; w = w->nextInFocusChain()) {
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(first->window()) &&
                !w->objectName().isEmpty())
                names.push_back(w->objectName());
        }
        return names;
    };
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
    form.Text1->setFocus();
    EXPECT_EQ(chain(form.Text1), (Names{"Text1", "Command1", "Command2", "Command3"}));
    EXPECT_EQ(chain(prompt.Command1), (Names{"Command1", "Command2", "Command3", "Check1"}));
    EXPECT_EQ(chain(settings.Command1),
              (Names{"Command1", "Option1", "Option2", "Option3", "Option4", "Command2", "Option5",
                     "Text1", "Option6", "Option8", "Option7", "Option9", "Option10"}));
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
// the links box holds, the line with the cursor is shown whole. Tab order and the first focus;
// Enter and keypad Enter press the focused button, as Space does, and no button is a default.
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
        CheckIconsTabOrderAndEnter(form, prompt, settings);
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

// The settings window's option buttons by number: Options(f, "1 5") is Option1 and Option5.
std::vector<QRadioButton*> Options(Form3& f, const std::string& numbers) {
    std::vector<QRadioButton*> found;
    std::istringstream in(numbers);
    for (std::string n; in >> n;)
        found.push_back(f.findChild<QRadioButton*>(QString::fromStdString("Option" + n)));
    return found;
}

// Stored values are shown exactly as stored (unknown ones select the group's fallback); OK
// writes the selection in order, the close box writes nothing.
TEST(Form3Test, ShowsTheStoredValuesAndOkWritesTheChosenOnes) {
    const QString downloads = QDir::toNativeSeparators(
        QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
    struct Case {
        std::map<std::string, std::string, std::less<>> stored;
        std::string shown, click;
        QString text, typed;
        std::string writes;  // "|" between them; none: closed without OK
    };
    // clang-format off
    const std::vector<Case> cases = {
        {{}, "1 5 7 9", "2 6 8 10", downloads, "/srv/种子 ",
         "onFinish=open|onStart=/srv/种子 |onError=ignore|fileName=btih"},
        {{{"onFinish", "open"}, {"onStart", "D:\\S"}, {"onError", "ignore"}, {"fileName", "btih"}},
         "2 6 8 10", "3 5 7 9", "D:\\S", "/x", "onFinish=poi|onStart=|onError=msg|fileName=dn"},
        {{}, "1", "1 6", downloads, "", "onFinish=select|onStart=|onError=msg|fileName=dn"},
        {{{"onFinish", "Open"}, {"onError", "Ignore"}, {"fileName", "BTIH"}, {"onStart", " "}},
         "4 6 7 9", "4", " ", "/x", ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        testing::MemorySettings settings;
        settings.values = c.stored;
        Form3 window(nullptr, settings, nullptr);
        for (QRadioButton* option : Options(window, c.shown))
            EXPECT_TRUE(option->isChecked()) << option->objectName().toStdString();
        EXPECT_EQ(window.Text1->text(), c.text);
        OnNextModal([&](QWidget* w) {
            EXPECT_EQ(w->focusWidget(), window.Command1);
            for (QRadioButton* option : Options(window, c.click))
                option->click();
            window.Text1->setText(c.typed);
            c.writes.empty() ? (void)window.close() : window.Command1->click();
        });
        window.ShowModal();
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

// A slow download shows its progress; cancelling it skips the link without a word, and links
// handed over meanwhile wait for the end of the batch.
void CheckProgressAndCancel(Form1& form, testing::World& w) {
    const QString text = Link(Hash("CC", "CC"), "&dn=%E6%BC%94%E7%A4%BA\n").repeated(3);
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
        progress->cancelButton->click();
    });
    form.Command1->click();
    EXPECT_GE(shownAfter, 400);
    EXPECT_TRUE(label.contains("第 1/3 个") && label.contains("演示.torrent") &&
                label.contains("镜像 1"))
        << label.toStdString();
    // The fetch only: the other mirrors and the other links are not asked, and there is no
    // message and no launch: "取消" stops the batch.
    EXPECT_EQ(w.journal.size(), events + 1);
    EXPECT_EQ(form.Text1->toPlainText(), text + "magnet:?handed-over");
}

// A failure box offers to stop the batch while more links are to come; closing the main window
// during a batch stops it too, and then closes the window. Nothing further starts either way.
TEST(BatchWindowTest, AFailureBoxOrClosingTheWindowStopsTheBatch) {
    testing::World w;
    w.settings.values = {{"onStart", "/d"}};
    w.decide = [](const FetchRequest& r) {
        while (r.infoHash.starts_with("CC") && !r.cancel->load())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return r.infoHash.starts_with("CC") ? FetchError::Cancelled : FetchError::HttpStatus;
    };
    Form1 form(Wire(w));
    form.show();
    form.Text1->setPlainText(Link(Hash("BA", "01")) + "\n" + Link(Hash("BA", "02")));
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
    EXPECT_EQ(w.journal.size(), 3u);  // the three mirrors of the first link only

    w.journal.clear();
    form.Text1->setPlainText(Link(Hash("CC", "01")) + "\n" + Link(Hash("CC", "02")));
    QTimer::singleShot(300, &form, [&] { form.close(); });
    form.Command1->click();
    EXPECT_EQ(w.journal.size(), 1u);
    EXPECT_FALSE(form.isVisible());
}

// Text without links says so and reads no setting. A remembered answer holds for the rest of
// the batch and the next, which shows no window at all. Failures are reported ("Ignore" is not
// "ignore"), and the box keeps its text. Then the progress and its cancel.
TEST(BatchWindowTest, MessagesRememberedAnswersProgressAndCancel) {
    testing::World w;
    w.settings.values = {{"onStart", "/d"}, {"onError", "Ignore"}};
    w.decide = [](const FetchRequest& r) {
        // Hashes starting "CC" give up only when cancelled.
        while (r.infoHash.starts_with("CC") && !r.cancel->load())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return r.infoHash.starts_with("BA")   ? FetchError::HttpStatus
               : r.infoHash.starts_with("CC") ? FetchError::Cancelled
                                              : FetchError::None;
    };
    Form1 form(Wire(w));
    form.show();
    form.Text1->setPlainText("xt=urn:btih:ABC");
    EXPECT_EQ(Messages([&] { form.Command1->click(); }), Names{"没有链接"});
    EXPECT_EQ(w.settings.reads, 0);
    const std::string a3 = Hash("A3", "A3");
    form.Text1->setPlainText(Link(Hash("A1", "A1"), "&dn=one\r\n") +
                             Link(Hash("A2", "A2"), "&dn=two\n") + Link(a3));
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
    Events reveals = w.journal;
    std::erase_if(reveals, [](const std::string& e) { return !e.starts_with("reveal"); });
    EXPECT_EQ(reveals, (Events{"reveal /d/one.torrent", "reveal /d/two.torrent",
                               "reveal /d/" + a3 + ".torrent"}));
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
    EXPECT_EQ(w.journal.back(), "reveal /d/" + a3 + ".torrent");
    EXPECT_TRUE(Form3(&form, w.settings, nullptr).Option3->isChecked());
    watch.stop();
    form.Text1->setPlainText("magnet:?dn=x\r\n" + Link(Hash("BA", "CD")));
    EXPECT_EQ(Messages([&] { form.Command1->click(); }),
              (Names{"分析失败\n链接中没有种子特征",
                     QString::fromStdString("种子获取失败\n" + Hash("BA", "CD") +
                                            ".torrent\n镜像都没有这个种子")}));
    EXPECT_FALSE(form.Text1->toPlainText().isEmpty());

    CheckProgressAndCancel(form, w);
}

#ifdef VELINDRA_SWARM
TEST(BatchWindowTest, LinkWhoseMirrorsAllFailIsSavedFromTheNetwork) {
    testing::TempDir seeds, out;
    seeding::LoopbackSeeder seeder(seeds.path());
    std::string info;
    const std::string hash = seeder.Seed("window.bin", 32 * 1024, &info);
    testing::World w;
    w.settings.values = {{"onStart", out.str()}, {"onFinish", "open"}};
    w.decide = [](const FetchRequest&) { return FetchError::HttpStatus; };
    Outside outside = Wire(w);
    int sessions = 0;
    outside.makeNetworkSource = [&] {
        ++sessions;
        SwarmLimits limits;
        limits.dht = false;
        limits.listenInterfaces = "127.0.0.1:0";
        return std::unique_ptr<Downloader>(std::make_unique<SwarmSource>(limits));
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
    qputenv("XDG_STATE_HOME", state.str().c_str());
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    QStringList started, expected = {QFileInfo(downloads).isDir() ? downloads : QDir::homePath(),
                                     QString::fromStdString(first.str())};
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
            d->setDirectory(QString::fromStdString(first.str()));
            d->selectFile("typed");
            save ? static_cast<QDialog*>(d)->accept() : static_cast<QDialog*>(d)->reject();
        });
        const SaveDialogRequest request{"另存为", "种子文件(*.torrent)|*.torrent;所有文件(*.*)|*.*",
                                        0, "", 6};
        EXPECT_EQ(SaveAsFromLastFolder(nullptr, name, request), save);
        EXPECT_EQ(name, save ? first / "typed" : "My Show.torrent");
    }
    EXPECT_EQ(started, expected);
    EXPECT_TRUE(std::filesystem::exists(state / "velindra/state.ini"));
    qunsetenv("XDG_STATE_HOME");
}

// Starts the real program with these arguments and waits until it ends (up to 20 s); its exit
// code, or -1 while it still runs.
int RunLaterStart(const QStringList& arguments, int waitMs = 20000) {
    QProcess later;
    later.start(QStringLiteral(VELINDRA_APP_PATH), arguments);
    for (QElapsedTimer clock; later.state() != QProcess::NotRunning && clock.elapsed() < waitMs;)
        QTest::qWait(20);
    if (later.state() != QProcess::NotRunning) {
        later.kill();
        later.waitForFinished();
        return -1;
    }
    return later.exitStatus() == QProcess::NormalExit ? later.exitCode() : -1;
}

// A raw connection to a local socket, for what a hostile program would do; -1 on failure.
int Connect(const QString& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, name.toUtf8().constData(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// What a hostile program of the same user would do to the running window: 2,000 idle
// connections, and a message announced as 1 GiB, which is dropped at once. The connections,
// still open.
std::vector<int> Flood(const QString& name) {
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
    ::setrlimit(RLIMIT_NOFILE, &files);
    std::vector<int> idle;
    std::atomic<bool> flooded{false};
    std::thread flood([&] {  // connecting blocks while the window has not accepted yet
        for (int i = 0; i < 2000; ++i)
            idle.push_back(Connect(name));
        flooded = true;
    });
    for (QElapsedTimer clock; !flooded && clock.elapsed() < 60000;)
        QTest::qWait(10);
    flood.join();
    EXPECT_EQ(std::count(idle.begin(), idle.end(), -1), 0);
    EXPECT_TRUE(std::filesystem::exists(name.toStdString())) << "after the flood";
    const int huge = Connect(name);
    EXPECT_GE(huge, 0);
    const char announce[] = {0x40, 0, 0, 0, 'x'};
    EXPECT_EQ(::write(huge, announce, sizeof announce), 5);
    char answer = 0;
    QElapsedTimer dropped;
    dropped.start();
    while (::recv(huge, &answer, 1, MSG_DONTWAIT) < 0 && dropped.elapsed() < 5000)
        QTest::qWait(10);
    EXPECT_LT(dropped.elapsed(), 5000);
    EXPECT_TRUE(std::filesystem::exists(name.toStdString())) << "after the huge message";
    idle.push_back(huge);
    return idle;
}

// One window per user session. A socket file left by a crash, that nobody answers, does not
// stop the next start from listening; a later start of the real program then hands its links
// to the running window and ends, also while that window is busy for seconds, and also after
// a flood of idle connections and a message announced as 1 GiB: the running window keeps its
// place, and every link is shown once.
TEST(SingleInstanceTest, LaterStartsHandTheirLinksToTheRunningWindow) {
    testing::TempDir runtime;
    std::filesystem::permissions(runtime.path(), std::filesystem::perms::owner_all);
    qputenv("XDG_RUNTIME_DIR", runtime.str().c_str());
    const QString name = SingleInstance::DefaultName();
    EXPECT_EQ(name.toStdString(), runtime / "velindra.socket");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, name.toUtf8().constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    EXPECT_EQ(SingleInstance::HandOver(name, {"magnet:?x"}, 500, 500),
              SingleInstance::HandOverResult::NoInstance);

    testing::World w;
    Form1 form(Wire(w));
    form.show();
    form.Text1->setPlainText("typed by hand");
    SingleInstance instance;
    QObject::connect(&instance, &SingleInstance::argumentsArrived, &form, &Form1::AppendLinks);
    ASSERT_EQ(instance.Listen(name), SingleInstance::ListenResult::Listening);
    EXPECT_EQ(RunLaterStart({"magnet:?xt=urn:btih:A", "text with magnet:?xt=urn:btih:B"}), 0);
    EXPECT_EQ(form.Text1->toPlainText(),
              "typed by hand\nmagnet:?xt=urn:btih:A\ntext with magnet:?xt=urn:btih:B");
    EXPECT_EQ(form.focusWidget(), form.Command1);
    EXPECT_TRUE(w.journal.empty());  // nothing starts on its own

    // Busy for 3 s (the event loop does not run): the later start waits, and ends.
    QProcess later;
    later.start(QStringLiteral(VELINDRA_APP_PATH), {"magnet:?xt=urn:btih:C"});
    ASSERT_TRUE(later.waitForStarted());
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_TRUE(std::filesystem::exists(name.toStdString())) << "while busy";
    for (QElapsedTimer clock; later.state() != QProcess::NotRunning && clock.elapsed() < 20000;)
        QTest::qWait(20);
    EXPECT_EQ(later.state(), QProcess::NotRunning);
    EXPECT_EQ(later.exitCode(), 0);
    EXPECT_TRUE(std::filesystem::exists(name.toStdString())) << "after busy";
    std::vector<int> open = Flood(name);
    EXPECT_EQ(RunLaterStart({"magnet:?xt=urn:btih:D"}), 0);
    for (int c : open)
        ::close(c);
    EXPECT_TRUE(form.Text1->toPlainText().endsWith(
        "magnet:?xt=urn:btih:B\nmagnet:?xt=urn:btih:C\nmagnet:?xt=urn:btih:D"))
        << form.Text1->toPlainText().toStdString();
}

// The socket lives only in a folder of the user's own that nobody else can write to, and only
// a program run by the same user is handed anything. Another user is created for the test
// where it can be (as root); elsewhere that part is skipped.
TEST(SingleInstanceTest, OnlyTheUsersOwnFolderAndProgramAreTrusted) {
    testing::TempDir home;
    qputenv("XDG_CACHE_HOME", (home.str() + "/cache").c_str());
    const std::string own = home / "cache/velindra/velindra.socket";
    for (const char* runtime : {"", "relative", "/tmp", "/nonexistent"}) {
        qputenv("XDG_RUNTIME_DIR", runtime);
        EXPECT_EQ(SingleInstance::DefaultName().toStdString(), own) << runtime;
    }
    EXPECT_EQ(std::filesystem::status(home / "cache/velindra").permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    if (::getuid() != 0 || std::system("id velindra-other >/dev/null 2>&1 || "
                                       "useradd -M -s /usr/sbin/nologin velindra-other") != 0) {
        GTEST_SKIP() << "another user cannot be made here (not root, or no useradd)";
    }
    // A folder of the other user's is not taken as a runtime folder, and a program the other
    // user runs (the real one, on a socket anybody may reach) is not handed the links.
    testing::TempDir theirs;
    ASSERT_EQ(std::system(("chown velindra-other " + testing::Quote(theirs.str()) +
                           " && chmod 700 " + testing::Quote(theirs.str()))
                              .c_str()),
              0);
    qputenv("XDG_RUNTIME_DIR", theirs.str().c_str());
    EXPECT_EQ(SingleInstance::DefaultName().toStdString(), own);
    QProcess server;
    server.setProcessEnvironment([&] {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(theirs.str()));
        env.insert("HOME", QString::fromStdString(theirs.str()));
        return env;
    }());
    server.start("setpriv", {"--reuid=velindra-other", "--regid=velindra-other", "--clear-groups",
                             QStringLiteral(VELINDRA_APP_PATH)});
    const QString theirSocket = QString::fromStdString(theirs / "velindra.socket");
    for (QElapsedTimer clock;
         !std::filesystem::exists(theirSocket.toStdString()) && clock.elapsed() < 10000;)
        QTest::qWait(50);
    ASSERT_TRUE(std::filesystem::exists(theirSocket.toStdString()));
    EXPECT_EQ(SingleInstance::HandOver(theirSocket, {"magnet:?private"}, 2000, 2000),
              SingleInstance::HandOverResult::NoInstance);
    server.kill();
    server.waitForFinished();
}

// Values come back exactly as written, a list-looking one as its text, and every read sees the
// file as it is now, edited by hand too. A corrupt or unreadable file reads as the defaults and
// never fails towards us.
TEST(SettingsStoreTest, ValuesRoundTripAndBrokenFilesReadAsTheDefaults) {
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QtSettingsStore store;
    const std::string file = QtSettingsStore::Location();
    EXPECT_EQ(file, dir.path().toStdString() + "/Tessmir.conf");
    EXPECT_EQ(store.Read("onError", "msg"), "msg");
    for (const std::string value :
         {"select", "", "D:\\Seeds\\", "/srv/种子/a,b", "  spaced  ", "@at", "a;b=c", "Open"}) {
        store.Write("onStart", value);
        EXPECT_EQ(store.Read("onStart", "default"), value);
    }
    testing::WriteFile(file, "[Velindra]\nonFinish=poi\nonStart=/a,b\n");
    EXPECT_EQ(store.Read("onFinish", "select"), "poi");
    EXPECT_EQ(store.Read("onStart", ""), "/a,b");
    testing::WriteFile(file, std::string("\0\xff[Velindra\n=\n[[]]\nonFinish\n\x01\x02", 24));
    EXPECT_EQ(store.Read("onFinish", "select"), "select");
    store.Write("onError", "ignore");
    QFile::setPermissions(QString::fromStdString(file), QFileDevice::Permissions());
    EXPECT_EQ(store.Read("fileName", "dn"), "dn");
    store.Write("fileName", "btih");
    // Something other than a file in its place is never opened: nothing blocks on a FIFO,
    // nothing is stored, and the settings window says so and stays open.
    for (const bool fifo : {true, false}) {
        std::filesystem::remove_all(file);
        fifo ? (void)::mkfifo(file.c_str(), 0600) : (void)std::filesystem::create_directory(file);
        EXPECT_EQ(store.Read("onFinish", "select"), "select");
        EXPECT_FALSE(store.Write("onFinish", "poi"));
        Form3 window(nullptr, store, nullptr);
        EXPECT_EQ(Messages([&] { window.Command1->click(); }),
                  Names{QString::fromStdString("设置无法保存：" + file)});
        EXPECT_NE(window.result(), QDialog::Accepted);
    }
    // The same for the Save-as dialog's own state file.
    qputenv("XDG_STATE_HOME", dir.path().toUtf8());
    std::filesystem::create_directories(dir.path().toStdString() + "/velindra");
    const std::string state = StateFile().toStdString();
    ASSERT_EQ(::mkfifo(state.c_str(), 0600), 0);
    EXPECT_FALSE(SaveDialogStartFolder().isEmpty());
    RememberSavedFile(QStringLiteral("/tmp/x.torrent"));
    EXPECT_TRUE(std::filesystem::is_fifo(state));
    qunsetenv("XDG_STATE_HOME");
}

// A save folder that is not a whole path is refused when the settings are saved.
TEST(Form3Test, ARelativeSaveFolderIsRefused) {
    testing::MemorySettings settings;
    Form3 window(nullptr, settings, nullptr);
    window.Option6->setChecked(true);
    window.Text1->setText(QStringLiteral("seeds"));
    EXPECT_EQ(Messages([&] { window.Command1->click(); }),
              Names{"保存位置必须是完整的文件夹路径：seeds"});
    EXPECT_TRUE(settings.writes.empty());
    window.Text1->setText(QStringLiteral("/srv/seeds"));
    EXPECT_TRUE(Messages([&] { window.Command1->click(); }).empty());
    EXPECT_EQ(settings.values["onStart"], "/srv/seeds");
}

// Each path reaches the opener as one argument, whatever it holds, and never through a shell.
// Without a session bus, revealing falls back to opening the folder.
TEST(LauncherTest, PathsReachTheOpenerIntact) {
    testing::TempDir dir;
    const std::string record = dir / "bin/xdg-open.out", folder = dir / "my seeds & more";
    std::filesystem::create_directories(dir / "bin");
    std::filesystem::create_directories(folder);
    testing::WriteFile(
        dir / "bin/xdg-open",
        "#!/bin/sh\nprintf '%s\\0' \"$@\" >\"$0.tmp\" && mv \"$0.tmp\" \"$0.out\"\n");
    std::filesystem::permissions(dir / "bin/xdg-open", std::filesystem::perms::owner_all);
    const QByteArray path = qgetenv("PATH"), bus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("PATH", QByteArray::fromStdString(dir / "bin:") + path);
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    const auto recorded = [&] {
        for (int i = 0; i < 100 && !std::filesystem::exists(record); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::string data = testing::ReadFile(record);
        std::filesystem::remove(record);
        return data;
    };
    DesktopLauncher launcher;
    for (const std::string name :
         {"with space.torrent", "quote\"and'apostrophe.torrent", "a&b;c|d.torrent",
          "$(touch pwned) `id`.torrent", "中文 名字.torrent", "-dash.torrent"}) {
        const std::string file = folder + "/" + name;
        testing::WriteFile(file, "x");
        EXPECT_TRUE(launcher.OpenFile(file));
        EXPECT_EQ(recorded(), file + '\0') << name;
        EXPECT_TRUE(launcher.RevealFile(file));
        EXPECT_EQ(recorded(), folder + '\0') << name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "pwned") || std::filesystem::exists("pwned"));
    // An opener that finds no program for the file (xdg-open exits 3), or none at all, is
    // reported.
    testing::WriteFile(dir / "bin/xdg-open", "#!/bin/sh\nexit 3\n");
    EXPECT_FALSE(launcher.OpenFile(folder + "/with space.torrent"));
    qputenv("PATH", (dir / "nothing").c_str());
    EXPECT_FALSE(launcher.OpenFile(dir / "x.torrent") || launcher.RevealFile(dir / "x.torrent"));
    qputenv("PATH", path);
    if (!bus.isEmpty())
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus);
}

}  // namespace
}  // namespace velindra

int main(int argc, char** argv) {
    // Headless unless told otherwise: the windows are real widgets, drawn offscreen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The three windows, offscreen, with real widgets; modal windows are answered by the test.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <thread>

#include "CD.h"
#include "Form1.h"
#include "Form2.h"
#include "Form3.h"
#include "fakes.h"
#include "progress_downloader.h"
#include "single_instance.h"
#include "swarm_source.h"
#include "swarm_support.h"
#include "test_support.h"

namespace velindra {
namespace {

using Events = std::vector<std::string>;

// Runs `act` on the next modal window, from inside that window's own event loop.
void OnNextModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer(qApp);  // owned by the application if no modal ever comes
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
        }
    });
    timer->start();
}

// Answers a message box, recording its text; checks its shape on the way.
void AnswerMessage(std::vector<QString>& seen) {
    OnNextModal([&seen](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        seen.push_back(box->text());
        EXPECT_EQ(box->windowTitle(), "Velindra");
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box->buttons().size(), 1);
        box->button(QMessageBox::Ok)->click();
    });
}

// The next widget that Tab moves the focus to.
QWidget* NextTabStop(QWidget* w) {
    QWidget* next = w->nextInFocusChain();
    while (next != w && !((next->focusPolicy() & Qt::TabFocus) && next->isEnabled())) {
        next = next->nextInFocusChain();
    }
    return next;
}

QRect Twips(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

struct Harness {
    testing::World world;
    std::vector<std::string> browseAnswers;  // "" cancels
    Outside outside() {
        return Outside{world.settings, world.downloader, world.launcher,
                       [this](QWidget*, std::string& name, const SaveDialogRequest& r) {
                           return world.saveDialog.ShowSaveDialog(name, r);
                       },
                       [this](QWidget*, std::string& path) {
                           if (browseAnswers.empty() || browseAnswers.front().empty())
                               return false;
                           path = browseAnswers.front();
                           return true;
                       }};
    }
};

// ---- Form1 ----

TEST(Form1Test, LayoutCaptionsAndFocus) {
    Harness h;
    Form1 form(h.outside());
    form.show();
    EXPECT_EQ(form.windowTitle(), "Velindra");
    EXPECT_EQ(form.size(), QSize(437, 173));
    EXPECT_EQ(form.Label1->text(), "Velindra");
    EXPECT_EQ(form.Label1->geometry(), Twips(120, 240, 3015, 255));
    EXPECT_EQ(form.Text1->geometry(), Twips(360, 840, 5895, 270));
    EXPECT_EQ(form.Command1->geometry(), Twips(480, 1560, 1455, 495));
    EXPECT_EQ(form.Command2->geometry(), Twips(2520, 1560, 1455, 495));
    EXPECT_EQ(form.Command3->geometry(), Twips(4560, 1560, 1455, 495));
    EXPECT_EQ(form.Command1->text(), "获取种子");
    EXPECT_EQ(form.Command2->text(), "程序设置");
    EXPECT_EQ(form.Command3->text(), "清空框框");
    EXPECT_EQ(form.findChild<QPlainTextEdit*>("Text1"), form.Text1);
    EXPECT_EQ(form.Text1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(form.Text1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_TRUE(form.Text1->tabChangesFocus());
    for (QPushButton* b : {form.Command1, form.Command2, form.Command3}) {
        EXPECT_FALSE(b->isDefault());
        EXPECT_FALSE(b->autoDefault());
    }
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_EQ(form.focusWidget(), form.Text1);
    EXPECT_EQ(NextTabStop(form.Text1), form.Command1);
    EXPECT_EQ(NextTabStop(form.Command1), form.Command2);
    EXPECT_EQ(NextTabStop(form.Command2), form.Command3);

    // Resizing moves nothing.
    form.resize(900, 500);
    EXPECT_EQ(form.Command3->geometry(), Twips(4560, 1560, 1455, 495));
}

TEST(Form1Test, LinksBoxTakesLineBreaksAndClears) {
    Harness h;
    Form1 form(h.outside());
    form.show();
    form.Text1->setFocus();
    QTest::keyClicks(form.Text1, "magnet:?a");
    QTest::keyClick(form.Text1, Qt::Key_Return);
    QTest::keyClicks(form.Text1, "magnet:?b");
    EXPECT_EQ(form.Text1->toPlainText(), "magnet:?a\nmagnet:?b");

    form.Command3->click();
    EXPECT_EQ(form.Text1->toPlainText(), "");
    form.Command3->click();  // on an empty box: still empty, nothing else happens
    EXPECT_EQ(form.Text1->toPlainText(), "");
    EXPECT_TRUE(h.world.journal.events.empty());
    EXPECT_EQ(h.world.settings.reads, 0);
}

TEST(Form1Test, NoLinkSaysSoAndReadsNoSetting) {
    Harness h;
    Form1 form(h.outside());
    form.show();
    form.Text1->setPlainText("xt=urn:btih:ABC");
    std::vector<QString> seen;
    AnswerMessage(seen);
    form.Command1->click();
    EXPECT_EQ(seen, std::vector<QString>{"没有链接"});
    EXPECT_EQ(h.world.settings.reads, 0);
    EXPECT_EQ(form.Text1->toPlainText(), "xt=urn:btih:ABC");
}

TEST(Form1Test, FailuresAreShownInMessageBoxes) {
    Harness h;
    h.world.settings.values = {{"onStart", "/d"}};
    h.world.downloader.decide = [](const FetchRequest&) { return FetchError::HttpStatus; };
    Form1 form(h.outside());
    form.show();
    form.Text1->setPlainText("magnet:?dn=x\r\nmagnet:?xt=urn:btih:AB&x");
    std::vector<QString> seen;
    AnswerMessage(seen);
    QTimer later;  // the second message is answered once the first is gone
    QObject::connect(&later, &QTimer::timeout, [&] {
        if (seen.size() == 1) {
            later.stop();
            AnswerMessage(seen);
        }
    });
    later.start(5);
    form.Command1->click();
    EXPECT_EQ(seen, (std::vector<QString>{"分析失败", "种子获取失败"}));
}

// ---- Form2 ----

TEST(Form2Test, LayoutAndFocus) {
    testing::MemorySettings settings;
    RunOptions options;
    Form2 prompt(nullptr, options, settings);
    prompt.show();
    EXPECT_EQ(prompt.windowTitle(), "恭喜恭喜");
    EXPECT_EQ(prompt.size(), QSize(380, 150));
    EXPECT_EQ(prompt.Label1->text(), "种子获取成功");
    EXPECT_EQ(prompt.Label1->geometry(), Twips(480, 360, 4575, 495));
    EXPECT_EQ(prompt.Check1->text(), "以后自动使用同样操作");
    EXPECT_EQ(prompt.Check1->geometry(), Twips(480, 1080, 2655, 255));
    EXPECT_EQ(prompt.Command1->text(), "打开");
    EXPECT_EQ(prompt.Command2->text(), "打开所在文件夹");
    EXPECT_EQ(prompt.Command3->text(), "什么都不做");
    EXPECT_EQ(prompt.Command2->geometry(), Twips(1920, 1560, 1695, 375));
    EXPECT_FALSE(prompt.Check1->isChecked());
    EXPECT_EQ(NextTabStop(prompt.Command1), prompt.Command2);
    EXPECT_EQ(NextTabStop(prompt.Command2), prompt.Command3);
    EXPECT_EQ(NextTabStop(prompt.Command3), prompt.Check1);
    prompt.hide();
}

TEST(Form2Test, EachButtonAnswersAndRemembersOnlyWhenTicked) {
    struct Case {
        int button;
        bool ticked;
        std::string value;
    };
    for (const Case& c : std::vector<Case>{{1, false, "open"},
                                           {1, true, "open"},
                                           {2, false, "poi"},
                                           {2, true, "poi"},
                                           {3, false, "none"},
                                           {3, true, "none"}}) {
        testing::MemorySettings settings;
        RunOptions options;
        options.selection = "select";
        Form2 prompt(nullptr, options, settings);
        OnNextModal([&](QWidget* w) {
            auto* p = qobject_cast<Form2*>(w);
            ASSERT_NE(p, nullptr);
            EXPECT_FALSE(p->Check1->isChecked());
            EXPECT_EQ(QApplication::focusWidget(), p->Command1);
            p->Check1->setChecked(c.ticked);
            (c.button == 1 ? p->Command1 : c.button == 2 ? p->Command2 : p->Command3)->click();
        });
        prompt.ShowModal();
        EXPECT_EQ(options.selection, c.value);
        EXPECT_EQ(settings.writes, c.ticked ? std::vector<std::string>{"onFinish=" + c.value}
                                            : std::vector<std::string>{});
    }
}

TEST(Form2Test, ClosingWithoutAButtonWritesNothing) {
    testing::MemorySettings settings;
    RunOptions options;
    options.selection = "select";
    Form2 prompt(nullptr, options, settings);
    OnNextModal([](QWidget* w) {
        qobject_cast<Form2*>(w)->Check1->setChecked(true);
        w->close();
    });
    prompt.ShowModal();
    EXPECT_EQ(options.selection, "select");
    EXPECT_TRUE(settings.writes.empty());
}

// ---- Form3 ----

struct LoadCase {
    std::map<std::string, std::string, std::less<>> stored;
    const char* finish;  // object names of the options expected to be selected
    const char* folder;
    const char* error;
    const char* naming;
    QString text;
};

TEST(Form3Test, LoadsEveryStoredValue) {
    const std::vector<LoadCase> cases = {
        {{}, "Option1", "Option5", "Option7", "Option9", "F:\\TDDownload"},
        {{{"onFinish", "open"},
          {"onStart", "D:\\Seeds"},
          {"onError", "ignore"},
          {"fileName", "btih"}},
         "Option2",
         "Option6",
         "Option8",
         "Option10",
         "D:\\Seeds"},
        {{{"onFinish", "poi"}, {"onStart", ""}, {"onError", ""}, {"fileName", "dn"}},
         "Option3",
         "Option5",
         "Option7",
         "Option9",
         "F:\\TDDownload"},
        {{{"onFinish", "none"}, {"onError", "msg"}},
         "Option4",
         "Option5",
         "Option7",
         "Option9",
         "F:\\TDDownload"},
        {{{"onFinish", "Open"}, {"onError", "Ignore"}, {"fileName", "BTIH"}},
         "Option4",
         "Option5",
         "Option7",
         "Option9",
         "F:\\TDDownload"},
        {{{"onFinish", ""}, {"onStart", " "}}, "Option4", "Option6", "Option7", "Option9", " "},
    };
    for (const auto& c : cases) {
        testing::MemorySettings settings;
        settings.values = c.stored;
        Form3 window(nullptr, settings, nullptr);
        for (const char* name : {c.finish, c.folder, c.error, c.naming}) {
            auto* option = window.findChild<QRadioButton*>(name);
            ASSERT_NE(option, nullptr) << name;
            EXPECT_TRUE(option->isChecked()) << name;
        }
        EXPECT_EQ(window.Text1->text(), c.text);
        EXPECT_TRUE(settings.writes.empty());
    }
}

TEST(Form3Test, OkWritesTheSelectedValuesInOrder) {
    struct Case {
        QRadioButton* Form3::*finish;
        QRadioButton* Form3::*folder;
        QString text;
        QRadioButton* Form3::*error;
        QRadioButton* Form3::*naming;
        std::vector<std::string> writes;
    };
    const std::vector<Case> cases = {
        {&Form3::Option1,
         &Form3::Option5,
         "/ignored",
         &Form3::Option7,
         &Form3::Option9,
         {"onFinish=select", "onStart=", "onError=msg", "fileName=dn"}},
        {&Form3::Option2,
         &Form3::Option6,
         "/srv/种子 ",
         &Form3::Option8,
         &Form3::Option10,
         {"onFinish=open", "onStart=/srv/种子 ", "onError=ignore", "fileName=btih"}},
        {&Form3::Option3,
         &Form3::Option6,
         "",
         &Form3::Option7,
         &Form3::Option9,
         {"onFinish=poi", "onStart=", "onError=msg", "fileName=dn"}},
        {&Form3::Option4,
         &Form3::Option6,
         "F:\\TDDownload",
         &Form3::Option8,
         &Form3::Option9,
         {"onFinish=none", "onStart=F:\\TDDownload", "onError=ignore", "fileName=dn"}},
    };
    for (const auto& c : cases) {
        testing::MemorySettings settings;
        Form3 window(nullptr, settings, nullptr);
        OnNextModal([&](QWidget* w) {
            auto* f = qobject_cast<Form3*>(w);
            EXPECT_EQ(QApplication::focusWidget(), f->Command1);
            (f->*c.finish)->click();
            (f->*c.folder)->click();
            f->Text1->setText(c.text);
            (f->*c.error)->click();
            (f->*c.naming)->click();
            f->Command1->click();
        });
        window.ShowModal();
        EXPECT_EQ(settings.writes, c.writes);
    }
}

TEST(Form3Test, GroupsAreExclusiveOnTheirOwn) {
    testing::MemorySettings settings;
    Form3 window(nullptr, settings, nullptr);
    window.Option3->click();
    window.Option6->click();
    window.Option8->click();
    window.Option10->click();
    EXPECT_TRUE(window.Option3->isChecked() && window.Option6->isChecked() &&
                window.Option8->isChecked() && window.Option10->isChecked());
    EXPECT_FALSE(window.Option1->isChecked() || window.Option5->isChecked() ||
                 window.Option7->isChecked() || window.Option9->isChecked());
}

TEST(Form3Test, LayoutAndWindowShape) {
    testing::MemorySettings settings;
    Form3 window(nullptr, settings, nullptr);
    EXPECT_EQ(window.windowTitle(), "设置");
    EXPECT_EQ(window.size(), QSize(351, 351));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_EQ(window.Frame1->title(), "保存位置");
    EXPECT_EQ(window.Frame2->title(), "当获取种子失败");
    EXPECT_EQ(window.Frame3->title(), "获取种子成功");
    EXPECT_EQ(window.Frame1->geometry(), Twips(240, 240, 4815, 1695));
    EXPECT_EQ(window.Text1->parentWidget(), window.Picture2);
    EXPECT_EQ(window.Text1->geometry(), Twips(1320, 600, 2415, 270));
    EXPECT_EQ(window.Option9->parentWidget(), window.Picture4);
    EXPECT_EQ(window.Label1->text(), "保存文件名");
    EXPECT_EQ(window.Command1->text(), "确定");
    EXPECT_EQ(window.Command2->text(), "浏览");
    EXPECT_EQ(window.Command1->geometry(), Twips(1920, 4800, 1575, 375));
    const std::vector<QString> captions = {
        "用户选择",   "打开", "打开所在文件夹", "什么都不做",       "用户选择",
        "保存在下面", "提示", "不提示",         "优先使用内容信息", "总是使用种子特征"};
    for (int i = 0; i < 10; ++i) {
        auto* option = window.findChild<QRadioButton*>(QString("Option%1").arg(i + 1));
        ASSERT_NE(option, nullptr);
        EXPECT_EQ(option->text(), captions[i]);
    }
}

TEST(Form3Test, ClosingWithoutOkWritesNothing) {
    Harness h;
    h.browseAnswers = {"/picked"};
    Form3 window(nullptr, h.world.settings, h.outside().browseForFolder);
    OnNextModal([](QWidget* w) {
        auto* f = qobject_cast<Form3*>(w);
        f->Option4->click();
        f->Command2->click();  // browse, confirmed
        w->close();
    });
    window.ShowModal();
    EXPECT_TRUE(h.world.settings.writes.empty());
}

TEST(Form3Test, BrowseConfirmedOrCancelled) {
    Harness h;
    auto browse = h.outside().browseForFolder;
    Form3 window(nullptr, h.world.settings, browse);
    h.browseAnswers = {""};
    window.Command2->click();
    EXPECT_TRUE(window.Option5->isChecked());
    EXPECT_EQ(window.Text1->text(), "F:\\TDDownload");

    h.browseAnswers = {"/home/u/种子"};
    window.Command2->click();
    EXPECT_TRUE(window.Option6->isChecked());
    EXPECT_EQ(window.Text1->text(), "/home/u/种子");
}

// ---- Through the real main window ----

TEST(BatchWindowTest, RememberedRevealHoldsWithoutAskingAgain) {
    Harness h;
    h.world.settings.values = {{"onStart", "/d"}};
    Form1 form(h.outside());
    form.show();
    form.Text1->setPlainText(
        "magnet:?xt=urn:btih:A1000000000000000000000000000000000000A1&dn=one\r\nmagnet:?xt=urn:"
        "btih:A2000000000000000000000000000000000000A2&dn=two\nmagnet:?xt=urn:btih:"
        "A3000000000000000000000000000000000000A3&x");
    int prompts = 0;
    OnNextModal([&](QWidget* w) {
        auto* p = qobject_cast<Form2*>(w);
        ASSERT_NE(p, nullptr);
        ++prompts;
        p->Check1->setChecked(true);
        p->Command2->click();
    });
    form.Command1->click();
    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(form.selection, "poi");
    EXPECT_EQ(h.world.settings.values["onFinish"], "poi");
    const Events reveals = {"reveal /d/one.torrent", "reveal /d/two.torrent",
                            "reveal /d/A3000000000000000000000000000000000000A3.torrent"};
    Events seen;
    for (const auto& e : h.world.journal.events) {
        if (e.starts_with("reveal"))
            seen.push_back(e);
    }
    EXPECT_EQ(seen, reveals);

    // The next batch does not ask.
    h.world.journal.events.clear();
    bool asked = false;
    auto* watch = new QTimer(&form);
    QObject::connect(watch, &QTimer::timeout, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            asked = true;
            w->close();
        }
    });
    watch->start(10);
    form.Command1->click();
    delete watch;
    EXPECT_FALSE(asked);
    EXPECT_EQ(h.world.journal.events.back(),
              "reveal /d/A3000000000000000000000000000000000000A3.torrent");

    // The settings window then shows the remembered answer.
    Form3 window(&form, h.world.settings, nullptr);
    EXPECT_TRUE(window.Option3->isChecked());
}

// A download that takes its time and gives up only when cancelled.
class SlowDownloader : public Downloader {
  public:
    std::atomic<int> calls{0};
    std::atomic<bool> sawCancel{false};
    FetchResult Fetch(const FetchRequest& request) override {
        ++calls;
        for (int i = 0; i < 500; ++i) {
            if (request.cancel && request.cancel->load()) {
                sawCancel = true;
                return FetchResult{FetchError::Cancelled, "cancelled"};
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return FetchResult{FetchError::Timeout, "slow"};
    }
};

TEST(BatchWindowTest, SlowDownloadShowsProgressAndCancelSkipsSilently) {
    Harness h;
    h.world.settings.values = {{"onStart", "/d"}, {"onFinish", "open"}};
    SlowDownloader slow;
    Outside outside = h.outside();
    Form1 form(Outside{h.world.settings, slow, h.world.launcher, outside.saveDialog,
                       outside.browseForFolder});
    form.show();
    form.Text1->setPlainText("magnet:?xt=urn:btih:AB000000000000000000000000000000000000AB&x");
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
        EXPECT_EQ(progress->windowTitle(), "Velindra");
        EXPECT_EQ(progress->cancelButton->text(), "取消");
        label = progress->label->text();
        form.AppendLinks({"magnet:?handed-over"});  // a later start during the batch
        progress->cancelButton->click();
    });
    form.Command1->click();
    EXPECT_TRUE(slow.sawCancel);
    EXPECT_EQ(slow.calls, 1);  // the other mirrors are not asked
    EXPECT_GE(shownAfter, 400);
    EXPECT_TRUE(label.contains("镜像 1")) << label.toStdString();
    EXPECT_TRUE(h.world.journal.events.empty());  // no message, no launch
    // Links handed over during the batch waited for its end.
    EXPECT_EQ(
        form.Text1->toPlainText(),
        "magnet:?xt=urn:btih:AB000000000000000000000000000000000000AB&x\nmagnet:?handed-over");
    EXPECT_LT(clock.elapsed(), 4000);
}

TEST(BatchWindowTest, FastDownloadsShowNoProgress) {
    Harness h;
    h.world.settings.values = {{"onStart", "/d"}, {"onFinish", "none"}};
    Form1 form(h.outside());
    form.show();
    form.Text1->setPlainText(
        "magnet:?xt=urn:btih:A1000000000000000000000000000000000000A1&x "
        "magnet:?xt=urn:btih:A2000000000000000000000000000000000000A2&x");
    bool appeared = false;
    auto* watch = new QTimer(&form);
    QObject::connect(watch, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget())
            appeared = true;
    });
    watch->start(1);
    form.Command1->click();
    EXPECT_FALSE(appeared);
    EXPECT_EQ(h.world.downloader.requests.size(), 2u);
}

TEST(BatchWindowTest, LinkWhoseMirrorsAllFailIsSavedFromTheNetwork) {
    testing::LoopbackSeeder seeder;
    std::string info;
    const std::string hash = seeder.Seed("window.bin", 32 * 1024, &info);
    testing::TempDir out;
    Harness h;
    h.world.settings.values = {{"onStart", out.path().string()}, {"onFinish", "open"}};
    h.world.downloader.decide = [](const FetchRequest&) { return FetchError::HttpStatus; };
    Outside outside = h.outside();
    int sessions = 0;
    outside.makeNetworkSource = [&] {
        ++sessions;
        SwarmLimits limits;
        limits.perLinkMs = 20'000;
        limits.unreachableMs = 8'000;
        limits.dht = limits.localDiscovery = limits.portMapping = false;
        limits.listenInterfaces = "127.0.0.1:0";
        return std::unique_ptr<Downloader>(std::make_unique<SwarmSource>(limits));
    };
    Form1 form(std::move(outside));
    form.show();
    form.Text1->setPlainText(
        QString::fromStdString("magnet:?xt=urn:btih:" + hash + "&dn=window&x.pe=" + seeder.Peer()));
    QString label;
    OnNextModal([&](QWidget* w) {
        if (auto* progress = qobject_cast<ProgressWindow*>(w))
            label = progress->label->text();
    });
    form.Command1->click();
    EXPECT_EQ(h.world.downloader.requests.size(), 3u);  // the three mirrors, then the network
    EXPECT_EQ(h.world.journal.events.back(), "open " + (out / "window.torrent"));
    const std::string body = testing::ReadFile(out / "window.torrent");
    ASSERT_TRUE(FindInfoDictionary(body).has_value());
    EXPECT_EQ(std::string(*FindInfoDictionary(body)), info);
    EXPECT_EQ(sessions, 1);
    if (!label.isEmpty()) {
        EXPECT_TRUE(label.contains("BitTorrent")) << label.toStdString();
    }
}

// ---- The dialog wrappers, with the toolkit's own dialogs ----

TEST(DialogTest, SaveDialogSuggestsFiltersAndReturnsTheTypedPath) {
    testing::TempDir dir;
    std::string name = "My Show.torrent";
    OnNextModal([&](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->windowTitle(), "另存为");
        EXPECT_EQ(d->nameFilters(), QStringList({"种子文件(*.torrent)", "所有文件(*.*)"}));
        EXPECT_EQ(d->selectedNameFilter(), "种子文件(*.torrent)");
        EXPECT_FALSE(d->testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_TRUE(d->defaultSuffix().isEmpty());
        EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptSave);
        d->setDirectory(QString::fromStdString(dir.path().string()));
        d->selectFile("typed");
        static_cast<QDialog*>(d)->accept();
    });
    EXPECT_TRUE(CD::ShowSaveDialog(nullptr, name, "另存为",
                                   "种子文件(*.torrent)|*.torrent;所有文件(*.*)|*.*", 0, "", 6));
    EXPECT_EQ(name, dir / "typed");

    std::string kept = "kept.torrent";
    OnNextModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    EXPECT_FALSE(CD::ShowSaveDialog(nullptr, kept, "另存为", "a|*.a", 0, "", 6));
    EXPECT_EQ(kept, "kept.torrent");
}

TEST(DialogTest, FolderPickerReturnsAFolderOrNothing) {
    testing::TempDir dir;
    std::string path = "/somewhere/else";
    OnNextModal([&](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->windowTitle(), "请选择文件夹： ");
        EXPECT_EQ(d->fileMode(), QFileDialog::Directory);
        EXPECT_NE(d->directory().absolutePath(), "/somewhere/else");
        d->setDirectory(QString::fromStdString(dir.path().parent_path().string()));
        d->selectFile(QString::fromStdString(dir.path().string()));
        static_cast<QDialog*>(d)->accept();
    });
    EXPECT_TRUE(CD::BrowseForFolder(nullptr, path, "请选择文件夹： ", 1));
    EXPECT_EQ(path, dir.path().string());

    OnNextModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    EXPECT_FALSE(CD::BrowseForFolder(nullptr, path, "请选择文件夹： ", 1));
    EXPECT_EQ(path, dir.path().string());
}

// ---- One window per user session, with the real program as the later start ----

class SingleInstanceTest : public ::testing::Test {
  protected:
    void SetUp() override { qputenv("XDG_RUNTIME_DIR", runtime.path().c_str()); }
    // Runs the real program with the arguments and lets the event loop go on meanwhile.
    static int StartLater(const QStringList& arguments) {
        QProcess later;
        later.start(QStringLiteral(VELINDRA_APP_PATH), arguments);
        later.waitForStarted();
        QElapsedTimer clock;
        clock.start();
        while (later.state() != QProcess::NotRunning && clock.elapsed() < 20000)
            QTest::qWait(20);
        return later.state() == QProcess::NotRunning ? later.exitCode() : -1;
    }
    testing::TempDir runtime;
};

TEST_F(SingleInstanceTest, LaterStartsHandTheirLinksToTheRunningWindow) {
    Harness h;
    Form1 form(h.outside());
    form.show();
    form.Text1->setPlainText("typed by hand");
    SingleInstance instance;
    QObject::connect(&instance, &SingleInstance::argumentsArrived, &form, &Form1::AppendLinks);
    ASSERT_TRUE(instance.Listen(SingleInstance::DefaultName()));
    EXPECT_EQ(StartLater({"magnet:?xt=urn:btih:A", "text with magnet:?xt=urn:btih:B"}), 0);
    EXPECT_EQ(form.Text1->toPlainText(),
              "typed by hand\nmagnet:?xt=urn:btih:A\ntext with magnet:?xt=urn:btih:B");
    EXPECT_EQ(form.focusWidget(), form.Command1);
    EXPECT_TRUE(h.world.downloader.requests.empty());  // nothing starts on its own
}

TEST_F(SingleInstanceTest, ASocketLeftByACrashDoesNotStopTheNextStart) {
    const QByteArray path = SingleInstance::DefaultName().toUtf8();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);  // the file stays, nobody listens: what a crash leaves

    QProcess first;
    first.start(QStringLiteral(VELINDRA_APP_PATH), {});
    ASSERT_TRUE(first.waitForStarted());
    bool taken = false;
    for (int i = 0; i < 100 && !taken; ++i) {
        QTest::qWait(50);
        taken = SingleInstance::HandOver(SingleInstance::DefaultName(), {"magnet:?x"}, 500);
    }
    EXPECT_TRUE(taken);
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished();
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

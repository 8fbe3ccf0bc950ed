// The windows on Linux and other Unix desktops: the single-instance socket, the settings file,
// the Save-as dialog's state file, and the desktop's opener.
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "app/Form3.h"
#include "app/desktop_launcher.h"
#include "app/single_instance.h"
#include "settings/qt_settings_store.h"
#include "tests/app_support.h"

namespace velindra {
namespace {

sockaddr_un LocalAddress(const QString& name) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, name.toUtf8().constData(), sizeof address.sun_path - 1);
    return address;
}

// A raw connection to a local socket, for what a hostile program would do; -1 on failure.
// Without `wait`, a server whose backlog is full gives -1 and errno EAGAIN at once.
int Connect(const QString& name, bool wait = true) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (wait ? 0 : SOCK_NONBLOCK), 0);
    const sockaddr_un address = LocalAddress(name);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// The same from the window's own thread, which goes on serving meanwhile: the last of a flood
// may still fill the backlog, and a connect that blocked here would wait for ever for an
// accept that only this thread can make.
int ConnectServing(const QString& name) {
    int fd = -1;
    RunEventsUntil([&] { return (fd = Connect(name, false)) >= 0 || errno != EAGAIN; }, 10000);
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
    EXPECT_TRUE(RunEventsUntil([&] { return flooded.load(); }, 120000))
        << "the window did not take 2,000 connections in two minutes";
    RunEventsUntil([&] { return flooded.load(); }, INT_MAX);  // the thread waits on us
    flood.join();
    EXPECT_EQ(std::count(idle.begin(), idle.end(), -1), 0);
    EXPECT_TRUE(std::filesystem::exists(name.toStdString())) << "after the flood";
    const int huge = ConnectServing(name);
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
    const sockaddr_un address = LocalAddress(name);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
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
    RunEventsUntil([&] { return later.state() == QProcess::NotRunning; }, 20000);
    EXPECT_EQ(later.state(), QProcess::NotRunning);
    EXPECT_EQ(later.exitCode(), 0);
    EXPECT_TRUE(std::filesystem::exists(name.toStdString())) << "after busy";
    // A message of a few bytes that says it holds two billion texts is refused whole; the
    // window stays up and takes the next start's link.
    const int hostile = Connect(name);
    const char twoBillion[] = {0, 0, 0, 8, 0x7f, '\xff', '\xff', '\xff', 0, 0, 0, 0};
    ASSERT_EQ(::write(hostile, twoBillion, sizeof twoBillion), ssize_t{sizeof twoBillion});
    char ack = 0;
    RunEventsUntil([&] { return ::recv(hostile, &ack, 1, MSG_DONTWAIT) == 1; }, 5000);
    EXPECT_EQ(ack, 'k');
    ::close(hostile);
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
    RunEventsUntil([&] { return std::filesystem::exists(theirSocket.toStdString()); }, 10000);
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
    // Every value is the plain text it holds: a value the toolkit would decode into an object
    // (here a list nested so deep that decoding it overflows the stack) is a text like any
    // other, and writing leaves everything else in the file as it was.
    std::string nested = "@Variant(";
    for (int i = 0; i < 120000; ++i)
        nested += std::string("\0\0\0\t\0\0\0\x01", 8);
    nested += std::string("\0\0\0\x02\0\0\0\x01)", 9);
    const std::string others =
        "[General]\nk=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\n\n[Other]\nlist=\"a, b\", c\n";
    testing::WriteFile(file, others + "\n[Velindra]\nonFinish=" + nested +
                                 "\nonStart=\"@@at, \\\"x\\\" \"\nfileName=@String(btih)\n");
    EXPECT_EQ(store.Read("onFinish", "select"), nested);
    EXPECT_EQ(store.Read("onStart", ""), "@at, \"x\" ");
    EXPECT_EQ(store.Read("fileName", "dn"), "btih");
    {
        Form3 window(nullptr, store, nullptr);
        EXPECT_TRUE(window.Option4->isChecked());
    }
    EXPECT_TRUE(store.Write("onError", "ignore"));
    EXPECT_TRUE(testing::ReadFile(file).starts_with(others));
    EXPECT_EQ(store.Read("onFinish", "select"), nested);
    EXPECT_EQ(store.Read("onError", "msg"), "ignore");
    // Saving changes the value's line alone: comments, blank lines and the order of the groups
    // stay byte for byte; a new value goes after its group's last one.
    const std::string commented =
        "; a comment\r\n[Other]\n# note\nx = 1\n\n[Velindra]\n"
        "onFinish=poi\n\n[Last]\ny=2";
    testing::WriteFile(file, commented);
    EXPECT_TRUE(store.Write("onFinish", "open") && store.Write("onError", "ignore"));
    EXPECT_EQ(testing::ReadFile(file),
              "; a comment\r\n[Other]\n# note\nx = 1\n\n[Velindra]\n"
              "onFinish=open\nonError=ignore\n\n[Last]\ny=2");
    // A file edited by hand is read and written one way (a second header with a comment, a
    // value continued onto the next line): after 确定 the window shows what was chosen. A value
    // that could not be written so that it and every other value read back (one to go after a
    // line continued at the file's end) is not written, and the window says so.
    for (const auto& [text, saved] : std::vector<std::pair<std::string, bool>>{
             {"[Velindra]\nonFinish=reveal\n\n[Velindra] ; mine\nonFinish=reveal\n", true},
             {"[Velindra]\nonStart=/srv\\\nonFinish=reveal\n", true},
             {"[Velindra]\nonFinish=reveal\nmine=x\\", false}}) {
        testing::WriteFile(file, text);
        Form3 window(nullptr, store, nullptr);
        window.Option2->setChecked(true);  // 打开
        const Names said = Messages([&] { window.Command1->click(); });
        EXPECT_EQ(said.empty(), saved) << text;
        Form3 again(nullptr, store, nullptr);
        EXPECT_TRUE(again.Option2->isChecked()) << text;
        EXPECT_TRUE(saved || testing::ReadFile(file).ends_with("\nmine=x\\")) << text;
    }
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
    // A full disk (here a bound on the size of any file the process writes, in a child process)
    // leaves a hand-edited file as it was, byte for byte, and the write says it failed.
    std::filesystem::remove_all(file);
    std::string edited = "; mine\n[Velindra]\nonFinish=open\n[Notes]\n";
    while (edited.size() < 9689)
        edited += "line=" + std::to_string(edited.size()) + "\n";
    testing::WriteFile(file, edited);
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit small{4096, 4096};
        ::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &small);
        ::_exit(store.Write("onFinish", "poi") ? 1 : 0);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(testing::ReadFile(file), edited);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path().toStdString()),
                            std::filesystem::directory_iterator()),
              1);
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
    testing::ScopedVariables variables(
        {{"PATH", dir / "bin:" + testing::Variable("PATH").value_or("")},
         {"DBUS_SESSION_BUS_ADDRESS", ""}});
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
    EXPECT_EQ(launcher.lastProblem(), LaunchProblem::NoProgram);
    variables.Set("PATH", dir / "nothing");
    EXPECT_FALSE(launcher.OpenFile(dir / "x.torrent"));
    EXPECT_EQ(launcher.lastProblem(), LaunchProblem::NoOpener);
    EXPECT_FALSE(launcher.RevealFile(dir / "x.torrent"));
    EXPECT_EQ(launcher.lastProblem(), LaunchProblem::NoFileManager);
}

}  // namespace
}  // namespace velindra

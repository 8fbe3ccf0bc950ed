// The windows on Windows: the settings in the user's registry, the single-instance pipe, and
// the real velindra.exe fetching into a folder with a Chinese name. Run under wine, in a wine
// prefix of the test's own.
#include "tests/app_support.h"  // first: it brings the sockets, which must come before windows.h
// clang-format off
#include <windows.h>
#include <shlobj.h>
// clang-format on

#include <QProcess>
#include <QRegularExpression>
#include <map>

#include "app/Form3.h"
#include "app/single_instance.h"
#include "core/torrent.h"
#include "settings/qt_settings_store.h"

namespace velindra {
namespace {

const wchar_t* const kKey = L"Software\\Tessmir\\Velindra";

// A value as the registry holds it; nullopt when there is none or it is not text.
std::optional<QString> RegistryText(const wchar_t* name, const wchar_t* key = kKey) {
    wchar_t buffer[1024];
    DWORD size = sizeof buffer;
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return QString::fromWCharArray(buffer);
}

bool SetRegistryText(const wchar_t* key, const wchar_t* name, const QString& value) {
    const std::wstring text = value.toStdWString();
    return RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_SZ, text.c_str(),
                           DWORD((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool KeyExists(const wchar_t* key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

// The settings key as it was before the test, put back afterwards.
class RegistryScope {
  public:
    RegistryScope() {
        for (const wchar_t* name : kNames)
            saved_.push_back(RegistryText(name));
    }
    ~RegistryScope() {
        for (size_t i = 0; i < std::size(kNames); ++i)
            saved_[i] ? (void)SetRegistryText(kKey, kNames[i], *saved_[i])
                      : (void)RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, kNames[i]);
    }

    static constexpr const wchar_t* kNames[] = {L"onFinish", L"onStart", L"onError", L"fileName"};

  private:
    std::vector<std::optional<QString>> saved_;
};

// The four options go to the user's registry as text, and a new store reads them back.
TEST(SettingsStoreTest, TheFourOptionsLiveInTheUsersRegistry) {
    RegistryScope scope;
    QtSettingsStore store;
    EXPECT_EQ(QtSettingsStore::Location(), "\\HKEY_CURRENT_USER\\Software\\Tessmir");
    const QString folder = QStringLiteral("C:\\种子 下载\\");
    {
        Form3 window(nullptr, store, nullptr);
        window.Option3->setChecked(true);  // show in its folder
        window.Option6->setChecked(true);  // save into the folder
        window.Text1->setText(folder);
        window.findChild<QRadioButton*>(QStringLiteral("Option8"))->setChecked(true);
        window.findChild<QRadioButton*>(QStringLiteral("Option10"))->setChecked(true);
        EXPECT_TRUE(Messages([&] { window.Command1->click(); }).empty());
    }
    EXPECT_EQ(RegistryText(L"onFinish"), QStringLiteral("poi"));
    EXPECT_EQ(RegistryText(L"onStart"), folder);
    EXPECT_EQ(RegistryText(L"onError"), QStringLiteral("ignore"));
    EXPECT_EQ(RegistryText(L"fileName"), QStringLiteral("btih"));
    QtSettingsStore again;
    EXPECT_EQ(again.Read("onStart", ""), folder.toStdString());
    // Text written by hand, in any case, comes back as it is.
    store.Write("onError", "Ignore");
    EXPECT_EQ(RegistryText(L"onError"), QStringLiteral("Ignore"));
    EXPECT_EQ(again.Read("onError", "msg"), "Ignore");
}

// The pipe's name holds the user's SID and the user's secret, the same for every start; a later
// start of the real program hands its links over it, and nobody else can listen under it.
TEST(SingleInstanceTest, LaterStartsHandTheirLinksOverTheUsersOwnPipe) {
    const QString name = SingleInstance::DefaultName();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^velindra-S-1-[0-9-]+-[0-9a-f]{32}/"
                                                  "velindra\\.socket$"))
                    .match(name)
                    .hasMatch())
        << name.toStdString();
    EXPECT_EQ(SingleInstance::DefaultName(), name);

    testing::World w;
    Form1 form(Wire(w));
    form.show();
    SingleInstance instance;
    QObject::connect(&instance, &SingleInstance::argumentsArrived, &form, &Form1::AppendLinks);
    ASSERT_EQ(instance.Listen(name), SingleInstance::ListenResult::Listening);
    SingleInstance second;
    EXPECT_EQ(second.Listen(name), SingleInstance::ListenResult::Taken);
    EXPECT_EQ(RunLaterStart({"magnet:?xt=urn:btih:A", "text with magnet:?xt=urn:btih:B"}, 60000),
              0);
    EXPECT_EQ(form.Text1->toPlainText(), "magnet:?xt=urn:btih:A\ntext with magnet:?xt=urn:btih:B");
    EXPECT_TRUE(w.journal.empty());  // nothing starts on its own
}

struct Found {
    DWORD pid;
    HWND window;
};

// The visible main window of a process, or null.
HWND MainWindowOf(qint64 pid) {
    Found found{DWORD(pid), nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM data) -> BOOL {
            auto* f = reinterpret_cast<Found*>(data);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            wchar_t title[64] = {};
            GetWindowTextW(hwnd, title, 64);
            if (owner == f->pid && IsWindowVisible(hwnd) && std::wstring(title) == L"Velindra") {
                f->window = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found.window;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Starts the real program with these arguments and environment additions, presses
// "获取种子" from the keyboard once its window shows, waits until `done` holds (at most two
// minutes), then closes the window and expects the program to end.
template <typename Done>
void RunProgram(const QStringList& arguments, const std::map<QString, QString>& environment,
                Done done) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : environment)
        env.insert(name, value);
    program.setProcessEnvironment(env);
    program.start(ProgramPath(VELINDRA_APP_PATH), arguments);
    ASSERT_TRUE(program.waitForStarted(30000));
    HWND window = nullptr;
    ASSERT_TRUE(RunEventsUntil(
        [&] { return (window = MainWindowOf(program.processId())) != nullptr; }, 60000))
        << "the main window did not show";
    SetForegroundWindow(window);
    // Space on the focused button, "获取种子" once links were handed over. The program reads
    // its messages only once its window has taken the links and the focus.
    PostMessageW(window, WM_KEYDOWN, VK_SPACE, 0x00390001);
    PostMessageW(window, WM_KEYUP, VK_SPACE, 0xC0390001);
    RunEventsUntil(done, 120000);
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (!program.waitForFinished(20000)) {
        ADD_FAILURE() << "the program did not end when its window was closed";
        program.kill();
        program.waitForFinished();
    }
}

// The settings of a user who saves into `folder` and does nothing after.
void SaveInto(const QString& folder) {
    QtSettingsStore store;
    ASSERT_TRUE(store.Write("onStart", QDir::toNativeSeparators(folder).toStdString()) &&
                store.Write("onFinish", "none") && store.Write("onError", "msg") &&
                store.Write("fileName", "dn"));
}

// The real program as a user runs it: two links handed to it on its command line (one with a
// Chinese name), "获取种子" pressed from the keyboard, both files saved into the configured
// folder, whose name is Chinese and which the batch makes, byte for byte as the cache served
// them.
TEST(ProgramTest, SavesTwoLinksIntoAChineseFolder) {
    RegistryScope scope;
    testing::TempDir dir;
    const QString folder = QString::fromStdString(dir / "种子 下载") + QStringLiteral("/新");
    SaveInto(folder);

    const testing::Torrent a = testing::MakeTorrent("演示 demo"), b = testing::MakeTorrent("b");
    testing::LoopbackServer cache;  // the built-in caches' first, reached through the proxy
    cache.server.Get(".*", [&](const httplib::Request& q, httplib::Response& r) {
        for (const testing::Torrent* t : {&a, &b})
            if (q.target.ends_with("/" + t->hash + ".torrent"))
                return r.set_content(t->body, "application/x-bittorrent");
        r.status = 404;
    });
    cache.Start();

    const QString first = folder + QStringLiteral("/演示 demo.torrent");
    const QString second = folder + QStringLiteral("/second.torrent");
    RunProgram(
        {QString::fromStdString("magnet:?xt=urn:btih:" + a.hash + "&dn=%E6%BC%94%E7%A4%BA+demo"),
         QString::fromStdString("magnet:?xt=urn:btih:" + b.hash + "&dn=second")},
        {{QStringLiteral("http_proxy"), QString::fromStdString(cache.Url(""))}}, [&] {
            return ReadAll(first).size() == qsizetype(a.body.size()) &&
                   ReadAll(second).size() == qsizetype(b.body.size());
        });
    EXPECT_EQ(ReadAll(first).toStdString(), a.body);
    EXPECT_EQ(ReadAll(second).toStdString(), b.body);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files),
              (QStringList{QStringLiteral("second.torrent"), QStringLiteral("演示 demo.torrent")}));
}

QString KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    QString folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path)))
        folder = QString::fromWCharArray(path);
    CoTaskMemFree(path);
    return folder;
}

const wchar_t* const kMagnet = L"Software\\Classes\\magnet";
const wchar_t* const kMagnetCommand = L"Software\\Classes\\magnet\\shell\\open\\command";
const wchar_t* const kUninstall =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velindra";
// What Windows 10 and 11 read for their default apps.
const wchar_t* const kProgId = L"Software\\Classes\\Velindra.magnet";
const wchar_t* const kProgIdCommand = L"Software\\Classes\\Velindra.magnet\\shell\\open\\command";
const wchar_t* const kCapabilities = L"Software\\Tessmir\\Velindra\\Capabilities";
const wchar_t* const kAssociations = L"Software\\Tessmir\\Velindra\\Capabilities\\URLAssociations";
const wchar_t* const kRegistered = L"Software\\RegisteredApplications";

// The installer, silent, for the current user: both programs, the Start-menu entry and the
// uninstaller in Apps; magnet: links handed to the installed program, unless /NOMAGNET says
// not to take them. The silent uninstaller leaves none of it behind, and gives the magnet links
// back to the program that had them, but only while they are still Velindra's.
TEST(InstallerTest, InstallsForTheUserAndUninstallsWithoutATrace) {
    const QString folder =
        KnownFolder(FOLDERID_LocalAppData) + QStringLiteral("\\Programs\\Velindra");
    const QString shortcut = KnownFolder(FOLDERID_Programs) + QStringLiteral("\\Velindra.lnk");
    const QString ours = "\"" + folder + "\\velindra.exe\" \"%1\"";
    const QString other = QStringLiteral("\"C:\\Other\\other.exe\" \"%1\"");
    struct Case {
        const char* name;
        QString before;     // the magnet command before the install, if any
        bool take;          // the magnet links are taken
        QString meanwhile;  // the magnet command set by another program before the uninstall
        QString after;      // the magnet command after the uninstall, if any
    };
    const std::vector<Case> cases = {
        {"taken", {}, true, {}, {}},
        {"taken from another program", other, true, {}, other},
        {"not taken", other, false, {}, other},
        {"taken, then by another program", {}, true, other, other},
    };
    RegistryScope scope;  // the user's settings, which the installer leaves as they are
    ASSERT_TRUE(SetRegistryText(L"Software\\Tessmir\\Velindra", L"onFinish", "open"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RegDeleteTreeW(HKEY_CURRENT_USER, kMagnet);
        if (!c.before.isEmpty()) {
            ASSERT_TRUE(SetRegistryText(kMagnetCommand, nullptr, c.before));
        }
        QStringList arguments{QStringLiteral("/S")};
        if (!c.take)
            arguments << QStringLiteral("/NOMAGNET");
        ASSERT_EQ(RunToEnd(ProgramPath(VELINDRA_SETUP_PATH), arguments, 120000), 0);
        for (const char* file : {"velindra.exe", "velindra-cli.exe", "uninstall.exe"})
            EXPECT_TRUE(QFileInfo(folder + "\\" + file).isFile()) << file;
        EXPECT_TRUE(QFileInfo::exists(shortcut));
        EXPECT_EQ(RegistryText(L"DisplayName", kUninstall), QStringLiteral("Velindra"));
        EXPECT_EQ(RegistryText(L"UninstallString", kUninstall),
                  "\"" + folder + "\\uninstall.exe\"");
        EXPECT_EQ(RegistryText(nullptr, kMagnetCommand), c.take ? ours : c.before);
        // Listed among the default apps where the links are taken, and only there.
        EXPECT_EQ(RegistryText(nullptr, kProgIdCommand).value_or(QString()),
                  c.take ? ours : QString());
        EXPECT_EQ(RegistryText(L"magnet", kAssociations).value_or(QString()),
                  c.take ? QStringLiteral("Velindra.magnet") : QString());
        EXPECT_EQ(RegistryText(L"ApplicationName", kCapabilities).value_or(QString()),
                  c.take ? QStringLiteral("Velindra") : QString());
        EXPECT_EQ(RegistryText(L"Velindra", kRegistered).value_or(QString()),
                  c.take ? QStringLiteral("Software\\Tessmir\\Velindra\\Capabilities") : QString());
        if (c.take) {
            EXPECT_EQ(RegistryText(L"URL Protocol", kMagnet), QString());
            // A click on a link: the shell runs the registered command with the link for %1
            // (done here as the shell does it: wine's shell does not read the user's own
            // classes), and the installed program hands it to the one already running (here,
            // this test).
            SingleInstance running;
            QStringList handed;
            QObject::connect(&running, &SingleInstance::argumentsArrived,
                             [&](const QStringList& links) { handed += links; });
            ASSERT_EQ(running.Listen(SingleInstance::DefaultName()),
                      SingleInstance::ListenResult::Listening);
            const wchar_t* link = L"magnet:?xt=urn:btih:0123456789ABCDEF0123456789ABCDEF01234567";
            std::wstring command = ours.toStdWString();
            command.replace(command.find(L"%1"), 2, link);
            STARTUPINFOW startup{};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION started{};
            ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                       nullptr, &startup, &started));
            CloseHandle(started.hThread);
            CloseHandle(started.hProcess);
            RunEventsUntil([&] { return !handed.isEmpty(); }, 60000);
            EXPECT_EQ(handed, QStringList{QString::fromWCharArray(link)});
        }
        if (!c.meanwhile.isEmpty()) {
            ASSERT_TRUE(SetRegistryText(kMagnetCommand, nullptr, c.meanwhile));
        }

        // The uninstaller copies itself away and ends at once; its copy does the work.
        ASSERT_EQ(
            RunToEnd(folder + QStringLiteral("\\uninstall.exe"), {QStringLiteral("/S")}, 120000),
            0);
        // Its entry in Apps is the last thing it removes.
        RunEventsUntil([] { return !KeyExists(kUninstall); }, 60000);
        EXPECT_FALSE(QFileInfo::exists(folder));
        EXPECT_FALSE(QFileInfo::exists(shortcut));
        EXPECT_FALSE(KeyExists(kUninstall));
        EXPECT_EQ(RegistryText(nullptr, kMagnetCommand).value_or(QString()), c.after);
        EXPECT_EQ(KeyExists(kMagnet), !c.after.isEmpty());
        EXPECT_FALSE(KeyExists(kProgId) || KeyExists(kCapabilities));
        EXPECT_FALSE(RegistryText(L"Velindra", kRegistered).has_value());
        // The user's own settings stay.
        EXPECT_EQ(RegistryText(L"onFinish", L"Software\\Tessmir\\Velindra"),
                  QStringLiteral("open"));
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kMagnet);
}

}  // namespace
}  // namespace velindra

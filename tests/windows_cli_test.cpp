// velindra-cli.exe started the way Windows starts it (a UTF-16 command line, standard handles
// redirected), under the ANSI code page the test runs with, against a mirror on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "atomic_file.h"
#include "test_support.h"  // first: the sockets header must come before windows.h
#include "utf16.h"

namespace velindra {
namespace {

using testing::TempDir;

std::wstring WindowsPath(std::string path) {
    if (path.starts_with("/"))
        path = "Z:" + path;  // wine's drive for the Unix root
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    return Utf16(path);
}

std::string ReadAll(const std::wstring& path) {
    std::string data;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0)
        data.append(buffer, n);
    CloseHandle(file);
    return data;
}

struct CliRun {
    DWORD status = 0;
    std::string out, err;
};

// Runs the program with `arguments` (UTF-16, quoted as needed) and waits for it.
CliRun RunCli(const TempDir& dir, const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const std::wstring outPath = Utf16(dir / "stdout.txt"), errPath = Utf16(dir / "stderr.txt");
    const auto create = [&](const std::wstring& path) {
        return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inherit, CREATE_ALWAYS, 0, nullptr);
    };
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = CreateFileW(L"NUL", GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    startup.hStdOutput = create(outPath);
    startup.hStdError = create(errPath);
    std::wstring command = L"\"" + WindowsPath(VELINDRA_CLI_PATH) + L"\" " + arguments;
    PROCESS_INFORMATION process{};
    CliRun run;
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process)) {
        WaitForSingleObject(process.hProcess, 120'000);
        GetExitCodeProcess(process.hProcess, &run.status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        run.status = 0xDEAD;
    }
    for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        CloseHandle(h);
    run.out = ReadAll(outPath);
    run.err = ReadAll(errPath);
    return run;
}

class WindowsCliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server.server.Get(R"(/([0-9A-F]{40})\.torrent)",
                          [&](const httplib::Request& q, httplib::Response& r) {
                              if (q.matches[1] == torrent.hash)
                                  r.set_content(torrent.body, "application/x-bittorrent");
                              else
                                  r.status = 404;
                          });
        server.Start();
    }

    // A link named "种子 文件" (percent-encoded UTF-8, as browsers hand them over).
    std::wstring Arguments(const std::string& folder) const {
        return L"--mirror " + Utf16(server.Url("/{hash}.torrent")) + L" -o \"" + Utf16(folder) +
               L"\" \"magnet:?xt=urn:btih:" + Utf16(torrent.hash) +
               L"&dn=%E7%A7%8D%E5%AD%90%20%E6%96%87%E4%BB%B6\"";
    }

    testing::Torrent torrent = testing::MakeTorrent("windows");
    testing::LoopbackServer server;
    TempDir dir;
};

TEST_F(WindowsCliTest, RunsUnderTheCodePageItWasStartedFor) {
    const char* expected = std::getenv("VELINDRA_EXPECT_ACP");
    if (!expected)
        GTEST_SKIP() << "run under the machine's own code page";
    EXPECT_EQ(GetACP(), static_cast<UINT>(std::atoi(expected)));
}

TEST_F(WindowsCliTest, HelpIsUtf8) {
    const CliRun run = RunCli(dir, L"--help");
    EXPECT_EQ(run.status, 0u);
    EXPECT_TRUE(run.out.starts_with("用法: velindra-cli [选项] [文件或磁力链接...]\n")) << run.out;
    EXPECT_NE(run.out.find("退出码: 0 全部保存"), std::string::npos);
}

// Folders whose names the ANSI code page cannot spell (a Chinese user name puts them in every
// Downloads path), made when missing, then a file there replaced.
TEST_F(WindowsCliTest, SavesAndReplacesInFoldersTheCodePageCannotSpell) {
    for (const std::string name : {"下载", "Téléchargements"}) {
        const std::string folder = dir / name;
        const std::string file = folder + "\\种子 文件.torrent";
        CliRun run = RunCli(dir, Arguments(folder));
        EXPECT_EQ(run.status, 0u) << name << ": " << run.err;
        EXPECT_EQ(run.out, file + "\n") << name;
        EXPECT_EQ(testing::ReadFile(file), torrent.body) << name;

        testing::WriteFile(file, "OLD");
        run = RunCli(dir, Arguments(folder));
        EXPECT_EQ(run.status, 0u) << name << ": " << run.err;
        EXPECT_EQ(testing::ReadFile(file), torrent.body) << name;
        for (const auto& entry : std::filesystem::directory_iterator(testing::Path(folder)))
            EXPECT_EQ(entry.path().filename().wstring(), L"种子 文件.torrent");
    }
}

// Only a sharing violation is worth waiting for; a folder in the way fails at once.
TEST_F(WindowsCliTest, DestinationThatIsAFolderFailsAtOnce) {
    const std::string folder = dir / "下载";
    std::filesystem::create_directories(testing::Path(folder + "\\种子 文件.torrent"));
    const CliRun run = RunCli(dir, Arguments(folder));
    EXPECT_EQ(run.status, 1u);
    EXPECT_NE(run.err.find("无法写入 " + folder + "\\种子 文件.torrent"), std::string::npos)
        << run.err;

    AtomicFile file(folder + "\\种子 文件.torrent");
    ASSERT_TRUE(file.Open()) << file.error();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(file.Commit("data"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(testing::Path(folder)),
                            std::filesystem::directory_iterator()),
              1);
}

}  // namespace
}  // namespace velindra

// Opening and revealing files through a recording stand-in for the desktop's opener.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "desktop_launcher.h"
#include "test_support.h"

namespace velindra {
namespace {

class LauncherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // A stand-in "xdg-open" first on PATH records its arguments, NUL-separated.
        const std::string bin = dir / "bin";
        std::filesystem::create_directory(bin);
        record = dir / "record";
        testing::WriteFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"" + record +
                                                  ".tmp\"\nmv \"" + record + ".tmp\" \"" + record +
                                                  "\"\n");
        std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
        oldPath = getenv("PATH") ? getenv("PATH") : "";
        setenv("PATH", (bin + ":" + oldPath).c_str(), 1);
        // No session bus: revealing falls back to opening the folder.
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    void TearDown() override { setenv("PATH", oldPath.c_str(), 1); }

    std::vector<std::string> Recorded() {
        for (int i = 0; i < 100 && !std::filesystem::exists(record); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const std::string data = testing::ReadFile(record);
        std::filesystem::remove(record);
        std::vector<std::string> args;
        size_t start = 0;
        for (size_t at = data.find('\0'); at != std::string::npos; at = data.find('\0', start)) {
            args.push_back(data.substr(start, at - start));
            start = at + 1;
        }
        return args;
    }

    testing::TempDir dir;
    std::string record;
    std::string oldPath;
    DesktopLauncher launcher;
};

TEST_F(LauncherTest, PathsReachTheOpenerIntact) {
    const std::vector<std::string> names = {
        "plain.torrent",   "with space.torrent",          "quote\"and'apostrophe.torrent",
        "a&b;c|d.torrent", "$(touch pwned) `id`.torrent", "中文 名字.torrent",
        "-dash.torrent"};
    for (const auto& name : names) {
        const std::string folder = dir / "my seeds & more";
        std::filesystem::create_directories(folder);
        const std::string path = folder + "/" + name;
        testing::WriteFile(path, "x");

        launcher.OpenFile(path);
        EXPECT_EQ(Recorded(), std::vector<std::string>{path}) << name;

        launcher.RevealFile(path);
        EXPECT_EQ(Recorded(), std::vector<std::string>{folder}) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "pwned"));
    EXPECT_FALSE(std::filesystem::exists("pwned"));
}

TEST_F(LauncherTest, RelativePathsAreMadeAbsolute) {
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    testing::WriteFile("rel.torrent", "x");
    launcher.OpenFile("rel.torrent");
    std::filesystem::current_path(cwd);
    EXPECT_EQ(Recorded(), std::vector<std::string>{std::filesystem::canonical(dir.path()).string() +
                                                   "/rel.torrent"});
}

}  // namespace
}  // namespace velindra

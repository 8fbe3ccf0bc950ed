// Opening and revealing files through a recording stand-in for the desktop's opener.
#include <gtest/gtest.h>

#include <cstdlib>

#include "desktop_launcher.h"
#include "test_support.h"

namespace velindra {
namespace {

class LauncherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // A stand-in "xdg-open" first on PATH records its arguments, NUL-separated. Without a
        // session bus, revealing falls back to opening the folder.
        std::filesystem::create_directory(dir / "bin");
        testing::WriteFile(dir / "bin/xdg-open", "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"" + record +
                                                     ".tmp\"\nmv \"" + record + ".tmp\" \"" +
                                                     record + "\"\n");
        std::filesystem::permissions(dir / "bin/xdg-open", std::filesystem::perms::owner_all);
        oldPath = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
        setenv("PATH", (dir / "bin" + ":" + oldPath).c_str(), 1);
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    void TearDown() override { setenv("PATH", oldPath.c_str(), 1); }

    std::string Recorded() {
        for (int i = 0; i < 100 && !std::filesystem::exists(record); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::string data = testing::ReadFile(record);
        std::filesystem::remove(record);
        return data;
    }

    testing::TempDir dir;
    std::string record = dir / "record", oldPath;
    DesktopLauncher launcher;
};

// Each path reaches the opener as one argument, whatever it holds, and never through a shell.
TEST_F(LauncherTest, PathsReachTheOpenerIntact) {
    const std::string folder = dir / "my seeds & more";
    std::filesystem::create_directories(folder);
    for (const std::string name :
         {"with space.torrent", "quote\"and'apostrophe.torrent", "a&b;c|d.torrent",
          "$(touch pwned) `id`.torrent", "中文 名字.torrent", "-dash.torrent"}) {
        const std::string path = folder + "/" + name;
        testing::WriteFile(path, "x");
        EXPECT_TRUE(launcher.OpenFile(path));
        EXPECT_EQ(Recorded(), path + '\0') << name;
        EXPECT_TRUE(launcher.RevealFile(path));
        EXPECT_EQ(Recorded(), folder + '\0') << name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "pwned") || std::filesystem::exists("pwned"));
    // A relative path is made absolute first.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    EXPECT_TRUE(launcher.OpenFile("rel.torrent"));
    std::filesystem::current_path(cwd);
    EXPECT_EQ(Recorded(), std::filesystem::canonical(folder).string() + "/rel.torrent" + '\0');
}

TEST_F(LauncherTest, NoOpenerAtAllIsReported) {
    setenv("PATH", (dir / "nothing").c_str(), 1);
    EXPECT_FALSE(launcher.OpenFile(dir / "x.torrent"));
    EXPECT_FALSE(launcher.RevealFile(dir / "x.torrent"));
}

}  // namespace
}  // namespace velindra

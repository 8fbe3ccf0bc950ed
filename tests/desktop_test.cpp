// Velindra as the desktop meets it: the installed files, the Debian package, the magnet-link
// handler, and the real program's window under an X server.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <thread>

#include "test_support.h"

extern char** environ;

namespace velindra {
namespace {

using testing::TempDir;

struct Output {
    int status = -1;
    std::string text;  // standard output and error
};

// Runs a shell command line (ours, with quoted paths) and collects what it prints.
Output Shell(const std::string& command) {
    Output out;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.text.append(buffer, n);
    const int status = pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::string Quote(const std::string& s) {
    return "'" + s + "'";
}

const std::string kSource = VELINDRA_SOURCE_DIR;
const std::string kBuild = VELINDRA_BUILD_DIR;

// The desktop entry and the metadata validate, and once installed make the program the handler
// of magnet links.
TEST(DesktopTest, InstalledProgramHandlesMagnetLinks) {
    const Output entry =
        Shell("desktop-file-validate " + Quote(kSource + "/app/resources/velindra.desktop"));
    EXPECT_TRUE(entry.status == 0 && entry.text.empty()) << entry.text;
    const Output meta = Shell("appstreamcli validate --no-net " +
                              Quote(kSource + "/app/resources/velindra.metainfo.xml"));
    EXPECT_EQ(meta.status, 0) << meta.text;
    TempDir prefix;
    const std::string p = prefix.str();
    ASSERT_EQ(Shell("cmake --install " + Quote(kBuild) + " --prefix " + Quote(p)).status, 0);
    const std::string env = "env XDG_DATA_HOME=" + Quote(p + "/share") +
                            " XDG_DATA_DIRS=" + Quote(p + "/share") +
                            " XDG_CONFIG_HOME=" + Quote(p + "/config") + " ";
    ASSERT_EQ(Shell("update-desktop-database " + Quote(p + "/share/applications")).status, 0);
    const Output handler = Shell(env + "xdg-mime query default x-scheme-handler/magnet");
    EXPECT_EQ(handler.text, "velindra.desktop\n");
}

TEST(DesktopTest, DebianPackageDeclaresItsDependencies) {
    TempDir out;
    const Output built =
        Shell("cd " + Quote(kBuild) + " && cpack -G DEB -B " + Quote(out.path().string()));
    ASSERT_EQ(built.status, 0) << built.text;
    const std::string deb = out / "velindra_1.0.0_amd64.deb";
    ASSERT_TRUE(std::filesystem::exists(deb)) << built.text;
    const Output control = Shell("dpkg-deb -f " + Quote(deb) + " Package Depends Section");
    for (const char* dependency :
         {"libqt6widgets6", "libcurl4", "libtorrent-rasterbar2.0", "qt6-qpa-plugins"}) {
        EXPECT_NE(control.text.find(dependency), std::string::npos) << control.text;
    }
    const Output contents = Shell("dpkg-deb -c " + Quote(deb));
    for (const char* file :
         {"./usr/bin/velindra", "./usr/bin/velindra-cli",
          "./usr/share/applications/velindra.desktop", "./usr/share/metainfo/velindra.metainfo.xml",
          "./usr/share/icons/hicolor/16x16/apps/velindra.png",
          "./usr/share/icons/hicolor/256x256/apps/velindra.png",
          "./usr/share/icons/hicolor/scalable/apps/velindra.svg"}) {
        EXPECT_NE(contents.text.find(std::string(file) + "\n"), std::string::npos) << file;
    }
}

// The built program, started as a user starts it under an X server, shows its own icon: a
// 16 x 16 image first ("_NET_WM_ICON = 0x10, 0x10, 0xAARRGGBB, ..."), much of it the magnet's red.
TEST(DesktopTest, TheProgramsWindowShowsTheMagnet) {
    if (Shell("command -v Xvfb xdotool xprop").status != 0)
        GTEST_SKIP() << "Xvfb, xdotool and xprop are not installed";
    TempDir home;
    const Output icon = Shell(
        "(exec 2>/dev/null; export DISPLAY=:" + std::to_string(200 + getpid() % 500) +
        "; Xvfb $DISPLAY -screen 0 800x600x24 -nolisten tcp & x=$!; for i in $(seq 100); do xprop "
        "-root >/dev/null && break; sleep 0.1; done; env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "
        "HOME=" +
        Quote(home.str()) + " XDG_RUNTIME_DIR=" + Quote(home.str()) + " " +
        Quote(kBuild + "/app/velindra") +
        " & a=$!; timeout 20 xdotool search --sync --onlyvisible "
        "--name '^Velindra$' | head -n 1 | xargs -I@ xprop -id @ -notype -f _NET_WM_ICON 32x "
        "' = $0+' _NET_WM_ICON; kill $a $x)");
    ASSERT_TRUE(icon.text.starts_with("_NET_WM_ICON = 0x10, 0x10, ")) << icon.text.substr(0, 200);
    int red = 0;
    std::istringstream pixels(icon.text.substr(icon.text.find('=') + 1));
    for (std::string word; std::getline(pixels, word, ',');) {
        const unsigned long argb = std::stoul(word, nullptr, 16);
        red += argb >> 24 == 255 && ((argb >> 16) & 255) > 160 && ((argb >> 8) & 255) < 96 &&
               (argb & 255) < 96;
    }
    EXPECT_GE(red, 20) << icon.text.substr(0, 400);
}

}  // namespace
}  // namespace velindra

// Velindra as the desktop meets it: the installed files, the Debian package and the magnet-link
// handler.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "tests/test_support.h"

namespace velindra {
namespace {

using testing::Quote;
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

const std::string kSource = VELINDRA_SOURCE_DIR;
const std::string kBuild = VELINDRA_BUILD_DIR;

// Both manual pages, as man renders them, have what man readers look for: every option, the
// exit status, the environment and the files.
TEST(DesktopTest, ManualPagesSayWhatManReadersLookFor) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> pages = {
        {"velindra.1",
         {"Tessmir.conf", "state.ini", "XDG_STATE_HOME", "--allow-private-addresses"}},
        {"velindra-cli.1",
         {"--verbose", "--retry N", "--dry-run", "LC_MESSAGES", "XDG_CACHE_HOME",
          "-n, --no-clobber"}},
    };
    for (const auto& [page, words] : pages) {
        const Output man = Shell("MANWIDTH=200 man -l " + Quote(kBuild + "/packaging/" + page));
        ASSERT_EQ(man.status, 0) << man.text;
        for (const std::string& word : words)
            EXPECT_NE(man.text.find(word), std::string::npos) << page << ": " << word;
        for (const char* word : {"\nEXIT STATUS\n", "\nENVIRONMENT\n", "\nFILES\n", "no_proxy",
                                 "SSL_CERT_DIR", "swarm-state"})
            EXPECT_NE(man.text.find(word), std::string::npos) << page << ": " << word;
    }
}

// The desktop entry and the metadata validate, and once installed make the program the handler
// of magnet links.
TEST(DesktopTest, InstalledProgramHandlesMagnetLinks) {
    const Output entry =
        Shell("desktop-file-validate " + Quote(kSource + "/app/resources/velindra.desktop"));
    EXPECT_TRUE(entry.status == 0 && entry.text.empty()) << entry.text;
    const Output meta = Shell("appstreamcli validate --no-net " +
                              Quote(kBuild + "/generated/velindra.metainfo.xml"));
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

// The program answers --help and --version as programs do, with no window and no display, and
// refuses an argument that holds no link instead of pasting it.
TEST(DesktopTest, TheProgramsOwnOptions) {
    const std::string app = Quote(kBuild + "/app/velindra");
    const Output help = Shell("env -u DISPLAY -u QT_QPA_PLATFORM " + app + " --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.text.starts_with("用法: velindra [磁力链接...]")) << help.text;
    const Output version = Shell("env -u DISPLAY -u QT_QPA_PLATFORM " + app + " --version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.text, "velindra " + std::string(VELINDRA_VERSION) + "\n");
    const Output refused = Shell("env QT_QPA_PLATFORM=offscreen " + app + " --bogus " +
                                 Quote("magnet:?xt=urn:btih:A"));
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.text.find("既不是磁力链接也不是选项: --bogus"), std::string::npos)
        << refused.text;
    // Without a display (over ssh, say) the reason is given, before the toolkit would abort.
    const std::string headless = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + app;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {" foo.txt", "既不是磁力链接也不是选项: foo.txt"},
        {" -style fusion " + Quote("magnet:?xt=urn:btih:A"), "没有图形显示"}};
    for (const auto& [arguments, said] : cases) {
        const Output run = Shell(headless + arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_NE(run.text.find(said), std::string::npos) << run.text;
    }
}

// The package declares what it needs, carries its changelog, copyright and manual pages, holds
// stripped programs, and passes lintian without an error or a warning.
TEST(DesktopTest, DebianPackageDeclaresItsDependencies) {
    TempDir out;
    const Output built =
        Shell("cd " + Quote(kBuild) + " && cpack -G DEB -B " + Quote(out.path().string()));
    ASSERT_EQ(built.status, 0) << built.text;
    const std::string deb = out / ("velindra_" + std::string(VELINDRA_VERSION) + "_amd64.deb");
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
          "./usr/share/icons/hicolor/scalable/apps/velindra.svg",
          "./usr/share/doc/velindra/changelog.gz", "./usr/share/doc/velindra/copyright",
          "./usr/share/man/man1/velindra.1.gz", "./usr/share/man/man1/velindra-cli.1.gz",
          "./usr/lib/systemd/user/velindra-watch@.service",
          "./usr/lib/systemd/user/velindra-serve.service"}) {
        EXPECT_NE(contents.text.find(std::string(file) + "\n"), std::string::npos) << file;
    }
    const Output lintian =
        Shell("lintian --suppress-tags running-with-root-privileges " + Quote(deb) + " 2>&1");
    EXPECT_EQ(lintian.text.find("E: "), std::string::npos) << lintian.text;
    EXPECT_EQ(lintian.text.find("W: "), std::string::npos) << lintian.text;
}

}  // namespace
}  // namespace velindra

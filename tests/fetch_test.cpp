// File names, destinations and the mirror chain. The built-in mirror layouts are checked end to
// end by the command-line tests, through a proxy.
#include "fetch.h"

#include <gtest/gtest.h>

#include "fakes.h"

namespace velindra {
namespace {

constexpr PathRules kLinux{false};
constexpr PathRules kWindows{true};

TEST(FileNameTest, MakesOneSafeComponent) {
    struct Case {
        std::string stem;
        PathRules rules;
        std::string name;
    };
    const std::vector<Case> cases = {
        {"", kLinux, ".torrent"},
        {"中文 My Show", kLinux, "中文 My Show.torrent"},
        {"../../.bashrc", kLinux, ".._.._.bashrc.torrent"},
        {"..\\..\\a:b*c?d\"e<f>g|h", kLinux, ".._.._a_b_c_d_e_f_g_h.torrent"},
        {std::string("a\0b\x1f\x7f", 5), kLinux, "a_b__.torrent"},
        {"evil\u202Egnp.exe\u200E\u2066", kLinux, "evil_gnp.exe__.torrent"},
        {"a\u2028b\u0085\u009b\u200B\u2060\uFEFFd", kLinux, "a_b_____d.torrent"},
        {"a\xff\xc3", kLinux, "a__.torrent"},
        {"con", kWindows, "_con.torrent"},
        {"COM1.part", kWindows, "_COM1.part.torrent"},
        {"NUL", kLinux, "NUL.torrent"},
        {"CONSOLE", kWindows, "CONSOLE.torrent"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MakeFileName(c.stem, c.rules), c.name) << c.stem;
}

// 255 bytes on Linux; 255 UTF-16 units on Windows, where a Chinese character is one unit.
TEST(FileNameTest, LongNamesAreCutAtCharacterBoundaries) {
    EXPECT_EQ(MakeFileName(std::string(400, 'a'), kLinux), std::string(247, 'a') + ".torrent");
    std::string chinese;
    for (int i = 0; i < 100; ++i)
        chinese += "中";
    EXPECT_EQ(MakeFileName(chinese, kLinux), chinese.substr(0, 246) + ".torrent");
    EXPECT_EQ(MakeFileName(chinese, kWindows), chinese + ".torrent");
}

TEST(DestinationTest, JoinsWithOneSeparator) {
    struct Case {
        std::string folder;
        PathRules rules;
        std::string destination;
    };
    const std::vector<Case> cases = {
        {"D:\\Seeds\\", kWindows, "D:\\Seeds\\a.torrent"},
        {"D:\\Seeds\\\\\\", kWindows, "D:\\Seeds\\\\a.torrent"},  // folded in one pass
        {"C:\\", kWindows, "C:\\a.torrent"},
        {"\\\\server\\share", kWindows, "\\\\server\\share\\a.torrent"},
        {"/srv/seeds", kLinux, "/srv/seeds/a.torrent"},
        {"/srv/seeds/", kLinux, "/srv/seeds/a.torrent"},
        {"/", kLinux, "/a.torrent"},
        {"F:\\TDDownload", kLinux, "F:\\TDDownload/a.torrent"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JoinDestination(c.folder, "a.torrent", c.rules), c.destination) << c.folder;
}

TEST(MirrorChainTest, StopsAtFirstSuccessAndAfterWriteFailures) {
    using E = FetchError;
    const std::vector<std::pair<std::vector<E>, bool>> cases = {
        {{E::None}, true},
        {{E::NotATorrent, E::Timeout, E::None}, true},
        {{E::HttpStatus, E::NoConnection, E::WrongTorrent}, false},
        {{E::CannotWrite}, false},
        {{E::HttpStatus, E::Cancelled}, false},
    };
    for (const auto& [answers, ok] : cases) {
        testing::Journal journal;
        testing::RecordingDownloader downloader(journal);
        downloader.decide = [&](const FetchRequest& r) { return answers[r.mirror - 1]; };
        // A lower-case hash is asked in the upper-case form the caches index.
        const auto outcome = FetchFromMirrors(testing::Hash("ab", "cd"), "/tmp/x.torrent",
                                              downloader, {"a/{hash}", "b/{hash}", "c/{hash}"});
        EXPECT_EQ(outcome.ok, ok);
        ASSERT_EQ(downloader.requests.size(), answers.size());
        for (size_t i = 0; i < answers.size(); ++i) {
            EXPECT_EQ(downloader.requests[i].mirror, static_cast<int>(i + 1));
            EXPECT_EQ(downloader.requests[i].url,
                      std::string(1, 'a' + i) + "/" + testing::Hash("AB", "CD"));
        }
        if (ok) {
            EXPECT_EQ(outcome.mirror, static_cast<int>(answers.size()));
        }
    }
}

}  // namespace
}  // namespace velindra

#include "fetch.h"

#include <gtest/gtest.h>

#include "fakes.h"

namespace velindra {
namespace {

constexpr PathRules kLinux{false};
constexpr PathRules kWindows{true};

struct NameCase {
    const char* name;
    std::string stem;
    PathRules rules;
    std::string fileName;
};
void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.name;
}

class FileNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileNameTest, MakesOneSafeComponent) {
    EXPECT_EQ(MakeFileName(GetParam().stem, GetParam().rules), GetParam().fileName);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileNameTest,
    ::testing::Values(
        NameCase{"Plain", "My Show", kLinux, "My Show.torrent"},
        NameCase{"Empty", "", kLinux, ".torrent"},
        NameCase{"Chinese", "中文", kLinux, "中文.torrent"},
        NameCase{"Traversal", "../../.bashrc", kLinux, ".._.._.bashrc.torrent"},
        NameCase{"BackslashTraversal", "..\\..\\x", kLinux, ".._.._x.torrent"},
        NameCase{"ReservedCharacters", "a:b*c?d\"e<f>g|h", kLinux, "a_b_c_d_e_f_g_h.torrent"},
        NameCase{"ControlCharacters", std::string("a\0b\x1f\x7f", 5), kLinux, "a_b__.torrent"},
        NameCase{"RightToLeftOverride", "evil\u202Egnp.exe", kLinux, "evil_gnp.exe.torrent"},
        NameCase{"DirectionMarks", "\u200E\u200F\u2066\u2069x", kLinux, "____x.torrent"},
        NameCase{"InvisibleAndLineBreaking", "a\u2028b\u2029c\u0085\u009b\u200B\u200D\u2060\uFEFFd",
                 kLinux, "a_b_c______d.torrent"},
        NameCase{"InvalidUtf8", "a\xff\xc3", kLinux, "a__.torrent"},
        NameCase{"DeviceNameOnWindows", "con", kWindows, "_con.torrent"},
        NameCase{"DeviceNameWithDot", "COM1.part", kWindows, "_COM1.part.torrent"},
        NameCase{"DeviceNameAllowedOnLinux", "NUL", kLinux, "NUL.torrent"},
        NameCase{"NotADeviceName", "CONSOLE", kWindows, "CONSOLE.torrent"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FileNameTest, LongNamesAreCutAtCharacterBoundaries) {
    const std::string ascii = MakeFileName(std::string(400, 'a'), kLinux);
    EXPECT_EQ(ascii, std::string(247, 'a') + ".torrent");

    // Three bytes each: 82 characters (246 bytes) fit, the 83rd would not.
    std::string chinese;
    for (int i = 0; i < 100; ++i)
        chinese += "中";
    const std::string name = MakeFileName(chinese, kLinux);
    EXPECT_EQ(name.size(), 246u + 8u);
    EXPECT_TRUE(name.ends_with(".torrent"));

    // On Windows the limit counts UTF-16 units: every Chinese character is one unit.
    const std::string windows = MakeFileName(chinese, kWindows);
    EXPECT_EQ(windows, chinese + ".torrent");
}

struct DestinationCase {
    const char* name;
    std::string folder;
    std::string fileName;
    PathRules rules;
    std::string destination;
};
void PrintTo(const DestinationCase& c, std::ostream* os) {
    *os << c.name;
}

class DestinationTest : public ::testing::TestWithParam<DestinationCase> {};

TEST_P(DestinationTest, JoinsAndFolds) {
    const auto& c = GetParam();
    EXPECT_EQ(JoinDestination(c.folder, c.fileName, c.rules), c.destination);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DestinationTest,
    ::testing::Values(
        DestinationCase{"WindowsPlain", "D:\\Seeds", "a.torrent", kWindows, "D:\\Seeds\\a.torrent"},
        DestinationCase{"WindowsTrailing", "D:\\Seeds\\", "a.torrent", kWindows,
                        "D:\\Seeds\\a.torrent"},
        DestinationCase{"WindowsThreeTrailing", "D:\\Seeds\\\\\\", "a.torrent", kWindows,
                        "D:\\Seeds\\\\a.torrent"},
        DestinationCase{"WindowsDriveRoot", "C:\\", "a.torrent", kWindows, "C:\\a.torrent"},
        DestinationCase{"WindowsNetworkPath", "\\\\server\\share", "a.torrent", kWindows,
                        "\\\\server\\share\\a.torrent"},
        DestinationCase{"LinuxPlain", "/srv/seeds", "a.torrent", kLinux, "/srv/seeds/a.torrent"},
        DestinationCase{"LinuxTrailing", "/srv/seeds/", "a.torrent", kLinux,
                        "/srv/seeds/a.torrent"},
        DestinationCase{"LinuxRoot", "/", "a.torrent", kLinux, "/a.torrent"},
        DestinationCase{"LinuxBackslashIsAName", "F:\\TDDownload", "a.torrent", kLinux,
                        "F:\\TDDownload/a.torrent"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MirrorUrlTest, BuiltInLayouts) {
    const auto& mirrors = BuiltInMirrors();
    ASSERT_EQ(mirrors.size(), 3u);
    const std::string hash = "ABCDEF";
    const std::string m1 = BuildMirrorUrl(mirrors[0], hash);
    const std::string m2 = BuildMirrorUrl(mirrors[1], hash);
    const std::string m3 = BuildMirrorUrl(mirrors[2], hash);
    for (const auto& url : {m1, m2, m3}) {
        EXPECT_TRUE(url.starts_with("http://")) << url;
    }
    EXPECT_TRUE(m1.ends_with("/AB/EF/ABCDEF.torrent")) << m1;
    EXPECT_TRUE(m2.ends_with("/torrent/ABCDEF.torrent")) << m2;
    EXPECT_TRUE(m3.ends_with("/torrent/ABCDEF.torrent")) << m3;
}

TEST(MirrorUrlTest, ShortHashesAreUsedWhole) {
    EXPECT_EQ(BuildMirrorUrl("h/{first2}/{last2}/{hash}", "A"), "h/A/A/A");
}

TEST(MirrorChainTest, StopsAtFirstSuccessAndAfterWriteFailures) {
    struct Case {
        std::vector<FetchError> answers;
        bool ok;
        size_t asked;
    };
    const std::vector<Case> cases = {
        {{FetchError::None}, true, 1},
        {{FetchError::HttpStatus, FetchError::None}, true, 2},
        {{FetchError::NotATorrent, FetchError::Timeout, FetchError::None}, true, 3},
        {{FetchError::HttpStatus, FetchError::NoConnection, FetchError::WrongTorrent}, false, 3},
        {{FetchError::CannotWrite}, false, 1},
        {{FetchError::HttpStatus, FetchError::Cancelled}, false, 2},
    };
    for (const auto& c : cases) {
        testing::Journal journal;
        testing::RecordingDownloader downloader(journal);
        downloader.decide = [&](const FetchRequest& r) { return c.answers[r.mirror - 1]; };
        const auto outcome = FetchFromMirrors(testing::Hash("ab", "cd"), "/tmp/x.torrent",
                                              downloader, {"a/{hash}", "b/{hash}", "c/{hash}"});
        EXPECT_EQ(outcome.ok, c.ok);
        ASSERT_EQ(downloader.requests.size(), c.asked);
        for (size_t i = 0; i < c.asked; ++i) {
            EXPECT_EQ(downloader.requests[i].mirror, static_cast<int>(i + 1));
            EXPECT_EQ(downloader.requests[i].url,
                      std::string(1, 'a' + i) + "/" + testing::Hash("AB", "CD"));
            EXPECT_EQ(downloader.requests[i].destination, "/tmp/x.torrent");
        }
        if (c.ok) {
            EXPECT_EQ(outcome.mirror, static_cast<int>(c.asked));
        }
    }
}

}  // namespace
}  // namespace velindra

namespace velindra {
namespace {

TEST(EscapeControlsTest, NoOutsideTextCanSteerATerminal) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"magnet:?\x1b]0;PWNED\x07\x1b[2J", "magnet:?\\x1b]0;PWNED\\x07\\x1b[2J"},
        {"a\u009b31mb\x7f", "a\\u009b31mb\\x7f"},
        {"raw\x9b byte", "raw\\x9b byte"},
        {"中文 C:\\path\ttab", "中文 C:\\path\\x09tab"},
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(EscapeControls(text), shown);
    }
}

}  // namespace
}  // namespace velindra

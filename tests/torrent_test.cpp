#include "torrent.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace velindra {
namespace {

struct BencodeCase {
    const char* name;
    std::string body;
    std::optional<std::string> info;
};
void PrintTo(const BencodeCase& c, std::ostream* os) {
    *os << c.name;
}

class BencodeTest : public ::testing::TestWithParam<BencodeCase> {};

TEST_P(BencodeTest, FindsExactInfoBytesOrRejects) {
    const auto found = FindInfoDictionary(GetParam().body);
    ASSERT_EQ(found.has_value(), GetParam().info.has_value());
    if (found) {
        EXPECT_EQ(std::string(*found), *GetParam().info);
    }
}

// A torrent whose containers nest `depth` deep: the root, "info", and lists inside it.
std::string Nested(size_t depth) {
    return "d4:infod1:a" + std::string(depth - 2, 'l') + std::string(depth - 2, 'e') + "ee";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BencodeTest,
    ::testing::Values(
        BencodeCase{"Minimal", "d4:infodee", "de"},
        BencodeCase{"InfoAmongOthers", "d1:ai-5e4:infod1:xli0e3:abcee1:zlee", "d1:xli0e3:abcee"},
        BencodeCase{"NestedInfoKeyIgnored", "d1:ad4:infodee4:infod1:bi1eee", "d1:bi1ee"},
        BencodeCase{"EmptyBody", "", std::nullopt},
        BencodeCase{"Html", "<html>not found</html>", std::nullopt},
        BencodeCase{"TopLevelList", "ld4:infodeee", std::nullopt},
        BencodeCase{"NoInfo", "d4:nameli1eee", std::nullopt},
        BencodeCase{"InfoNotADict", "d4:info3:abce", std::nullopt},
        BencodeCase{"Truncated", "d4:infod1:ai1e", std::nullopt},
        BencodeCase{"TruncatedString", "d4:infod1:a5:abce", std::nullopt},
        BencodeCase{"HugeLength", "d4:infod1:a99999999999999999999:xee", std::nullopt},
        BencodeCase{"LeadingZeroLength", "d04:infodee", std::nullopt},
        BencodeCase{"LeadingZeroInteger", "d1:ai01e4:infodee", std::nullopt},
        BencodeCase{"NegativeZero", "d1:ai-0e4:infodee", std::nullopt},
        BencodeCase{"EmptyInteger", "d1:aie4:infodee", std::nullopt},
        BencodeCase{"BareMinus", "d1:ai-e4:infodee", std::nullopt},
        BencodeCase{"IntegerKey", "di1e1:a4:infodee", std::nullopt},
        BencodeCase{"KeyWithoutValue", "d4:infode1:ae", std::nullopt},
        BencodeCase{"TrailingData", "d4:infodeex", std::nullopt},
        BencodeCase{"TrailingWhiteSpace", "d4:infodee \r\n\t", "de"},
        BencodeCase{"TrailingNul", std::string("d4:infodee\0", 11), std::nullopt},
        BencodeCase{"KeysOutOfOrder", "d4:infod1:bi1e1:ai2ee1:ai0ee", "d1:bi1e1:ai2ee"},
        BencodeCase{"DuplicateInfo", "d4:infod1:ai1ee4:infod1:ai2eee", std::nullopt},
        BencodeCase{"DuplicateNestedKey", "d4:infod1:ai1e1:ai2eee", std::nullopt},
        BencodeCase{"DuplicateKeyInAList", "d1:xld1:ai1e1:ai1eee4:infodee", std::nullopt},
        BencodeCase{"TwoValues", "d4:infodeede", std::nullopt},
        BencodeCase{"UnknownType", "d4:infodx1:aee", std::nullopt},
        BencodeCase{"StrayEnd", "ed4:infodee", std::nullopt},
        BencodeCase{"DeepestAllowed", Nested(100),
                    "d1:a" + std::string(98, 'l') + std::string(98, 'e') + "e"},
        BencodeCase{"TooDeep", Nested(101), std::nullopt},
        BencodeCase{"VeryDeep", "d4:info" + std::string(1000000, 'l'), std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InfoHashTest, ReadsHexAndBase32InEitherCase) {
    const auto t = testing::MakeTorrent("x");
    const Sha1Digest digest = Sha1(*FindInfoDictionary(t.body));
    for (const std::string& form :
         {testing::Hex(digest), testing::Hex(digest, true), testing::Base32(digest)}) {
        EXPECT_EQ(InfoHashBytes(form), digest) << form;
    }
    std::string lowerBase32 = testing::Base32(digest);
    for (char& c : lowerBase32)
        c = static_cast<char>(std::tolower(c));
    EXPECT_EQ(InfoHashBytes(lowerBase32), digest);
    for (const std::string& other : {std::string(), std::string("ABCDEF"), std::string(40, 'g'),
                                     std::string(32, '1'), std::string(39, 'a')}) {
        EXPECT_FALSE(InfoHashBytes(other).has_value()) << other;
    }
}

TEST(CheckTorrentTest, MatchesTheLinkHash) {
    const auto t = testing::MakeTorrent("wanted");
    const auto other = testing::MakeTorrent("other");
    EXPECT_EQ(CheckTorrent(t.body, t.hash, Sha1), FetchError::None);
    EXPECT_EQ(CheckTorrent(other.body, t.hash, Sha1), FetchError::WrongTorrent);
    EXPECT_EQ(CheckTorrent("<html></html>", t.hash, Sha1), FetchError::NotATorrent);
    // A hash of no form we can read: nothing can be vouched for.
    EXPECT_EQ(CheckTorrent(other.body, "ABCDEF", Sha1), FetchError::InvalidHash);
    // The torrent's length leaves out the white space a server appended.
    size_t length = 0;
    EXPECT_EQ(CheckTorrent(t.body + "\n\n", t.hash, Sha1, &length), FetchError::None);
    EXPECT_EQ(length, t.body.size());
}

}  // namespace
}  // namespace velindra

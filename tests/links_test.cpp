#include "links.h"

#include <gtest/gtest.h>

namespace velindra {
namespace {

struct SplitCase {
    const char* name;
    std::string text;
    std::vector<std::string> links;
};
void PrintTo(const SplitCase& c, std::ostream* os) {
    *os << c.name;
}

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, CutsAtEveryMarker) {
    EXPECT_EQ(SplitLinks(GetParam().text), GetParam().links);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitTest,
    ::testing::Values(
        SplitCase{"Empty", "", {}}, SplitCase{"NoMarker", "xt=urn:btih:ABC", {}},
        SplitCase{"UpperCaseIsNoMarker", "MAGNET:?xt=urn:btih:ABC", {}},
        SplitCase{"TextBeforeIsDropped", "see magnet:?xt=urn:btih:A", {"xt=urn:btih:A"}},
        SplitCase{"SpaceStaysWithEarlierLink", "magnet:?a magnet:?b", {"a ", "b"}},
        SplitCase{"EmptyPieceKept", "magnet:?magnet:?xt=urn:btih:ABC", {"", "xt=urn:btih:ABC"}},
        SplitCase{"LineBreaksRemoved", "magnet:?a\r\nmagnet:?b\r\n", {"a", "b"}},
        SplitCase{"BreaksInsideALink", "magnet:?xt=urn:\nbtih:A\r&dn=x", {"xt=urn:btih:A&dn=x"}},
        SplitCase{"TabsAndTextKept", "magnet:?a\t junk\nmore", {"a\t junkmore"}},
        SplitCase{"MarkersDoNotOverlap", "magnet:?magnet:?", {"", ""}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ParseCase {
    const char* name;
    std::string link;
    bool usedn;
    std::optional<std::pair<std::string, std::string>> expected;  // hash, stem
};
void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, FindsHashAndStem) {
    const auto& c = GetParam();
    const auto parsed = ParseLink(c.link, c.usedn);
    ASSERT_EQ(parsed.has_value(), c.expected.has_value());
    if (parsed) {
        EXPECT_EQ(parsed->infoHash, c.expected->first);
        EXPECT_EQ(parsed->stem, c.expected->second);
    }
}

const std::string kHash = "0123456789abcdef0123456789abcdef01234567";
const std::string kExample = "xt=urn:btih:" + kHash + "&dn=My+Show&tr=udp%3A%2F%2Ft";

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseTest,
    ::testing::Values(
        ParseCase{"WorkedExample", kExample, true, {{kHash, "My+Show"}}},
        ParseCase{"WorkedExampleByHash", kExample, false, {{kHash, kHash}}},
        ParseCase{"NoHashPrefix", "dn=x&tr=y", true, std::nullopt},
        ParseCase{"EmptyLink", "", true, std::nullopt},
        ParseCase{"UpperCasePrefix", "XT=URN:BTIH:HASH", true, std::nullopt},
        ParseCase{"NameFirstHashLast", "dn=Name&xt=urn:btih:HASH", true, {{"HASH", "HASH"}}},
        ParseCase{"NameFirstHashMiddle", "dn=Name&xt=urn:btih:HASH&tr=x", true, {{"HASH", "Name"}}},
        ParseCase{"EmptyNameAtEnd", "xt=urn:btih:HASH&dn=", true, {{"HASH", ""}}},
        ParseCase{"NameLast", "xt=urn:btih:HASH&tr=x&dn=Name", true, {{"HASH", "Name"}}},
        ParseCase{"FirstDnInsideTracker",
                  "xt=urn:btih:HASH&tr=udp://t/?udn=1&dn=Name",
                  true,
                  {{"HASH", "1"}}},
        ParseCase{"TrailingSpaceKept", "xt=urn:btih:HASH ", true, {{"HASH ", "HASH "}}},
        ParseCase{"EmptyHash", "xt=urn:btih:&dn=x", true, {{"", "x"}}},
        ParseCase{"NoNameParameter", "xt=urn:btih:HASH&tr=x", true, {{"HASH", "HASH"}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct DecodeCase {
    const char* name;
    std::string in;
    std::string out;
};
void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << c.name;
}

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, Decodes) {
    EXPECT_EQ(DecodeDisplayName(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeTest,
    ::testing::Values(DecodeCase{"Empty", "", ""}, DecodeCase{"PlusAndAscii", "a+b%41", "a bA"},
                      DecodeCase{"ThreeByte", "%E4%B8%AD", "中"},
                      DecodeCase{"ThreeByteLowerCase", "%e4%b8%ad", "中"},
                      DecodeCase{"Del", "%7F", "\x7F"},
                      DecodeCase{"Nul", "%00", std::string(1, '\0')},
                      DecodeCase{"EscapedPlusStays", "%2B", "+"},
                      DecodeCase{"NoSecondDecoding", "%2541", "%41"},
                      DecodeCase{"SlashAndColonPassOn", "%2F%3A", "/:"},
                      DecodeCase{"SingleDigitAtEnd", "ab%4", std::string("ab") + '\x04'},
                      DecodeCase{"TwoByte", "Caf%C3%A9%20X", "Café X"},
                      DecodeCase{"TwoByteThenAscii", "%C3%A9%41", "éA"},
                      DecodeCase{"TwoByteAtEnd", "x%C3%A9", "xé"},
                      DecodeCase{"FourByteThenText", "%F0%9F%98%80abc", "😀abc"},
                      DecodeCase{"RawUtf8PassesThrough", "中文+x", "中文 x"},
                      DecodeCase{"StrayContinuations", "%80%80%80", "%80%80%80"},
                      DecodeCase{"PercentAtEnd", "100%", "100%"},
                      DecodeCase{"PercentBeforeSpace", "100%+off", "100% off"},
                      DecodeCase{"NotHex", "%zz", "%zz"}, DecodeCase{"HalfHex", "%4z", "%4z"},
                      DecodeCase{"CutShort", "%E4%B8", "%E4%B8"},
                      DecodeCase{"CutShortThenAscii", "%E4%41", "%E4A"},
                      DecodeCase{"Interrupted", "%E4xB8yAD", "%E4xB8yAD"},
                      DecodeCase{"OverlongTwoByte", "%C0%AF", "%C0%AF"},
                      DecodeCase{"OverlongThreeByte", "%E0%80%AF", "%E0%80%AF"},
                      DecodeCase{"EncodedSurrogate", "%ED%A0%80", "%ED%A0%80"},
                      DecodeCase{"BeyondUnicode", "%F4%90%80%80", "%F4%90%80%80"},
                      DecodeCase{"InvalidLead", "%FF%41", "%FFA"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velindra

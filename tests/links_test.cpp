// Cutting pasted text into links, finding each link's hash and name, decoding the name.
#include "links.h"

#include <gtest/gtest.h>

namespace velindra {
namespace {

using Strings = std::vector<std::string>;

TEST(LinksTest, SplitsAtEveryMarker) {
    const std::vector<std::pair<std::string, Strings>> cases = {
        {"", {}},
        {"xt=urn:btih:ABC", {}},
        {"MAGNET:?xt=urn:btih:ABC", {}},  // the marker is matched exactly
        {"see magnet:?xt=urn:btih:A", {"xt=urn:btih:A"}},
        {"magnet:?a magnet:?b", {"a ", "b"}},
        {"magnet:?magnet:?xt=urn:btih:ABC", {"", "xt=urn:btih:ABC"}},
        {"magnet:?xt=urn:\nbtih:A\r&dn=x\r\nmagnet:?b\r\n", {"xt=urn:btih:A&dn=x", "b"}},
        {"magnet:?a\t junk\nmore", {"a\t junkmore"}},
    };
    for (const auto& [text, links] : cases)
        EXPECT_EQ(SplitLinks(text), links) << text;
}

TEST(LinksTest, FindsTheHashAndTheNameStem) {
    const std::string hash = "0123456789abcdef0123456789abcdef01234567";
    const std::string example = "xt=urn:btih:" + hash + "&dn=My+Show&tr=udp%3A%2F%2Ft";
    struct Case {
        std::string link;
        bool usedn;
        std::optional<std::pair<std::string, std::string>> found;  // hash, stem
    };
    const std::vector<Case> cases = {
        {example, true, {{hash, "My+Show"}}},
        {example, false, {{hash, hash}}},
        {"dn=x&tr=y", true, std::nullopt},
        {"XT=URN:BTIH:HASH", true, std::nullopt},
        {"dn=Name&xt=urn:btih:HASH", true, {{"HASH", "HASH"}}},  // the name must follow the hash
        {"dn=Name&xt=urn:btih:HASH&tr=x", true, {{"HASH", "Name"}}},
        {"xt=urn:btih:HASH&tr=x&dn=", true, {{"HASH", ""}}},
        {"xt=urn:btih:HASH&tr=udp://t/?udn=1&dn=Name", true, {{"HASH", "1"}}},
        {"xt=urn:btih:HASH ", true, {{"HASH ", "HASH "}}},
        {"xt=urn:btih:&dn=x", true, {{"", "x"}}},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseLink(c.link, c.usedn);
        ASSERT_EQ(parsed.has_value(), c.found.has_value()) << c.link;
        if (parsed) {
            EXPECT_EQ(std::pair(parsed->infoHash, parsed->stem), *c.found) << c.link;
        }
    }
}

// Percent-decoding as UTF-8: anything that would not make valid UTF-8 stays as written.
TEST(LinksTest, DecodesDisplayNames) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a+b%41", "a bA"},
        {"%e4%b8%ad%E6%96%87", "中文"},
        {"%2B%2F%3A%00", std::string("+/:\0", 4)},
        {"%2541", "%41"},  // decoded once only
        {"ab%4", std::string("ab\x04")},
        {"Caf%C3%A9%20X%F0%9F%98%80", "Café X😀"},
        {"中文+x", "中文 x"},
        {"100%+off %zz %4z", "100% off %zz %4z"},
        {"%80%80 %E4%B8 %E4%41 %E4xB8", "%80%80 %E4%B8 %E4A %E4xB8"},
        {"%C0%AF %E0%80%AF %ED%A0%80 %F4%90%80%80 %FF%41",
         "%C0%AF %E0%80%AF %ED%A0%80 %F4%90%80%80 %FFA"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(DecodeDisplayName(in), out) << in;
}

}  // namespace
}  // namespace velindra

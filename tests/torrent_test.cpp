// Reading a torrent's info dictionary exactly, and checking it against the link's hash.
#include "torrent.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace velindra {
namespace {

// A torrent whose containers nest `depth` deep: the root, "info", and lists inside it.
std::string Nested(size_t depth) {
    return "d4:infod1:a" + std::string(depth - 2, 'l') + std::string(depth - 2, 'e') + "ee";
}

TEST(BencodeTest, FindsTheExactInfoBytesOrRejects) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"d4:infodee", "de"},
        {"d1:ai-5e4:infod1:xli0e3:abcee1:zlee", "d1:xli0e3:abcee"},
        {"d1:ad4:infodee4:infod1:bi1eee", "d1:bi1ee"},       // an "info" deeper down is not it
        {"d4:infod1:bi1e1:ai2ee1:ai0ee", "d1:bi1e1:ai2ee"},  // keys out of order are read
        {"d4:infodee \r\n\t", "de"},
        {Nested(100), "d1:a" + std::string(98, 'l') + std::string(98, 'e') + "e"},
        {"", std::nullopt},
        {"<html>not found</html>", std::nullopt},
        {"ld4:infodeee", std::nullopt},
        {"d4:nameli1eee", std::nullopt},
        {"d4:info3:abce", std::nullopt},
        {"d4:infod1:a5:abce", std::nullopt},
        {"d4:infod1:a99999999999999999999:xee", std::nullopt},
        {"d04:infodee", std::nullopt},
        {"d1:ai01e4:infodee", std::nullopt},
        {"d1:ai-0e4:infodee", std::nullopt},
        {"d1:ai-e4:infodee", std::nullopt},
        {"di1e1:a4:infodee", std::nullopt},
        {"d4:infode1:ae", std::nullopt},
        {"d4:infodeex", std::nullopt},
        {std::string("d4:infodee\0", 11), std::nullopt},
        {"d4:infod1:ai1ee4:infod1:ai2eee", std::nullopt},  // which "info" would be meant?
        {"d4:infod1:ai1e1:ai2eee", std::nullopt},
        {"d1:xld1:ai1e1:ai1eee4:infodee", std::nullopt},
        {"d4:infodx1:aee", std::nullopt},
        {"ed4:infodee", std::nullopt},
        {Nested(101), std::nullopt},
        {"d4:info" + std::string(1000000, 'l'), std::nullopt},
    };
    for (const auto& [body, info] : cases) {
        const auto found = FindInfoDictionary(body);
        EXPECT_EQ(found ? std::optional<std::string>(*found) : std::nullopt, info)
            << body.substr(0, 60);
    }
}

TEST(CheckTorrentTest, MatchesTheLinkHashInEveryForm) {
    const auto t = testing::MakeTorrent("wanted");
    const Sha1Digest digest = Sha1(*FindInfoDictionary(t.body));
    std::string lowerBase32 = testing::Base32(digest);
    for (char& c : lowerBase32)
        c = static_cast<char>(std::tolower(c));
    for (const std::string& form : {testing::Hex(digest), t.hash, lowerBase32})
        EXPECT_EQ(CheckTorrent(t.body, form, Sha1), FetchError::None) << form;
    for (const std::string& unreadable :
         {std::string(), std::string("ABCDEF"), std::string(40, 'g'), std::string(32, '1')})
        EXPECT_EQ(CheckTorrent(t.body, unreadable, Sha1), FetchError::InvalidHash) << unreadable;
    EXPECT_EQ(CheckTorrent(testing::MakeTorrent("other").body, t.hash, Sha1),
              FetchError::WrongTorrent);
    EXPECT_EQ(CheckTorrent("<html></html>", t.hash, Sha1), FetchError::NotATorrent);
    // The torrent's length leaves out the white space a server appended.
    size_t length = 0;
    EXPECT_EQ(CheckTorrent(t.body + "\n\n", t.hash, Sha1, &length), FetchError::None);
    EXPECT_EQ(length, t.body.size());
}

}  // namespace
}  // namespace velindra

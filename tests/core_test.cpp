// The conversion logic on its own: cutting text into links, taking them apart, naming files,
// reading torrents, and whole batches with every outside part recorded in order.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <numeric>
#include <thread>

#include "core/ahead.h"
#include "core/file_names.h"
#include "core/links.h"
#include "core/mirrors.h"
#include "core/text_values.h"
#include "core/torrent.h"
#include "core/watch_state.h"
#include "tests/fakes.h"

namespace velindra {
namespace {

using Strings = std::vector<std::string>;
using testing::Events;
using testing::Hash;

// A link ends where the text around it begins: at white space, and at a line break unless it
// is visibly broken there (inside its hash, after "&" or "=", inside a percent escape, before
// "&"), as a mail program wraps it at 76 columns.
TEST(LinksTest, ALinkEndsWhereTheTextAroundItBegins) {
    const std::string h = "0123456789abcdef0123456789abcdef01234567";
    const std::string b32 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    const std::string tr = "&tr=udp%3A%2F%2Ftracker.example.org%3A1337%2Fannounce";
    const std::string link = "xt=urn:btih:" + h + "&dn=Ubuntu.iso" + tr;  // 119 characters
    // clang-format off
    const std::vector<std::pair<std::string, Strings>> cases = {
        {"xt=urn:btih:ABC", {}},
        {"MAGNET:?xt=urn:btih:ABC", {}},  // the marker is matched exactly
        {"see magnet:?xt=urn:btih:A", {"xt=urn:btih:A"}}, {"magnet:?a magnet:?b", {"a", "b"}},
        {"magnet:?magnet:?xt=urn:btih:ABC", {"", "xt=urn:btih:ABC"}},
        {"magnet:?a\t junk\nmore", {"a"}},
        // Chat and web captions, on the same line and the next, English and Chinese.
        {"magnet:?xt=urn:btih:" + h + "&dn=狂飙全集 （国语中字，速度很快）\n老李 21:05：这个没人做种了",
         {"xt=urn:btih:" + h + "&dn=狂飙全集"}},
        {"magnet:?xt=urn:btih:" + h + "&dn=Ubuntu.iso\nSize: 4 GB", {"xt=urn:btih:" + h + "&dn=Ubuntu.iso"}},
        {"magnet:?xt=urn:btih:" + h + "\r\n备注：第二个\r\n", {"xt=urn:btih:" + h}},
        {"magnet:?xt=urn:btih:" + h + "\u3000（光盘）", {"xt=urn:btih:" + h}},
        {"Here: magnet:?" + link + " (seeded)\n\nmagnet:?xt=urn:btih:" + b32 + "\nthanks",
         {link, "xt=urn:btih:" + b32}},
        // A bare hash on the next line is text, not a link nor part of one.
        {"magnet:?xt=urn:btih:" + h + "&dn=x\n" + h, {"xt=urn:btih:" + h + "&dn=x"}},
        // Wrapped at 76 columns, inside the hash, after "&" or "=", in an escape, before "&".
        {"magnet:?xt=urn:btih:" + h.substr(0, 20) + "\n" + h.substr(20) + "&dn=x", {"xt=urn:btih:" + h + "&dn=x"}},
        {"magnet:?xt=urn:\nbtih:" + b32 + "\r\n&dn=x\r\nmagnet:?b\r\n", {"xt=urn:btih:" + b32 + "&dn=x", "b"}},
        {"magnet:?" + link.substr(0, 70) + "\n" + link.substr(70), {link}},  // after "="
        {"magnet:?" + link.substr(0, 67) + "\r\n" + link.substr(67), {link}},  // after "&"
        {"magnet:?" + link.substr(0, 75) + "\n" + link.substr(75), {link}},  // in "%3A"
        {"magnet:?" + link.substr(0, 66) + "\n" + link.substr(66), {link}},  // before "&"
        {"magnet:?" + link.substr(0, 88) + "\n" + link.substr(88), {link.substr(0, 88)}},
        {"magnet:?xt=urn:btih:" + b32 + "\nABC", {"xt=urn:btih:" + b32}},  // a whole base32 hash
        // Copied from a page's source or a feed.
        {"magnet:?xt=urn:btih:" + h + "&amp;dn=Name&#38;tr=t&#x26;x", {"xt=urn:btih:" + h + "&dn=Name&tr=t&x"}},
    };
    // clang-format on
    for (const auto& [text, links] : cases)
        EXPECT_EQ(SplitLinks(text), links) << text;
    // velindra-cli: a line that is a bare hash is its link; any other line stays.
    EXPECT_EQ(
        BareHashesAsLinks("a\n " + h + "\t\r\n" + b32.substr(1) + "\n" + b32),
        "a\nmagnet:?xt=urn:btih:" + h + "\n" + b32.substr(1) + "\nmagnet:?xt=urn:btih:" + b32);
    EXPECT_EQ(BareHashesAsLinks("magnet:?xt=urn:btih:" + h + "\n" + h + "0"), std::nullopt);
}

// A copy from a web page: the links of its anchors (or its text), HTML's references read,
// each once, ending at the quote, space or tag that ends the address.
// What options and settings write: bounded numbers as strtol reads them, HOST:PORT split at
// its last colon, and texts cut at their separators.
TEST(TextValuesTest, NumbersEndpointsAndPieces) {
    const struct {
        const char* text;
        long lowest, highest;
        std::optional<long> read;
    } numbers[] = {{"3", 1, 8, 3},  {"+3", 1, 8, 3},  {" 3", 1, 8, 3},
                   {"0", 1, 8, {}}, {"9", 1, 8, {}},  {"3x", 1, 8, {}},
                   {"", 0, 8, {}},  {"-1", 0, 8, {}}, {"99999999999999999999", 0, 65535, {}}};
    for (const auto& n : numbers)
        EXPECT_EQ(NumberIn(n.text, n.lowest, n.highest), n.read) << n.text;
    const struct {
        const char* text;
        const char *host, *port, *written;
    } endpoints[] = {{"[::1]:80", "::1", "80", "[::1]"},
                     {"host:6881", "host", "6881", "host"},
                     {"::1:80", "::1", "80", "::1"},
                     {"[]:1", "", "1", "[]"},
                     {":", "", "", ""}};
    for (const auto& e : endpoints) {
        const std::optional<Endpoint> split = SplitEndpoint(e.text);
        ASSERT_TRUE(split) << e.text;
        EXPECT_EQ(split->host, e.host) << e.text;
        EXPECT_EQ(split->port, e.port) << e.text;
        EXPECT_EQ(split->written(), e.written) << e.text;
    }
    EXPECT_FALSE(SplitEndpoint("no-port"));
    using Pieces = std::vector<std::string_view>;
    EXPECT_EQ(SplitOn("a&&b", '&'), (Pieces{"a", "", "b"}));
    EXPECT_EQ(SplitOn("a&", '&'), (Pieces{"a", ""}));
    EXPECT_EQ(SplitOn("", '&'), (Pieces{""}));
}

TEST(LinksTest, FindsTheLinksOfAWebPage) {
    EXPECT_EQ(MagnetLinksInHtml("<p>no links</p>"), Strings{});
    EXPECT_EQ(
        MagnetLinksInHtml("<a href=\"magnet:?xt=urn:btih:A&amp;dn=%E4&#38;tr=t\">x</a> "
                          "<a href='magnet:?b'>magnet:?b</a><br>magnet:?c&quot;d "
                          "e<A HREF=magnet:?e>e</A>"),
        (Strings{"magnet:?xt=urn:btih:A&dn=%E4&tr=t", "magnet:?b", "magnet:?c\"d", "magnet:?e"}));
}

// The hash and the name stem, "hash|stem", or "-" where the link holds no hash.
TEST(LinksTest, FindsTheHashAndTheNameStem) {
    const std::string hash = "0123456789abcdef0123456789abcdef01234567";
    const std::string v2 = hash + "0123456789abcdef01234567";
    const std::string example = "xt=urn:btih:" + hash + "&dn=My+Show&tr=udp%3A%2F%2Ft";
    const std::vector<std::tuple<std::string, bool, std::string>> cases = {
        {example, true, hash + "|My+Show"},
        {example, false, hash + "|" + hash},
        {"dn=x&tr=y", true, "-"},
        {"XT=URN:BTIH:HASH", true, "-"},
        {"dn=Name&xt=urn:btih:HASH", true, "HASH|HASH"},  // the name must follow the hash
        {"dn=Name&xt=urn:btih:HASH&tr=x", true, "HASH|Name"},
        {"xt=urn:btih:HASH&tr=x&dn=", true, "HASH|"},
        // Parameters are whole "key=value" pairs: nothing inside another one's value counts.
        {"xt=urn:btih:HASH&tr=udp://t/?udn=1&dn=Name", true, "HASH|Name"},
        {"tr=http://x/?xt=urn:btih:HASH&dn=N", true, "-"},
        {"tr=http://x/?xt=urn:btih:HASH&xt=urn:btmh:1220" + v2 + "&dn=N", true, v2 + "|N"},
        {"xt=urn:btih:HASH&xs=http://x/?dn=evil&dn=N", true, "HASH|N"},
        {"xt=urn:btih:HASH&xdn=1&dn=N", true, "HASH|N"},
        // A hash ends at white space: the text after a link on its line is no part of it.
        {"xt=urn:btih:HASH ", true, "HASH|HASH"},
        {"xt=urn:btih:HASH （Ubuntu 光盘）", true, "HASH|HASH"},
        {"xt=urn:btih:HASH（Ubuntu", true, "HASH|HASH"},
        {"xt=urn:btih:HASH\t(x)&dn=N&tr=t", true, "HASH|N"},
        {"xt=urn:btmh:1220" + v2 + "\u3000光盘", true, v2 + "|" + v2},
        {"xt=urn:btih:&dn=x", true, "|x"},
        // v2 links are known by their v2 hash; a hybrid link by its v1 hash.
        {"xt=urn:btmh:1220" + v2 + "&dn=N&tr=x", true, v2 + "|N"},
        {"xt=urn:btmh:1220" + v2, true, v2 + "|" + v2},
        {"xt=urn:btmh:1114abc&dn=N", true, "1114abc|N"},
        {"xt=urn:btmh:1220" + v2 + "&xt=urn:btih:HASH&dn=N", true, "HASH|N"},
    };
    for (const auto& [link, usedn, found] : cases) {
        const auto parsed = ParseLink(link, usedn);
        EXPECT_EQ(parsed ? parsed->shownHash() + "|" + parsed->stem : "-", found) << link;
    }
}

// The link's own addresses of its file: http and https only, decoded, at most three.
TEST(LinksTest, FindsTheLinksOwnAddresses) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"xt=urn:btih:H&xs=http%3A%2F%2Fa%2Fx.torrent", "http://a/x.torrent"},
        {"xs=HTTPS://b/y&as=http://c/z&xs.1=http://d/w&xs=http://e/v",
         "HTTPS://b/y http://c/z http://d/w"},
        {"xs=file:///etc/passwd&xs=ftp://x/y&xs=javascript:alert(1)&as=http:/n&axs=http://n/o", ""},
        {"xs=&xs&dn=x", ""},
        // Written as links write them: what cannot stand in a URL is encoded again.
        {"xs=http://h/t/my%20file.torrent&as=http%3A%2F%2Fh%2Fa%2520b%09c",
         "http://h/t/my%20file.torrent http://h/a%20b%09c"},
    };
    for (const auto& [link, sources] : cases) {
        std::string found;
        const std::optional<ParsedLink> parsed = ParseLink("xt=urn:btih:H&" + link, true);
        for (const std::string& s : parsed->exactSources)
            found += (found.empty() ? "" : " ") + s;
        EXPECT_EQ(found, sources) << link;
    }
    // A tracker that carries the user's passkey is a private tracker's.
    for (const auto& [tracker, isPrivate] : std::vector<std::pair<std::string, bool>>{
             {"http://t.example:2710/announce/0123456789abcdef0123", true},
             {"https://t.example/0123456789abcdefABCDEF+/announce", true},
             {"https://t.example/announce.php?uid=1&passkey=s3cret", true},
             {"http://t.example/a?authkey=k", true},
             {"udp://t.example:80/announce?pk=k", true},
             {"udp://tracker.opentrackr.org:1337/announce", false},
             {"http://t.example/announce/short", false},
             {"http://t.example/?passkey=", false},
             {"http://0123456789abcdef0123.example/announce", false}}) {
        EXPECT_EQ(IsPrivateTrackerAddress(tracker), isPrivate) << tracker;
    }
}

// Percent-decoding as UTF-8: anything that would not make valid UTF-8 stays as written.
TEST(LinksTest, DecodesDisplayNames) {
    // clang-format off
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a+b%41", "a bA"}, {"%e4%b8%ad%E6%96%87", "中文"}, {"%2B%2F%3A%00", std::string("+/:\0", 4)},
        {"%2541", "%41"},  // decoded once only
        {"ab%4", std::string("ab\x04")}, {"Caf%C3%A9%20X%F0%9F%98%80", "Café X😀"},
        {"100%+off %zz %4z", "100% off %zz %4z"},
        {"%80%80 %E4%B8 %E4%41 %E4xB8", "%80%80 %E4%B8 %E4A %E4xB8"},
        {"%C0%AF %E0%80%AF %ED%A0%80 %F4%90%80%80 %FF%41",
        "%C0%AF %E0%80%AF %ED%A0%80 %F4%90%80%80 %FFA"},
    };
    // clang-format on
    for (const auto& [in, out] : cases)
        EXPECT_EQ(DecodeDisplayName(in), out) << in;
}

constexpr PathRules kLinux{false};
constexpr PathRules kWindows{true};

// The stem made into one safe name that fits (255 bytes on Linux; 255 UTF-16 units on Windows,
// where a Chinese character is one), joined to the folder with one separator.
TEST(FileNameTest, MakesOneSafeNameInTheFolder) {
    std::string chinese;
    for (int i = 0; i < 100; ++i)
        chinese += "中";
    // clang-format off
    const std::vector<std::tuple<std::string, std::string, PathRules, std::string>> cases = {
        {"/srv/seeds", "", kLinux, "/srv/seeds/.torrent"},
        {"/srv/seeds/", "中文 My Show", kLinux, "/srv/seeds/中文 My Show.torrent"},
        {"/", "../../.bashrc", kLinux, "/.._.._.bashrc.torrent"},
        {"/d", "..\\..\\a:b*c?d\"e<f>g|h", kLinux, "/d/.._.._a_b_c_d_e_f_g_h.torrent"},
        {"/d", std::string("a\0b\x1f\x7f", 5), kLinux, "/d/a_b__.torrent"},
        {"/d", "evil\u202Egnp.exe\u200E\u2066", kLinux, "/d/evil_gnp.exe__.torrent"},
        {"/d", "a\u2028b\u0085\u009b\u200B\u2060\uFEFFd", kLinux, "/d/a_b_____d.torrent"},
        {"/d", "a\xff\xc3", kLinux, "/d/a__.torrent"}, {"/d", "NUL", kLinux, "/d/NUL.torrent"},
        {"F:\\TDDownload", "a", kLinux, "F:\\TDDownload/a.torrent"},
        {"/d", std::string(400, 'a'), kLinux, "/d/" + std::string(247, 'a') + ".torrent"},
        {"/d", chinese, kLinux, "/d/" + chinese.substr(0, 246) + ".torrent"},
        {"D:\\Seeds\\", chinese, kWindows, "D:\\Seeds\\" + chinese + ".torrent"},
        {"D:\\Seeds\\\\\\", "con", kWindows, "D:\\Seeds\\\\_con.torrent"},  // folded in one pass
        {"C:\\", "COM1.part", kWindows, "C:\\_COM1.part.torrent"},
        {"C:\\", "com\u00b9", kWindows, "C:\\_com\u00b9.torrent"},
        {"C:\\", "LPT\u00b3 .x", kWindows, "C:\\_LPT\u00b3 .x.torrent"},
        {"C:\\", "lpt0", kWindows, "C:\\_lpt0.torrent"},
        {"C:\\", "CONOUT$", kWindows, "C:\\_CONOUT$.torrent"},
        {"C:\\", "COM10", kWindows, "C:\\COM10.torrent"},
        {"C:\\", "COM\u00b4", kWindows, "C:\\COM\u00b4.torrent"},
        {"\\\\server\\share", "CONSOLE", kWindows, "\\\\server\\share\\CONSOLE.torrent"},
    };
    // clang-format on
    for (const auto& [folder, stem, rules, destination] : cases)
        EXPECT_EQ(JoinDestination(folder, MakeFileName(stem, rules), rules), destination) << stem;
}

// Where the folder ignores case, names equal but for case, in any script, are one: the later
// link of another torrent takes its hash, and a later link of the same torrent shares the first
// one's file under its spelling. Where the folder does not, each keeps its name.
TEST(BatchPlannerTest, NamesAreComparedAsTheFolderComparesThem) {
    const std::string a(40, 'a'), b(40, 'b');
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"Movie", "movie"}, {"ÉTÉ", "été"},     {"Łódź", "łódź"},
        {"ＡＢ", "ａｂ"},   {"Ґанок", "ґанок"}, {"ΣΑΣ", "σας"}};
    for (const bool ignoresCase : {false, true}) {
        for (const auto& [first, second] : pairs) {
            for (const std::string& other : {b, a}) {
                const BatchPlanner planner(
                    2,
                    [&](size_t i) {
                        return "xt=urn:btih:" + (i ? other : a) + "&dn=" + (i ? second : first);
                    },
                    true, "/d", PathRules{false, ignoresCase});
                const std::string expected = !ignoresCase ? second : other == a ? first : b;
                EXPECT_EQ(planner.Plan(1).fileName, expected + ".torrent") << second;
                EXPECT_EQ(planner.leaders()[1], ignoresCase && other == a ? 0u : 1u) << second;
            }
        }
    }
}

// Only a strictly well-formed torrent with one "info" dictionary is read: anything else could
// make two readers disagree about which bytes the hash names.
TEST(BencodeTest, FindsTheExactInfoBytesOrRejects) {
    // A torrent whose containers nest `depth` deep: the root, "info", and lists inside it.
    const auto Nested = [](size_t d) {
        return "d4:infod1:a" + std::string(d - 2, 'l') + std::string(d - 2, 'e') + "ee";
    };
    const std::vector<std::pair<std::string, std::string>> accepted = {
        {"d4:infodee", "de"},
        {"d1:ai-5e4:infod1:xli0e3:abcee1:zlee", "d1:xli0e3:abcee"},
        {"d1:ad4:infodee4:infod1:bi1eee", "d1:bi1ee"},       // an "info" deeper down is not it
        {"d4:infod1:bi1e1:ai2ee1:ai0ee", "d1:bi1e1:ai2ee"},  // keys out of order are read
        {"d4:infod1:c0:1:a0:1:bd1:y0:1:x0:eee", "d1:c0:1:a0:1:bd1:y0:1:x0:ee"},
        {"d4:infodee \r\n\t", "de"},
        {Nested(100), "d1:a" + std::string(98, 'l') + std::string(98, 'e') + "e"},
    };
    for (const auto& [body, info] : accepted)
        EXPECT_EQ(FindInfoDictionary(body).value_or("-"), info) << body.substr(0, 60);
    // Among them: leading zeros, "-0", a repeated key at any depth, trailing bytes, too deep.
    // clang-format off
    const std::vector<std::string> rejected = {
        "", "<html>not found</html>", "ld4:infodeee", "d4:nameli1eee", "d4:info3:abce",
        "d4:infod1:a5:abce", "d4:infod1:a99999999999999999999:xee", "d04:infodee",
        "d1:ai01e4:infodee", "d1:ai-0e4:infodee", "d1:ai-e4:infodee", "di1e1:a4:infodee",
        "d4:infode1:ae", "d4:infodeex", std::string("d4:infodee\0", 11),
        "d4:infod1:ai1ee4:infod1:ai2eee", "d4:infod1:ai1e1:ai2eee", "d1:xld1:ai1e1:ai1eee4:infodee",
        "d4:infod1:b0:1:a0:1:c0:1:b0:ee", "d4:infod1:cd1:y0:1:x0:1:y0:eee",
        "d4:infodx1:aee", "ed4:infodee", Nested(101), "d4:info" + std::string(1000000, 'l')};
    // clang-format on
    for (const std::string& body : rejected)
        EXPECT_FALSE(FindInfoDictionary(body).has_value()) << body.substr(0, 60);
    // What a file's first bytes tell: a torrent begins as a dictionary with a short key.
    for (const auto& [head, may] :
         std::vector<std::pair<std::string, bool>>{{"d8:announce35:udp://tracker", true},
                                                   {"d4:infod6:lengthi1e", true},
                                                   {"d13:creation datei1e", true},
                                                   {"d1:a", true},
                                                   {std::string(1, '\0'), false},
                                                   {"\x89PNG\r\n", false},
                                                   {"d0:e", false},
                                                   {"d010:announce", false},
                                                   {"l8:announcee", false},
                                                   {"d99:" + std::string(99, 'a'), false},
                                                   {"d8:announ", false},
                                                   {"d4:\x01\x02\x03\x04", false}}) {
        EXPECT_EQ(BeginsAsTorrent(head.substr(0, kTorrentHeadBytes)), may) << head;
    }
}

// A link's trackers and web seeds go into the saved file after its own, each once (compared
// as URLs), tiers kept, every other key as it was: "info" byte for byte.
TEST(BencodeTest, TheLinksTrackersAndWebSeedsAreAddedOnce) {
    const std::string info = "4:infod4:name1:xe";
    const std::string tiers = "13:announce-listll6:http:a6:http:bel6:http:cee";
    // clang-format off
    const std::vector<std::tuple<std::string, Strings, Strings, std::string>> cases = {
        {"d" + info + "e", {"http://t/a"}, {},
         "d8:announce10:http://t/a13:announce-listll10:http://t/aee" + info + "e"},
        {"d8:announce10:http://T/a" + info + "e", {"HTTP://t/a"}, {}, "-"},  // one URL
        {"d8:announce6:http:a" + tiers + info + "e", {"http:b", "http:d", "http:d"}, {},
         "d8:announce6:http:a13:announce-listll6:http:a6:http:bel6:http:cel6:http:dee" + info + "e"},
        {"d1:z1:z" + info + "8:url-list10:http://s/1e", {}, {"http://s/2", "http://s/1"},
         "d" + info + "8:url-listl10:http://s/110:http://s/2e1:z1:ze"},  // keys in order
        {"d" + info + "e \r\n", {}, {}, "-"},
    };
    // clang-format on
    for (const auto& [torrent, trackers, seeds, merged] : cases) {
        const std::optional<std::string> made = WithLinkAddresses(torrent, trackers, seeds);
        EXPECT_EQ(made.value_or("-"), merged) << torrent;
        if (made) {
            EXPECT_EQ(FindInfoDictionary(*made), FindInfoDictionary(torrent));
        }
    }
    const auto link =
        ParseLink("xt=urn:btih:H&tr=udp%3A%2F%2Ft%3A1&ws=http%3A%2F%2Fw%2Fa b&ws=ftp://x", true);
    EXPECT_EQ(link->trackers, Strings{"udp://t:1"});
    EXPECT_EQ(link->webSeeds, Strings{"http://w/a%20b"});
}

// What a torrent holds, for --json: its name (UTF-8 first), all its files' bytes without
// padding (v1's list, a single file, v2's tree), and whether it is private; a private torrent
// gets the link's trackers but none of the user's.
TEST(BencodeTest, TellsWhatATorrentHoldsAndKeepsPrivateOnesPrivate) {
    const auto file = [](int n, const std::string& extra = "") {
        return "d" + extra + "6:lengthi" + std::to_string(n) + "e4:pathl1:aee";
    };
    // clang-format off
    const std::vector<std::pair<std::string, std::optional<TorrentFacts>>> cases = {
        {"d4:infod6:lengthi5e4:name1:xee", TorrentFacts{"x", 5, 1, false}},
        {"d4:infod5:filesl" + file(3) + file(10, "4:attr1:p") + file(4) + "e4:name1:x"
         "10:name.utf-86:狂飙7:privatei1eee", TorrentFacts{"狂飙", 7, 2, true}},
        {"d4:infod9:file treed1:ad0:d6:lengthi9eee1:bd1:cd0:d6:lengthi1eeeee4:name1:tee",
         TorrentFacts{"t", 10, 2, false}},
        {"d4:infod6:lengthi5eee", std::nullopt},                          // no name
        {"d4:infod6:lengthi-5e4:name1:xee", std::nullopt},                // no size
        {"d4:infod6:lengthi99999999999999999999e4:name1:xee", std::nullopt},
        {"d4:infod5:filesl" + file(1) + "i1ee4:name1:xee", std::nullopt},  // not a file
    };
    // clang-format on
    for (const auto& [torrent, facts] : cases)
        EXPECT_EQ(DescribeTorrent(torrent), facts) << torrent;
    const std::string link = "magnet:?xt=urn:btih:H&tr=http%3A%2F%2Fl%2Fa";
    for (const bool isPrivate : {false, true}) {
        const std::string info =
            "4:infod6:lengthi5e4:name1:x" + std::string(isPrivate ? "7:privatei1e" : "") + "e";
        EXPECT_EQ(CompletedForLink("d" + info + "e", link, {"udp://u:1"}).value_or("-"),
                  "d8:announce10:http://l/a13:announce-listll10:http://l/ae" +
                      std::string(isPrivate ? "" : "l9:udp://u:1e") + "e" + info + "e");
    }
}

// The watch's patience: a minute, doubling to six hours, for a week; what it remembers reads
// back as it was written, odd file names too.
TEST(WatchStateTest, WaitsDoubleUpToTheLongestAndEndAfterAWeek) {
    WatchState state;
    const WatchPatience patience;
    const int64_t t0 = 1'000'000;
    std::vector<int64_t> waits;
    int64_t now = t0;
    while (const std::optional<int64_t> next = state.Failed("H", now, patience)) {
        waits.push_back(*next - now);
        now = *next;
    }
    EXPECT_EQ(std::vector<int64_t>(waits.begin(), waits.begin() + 10),
              (std::vector<int64_t>{60, 120, 240, 480, 960, 1920, 3840, 7680, 15360, 21600}));
    EXPECT_EQ(std::accumulate(waits.begin(), waits.end(), int64_t{0}), 7 * 86400);
    EXPECT_FALSE(state.Due("H", t0 + 7 * 86400 - 1));
    EXPECT_TRUE(state.Due("other", t0));
    state.Saved("a\tb\n%c.magnet", "S");
    const WatchState read = WatchState::Read(state.Text() + "junk\nwait x\nsaved ../x\n");
    EXPECT_EQ(read.Text(), state.Text());
    EXPECT_TRUE(read.WasSaved("a\tb\n%c.magnet", "S"));
    EXPECT_EQ(read.attempts("H"), state.attempts("H"));
}

// Links run ahead on workers come back in input order; none starts a window or more past the
// last one taken; links of one group run one after another; a throwing link fails alone.
TEST(AheadRunTest, ResultsComeInOrderWithinTheWindow) {
    for (const int workers : {0, 1, 4}) {
        std::mutex lock;
        size_t taken = 0, running = 0, mostRunning = 0;
        std::vector<std::string> events;
        const auto work = [&](size_t i) {
            {
                std::lock_guard<std::mutex> guard(lock);
                // The run counts a link taken as Take returns; this count follows a moment later.
                EXPECT_LE(i, taken + 3) << "started too far ahead";
                mostRunning = std::max(mostRunning, ++running);
                events.push_back("start " + std::to_string(i));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10 * (i % 3)));
            {
                std::lock_guard<std::mutex> guard(lock);
                --running;
                events.push_back("end " + std::to_string(i));
            }
            if (i == 5)
                throw std::runtime_error("boom");
            return FailedLink(FetchError::Other, std::to_string(i));
        };
        AheadRun run({0, 1, 0, 3, 4, 5, 6, 7}, workers, 3, work);  // 0 and 2: one group
        for (size_t i = 0; i < 8; ++i) {
            const LinkResult result = run.Take(i);
            ASSERT_EQ(result.attempts.size(), 1u);
            EXPECT_EQ(result.attempts[0].result.detail,
                      i == 5 ? "internal error: boom" : std::to_string(i));
            std::lock_guard<std::mutex> guard(lock);
            taken = i + 1;
        }
        EXPECT_LE(mostRunning, static_cast<size_t>(std::max(workers, 1)));
        // One group, in its order.
        EXPECT_LT(std::find(events.begin(), events.end(), "end 0"),
                  std::find(events.begin(), events.end(), "start 2"))
            << workers;
    }
}

// An answer that comes when the test says so, with the words it is given then.
struct Later : PendingFetch {
    std::mutex lock;
    std::function<void()> ended;
    bool there = false;
    std::string words;
    void WhenEnded(std::function<void()> f) override {
        std::unique_lock<std::mutex> guard(lock);
        if (!there)
            return void(ended = std::move(f));
        guard.unlock();
        f();
    }
    void Come(const std::string& said) {
        std::unique_lock<std::mutex> guard(lock);
        if (there)
            return;
        there = true;
        words = said;
        const std::function<void()> f = std::move(ended);
        guard.unlock();
        if (f)
            f();
    }
    FetchResult Take() override { return FetchResult::Failed(FetchError::Other, words); }
};

// Links whose answer is pending (the network's) hold no thread: with one worker and a window of
// one, every link waits at once (the answers come only once all have arrived, or after 10 s).
// With as many links waiting as the run allows, the next one does not start (it might wait as
// well), and a quick answer is taken at once: link 0's is not held up behind link 1's long wait.
TEST(AheadRunTest, LinksWaitingOnTheNetworkHoldNoThreadAndQuickAnswersAreTakenAtOnce) {
    std::vector<std::shared_ptr<Later>> answers;
    for (int i = 0; i < 8; ++i)
        answers.push_back(std::make_shared<Later>());
    const auto comeAll = [&](const std::string& said) {
        for (const auto& answer : answers)
            answer->Come(said);
    };
    std::atomic<bool> done{false};
    std::thread late([&] {
        for (int k = 0; k < 1000 && !done; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        comeAll("late");
    });
    std::atomic<size_t> arrived{0};
    const auto work = [&](size_t i) {
        LinkResult result = FailedLink(FetchError::Other, "no answer yet");
        result.pending = answers[i];
        if (++arrived == answers.size())
            comeAll("all");
        return result;
    };
    {
        AheadRun run(std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7}, 1, 1, work);
        for (size_t i = 0; i < answers.size(); ++i)
            EXPECT_EQ(run.Take(i).attempts.at(0).result.detail, "all");
        EXPECT_EQ(run.threads(), 1u);
    }
    for (auto& answer : answers)
        answer = std::make_shared<Later>();
    std::thread quick([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        answers[0]->Come("quick");
    });
    const auto started = std::chrono::steady_clock::now();
    {
        AheadRun run({0, 1}, 1, 8, work, nullptr, 1);
        EXPECT_EQ(run.Take(0).attempts.at(0).result.detail, "quick");
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        done = true;
        run.Take(1);
    }
    quick.join();
    late.join();
}

std::string Link(const std::string& hash, const std::string& rest = "&x") {
    return "magnet:?xt=urn:btih:" + hash + rest + "\n";
}

// Each case runs its batches in turn through one world. The mirrors refuse hashes that start
// with "BA", deliver those with "F3" from the third mirror only, cannot write those with "DE",
// and the user cancels those with "CC".
TEST(BatchTest, EveryLinkRunsToItsEndBeforeTheNext) {
    const std::string a1 = Hash("A1", "A1"), a2 = Hash("A2", "A2"), f3 = Hash("F3", "33");
    const std::string b1 = Hash("B1", "B1"), c1 = Hash("C1", "C1"), d1 = Hash("D1", "D1");
    const std::string e1 = Hash("E1", "E1");
    const std::string f1 = "fetch m1/A1/A1 -> /d/" + a1 + ".torrent";
    const std::string v2a(64, 'a'), v2b(64, 'b');
    const std::string f2 = "fetch m1/A2/A2 -> /d/" + a2 + ".torrent";
    const std::string bad = " -> /d/" + Hash("BA", "AD") + ".torrent";
    const std::string unusable = "magnet:?dn=x " + Link(std::string(39, 'A')) +
                                 Link(Hash("AA", "AA") + "%20") + Link(Hash("AA", "AA"), "@e/x") +
                                 Link(Hash("BA", "AD"));
    struct Case {
        std::map<std::string, std::string, std::less<>> stored;
        Strings batches;
        Strings saveAnswers;
        std::vector<std::pair<std::string, bool>> promptAnswers;
        Events expected;
    };
    // The message of a link that failed: which file, and why.
    const auto failed = [](const std::string& file, const std::string& why) {
        return "message 种子获取失败\n" + file + "\n" + why;
    };
    const std::string invalid = "无效的种子特征", aa = Hash("AA", "AA"), be = Hash("BE", "EE");
    // clang-format off
    const std::vector<Case> cases = {
        // Unusable links fail before anything is asked, and "ignore" is quiet about failures.
        {{{"onStart", "/d"}, {"onError", "msg"}}, {unusable}, {}, {},
         {"message 分析失败\n链接中没有种子特征", failed(std::string(39, 'A') + ".torrent", invalid),
          failed(aa + " .torrent", invalid), failed(aa + "@e_x.torrent", invalid),
          "fetch m1/BA/AD" + bad, "fetch m2/AD" + bad, "fetch m3/AD" + bad,
          failed(Hash("BA", "AD") + ".torrent", "镜像都没有这个种子")}},
        {{{"onStart", "/d"}, {"onError", "ignore"}}, {unusable}, {}, {},
         {"fetch m1/BA/AD" + bad, "fetch m2/AD" + bad, "fetch m3/AD" + bad}},
        // Without a folder every file is asked for; a cancel skips the link without a word.
        // The first name ends at the space before the next marker.
        {{{"onFinish", "poi"}}, {"magnet:?xt=urn:btih:" + Hash("AA", "AA") + "&dn=first magnet:?"
                                 "xt=urn:btih:" + Hash("BB", "BB") + "&dn=second"},
         {"", "/home/u/chosen"}, {},
         {"save-as 另存为 first.torrent", "save-as 另存为 second.torrent",
          "fetch m1/BB/BB -> /home/u/chosen", "reveal /home/u/chosen"}},
        // The mirrors in order up to the first that delivers; a cancel, or a place that cannot
        // be written, ends the chain at once.
        {{{"onFinish", "none"}, {"onStart", "/d"}},
         {Link(f3) + Link(Hash("CC", "CC"), "&dn=c") + Link(Hash("DE", "EE"), "&dn=e") + Link(a1)},
         {}, {},
         {"fetch m1/F3/33 -> /d/" + f3 + ".torrent", "fetch m2/33 -> /d/" + f3 + ".torrent",
          "fetch m3/33 -> /d/" + f3 + ".torrent", "fetch m1/CC/CC -> /d/c.torrent",
          "fetch m1/DE/EE -> /d/e.torrent", failed("e.torrent", "无法写入 /d"),
          "fetch m1/A1/A1 -> /d/" + a1 + ".torrent"}},
        // A prompt closed without an answer asks again at the next link; an answer holds for
        // the rest of the batch, and the next batch asks again unless it was remembered.
        {{{"onStart", "/d"}, {"fileName", "btih"}}, {Link(a1) + Link(a2) + Link(b1), Link(a1),
         Link(a2)}, {}, {{"", false}, {"poi", false}, {"open", true}},
         {f1, "prompt", f2, "prompt", "reveal /d/" + a2 + ".torrent",
          "fetch m1/B1/B1 -> /d/" + b1 + ".torrent", "reveal /d/" + b1 + ".torrent", f1, "prompt", "remember open",
          "open /d/" + a1 + ".torrent", f2, "open /d/" + a2 + ".torrent"}},
        // The caches index v1 hashes only: a v2-only link asks its own http(s) addresses, and
        // fails without them; a hybrid link asks the caches by its v1 hash. A v2-only link is
        // named after its 64-digit hash.
        {{{"onStart", "/d"}, {"fileName", "btih"}, {"onFinish", "none"}},
         {"magnet:?xt=urn:btmh:1220" + v2a + "&xs=file%3A%2F%2F%2Fetc%2Fpasswd\n"
          "magnet:?xt=urn:btmh:1220" + v2b + "&xs=http%3A%2F%2Fsite%2Fa.torrent&as=ftp://x\n"
          "magnet:?xt=urn:btmh:1220" + v2a + "&xt=urn:btih:" + a1 + "&x\n"}, {}, {},
         {failed(v2a + ".torrent", "没有可以询问的来源"),
          "fetch http://site/a.torrent -> /d/" + v2b + ".torrent", f1}},
        // A failure says what each kind of source answered.
        {{{"onStart", "/d"}, {"onError", "msg"}}, {Link(be, "&xs=http://10.0.0.1/x")}, {}, {},
         {"fetch m1/BE/EE -> /d/" + be + ".torrent", "fetch m2/EE -> /d/" + be + ".torrent",
          "fetch m3/EE -> /d/" + be + ".torrent",
          "fetch http://10.0.0.1/x -> /d/" + be + ".torrent",
          failed(be + ".torrent", "镜像都没有这个种子；链接中的地址在本机或内部网络中，没有连接")}},
        // A save folder that is not a whole path fails each link with the reason; nothing is
        // guessed or asked.
        {{{"onStart", "seeds"}}, {Link(a1)}, {}, {},
         {failed(a1 + ".torrent", "保存位置必须是完整的文件夹路径：seeds")}},
        {{{"onStart", "F:\\TDDownload"}, {"onError", "ignore"}}, {Link(a1)}, {}, {}, {}},
        // A stored action of no known name, "Open" too, does nothing.
        {{{"onFinish", "Open"}, {"onStart", "/d"}, {"fileName", "btih"}}, {Link(a2)}, {}, {},
         {f2}},
        // No file of the batch replaces another's: a name taken by another torrent gives way to
        // the info-hash, and to the info-hash and a number when that is taken too; the same
        // torrent twice is fetched and saved once.
        {{{"onStart", "/d"}, {"onFinish", "open"}},
         {Link(a1, "&dn=same") + Link(a2, "&dn=same") + Link(a1, "&dn=other") +
          Link(b1, "&dn=" + c1) + Link(c1, "&dn=s%61me") + Link(d1, "&dn=a%2Fb") +
          Link(e1, "&dn=a:b")}, {}, {},
         {"fetch m1/A1/A1 -> /d/same.torrent", "open /d/same.torrent",
          f2, "open /d/" + a2 + ".torrent",
          "fetch m1/B1/B1 -> /d/" + c1 + ".torrent", "open /d/" + c1 + ".torrent",
          "fetch m1/C1/C1 -> /d/" + c1 + " (2).torrent", "open /d/" + c1 + " (2).torrent",
          "fetch m1/D1/D1 -> /d/a_b.torrent", "open /d/a_b.torrent",
          "fetch m1/E1/E1 -> /d/" + e1 + ".torrent", "open /d/" + e1 + ".torrent"}},
    };
    // clang-format on
    // Fetched ahead, the same happens in the same order, apart from when each file is fetched.
    const auto withoutFetches = [](Events events) {
        std::erase_if(events, [](const std::string& e) { return e.starts_with("fetch "); });
        return events;
    };
    for (const auto& c : cases) {
        Events commits;
        for (const int ahead : {0, 8}) {
            testing::World w;
            w.ahead = ahead;
            w.staging = "/staging";
            w.settings.values = c.stored;
            w.saveAnswers = c.saveAnswers;
            w.promptAnswers = c.promptAnswers;
            w.decide = [](const FetchRequest& r) {
                const std::string first2 = r.hashes.V1Text().substr(0, 2);
                if (first2 == "BE")  // the caches lack it; its own address is private
                    return r.source == SourceKind::Mirror ? FetchError::HttpStatus
                                                          : FetchError::PrivateAddress;
                return first2 == "BA"                        ? FetchError::HttpStatus
                       : first2 == "F3" && r.sourceIndex < 3 ? FetchError::NotATorrent
                       : first2 == "DE"                      ? FetchError::CannotWrite
                       : first2 == "CC"                      ? FetchError::Cancelled
                                                             : FetchError::None;
            };
            for (const std::string& text : c.batches)
                w.Run(text);
            if (ahead == 0) {
                EXPECT_EQ(w.journal, c.expected) << c.batches[0];
                commits = w.commits;
            } else {
                EXPECT_EQ(withoutFetches(w.journal), withoutFetches(c.expected)) << c.batches[0];
                EXPECT_EQ(w.commits, commits) << c.batches[0];
            }
        }
    }
}

}  // namespace
}  // namespace velindra

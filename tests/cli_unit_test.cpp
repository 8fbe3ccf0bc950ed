// The command line's own parts that need no program run: what it prints of outside text, how
// wide a line is on a terminal, the JSON it writes, the language it picks, and its progress
// line.
#include <gtest/gtest.h>

#include "cli/language.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "core/terminal_text.h"
#include "tests/test_support.h"

namespace velindra {
namespace {

// Controls and the invisible marks never reach the terminal; a path keeps the bytes a folder
// of another encoding has, so that scripts get the real path.
TEST(TerminalTextTest, OutsideTextIsShownSafely) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        // text, as EscapeControls shows it, as PrintablePath does
        {"中文 name", "中文 name", "中文 name"},
        {"\x1b]0;x\x07", "\\x1b]0;x\\x07", "\\x1b]0;x\\x07"},
        {"a\u009bb\u202ec\u200ed\u2066e\ufeff", "a\\u009bb\\u202ec\\u200ed\\u2066e\\ufeff",
         "a\\u009bb\\u202ec\\u200ed\\u2066e\\ufeff"},
        {"/srv/\xe9t\xe9/x.torrent", "/srv/\\xe9t\\xe9/x.torrent", "/srv/\xe9t\xe9/x.torrent"},
        {"/srv/\x9b\x85/x", "/srv/\\x9b\\x85/x", "/srv/\\x9b\\x85/x"},
        {"\x7f\t", "\\x7f\\x09", "\\x7f\\x09"},
    };
    for (const auto& [text, escaped, path] : cases) {
        EXPECT_EQ(EscapeControls(text), escaped) << text;
        EXPECT_EQ(PrintablePath(text), path) << text;
    }
}

TEST(TerminalTextTest, JsonStringsAreValidAndSafe) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "\"plain\""},           {"q\"b\\", "\"q\\\"b\\\\\""},
        {"\n\x1b", "\"\\u000a\\u001b\""}, {"\u009b\u202e中", "\"\\u009b\\u202e中\""},
        {"a\xff", "\"a\ufffd\""},
    };
    for (const auto& [text, json] : cases)
        EXPECT_EQ(JsonString(text), json) << text;
}

// Wide characters count two columns, wherever a terminal may draw them so (the ellipsis and
// symbols drawn as emoji included): a line fitted to the width never wraps.
TEST(TerminalTextTest, WidthsCountWhatTerminalsDraw) {
    const std::vector<std::pair<std::string, size_t>> widths = {
        {"abc", 3},    {"中文", 4},   {"한글", 4}, {"\u1100", 2}, {"😀", 2},
        {"\u26a1", 2}, {"\u2026", 2}, {"ｱ", 1},    {"é", 1},      {"\xff", 1},
    };
    for (const auto& [text, width] : widths)
        EXPECT_EQ(DisplayWidth(text), width) << text;
    for (const std::string text : {"中文中文中文", "abc⚡⚡⚡def", "😀😀😀😀x"}) {
        for (size_t columns = 0; columns < 14; ++columns)
            EXPECT_LE(DisplayWidth(FitWidth(text, columns)), columns) << text << " " << columns;
    }
    EXPECT_EQ(FitWidth("中文中文", 5), "中…");
}

#ifndef _WIN32  // Windows asks the system for the user's language, not the environment
// Chinese only where the terminal shows UTF-8: a GBK, GB2312 or Big5 locale is spoken to in
// English, and so is a Traditional Chinese one; LANGUAGE first, unless the locale is C.
TEST(LanguageTest, ChineseOnlyUnderAUtf8ChineseLocale) {
    struct Case {
        std::string all, messages, ctype, lang;
        Language expected;
        std::string language = "";
    };
    const auto zh = Language::Chinese, en = Language::English;
    // clang-format off
    const std::vector<Case> cases = {
        {"", "", "", "zh_CN.UTF-8", zh}, {"", "", "", "zh_TW.utf8", en}, {"", "", "", "zh.UTF-8", zh},
        {"", "", "", "zh_CN.UTF-8@pinyin", zh}, {"", "", "", "zh_CN.GBK", en},
        {"", "", "", "zh_CN.GB2312", en}, {"", "", "", "zh_TW.Big5", en},
        {"", "", "", "zh_CN", en}, {"", "", "", "en_US.UTF-8", en},
        {"", "zh_CN.UTF-8", "", "C.UTF-8", zh},
        {"", "zh_CN.UTF-8", "zh_CN.GB18030", "C.UTF-8", Language::English},
        {"en_US.UTF-8", "zh_CN.UTF-8", "", "zh_CN.UTF-8", Language::English},
        {"zh_HK.UTF-8", "en_US", "", "", Language::English},
        {"zh_SG.UTF-8", "en_US", "", "", Language::Chinese},
        {"", "", "", "en_US.UTF-8", zh, "fr:zh_CN:en"}, {"", "", "", "zh_CN.UTF-8", en, "en_GB"},
        {"", "", "", "C.UTF-8", en, "zh_CN"}, {"", "", "", "zh_CN.UTF-8", zh, "fr"},
    };
    // clang-format on
    testing::ScopedVariables scope;
    for (const Case& c : cases) {
        scope.Set("LC_ALL", c.all);
        scope.Set("LC_MESSAGES", c.messages);
        scope.Set("LC_CTYPE", c.ctype);
        scope.Set("LANG", c.lang);
        scope.Set("LANGUAGE", c.language);
        EXPECT_EQ(UserLanguage(), c.expected)
            << c.all << "|" << c.messages << "|" << c.ctype << "|" << c.lang;
    }
}
#endif

// One JSON object a link, with null where a field does not apply; a failure names every source
// it asked, by its label, with the server's status.
TEST(ReportTest, JsonLinesAndFailureLines) {
    SetLanguage(Language::English);
    const std::string hash(40, 'a');
    const std::vector<LinkPlan> plans =
        PlanBatch({"xt=urn:btih:" + hash + "&dn=n", "dn=none"}, true, "/d", PathRules{false});
    LinkResult failed;
    FetchResult status = FetchResult::Failed(FetchError::HttpStatus, "HTTP status 404");
    status.httpStatus = 404;
    // A transfer's reason: the library's words in English, ours by its code in Chinese.
    FetchResult certificate =
        FetchResult::Failed(FetchError::Other, "SSL certificate problem: self-signed certificate");
    certificate.fact = Fact::CertificateRefused;
    failed.attempts = {
        {SourceKind::Mirror, 1, status},
        {SourceKind::Mirror, 2, certificate},
        {SourceKind::LinkAddress, 1, FetchResult::Failed(FetchError::PrivateAddress, "127.0.0.1")},
        {SourceKind::Network, 1, Stated(FetchError::NoConnection, Fact::Unreachable)}};
    // One pattern a reason, the same facts in both languages.
    const cli::Outcome outcome = cli::Fetched(plans[0], failed);
    EXPECT_EQ(cli::FailureLine(plans[0], outcome),
              "velindra-cli: " + hash +
                  " (n.torrent): no source had the torrent: mirror 1: the server answered with "
                  "an error (HTTP status 404); mirror 2: failed (SSL certificate problem: "
                  "self-signed certificate); the link's address 1: not contacted, being on this "
                  "machine or a private network (127.0.0.1); the BitTorrent network: could not "
                  "connect (no peer, no DHT node)");
    SetLanguage(Language::Chinese);
    EXPECT_EQ(cli::FailureLine(plans[0], cli::Fetched(plans[0], failed)),
              "velindra-cli: " + hash +
                  " (n.torrent): 种子获取失败: 镜像 1 服务器返回错误 (HTTP 404); 镜像 2 失败 "
                  "(服务器证书无法验证); 链接中的地址 1 "
                  "未连接：位于本机或内部网络中 (127.0.0.1); BitTorrent 网络 无法连接 "
                  "(没有连上任何节点，也没有 DHT 路由)");
    SetLanguage(Language::English);
    EXPECT_EQ(cli::JsonLine(2, plans[1], cli::Refused(plans[1])),
              "{\"position\":2,\"hash\":null,\"name\":null,\"path\":null,\"source\":null,"
              "\"outcome\":\"refused\",\"reason\":\"not a usable link: it has no "
              "xt=urn:btih:\",\"torrent\":null}");
    LinkResult saved;
    FetchResult done = FetchResult::Done();
    done.torrent = TorrentFacts{"a\"b", 7, 2, true};
    saved.attempts = {{SourceKind::LinkAddress, 2, done}};
    EXPECT_EQ(cli::JsonLine(1, plans[0], cli::Fetched(plans[0], saved)),
              "{\"position\":1,\"hash\":\"" + hash +
                  "\",\"name\":\"n.torrent\",\"path\":\"/d/n.torrent\",\"source\":\"address "
                  "2\",\"outcome\":\"saved\",\"reason\":null,\"torrent\":{\"name\":\"a\\\"b\","
                  "\"size\":7,\"files\":2,\"private\":true}}");
    SetLanguage(Language::Chinese);
}

// The progress line: how many are done, and which links are where, cut to the terminal.
TEST(ProgressTest, TheLineSaysWhereEachLinkIs) {
    SetLanguage(Language::Chinese);
    const std::vector<LinkPlan> plans =
        PlanBatch({"xt=urn:btih:" + std::string(40, 'a') + "&dn=演示 demo",
                   "xt=urn:btih:" + std::string(40, 'b') + "&dn=second"},
                  true, "/d", PathRules{false});
    const auto nameOf = [&](size_t i) { return plans[i].fileName; };
    cli::ProgressLine line(plans.size(), nameOf, false, 80);
    line.activity(0).Asking(SourceKind::Mirror, 1, "http://x/");
    line.activity(1).Asking(SourceKind::Network, 1, "");
    line.activity(1).Network(0, 4);
    EXPECT_EQ(line.Compose(3, {0, 1}),
              "[3/2] 2 个进行中: 演示 demo.torrent 镜像 1 | second.torrent 网络, DHT 路由 4 个");
    cli::ProgressLine narrow(plans.size(), nameOf, false, 21);
    EXPECT_LE(DisplayWidth(narrow.Compose(3, {0, 1})), 20u);
}

}  // namespace
}  // namespace velindra

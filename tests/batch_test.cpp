// A whole batch through the conversion logic, with every outside part recorded in order.
#include <gtest/gtest.h>

#include "fakes.h"

namespace velindra {
namespace {

using testing::Hash;
using testing::World;
using Events = std::vector<std::string>;

std::string Link(const std::string& hash, const std::string& rest = "&x") {
    return "magnet:?xt=urn:btih:" + hash + rest + "\n";
}

TEST(BatchTest, NoLinkSaysSoAndReadsNoSetting) {
    for (const char* text : {"", "xt=urn:btih:ABC", "MAGNET:?xt=urn:btih:ABC"}) {
        World w;
        w.Run(text);
        EXPECT_EQ(w.journal.events, Events{"message 没有链接"}) << text;
        EXPECT_EQ(w.settings.reads, 0);
    }
}

// Stored values are taken exactly as written: "Ignore" is not "ignore".
TEST(BatchTest, StoredOptionsAreComparedExactly) {
    struct Case {
        std::map<std::string, std::string, std::less<>> stored;
        std::string selection, basePath;
        bool showErr, usedn;
    };
    const std::vector<Case> cases = {
        {{}, "select", "", true, true},
        {{{"onFinish", "Open"}, {"onError", "ignore"}, {"onStart", "/srv"}, {"fileName", "btih"}},
         "Open",
         "/srv",
         false,
         false},
        {{{"onError", "Ignore"}, {"fileName", "BTIH"}}, "select", "", true, true},
    };
    for (const auto& c : cases) {
        World w;
        w.settings.values = c.stored;
        w.Run("magnet:?x");
        EXPECT_EQ(
            std::tie(w.options.selection, w.options.basePath, w.options.showErr, w.options.usedn),
            std::tie(c.selection, c.basePath, c.showErr, c.usedn));
    }
}

// Links that cannot be parsed, or whose hash could never be checked, fail before anything is
// asked; the message follows onError, and the batch goes on.
TEST(BatchTest, UnusableLinksFailAtOnce) {
    const std::string text = "magnet:?dn=x " + Link(std::string(39, 'A')) +
                             Link(Hash("AA", "AA") + "%20") + Link(Hash("AA", "AA"), "@evil/x");
    World loud, quiet;
    loud.settings.values = {{"onStart", "/d"}};
    quiet.settings.values = {{"onError", "ignore"}};
    loud.Run(text);
    quiet.Run(text);
    EXPECT_EQ(loud.journal.events, (Events{"message 分析失败", "message 种子获取失败",
                                           "message 种子获取失败", "message 种子获取失败"}));
    EXPECT_TRUE(quiet.journal.events.empty());
}

TEST(BatchTest, SaveFolderFlowAsksForTheCanonicalHash) {
    World w;
    w.settings.values = {{"onFinish", "open"}, {"onStart", "/srv/seeds/"}};
    // Lower-case hex and base-32 both reach the mirrors as upper-case hex.
    w.Run(Link("ab" + std::string(36, '0') + "ef", "&dn=My+Show\r\n") +
          Link("AAAQEAYEAUDAOCAJBIFQYDIOB4IBCEQT", "&dn=%E4%B8%AD"));
    EXPECT_EQ(
        w.journal.events,
        (Events{"fetch m1/AB/EF -> /srv/seeds/My Show.torrent", "open /srv/seeds/My Show.torrent",
                "fetch m1/00/13 -> /srv/seeds/中.torrent", "open /srv/seeds/中.torrent"}));
    EXPECT_EQ(w.downloader.requests[1].infoHash, "000102030405060708090A0B0C0D0E0F10111213");
}

TEST(BatchTest, SaveDialogConfirmedOrCancelled) {
    World w;
    w.settings.values = {{"onFinish", "poi"}};
    w.saveDialog.answers = {std::nullopt, std::string("/home/u/chosen")};
    // The first link keeps the space before the next marker in its name.
    w.Run("magnet:?xt=urn:btih:" + Hash("AA", "AA") +
          "&dn=first magnet:?xt=urn:btih:" + Hash("BB", "BB") + "&dn=second");
    EXPECT_EQ(w.journal.events,
              (Events{"save-as first .torrent", "save-as second.torrent",
                      "fetch m1/BB/BB -> /home/u/chosen", "reveal /home/u/chosen"}));
    const SaveDialogRequest& r = w.saveDialog.lastRequest;
    EXPECT_EQ(
        std::tie(r.title, r.filter, r.filterIndex, r.initialFolder, r.flags),
        std::make_tuple("另存为", "种子文件(*.torrent)|*.torrent;所有文件(*.*)|*.*", 0, "", 6));
}

TEST(BatchTest, FailedFetchesFollowShowErrAndTheBatchGoesOn) {
    for (const std::string onError : {"msg", "ignore"}) {
        World w;
        w.settings.values = {{"onFinish", "none"}, {"onStart", "/d"}, {"onError", onError}};
        w.downloader.decide = [](const FetchRequest& r) {
            // A download the user cancelled ends its link without a word.
            return r.infoHash.starts_with("BA")   ? FetchError::HttpStatus
                   : r.infoHash.starts_with("CC") ? FetchError::Cancelled
                                                  : FetchError::None;
        };
        w.Run(Link(Hash("BA", "AD")) + Link(Hash("CC", "CC"), "&dn=c") + Link(Hash("60", "0D")));
        const std::string bad = " -> /d/" + Hash("BA", "AD") + ".torrent";
        Events expected = {"fetch m1/BA/AD" + bad, "fetch m2/AD" + bad, "fetch m3/AD" + bad};
        if (onError == "msg")
            expected.push_back("message 种子获取失败");
        expected.push_back("fetch m1/CC/CC -> /d/c.torrent");
        expected.push_back("fetch m1/60/0D -> /d/" + Hash("60", "0D") + ".torrent");
        EXPECT_EQ(w.journal.events, expected);
    }
}

TEST(BatchTest, PromptAnswerHoldsForTheRestOfTheBatch) {
    World w;
    w.settings.values = {{"onStart", "/d"}, {"fileName", "btih"}};
    const std::string a1 = Hash("A1", "A1"), a2 = Hash("A2", "A2");
    const std::string f1 = "fetch m1/A1/A1 -> /d/" + a1 + ".torrent";
    const std::string f2 = "fetch m1/A2/A2 -> /d/" + a2 + ".torrent";
    // Closed without an answer: nothing happens and the next link asks again.
    w.prompt.answers = {{"", false}, {"poi", false}, {"open", true}};
    w.Run(Link(a1) + Link(a2) + Link(a1));
    EXPECT_EQ(w.journal.events, (Events{f1, "prompt", f2, "prompt", "reveal /d/" + a2 + ".torrent",
                                        f1, "reveal /d/" + a1 + ".torrent"}));
    EXPECT_EQ(w.settings.values.count("onFinish"), 0u);
    // The next batch starts from the stored "select" again; a remembered answer is stored and
    // the batch after does not ask. An action of no known name does nothing.
    w.journal.events.clear();
    w.Run(Link(a1));
    w.Run(Link(a2));
    w.settings.values["onFinish"] = "Open";
    w.Run(Link(a2));
    EXPECT_EQ(w.journal.events, (Events{f1, "prompt", "open /d/" + a1 + ".torrent", f2,
                                        "open /d/" + a2 + ".torrent", f2}));
}

TEST(BatchTest, OptionsAreReloadedAtEveryBatch) {
    World w;
    const std::string ab = Hash("AB", "AB");
    w.settings.values = {{"onFinish", "none"}, {"onStart", "/one"}, {"fileName", "btih"}};
    w.Run(Link(ab, "&dn=..%2F..%2F.bashrc"));
    w.settings.values = {{"onFinish", "none"}, {"onStart", "/two"}};
    w.Run(Link(ab, "&dn=..%2F..%2F.bashrc"));
    EXPECT_EQ(w.journal.events, (Events{"fetch m1/AB/AB -> /one/" + ab + ".torrent",
                                        "fetch m1/AB/AB -> /two/.._.._.bashrc.torrent"}));
}

}  // namespace
}  // namespace velindra

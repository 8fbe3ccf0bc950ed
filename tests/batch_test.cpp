#include <gtest/gtest.h>

#include "fakes.h"

namespace velindra {
namespace {

using testing::World;
using Events = std::vector<std::string>;

TEST(BatchTest, NoLinkSaysSoAndReadsNoSetting) {
    for (const char* text : {"", "xt=urn:btih:ABC", "MAGNET:?xt=urn:btih:ABC"}) {
        World w;
        w.Run(text);
        EXPECT_EQ(w.journal.events, Events{"message 没有链接"}) << text;
        EXPECT_EQ(w.settings.reads, 0);
        EXPECT_EQ(w.options.selection, "");
    }
}

TEST(BatchTest, FirstRunUsesDefaults) {
    World w;
    w.Run("magnet:?nothing");
    EXPECT_EQ(w.options.selection, "select");
    EXPECT_EQ(w.options.basePath, "");
    EXPECT_TRUE(w.options.showErr);
    EXPECT_TRUE(w.options.usedn);
}

TEST(BatchTest, OptionsComparisonsAreExact) {
    struct Case {
        std::string onError, fileName;
        bool showErr, usedn;
    };
    for (const auto& c : std::vector<Case>{{"ignore", "btih", false, false},
                                           {"Ignore", "BTIH", true, true},
                                           {"", "", true, true},
                                           {"msg", "dn", true, true}}) {
        World w;
        w.settings.values = {{"onFinish", "Open"},
                             {"onError", c.onError},
                             {"onStart", "/srv"},
                             {"fileName", c.fileName}};
        w.Run("magnet:?x");
        EXPECT_EQ(w.options.selection, "Open");
        EXPECT_EQ(w.options.basePath, "/srv");
        EXPECT_EQ(w.options.showErr, c.showErr);
        EXPECT_EQ(w.options.usedn, c.usedn);
    }
}

TEST(BatchTest, ParseFailuresAreReportedOnlyWhenAsked) {
    World loud;
    loud.Run("magnet:?magnet:?dn=x");
    EXPECT_EQ(loud.journal.events, (Events{"message 分析失败", "message 分析失败"}));

    World quiet;
    quiet.settings.values["onError"] = "ignore";
    quiet.Run("magnet:?magnet:?dn=x");
    EXPECT_TRUE(quiet.journal.events.empty());
}

TEST(BatchTest, SaveFolderFlowWithOpen) {
    World w;
    w.settings.values = {{"onFinish", "open"}, {"onStart", "/srv/seeds/"}};
    w.Run("magnet:?xt=urn:btih:ABCDEF&dn=My+Show\r\nmagnet:?xt=urn:btih:0011&dn=%E4%B8%AD");
    EXPECT_EQ(w.journal.events, (Events{"fetch m1/AB/EF/ABCDEF -> /srv/seeds/My Show.torrent",
                                        "open /srv/seeds/My Show.torrent",
                                        "fetch m1/00/11/0011 -> /srv/seeds/中.torrent",
                                        "open /srv/seeds/中.torrent"}));
}

TEST(BatchTest, SaveDialogConfirmedOrCancelled) {
    World w;
    w.settings.values = {{"onFinish", "poi"}};
    w.saveDialog.answers = {std::nullopt, std::string("/home/u/chosen")};
    w.Run("magnet:?xt=urn:btih:AA&dn=first magnet:?xt=urn:btih:BB&dn=second");
    // The first link keeps the space before the next marker in its name.
    EXPECT_EQ(w.journal.events,
              (Events{"save-as first .torrent", "save-as second.torrent",
                      "fetch m1/BB/BB/BB -> /home/u/chosen", "reveal /home/u/chosen"}));
    EXPECT_EQ(w.saveDialog.lastRequest.title, "另存为");
    EXPECT_EQ(w.saveDialog.lastRequest.filter, "种子文件(*.torrent)|*.torrent;所有文件(*.*)|*.*");
    EXPECT_EQ(w.saveDialog.lastRequest.filterIndex, 0);
    EXPECT_EQ(w.saveDialog.lastRequest.initialFolder, "");
    EXPECT_EQ(w.saveDialog.lastRequest.flags, 6);
}

TEST(BatchTest, FailedFetchesFollowShowErrAndTheBatchGoesOn) {
    for (bool quiet : {false, true}) {
        World w;
        w.settings.values = {{"onFinish", "none"}, {"onStart", "/d"}};
        if (quiet)
            w.settings.values["onError"] = "ignore";
        w.downloader.decide = [](const FetchRequest& r) {
            return r.infoHash == "BAD" ? FetchError::HttpStatus : FetchError::None;
        };
        w.Run("magnet:?xt=urn:btih:BAD&x magnet:?xt=urn:btih:GOOD&x");
        Events expected = {"fetch m1/BA/AD/BAD -> /d/BAD.torrent", "fetch m2/BAD -> /d/BAD.torrent",
                           "fetch m3/BAD -> /d/BAD.torrent"};
        if (!quiet)
            expected.push_back("message 种子获取失败");
        expected.push_back("fetch m1/GO/OD/GOOD -> /d/GOOD.torrent");
        EXPECT_EQ(w.journal.events, expected);
    }
}

TEST(BatchTest, CancelledDownloadSkipsSilently) {
    World w;
    w.settings.values = {{"onFinish", "open"}, {"onStart", "/d"}};
    w.downloader.decide = [](const FetchRequest&) { return FetchError::Cancelled; };
    w.Run("magnet:?xt=urn:btih:AA&x");
    EXPECT_EQ(w.journal.events, Events{"fetch m1/AA/AA/AA -> /d/AA.torrent"});
}

TEST(BatchTest, PromptAnswerHoldsForTheRestOfTheBatch) {
    World w;
    w.settings.values = {{"onStart", "/d"}};
    w.prompt.answers = {{"poi", false}};
    w.Run("magnet:?xt=urn:btih:A1&x magnet:?xt=urn:btih:A2&x");
    EXPECT_EQ(w.journal.events,
              (Events{"fetch m1/A1/A1/A1 -> /d/A1.torrent", "prompt", "reveal /d/A1.torrent",
                      "fetch m1/A2/A2/A2 -> /d/A2.torrent", "reveal /d/A2.torrent"}));
    EXPECT_EQ(w.settings.values.count("onFinish"), 0u);

    // The next batch starts again from the stored "select".
    w.journal.events.clear();
    w.prompt.answers = {{"open", true}};
    w.prompt.next = 0;
    w.Run("magnet:?xt=urn:btih:A3&x");
    EXPECT_EQ(w.journal.events,
              (Events{"fetch m1/A3/A3/A3 -> /d/A3.torrent", "prompt", "open /d/A3.torrent"}));
    EXPECT_EQ(w.settings.values["onFinish"], "open");

    // Remembered: the following batch does not ask.
    w.journal.events.clear();
    w.Run("magnet:?xt=urn:btih:A4&x");
    EXPECT_EQ(w.journal.events,
              (Events{"fetch m1/A4/A4/A4 -> /d/A4.torrent", "open /d/A4.torrent"}));
}

TEST(BatchTest, PromptClosedWithoutAnswerAsksAgain) {
    World w;
    w.settings.values = {{"onStart", "/d"}};
    w.prompt.answers = {{"", false}, {"none", false}};
    w.Run("magnet:?xt=urn:btih:A1&x magnet:?xt=urn:btih:A2&x magnet:?xt=urn:btih:A3&x");
    EXPECT_EQ(w.journal.events, (Events{"fetch m1/A1/A1/A1 -> /d/A1.torrent", "prompt",
                                        "fetch m1/A2/A2/A2 -> /d/A2.torrent", "prompt",
                                        "fetch m1/A3/A3/A3 -> /d/A3.torrent"}));
    EXPECT_EQ(w.options.selection, "none");
}

TEST(BatchTest, UnknownFinishActionDoesNothing) {
    World w;
    w.settings.values = {{"onFinish", "Open"}, {"onStart", "/d"}};
    w.Run("magnet:?xt=urn:btih:A1&x");
    EXPECT_EQ(w.journal.events, Events{"fetch m1/A1/A1/A1 -> /d/A1.torrent"});
}

TEST(BatchTest, OptionsAreReloadedAtEveryBatch) {
    World w;
    w.settings.values = {{"onFinish", "none"}, {"onStart", "/one"}, {"fileName", "btih"}};
    w.Run("magnet:?xt=urn:btih:AB&dn=name");
    w.settings.values = {{"onFinish", "none"}, {"onStart", "/two"}};
    w.Run("magnet:?xt=urn:btih:AB&dn=name");
    EXPECT_EQ(w.journal.events, (Events{"fetch m1/AB/AB/AB -> /one/AB.torrent",
                                        "fetch m1/AB/AB/AB -> /two/name.torrent"}));
}

TEST(BatchTest, TraversalNamesStayInTheFolder) {
    World w;
    w.settings.values = {{"onFinish", "none"}, {"onStart", "/d"}};
    w.Run("magnet:?xt=urn:btih:AB&dn=..%2F..%2F.bashrc");
    EXPECT_EQ(w.journal.events, Events{"fetch m1/AB/AB/AB -> /d/.._.._.bashrc.torrent"});
}

}  // namespace
}  // namespace velindra

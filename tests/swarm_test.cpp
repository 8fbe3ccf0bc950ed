// The network source against a seeding session on 127.0.0.1; no DHT, local discovery or port
// mapping, so nothing leaves the machine.
#include <gtest/gtest.h>

#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/settings_pack.hpp>

#include "curl_downloader.h"
#include "fetch.h"
#include "swarm_source.h"
#include "swarm_support.h"
#include "test_support.h"
#include "torrent.h"

namespace lt = libtorrent;

namespace velindra {
namespace {

using testing::TempDir;

SwarmLimits LoopbackLimits() {
    SwarmLimits limits;
    limits.perLinkMs = 20'000;
    limits.unreachableMs = 8'000;
    limits.dht = false;
    limits.localDiscovery = false;
    limits.portMapping = false;
    limits.listenInterfaces = "127.0.0.1:0";
    return limits;
}

class SwarmTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const auto& name : out.Entries()) {
            EXPECT_FALSE(name.ends_with(".part")) << name;
        }
    }
    FetchRequest Request(const std::string& hash, const std::string& link,
                         const std::string& dest) {
        FetchRequest r;
        r.infoHash = hash;
        r.magnet = link;
        r.destination = dest;
        r.mirror = 4;
        return r;
    }
    testing::LoopbackSeeder seeder;
    TempDir out;
};

TEST_F(SwarmTest, WhenEveryMirrorFailsTheFileComesFromThePeers) {
    std::string info;
    const std::string hash = seeder.Seed("content.bin", 100 * 1024, &info);
    const std::string link = "xt=urn:btih:" + hash + "&dn=content&x.pe=" + seeder.Peer();
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(testing::RefusingPort()) + "/{hash}.torrent";
    CurlDownloader web;
    SwarmSource network(LoopbackLimits());
    SourceRouter router(web, &network);
    const MirrorOutcome outcome =
        FetchFromMirrors(hash, out / "content.torrent", router, {refused, refused, refused}, link);
    ASSERT_TRUE(outcome.ok) << outcome.last().detail;
    EXPECT_EQ(outcome.mirror, 4);
    const std::string body = testing::ReadFile(out / "content.torrent");
    ASSERT_TRUE(FindInfoDictionary(body).has_value());
    EXPECT_EQ(std::string(*FindInfoDictionary(body)), info);
    EXPECT_EQ(out.Entries(), std::set<std::string>{"content.torrent"});
}

TEST_F(SwarmTest, Base32LinksAndTrackersCarriedIntoTheFile) {
    std::string info;
    const std::string hash = seeder.Seed("b32.bin", 20 * 1024, &info);
    const std::string base32 = testing::Base32(*InfoHashBytes(hash));
    SwarmSource network(LoopbackLimits());
    const std::string link = "xt=urn:btih:" + base32 + "&tr=http%3A%2F%2F127.0.0.1%3A9%2Fannounce" +
                             "&tr=udp%3A%2F%2F127.0.0.1%3A9&x.pe=" + seeder.Peer();
    const FetchResult result = network.Fetch(Request(base32, link, out / "b.torrent"));
    ASSERT_TRUE(result.ok()) << result.detail;
    const std::string body = testing::ReadFile(out / "b.torrent");
    EXPECT_EQ(body,
              "d8:announce27:http://127.0.0.1:9/announce13:announce-listll27:http://"
              "127.0.0.1:9/announceel17:udp://127.0.0.1:9ee4:info" +
                  info + "e");
}

TEST_F(SwarmTest, GivesUpQuicklyWhenNoPeerCanBeReached) {
    const std::string hash = seeder.Seed("lonely.bin", 1024);
    SwarmLimits limits = LoopbackLimits();
    limits.unreachableMs = 2'000;
    SwarmSource network(limits);
    const auto started = std::chrono::steady_clock::now();
    const FetchResult result = network.Fetch(Request(
        hash, "xt=urn:btih:" + hash + "&x.pe=127.0.0.1:" + std::to_string(testing::RefusingPort()),
        out / "x.torrent"));
    EXPECT_EQ(result.error, FetchError::NoConnection) << result.detail;
    EXPECT_NE(result.detail.find("could not be reached"), std::string::npos) << result.detail;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(6));
    EXPECT_TRUE(out.Entries().empty());
}

TEST_F(SwarmTest, CancelEndsTheLinkAndLeavesNoFiles) {
    const std::string hash = seeder.Seed("c.bin", 1024);
    SwarmLimits limits = LoopbackLimits();
    limits.unreachableMs = 60'000;
    SwarmSource network(limits);
    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel = true;
    });
    FetchRequest r = Request(hash, "xt=urn:btih:" + hash, out / "c.torrent");
    r.cancel = &cancel;
    const auto started = std::chrono::steady_clock::now();
    const FetchResult result = network.Fetch(r);
    canceller.join();
    EXPECT_EQ(result.error, FetchError::Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    EXPECT_TRUE(out.Entries().empty());
}

TEST_F(SwarmTest, SeveralLinksShareOneSession) {
    std::vector<std::string> hashes;
    for (int i = 0; i < 3; ++i)
        hashes.push_back(seeder.Seed("f" + std::to_string(i), 4096));
    SwarmSource network(LoopbackLimits());
    EXPECT_EQ(network.sessionsStarted(), 0);  // started only when a link needs it
    std::vector<std::thread> threads;
    std::atomic<int> saved{0};
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([&, i] {
            const auto r = network.Fetch(
                Request(hashes[i], "xt=urn:btih:" + hashes[i] + "&x.pe=" + seeder.Peer(),
                        out / ("f" + std::to_string(i) + ".torrent")));
            if (r.ok())
                ++saved;
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(saved, 3);
    EXPECT_EQ(network.sessionsStarted(), 1);
}

TEST_F(SwarmTest, DhtStateIsKeptBetweenRunsAndACorruptOneIsIgnored) {
    SwarmLimits limits = LoopbackLimits();
    limits.dht = true;
    limits.dhtBootstrapNodes = "";  // nothing leaves the machine
    limits.stateFile = out / "cache/velindra/swarm-state";
    const auto savedNodeIds = [&] {
        const std::string bytes = testing::ReadFile(limits.stateFile);
        const lt::session_params saved = lt::read_session_params(
            lt::span<const char>(bytes.data(), static_cast<long>(bytes.size())),
            lt::session::save_dht_state);
        std::vector<std::string> ids;
        for (const auto& [address, id] : saved.dht_state.nids)
            ids.push_back(id.to_string());
        return ids;
    };
    {
        SwarmSource network(limits);
        network.Warm();
        EXPECT_EQ(network.sessionsStarted(), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    EXPECT_FALSE(savedNodeIds().empty());
    testing::WriteFile(limits.stateFile, "d9:dht statei-e");
    {
        SwarmSource network(limits);
        network.Warm();
        EXPECT_EQ(network.sessionsStarted(), 1);
    }
    EXPECT_FALSE(savedNodeIds().empty());  // written afresh
}

TEST_F(SwarmTest, MalformedHashesAreNotHandedToTheNetwork) {
    SwarmSource network(LoopbackLimits());
    for (const std::string& hash :
         {std::string("ABCDEF"), std::string(40, 'z'), std::string(39, 'a')}) {
        EXPECT_EQ(network.Fetch(Request(hash, "xt=urn:btih:" + hash, out / "m.torrent")).error,
                  FetchError::Other);
    }
    EXPECT_EQ(network.sessionsStarted(), 0);
}

}  // namespace
}  // namespace velindra

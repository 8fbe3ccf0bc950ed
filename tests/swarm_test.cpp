// The network source against a seeding session on 127.0.0.1; no DHT, local discovery or port
// mapping, so nothing leaves the machine. The fall-back from the mirrors is run end to end by
// the command-line and window tests.
#include <gtest/gtest.h>

#include "swarm_source.h"
#include "swarm_support.h"

namespace velindra {
namespace {

using Clock = std::chrono::steady_clock;

class SwarmTest : public ::testing::Test {
  protected:
    void SetUp() override {
        limits.perLinkMs = 20'000;
        limits.unreachableMs = 8'000;
        limits.dht = false;
        limits.listenInterfaces = "127.0.0.1:0";
    }
    void TearDown() override {
        for (const auto& name : out.Entries())
            EXPECT_FALSE(name.ends_with(".part")) << name;
    }
    FetchResult Fetch(SwarmSource& network, const std::string& hash, const std::string& rest,
                      const std::atomic<bool>* cancel = nullptr) {
        FetchRequest r;
        r.infoHash = hash;
        r.magnet = "xt=urn:btih:" + hash + rest;
        r.destination = out / (hash.substr(0, 4) + ".torrent");
        r.mirror = 4;
        r.cancel = cancel;
        return network.Fetch(r);
    }
    testing::LoopbackSeeder seeder;
    testing::TempDir out;
    SwarmLimits limits;
};

// The saved file is the peers' info dictionary under the link's own trackers.
TEST_F(SwarmTest, Base32LinkGetsTheInfoDictionaryWithItsTrackers) {
    std::string info;
    const std::string hash = seeder.Seed("b32.bin", 20 * 1024, &info);
    const std::string base32 = testing::Base32(*InfoHashBytes(hash));
    SwarmSource network(limits);
    const FetchResult result =
        Fetch(network, base32,
              "&tr=http%3A%2F%2F127.0.0.1%3A9%2Fannounce&tr=udp%3A%2F%2F127.0.0.1%3A9&x.pe=" +
                  seeder.Peer());
    ASSERT_TRUE(result.ok()) << result.detail;
    EXPECT_EQ(testing::ReadFile(out / (base32.substr(0, 4) + ".torrent")),
              "d8:announce27:http://127.0.0.1:9/announce13:announce-listll27:http://"
              "127.0.0.1:9/announceel17:udp://127.0.0.1:9ee4:info" +
                  info + "e");
}

TEST_F(SwarmTest, GivesUpQuicklyWhenNoPeerCanBeReachedAndNeverForBadHashes) {
    const std::string hash = seeder.Seed("lonely.bin", 1024);
    limits.unreachableMs = 2'000;
    SwarmSource network(limits);
    for (const std::string& bad : {std::string("ABCDEF"), std::string(40, 'z')})
        EXPECT_EQ(Fetch(network, bad, "").error, FetchError::Other);
    EXPECT_EQ(network.sessionsStarted(), 0);
    const auto started = Clock::now();
    const FetchResult result =
        Fetch(network, hash, "&x.pe=127.0.0.1:" + std::to_string(testing::RefusingPort()));
    EXPECT_EQ(result.error, FetchError::NoConnection) << result.detail;
    EXPECT_NE(result.detail.find("could not be reached"), std::string::npos) << result.detail;
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(6));
    EXPECT_TRUE(out.Entries().empty());
}

TEST_F(SwarmTest, CancelEndsTheLinkAtOnce) {
    const std::string hash = seeder.Seed("c.bin", 1024);
    limits.unreachableMs = 60'000;
    SwarmSource network(limits);
    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel = true;
    });
    const auto started = Clock::now();
    EXPECT_EQ(Fetch(network, hash, "", &cancel).error, FetchError::Cancelled);
    canceller.join();
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
    EXPECT_TRUE(out.Entries().empty());
}

TEST_F(SwarmTest, ParallelLinksShareOneSession) {
    std::vector<std::string> hashes;
    for (const char* name : {"f0", "f1", "f2"})
        hashes.push_back(seeder.Seed(name, 4096));
    SwarmSource network(limits);
    std::vector<std::thread> threads;
    std::atomic<int> saved{0};
    for (const std::string& hash : hashes)
        threads.emplace_back(
            [&, hash] { saved += Fetch(network, hash, "&x.pe=" + seeder.Peer()).ok(); });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(saved, 3);
    EXPECT_EQ(network.sessionsStarted(), 1);
}

// The DHT's routing table is saved when the session closes; a corrupt file is ignored and
// written afresh.
TEST_F(SwarmTest, DhtStateIsKeptBetweenRunsAndACorruptOneIsIgnored) {
    limits.dht = true;
    limits.dhtBootstrapNodes = "";  // nothing leaves the machine
    limits.stateFile = out / "cache/velindra/swarm-state";
    const auto savedNodeIds = [&] {
        const std::string bytes = testing::ReadFile(limits.stateFile);
        const lt::session_params saved = lt::read_session_params(
            lt::span<const char>(bytes.data(), static_cast<long>(bytes.size())),
            lt::session::save_dht_state);
        return saved.dht_state.nids;
    };
    const auto run = [&] {
        SwarmSource network(limits);
        network.Warm();
        EXPECT_EQ(network.sessionsStarted(), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    };
    for (const char* before : {"", "d9:dht statei-e"}) {
        if (*before)
            testing::WriteFile(limits.stateFile, before);
        run();
        EXPECT_FALSE(savedNodeIds().empty()) << before;
    }
}

}  // namespace
}  // namespace velindra

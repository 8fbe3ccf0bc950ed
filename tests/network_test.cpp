// The network source against seeding sessions on loopback: nothing leaves the machine. The
// fall-back from the mirrors is run end to end by the command-line and window tests.
#include <gtest/gtest.h>

#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <sstream>

#include "bench/loopback_seeder.h"
#include "platform/network_source.h"
#include "platform/reachability.h"
#include "platform/retry_wait.h"
#include "tests/test_support.h"

namespace velindra {
namespace {

namespace lt = libtorrent;

class NetworkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        limits.listenInterfaces = "127.0.0.1:0";
        limits.dhtBootstrapNodes = "";
        limits.allowPrivateAddresses = true;  // the seeders are on this machine
    }
    FetchResult Fetch(NetworkSource& network, const LinkHashes& hashes, const std::string& link,
                      const std::string& name, const std::atomic<bool>* cancel = nullptr) {
        FetchRequest r;
        r.hashes = hashes;
        r.source = SourceKind::Network;
        r.link = link;
        r.destination = out / (name + ".torrent");
        r.cancel = cancel;
        return testing::Committed(network.Fetch(r));
    }
    // A v1 link, its file named after the hash's first digits.
    FetchResult Fetch(NetworkSource& network, const std::string& hash, const std::string& rest,
                      const std::atomic<bool>* cancel = nullptr) {
        return Fetch(network, *ReadLinkHashes(hash, ""), "magnet:?xt=urn:btih:" + hash + rest,
                     hash.substr(0, 4), cancel);
    }
    testing::TempDir seeds, out;
    seeding::LoopbackSeeder seeder{seeds.path()};
    NetworkLimits limits;
};

// Links running at once share one session. The saved file is the peers' info dictionary under
// the link's own trackers; a link without peers that the user cancels ends at once.
TEST_F(NetworkTest, ParallelLinksShareOneSessionAndCancelEndsALinkAtOnce) {
    std::string info;
    const std::string hash = seeder.Seed("b32.bin", 20 * 1024, &info);
    const std::string base32 = testing::Base32(*InfoHashBytes(hash));
    NetworkSource network(limits);
    const std::string peer = "&x.pe=" + seeder.Peer();
    const std::vector<std::pair<std::string, std::string>> links = {
        {base32, "&tr=http%3A%2F%2F127.0.0.1%3A9%2Fannounce&tr=udp%3A%2F%2F127.0.0.1%3A9" + peer},
        {seeder.Seed("o", 1), peer},
        {seeder.Seed("cancelled", 1), ""}};
    std::vector<FetchResult> results(links.size());
    std::atomic<bool> cancel{false};
    std::vector<std::thread> threads;
    const auto started = std::chrono::steady_clock::now();
    for (size_t i = 0; i < links.size(); ++i) {
        threads.emplace_back([&, i] {
            results[i] =
                Fetch(network, links[i].first, links[i].second, i == 2 ? &cancel : nullptr);
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    cancel = true;
    for (auto& t : threads)
        t.join();
    EXPECT_TRUE(results[0].ok() && results[1].ok()) << results[0].detail << results[1].detail;
    EXPECT_EQ(testing::ReadFile(out / (base32.substr(0, 4) + ".torrent")),
              "d8:announce27:http://127.0.0.1:9/announce13:announce-listll27:http://"
              "127.0.0.1:9/announceel17:udp://127.0.0.1:9ee4:info" +
                  info + "e");
    EXPECT_EQ(results[2].error, FetchError::Cancelled) << results[2].detail;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    // A torrent received earlier in the run is answered from it, dialling nobody again.
    testing::CountingListener nobody;
    EXPECT_TRUE(
        Fetch(network, links[1].first, "&x.pe=127.0.0.1:" + std::to_string(nobody.port())).ok());
    EXPECT_EQ(nobody.connections(), 0);
    EXPECT_EQ(out.Entries().size(), 2u);
    EXPECT_EQ(network.sessionsStarted(), 1);
}

// Without leave to reach private addresses, a peer or tracker on this machine that a link names
// is never contacted, and the failure names them (a tracker by its host and port alone: a
// private tracker's passkey is the user's secret); with it, both are asked. The tracker's
// address carries credentials, which are never sent.
TEST_F(NetworkTest, PeersAndTrackersOnThisMachine) {
    testing::LoopbackServer tracker;
    std::atomic<int> announces{0};
    std::atomic<bool> credentials{false};
    tracker.server.Get("/announce/.*", [&](const httplib::Request& q, httplib::Response& r) {
        ++announces;
        credentials = credentials || q.has_header("Authorization");
        r.status = 404;
    });
    tracker.Start();
    testing::CountingListener peer;
    const std::string rest = "&tr=http%3A%2F%2Fuser%3Asecret%40" +
                             tracker.Url("/announce/5ecre7").substr(7) + "%3Fpasskey%3D5ecre7" +
                             "&x.pe=127.0.0.1:" + std::to_string(peer.port());
    limits.perLinkMs = 2000;
    limits.unreachableMs = 2000;
    limits.dht = false;
    for (const bool allowed : {false, true}) {
        limits.allowPrivateAddresses = allowed;
        NetworkSource network(limits);
        const FetchResult result = Fetch(network, std::string(40, allowed ? 'b' : 'a'), rest);
        EXPECT_FALSE(result.ok());
        EXPECT_EQ(announces > 0, allowed);
        EXPECT_EQ(peer.connections() > 0, allowed);
        if (!allowed) {  // said at once, naming both, as for a web address of the link's
            EXPECT_EQ(result.error, FetchError::PrivateAddress);
            EXPECT_EQ(result.detail,
                      "127.0.0.1:" + std::to_string(peer.port()) + ", " + tracker.Url("/…"));
        }
    }
    EXPECT_FALSE(credentials);
}

// A link that got nothing says what each of its trackers answered: an HTTP error, a failure
// reason, an answer larger than any tracker's, none within the link's bound, no connection.
// Every one is asked, at whatever path the link names.
TEST_F(NetworkTest, TheReasonSaysWhatEachTrackerAnswered) {
    testing::LoopbackServer trackers;
    for (const auto& [path, status, body, waitMs] :
         std::vector<std::tuple<std::string, int, std::string, int>>{
             {"/missing/announce", 404, "", 0},
             {"/refusing/announce", 200, "d14:failure reason12:unregisterede", 0},
             {"/huge/announce", 200, std::string(2u << 20, 'x'), 0},
             {"/silent/announce", 200, "", 4000}}) {
        trackers.server.Get(path, [=](const httplib::Request&, httplib::Response& r) {
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
            r.status = status;
            r.set_content(body, "text/plain");
        });
    }
    trackers.Start();
    const std::string shown = trackers.Url("/…");
    const std::vector<std::pair<std::string, TrackerAnswer>> cases = {
        {trackers.Url("/missing/announce"), {shown, Fact::TrackerHttpStatus, 404}},
        {trackers.Url("/refusing/announce"), {shown, Fact::TrackerRefused, 0}},
        {trackers.Url("/huge/announce"), {shown, Fact::TrackerTooLarge, 0}},
        {trackers.Url("/silent/announce"), {shown, Fact::TrackerNoAnswer, 0}},
        {"http://127.0.0.1:9/announce", {"http://127.0.0.1:9/…", Fact::TrackerUnreachable, 0}},
    };
    std::string rest;
    std::vector<TrackerAnswer> expected;
    for (const auto& [url, said] : cases) {
        for (const char c : "&tr=" + url)
            rest += c == ':' ? "%3A" : c == '/' ? "%2F" : std::string(1, c);
        expected.push_back(said);
    }
    limits.perLinkMs = 2500;
    limits.dht = false;
    NetworkSource network(limits);
    const FetchResult result = Fetch(network, std::string(40, 'c'), rest);
    EXPECT_EQ(result.error, FetchError::NoConnection) << result.detail;
    EXPECT_EQ(result.trackerAnswers, expected);
}

// A v2-only link: its metadata is asked for and checked by the SHA-256 hash, and saved as a
// torrent that libtorrent loads although it has no "piece layers" (a client asks its peers for
// them).
TEST_F(NetworkTest, V2OnlyLinkIsFetchedAndCheckedByItsSha256) {
    std::string info;
    const std::string v2 = seeder.Seed("v2.bin", 40 * 1024, &info, true);
    NetworkSource network(limits);
    const FetchResult result =
        Fetch(network, *ReadLinkHashes("", v2),
              "magnet:?xt=urn:btmh:1220" + v2 + "&x.pe=" + seeder.Peer(), "v2");
    ASSERT_TRUE(result.ok()) << result.detail;
    const std::string body = testing::ReadFile(out / "v2.torrent");
    lt::error_code ec;
    const lt::torrent_info loaded(body.data(), static_cast<int>(body.size()), ec);
    ASSERT_FALSE(ec) << ec.message();
    std::ostringstream hash;
    hash << loaded.info_hashes().v2;
    EXPECT_EQ(hash.str(), v2);
    EXPECT_EQ(std::string(loaded.info_section().data(), loaded.info_section().size()), info);
    EXPECT_EQ(body.find("piece layers"), std::string::npos);
}

// A link with 20,000 trackers (a hostile page's) is taken with the first hundred only: it is
// fetched as quickly as any other, and the saved torrent names no more than those.
TEST_F(NetworkTest, ALinkWithThousandsOfTrackersTakesTheFirstHundred) {
    const std::string hash = seeder.Seed("many.bin", 1024);
    std::string trackers;
    for (int i = 0; i < 20'000; ++i)
        trackers += "&tr=http%3A%2F%2F127.0.0.1%3A9%2F" + std::to_string(i);
    NetworkSource network(limits);
    const auto started = std::chrono::steady_clock::now();
    const FetchResult result = Fetch(network, hash, trackers + "&x.pe=" + seeder.Peer());
    ASSERT_TRUE(result.ok()) << result.detail;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    const std::string body = testing::ReadFile(out / (hash.substr(0, 4) + ".torrent"));
    EXPECT_NE(body.find("http://127.0.0.1:9/99e"), std::string::npos);
    EXPECT_EQ(body.find("http://127.0.0.1:9/100e"), std::string::npos);
}

// Only what this run tried is skipped. With no DHT, a link whose only peer and tracker refuse
// fails at once, without waiting out its bound; with a DHT no node answers, once the DHT has
// been silent for that bound. A link right after that names nothing but the dead ones fails at
// once too; a link whose peer is alive is still asked and saved.
TEST_F(NetworkTest, ADeadLinkFailsAloneAndLaterLinksAreStillAsked) {
    const std::string live = seeder.Seed("alive.bin", 2048);
    const std::string dead =
        "&tr=http%3A%2F%2F127.0.0.1%3A" + std::to_string(testing::RefusingPort()) +
        "%2Fannounce&x.pe=127.0.0.1:" + std::to_string(testing::RefusingPort());
    for (const bool dht : {false, true}) {
        limits.dht = dht;
        limits.dhtBootstrapNodes = dht ? "127.0.0.1:9" : "";  // a DHT router that never answers
        limits.unreachableMs = dht ? 5'000 : 20'000;
        NetworkSource network(limits);
        const auto timed = [&](const std::string& hash, const std::string& rest) {
            const auto started = std::chrono::steady_clock::now();
            const FetchResult result = Fetch(network, hash, rest);
            return std::pair{result, std::chrono::steady_clock::now() - started};
        };
        const auto [first, firstTime] = timed(std::string(40, '1'), dead);
        EXPECT_EQ(first.error, FetchError::NoConnection) << first.detail;
        EXPECT_LT(firstTime, std::chrono::seconds(dht ? 7 : 10)) << dht;
        // Not asked again, or (what failed first having waited out its moment) asked and
        // refused again: at once either way.
        const auto [again, againTime] = timed(std::string(40, '3'), dead);
        EXPECT_TRUE(again.error == FetchError::NotAskedAgain ||
                    again.error == FetchError::NoConnection)
            << again.detail;
        EXPECT_LT(againTime, std::chrono::seconds(1)) << dht;
        const auto [live1, _] = timed(live, "&x.pe=" + seeder.Peer());
        EXPECT_TRUE(live1.ok()) << dht << ": " << live1.detail;
    }
}

// More links than the library announces to at once by default (50), all named only by one
// tracker that hands out the seeder, all begun at once and waiting without a thread: each is
// saved.
TEST_F(NetworkTest, ManyLinksThroughOneTrackerAreAllAnnounced) {
    testing::LoopbackServer tracker;
    tracker.server.Get("/announce", [&](const httplib::Request&, httplib::Response& r) {
        const int port = seeder.Port();
        const std::string compact = {
            127, 0, 0, 1, static_cast<char>(port >> 8), static_cast<char>(port & 0xFF)};
        r.set_content("d8:intervali1800e5:peers6:" + compact + "e", "text/plain");
    });
    tracker.Start();
    limits.dht = false;
    limits.listenInterfaces = "0.0.0.0:0,[::]:0";  // an announce from each, as by default
    NetworkSource network(limits);
    std::vector<std::shared_ptr<PendingFetch>> waits;
    std::vector<FetchRequest> requests(80);
    for (size_t i = 0; i < requests.size(); ++i) {
        const std::string hash = seeder.Seed("t" + std::to_string(i), 1024);
        requests[i].hashes = *ReadLinkHashes(hash, "");
        requests[i].source = SourceKind::Network;
        requests[i].link = "magnet:?xt=urn:btih:" + hash + "&tr=" + tracker.Url("/announce");
        requests[i].destination = out / ("t" + std::to_string(i) + ".torrent");
        waits.push_back(network.Begin(requests[i]));
    }
    for (size_t i = 0; i < waits.size(); ++i) {
        const FetchResult result = testing::Committed(waits[i]->Take());
        EXPECT_TRUE(result.ok()) << i << ": " << result.detail;
    }
}

// Peers of every kind are reached: one that takes only uTP, one that takes only TCP, and one
// that takes both, each within a second or two on loopback.
TEST_F(NetworkTest, EveryKindOfPeerIsReached) {
    using Accepts = seeding::LoopbackSeeder::Accepts;
    limits.dht = false;
    NetworkSource network(limits);
    for (const Accepts accepts : {Accepts::UtpOnly, Accepts::TcpOnly, Accepts::Both}) {
        testing::TempDir folder;
        seeding::LoopbackSeeder peer(folder.path(), false, 0, accepts);
        const std::string hash = peer.Seed("kind" + std::to_string(int(accepts)), 4096);
        const auto started = std::chrono::steady_clock::now();
        const FetchResult result = Fetch(network, hash, "&x.pe=" + peer.Peer());
        EXPECT_TRUE(result.ok()) << int(accepts) << ": " << result.detail;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
    }
}

// A peer that could not be reached is dialled again for a new link once its wait has passed:
// here it refuses, a link right after is told it was not asked again, and once the peer is up
// (seeding the same torrent on the same port) a link after the wait is saved.
TEST_F(NetworkTest, APeerThatComesBackIsAskedAgain) {
    const int port = testing::RefusingPort();
    const std::string hash = seeder.Seed("back.bin", 4096);  // the same torrent as below
    const std::string rest = "&x.pe=127.0.0.1:" + std::to_string(port);
    limits.dht = false;
    NetworkSource network(limits);
    const FetchResult refused = Fetch(network, hash, rest);
    ASSERT_EQ(refused.error, FetchError::NoConnection) << refused.detail;
    const auto failed = std::chrono::steady_clock::now();
    EXPECT_EQ(Fetch(network, hash, rest).error, FetchError::NotAskedAgain);
    testing::TempDir folder;
    seeding::LoopbackSeeder back(folder.path(), false, port);
    ASSERT_EQ(back.Seed("back.bin", 4096), hash);
    std::this_thread::sleep_until(failed + RetryWait::kFirstWait + std::chrono::milliseconds(100));
    const FetchResult saved = Fetch(network, hash, rest);
    EXPECT_TRUE(saved.ok()) << saved.detail;
}

// A v2-only, a hybrid (both orders) and a v1 link of one hybrid torrent, at once: they share
// the look-up, whichever hash each names, and each gets the torrent.
TEST_F(NetworkTest, LinksOfOneTorrentByEitherHashShareTheLookUp) {
    std::string info, v2;
    const std::string v1 = seeder.Seed("hybrid.bin", 40 * 1024, &info, false, &v2);
    const std::string peer = "&x.pe=" + seeder.Peer();
    const std::vector<std::pair<LinkHashes, std::string>> links = {
        {*ReadLinkHashes("", v2), "xt=urn:btmh:1220" + v2},
        {*ReadLinkHashes(v1, v2), "xt=urn:btih:" + v1 + "&xt=urn:btmh:1220" + v2},
        {*ReadLinkHashes(v1, ""), "xt=urn:btih:" + v1},
        {*ReadLinkHashes(v1, v2), "xt=urn:btmh:1220" + v2 + "&xt=urn:btih:" + v1},
    };
    for (int round = 0; round < 3; ++round) {
        NetworkSource network(limits);
        std::vector<FetchResult> results(links.size());
        std::vector<std::thread> threads;
        for (size_t i = 0; i < links.size(); ++i) {
            threads.emplace_back([&, i] {
                results[i] = Fetch(network, links[i].first, "magnet:?" + links[i].second + peer,
                                   std::to_string(round) + std::to_string(i));
            });
        }
        for (auto& t : threads)
            t.join();
        for (size_t i = 0; i < links.size(); ++i) {
            EXPECT_TRUE(results[i].ok()) << round << " " << i << ": " << results[i].detail;
            EXPECT_EQ(FindInfoDictionary(testing::ReadFile(out / (std::to_string(round) +
                                                                  std::to_string(i) + ".torrent")))
                          .value_or(""),
                      info);
        }
    }
}

// A seeder as shipped, once it served this machine a hybrid torrent by its v2 hash, answers a
// later handshake by the v1 hash with the v2 hash: a later run (another session) that learnt
// the pair asks a v1 link by both hashes, and is served.
TEST_F(NetworkTest, AHybridSeenByItsV2HashIsAskedByBothLater) {
    testing::TempDir shippedSeeds;
    seeding::LoopbackSeeder shipped(shippedSeeds.path(), false, 0,
                                    seeding::LoopbackSeeder::Accepts::Both, "", true);
    std::string v2;
    const std::string v1 = shipped.Seed("pair.bin", 40 * 1024, nullptr, false, &v2);
    const std::string peer = "&x.pe=" + shipped.Peer();
    limits.stateFile = out / "state/swarm-state";
    limits.perLinkMs = 10'000;
    const std::vector<std::pair<LinkHashes, std::string>> runs = {
        {*ReadLinkHashes("", v2), "magnet:?xt=urn:btmh:1220" + v2 + peer},
        {*ReadLinkHashes(v1, ""), "magnet:?xt=urn:btih:" + v1 + peer},
        {*ReadLinkHashes(v1, ""), "magnet:?xt=urn:btih:" + v1 + peer},
    };
    for (size_t i = 0; i < runs.size(); ++i) {
        NetworkSource network(limits);
        const FetchResult result =
            Fetch(network, runs[i].first, runs[i].second, "r" + std::to_string(i));
        EXPECT_TRUE(result.ok()) << i << ": " << result.detail;  // checked by its hash
    }
}

// Through the DHT alone (no tracker, no peer address in the links): the first session
// bootstraps from the router; a later one, given no router at all, finds the network through
// the routing table the first one saved; a corrupt state file is ignored.
TEST_F(NetworkTest, DhtAloneFindsThePeersAndTheRoutingTableIsKeptBetweenRuns) {
    testing::TempDir dhtSeeds;
    seeding::LoopbackSeeder dht(dhtSeeds.path(), true);
    const std::string first = dht.Seed("d1.bin", 4096), second = dht.Seed("d2.bin", 4096);
    dht.WaitForAnnounces();
    limits.stateFile = out / "cache/velindra/swarm-state";
    limits.dhtBootstrapNodes = dht.Router();
    limits.unreachableMs = 8'000;  // room for a loaded machine: only the last run waits it out
    for (const std::string& hash : {first, second}) {
        NetworkSource network(limits);
        const FetchResult result = Fetch(network, hash, "");
        EXPECT_TRUE(result.ok()) << result.detail;
        limits.dhtBootstrapNodes = "";
    }
    testing::WriteFile(limits.stateFile, "d9:dht statei-e");
    NetworkSource network(limits);
    EXPECT_EQ(Fetch(network, first, "").error, FetchError::NoConnection);
}

// A DHT that cannot start (its router's name leads nowhere, nothing saved): the run's first
// link is told what was found for it, and names the private peer it was refused.
TEST_F(NetworkTest, TheFirstLinkIsToldWhatWasTriedForIt) {
    limits.dhtBootstrapNodes = "router.invalid:6881";
    limits.allowPrivateAddresses = false;
    limits.unreachableMs = 2000;
    limits.perLinkMs = 3000;
    NetworkSource network(limits);
    network.Warm();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the name has been looked up
    const FetchResult first = Fetch(network, std::string(40, 'c'), "&x.pe=10.0.0.5:6881");
    EXPECT_EQ(first.error, FetchError::PrivateAddress) << first.detail;
    EXPECT_EQ(first.detail, "10.0.0.5:6881");
}

// Two peers of one host are two peers: a dead port beside the seeder's takes nothing from it.
TEST_F(NetworkTest, APeerIsDialledWhateverAnotherPortOfItsHostDoes) {
    limits.dht = false;
    limits.perLinkMs = 8000;
    NetworkSource network(limits);
    const std::string hash = seeder.Seed("two-ports.bin", 4096);
    const FetchResult result = Fetch(network, hash, "&x.pe=" + seeder.Peer() + "&x.pe=127.0.0.1:9");
    EXPECT_TRUE(result.ok()) << result.detail;
}

// A warm start greets each host its state file names once, however often the file lists it:
// here one UDP socket on loopback, listed thousands of times, gets a few datagrams at most.
TEST_F(NetworkTest, AWarmStartGreetsEachSavedHostOnce) {
    lt::io_context io;
    lt::udp::socket victim(io, lt::udp::endpoint(lt::make_address("127.0.0.1"), 0));
    lt::session_params state;
    for (int i = 0; i < 5000; ++i) {
        state.dht_state.nodes.push_back(victim.local_endpoint());
        state.dht_state.nodes.emplace_back(lt::make_address("127.0.0.1"),
                                           static_cast<unsigned short>(20000 + i));
    }
    const std::vector<char> bytes =
        lt::write_session_params_buf(state, lt::session::save_dht_state);
    limits.stateFile = out / "swarm-state";
    testing::WriteFile(limits.stateFile, std::string(bytes.begin(), bytes.end()));
    limits.perLinkMs = 1500;
    {
        NetworkSource network(limits);
        EXPECT_FALSE(Fetch(network, std::string(40, 'e'), "").ok());
    }
    victim.non_blocking(true);
    int datagrams = 0;
    char buffer[2048];
    lt::udp::endpoint from;
    boost::system::error_code ec;
    while (victim.receive_from(boost::asio::buffer(buffer), from, 0, ec) > 0 || !ec)
        ++datagrams;
    EXPECT_LE(datagrams, 4);
}

// What a run found reachable, from made-up events of the session.
TEST(ReachabilityTest, WhatFailedIsNotAskedAgainUntilItsWaitHasPassed) {
    using Clock = Reachability::Clock;
    const Clock::time_point t0 = Clock::now();
    const auto at = [&](int ms) { return t0 + std::chrono::milliseconds(ms); };
    // Routers given by name only, none of whose names could be looked up: no network at all.
    Reachability reached(true, std::chrono::seconds(10), "router.invalid:6881", false, t0);
    const NetworkNames names{{"udp://t.example:80"}, {"203.0.113.5:6881"}};
    EXPECT_FALSE(reached.NothingLeftToAsk(names, at(0)));  // the DHT may still answer
    reached.RouterNameFailed();
    reached.Update(at(1));
    EXPECT_TRUE(reached.dhtOffline());
    // A tracker announced from two addresses is dead once both failed.
    reached.Announced(names.trackers[0]);
    reached.Announced(names.trackers[0]);
    reached.TrackerFailed(names.trackers[0], false, at(2));
    reached.PeerFailed(names.peers[0], at(2));
    // A new link asks the offline DHT once more, until its wait is known to last.
    EXPECT_FALSE(reached.NothingLeftToAsk(names, at(3), at(0)));
    reached.TrackerFailed(names.trackers[0], false, at(3));
    EXPECT_TRUE(reached.NothingLeftToAsk(names, at(4), at(0)));  // dead meanwhile
    EXPECT_TRUE(reached.NothingLeftToAsk(names, at(4)));
    ASSERT_TRUE(reached.Resting(names, at(4)));
    // Something it names that answered makes the link worth asking.
    const NetworkNames other{{"udp://t.example:80", "udp://u.example:80"}, {}};
    EXPECT_FALSE(reached.NothingLeftToAsk(other, at(4)));
    reached.TrackerAnswered(other.trackers[1]);
    reached.MarkTried(other, at(5));  // one that answered is not marked dead
    EXPECT_FALSE(reached.NothingLeftToAsk(other, at(6)));
    // A node turns up: the DHT is online again, and every link is worth asking.
    reached.DhtNodes(3, at(7));
    reached.Update(at(7));
    EXPECT_FALSE(reached.dhtOffline());
    EXPECT_FALSE(reached.NothingLeftToAsk(names, at(8)));
}

// When a dead peer's wait has passed, one link dials it again and the links after it learn its
// answer, instead of hundreds dialling at once; the link that dials is not stopped by its own try.
TEST(ReachabilityTest, OneLinkTriesAgainAndTheOthersLearnItsAnswer) {
    using Clock = Reachability::Clock;
    const Clock::time_point t0 = Clock::now();
    const auto at = [&](int ms) { return t0 + std::chrono::milliseconds(ms); };
    Reachability reached(false, std::chrono::seconds(10), "", false, t0);
    const NetworkNames names{{}, {"203.0.113.5:6881"}};
    reached.PeerFailed(names.peers[0], at(0));
    EXPECT_TRUE(reached.NothingLeftToAsk(names, at(100)));
    const auto after = at(0) + RetryWait::kFirstWait;
    ASSERT_FALSE(reached.NothingLeftToAsk(names, after));  // the first link after the wait
    reached.Probing(names, after);
    EXPECT_FALSE(reached.NothingLeftToAsk(names, after + std::chrono::milliseconds(1), after));
    for (int later = 1; later < 100; ++later)  // the others, while it dials
        EXPECT_TRUE(reached.NothingLeftToAsk(names, after + std::chrono::milliseconds(later)));
    reached.PeerFailed(names.peers[0], after + std::chrono::seconds(2));  // its answer
    EXPECT_TRUE(reached.NothingLeftToAsk(names, after + std::chrono::milliseconds(2100)));
    reached.PeerReached(names.peers[0]);
    EXPECT_FALSE(reached.NothingLeftToAsk(names, after + std::chrono::milliseconds(2200)));
}

TEST(ReachabilityTest, TheDhtIsOfflineAfterABoundOfSilenceAndRetriedAfterItsWait) {
    using Clock = Reachability::Clock;
    const Clock::time_point t0 = Clock::now();
    const auto at = [&](int ms) { return t0 + std::chrono::milliseconds(ms); };
    Reachability reached(true, std::chrono::seconds(1), "192.0.2.1:6881", false, t0);
    reached.DhtNeeded(at(500));  // its silence counts from the first link that needs it
    reached.Update(at(1200));
    EXPECT_FALSE(reached.dhtOffline());
    reached.Update(at(1600));
    EXPECT_TRUE(reached.dhtOffline());
    const NetworkNames none;
    EXPECT_FALSE(reached.RetryDht(at(1700), std::chrono::seconds(2)));  // still resting
    ASSERT_TRUE(reached.Resting(none, at(1700)));
    const auto after = at(1600) + RetryWait::kFirstWait;
    EXPECT_TRUE(reached.RetryDht(after, std::chrono::seconds(2)));
    EXPECT_FALSE(reached.dhtOffline());
    reached.Update(after + std::chrono::milliseconds(1500));  // within the retry's bound
    EXPECT_FALSE(reached.dhtOffline());
    reached.Update(after + std::chrono::milliseconds(2500));
    EXPECT_TRUE(reached.dhtOffline());
}

}  // namespace
}  // namespace velindra

// A loopback swarm for benchmarks: a seeding session on 127.0.0.1 holding N real torrents and a
// minimal HTTP tracker that hands out the seeder as the only peer. Writes links.txt (magnet
// links naming the tracker) into the given folder, prints "ready", and runs until killed.
// With --dht the links name no tracker: the seeder announces every torrent to a DHT router of
// their own, whose address goes to router.txt. With --v2 one more link follows, for a
// BitTorrent v2 torrent (xt=urn:btmh:); with --v2-only every link is one. Without --dht the
// same links naming the seeder itself (x.pe=) instead of the tracker go to pe.txt. Beside each
// torrent's link goes NAME.info, the exact bytes of its info dictionary, for tests to check what
// was saved against. --at ADDRESS listens there (a seeder of its own among several), --accepts
// utp or tcp makes a peer that takes only that kind of connection, and --bare writes links that
// name nothing, for a DHT that is not the seeder's (bench/dht_sim). --name PREFIX names the
// torrents PREFIX-0, PREFIX-1, ... ("swarm" by default), so that seeders hold torrents of their
// own.
#include <arpa/inet.h>
#include <httplib.h>

#include <cstdio>

#include "bench/loopback_seeder.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: swarm_seeder COUNT FOLDER [--dht] [--v2|--v2-only] "
                     "[--at ADDRESS] [--accepts utp|tcp] [--bare] [--name PREFIX]\n");
        return 2;
    }
    const int count = std::stoi(argv[1]);
    const std::string folder = argv[2];
    bool dht = false, v2 = false, v2Only = false, bare = false;
    std::string address, prefix = "swarm";
    using Accepts = velindra::seeding::LoopbackSeeder::Accepts;
    Accepts accepts = Accepts::Both;
    for (int i = 3; i < argc; ++i) {
        const std::string flag = argv[i];
        const std::string value = i + 1 < argc ? argv[i + 1] : "";
        dht = dht || flag == "--dht";
        v2 = v2 || flag == "--v2";
        v2Only = v2Only || flag == "--v2-only";
        bare = bare || flag == "--bare";
        if (flag == "--at")
            address = value;
        if (flag == "--name")
            prefix = value;
        if (flag == "--accepts")
            accepts = value == "utp"   ? Accepts::UtpOnly
                      : value == "tcp" ? Accepts::TcpOnly
                                       : accepts;
    }
    velindra::seeding::LoopbackSeeder seeder(folder, dht, 0, accepts, address);
    if (dht)
        std::ofstream(folder + "/router.txt") << seeder.Router() << "\n";

    httplib::Server tracker;
    tracker.Get("/announce", [&](const httplib::Request&, httplib::Response& r) {
        const int port = seeder.Port();
        in_addr at{};
        inet_pton(AF_INET, seeder.Peer().substr(0, seeder.Peer().rfind(':')).c_str(), &at);
        std::string compact(reinterpret_cast<const char*>(&at.s_addr), 4);
        compact += {static_cast<char>(port >> 8), static_cast<char>(port & 0xFF)};
        r.set_content("d8:intervali1800e5:peers6:" + compact + "e", "text/plain");
    });
    const int trackerPort = tracker.bind_to_any_port(address.empty() ? "127.0.0.1" : address);
    std::thread serving([&] { tracker.listen_after_bind(); });

    std::ofstream links(folder + "/links.txt"), peers(folder + "/pe.txt");
    for (int i = 0; i < count + (v2 ? 1 : 0); ++i) {
        const bool last = i == count, asV2 = last || v2Only;
        const std::string name = last ? prefix + "-v2" : prefix + "-" + std::to_string(i);
        std::string info;
        const std::string hash = seeder.Seed(name + ".bin", 256 * 1024, &info, asV2);
        std::ofstream(folder + "/" + name + ".info", std::ios::binary) << info;
        const std::string link =
            (asV2 ? "magnet:?xt=urn:btmh:1220" : "magnet:?xt=urn:btih:") + hash + "&dn=" + name;
        links << link;
        if (!dht && !bare) {
            links << "&tr=http%3A%2F%2F" << (address.empty() ? "127.0.0.1" : address) << "%3A"
                  << trackerPort << "%2Fannounce";
            peers << link << "&x.pe=" << seeder.Peer() << "\n";
        }
        links << "\n";
    }
    links.close();
    peers.close();
    std::ofstream(folder + "/peer.txt") << seeder.Peer() << "\n";
    seeder.WaitForAnnounces();
    std::printf("ready\n");
    std::fflush(stdout);
    serving.join();
}

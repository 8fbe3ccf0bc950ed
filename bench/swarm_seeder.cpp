// A loopback swarm for benchmarks: a seeding session on 127.0.0.1 holding N real torrents and a
// minimal HTTP tracker that hands out the seeder as the only peer. Writes links.txt (magnet
// links naming the tracker) into the given folder, prints "ready", and runs until killed.
// With --dht the links name no tracker: a second session is the router of a DHT of their own
// (its address goes to router.txt), and the seeder announces every torrent there. They take
// loopback addresses of their own, 127.0.0.3 and 127.0.0.2, as DHT nodes keep one peer per
// address.
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <libtorrent/alert_types.hpp>
#include <libtorrent/create_torrent.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>
#include <set>
#include <string>
#include <thread>

namespace lt = libtorrent;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: swarm_seeder COUNT FOLDER [--dht]\n");
        return 2;
    }
    const int count = std::stoi(argv[1]);
    const std::string folder = argv[2];
    const bool dht = argc > 3 && std::string(argv[3]) == "--dht";

    // A DHT on an explicitly given loopback address runs (on 0.0.0.0 libtorrent would count
    // loopback as a local network and keep its DHT off it).
    const auto settings = [](bool withDht, const std::string& bootstrap,
                             const std::string& address) {
        lt::settings_pack pack;
        pack.set_str(lt::settings_pack::listen_interfaces, address + ":0");
        pack.set_bool(lt::settings_pack::enable_dht, withDht);
        pack.set_str(lt::settings_pack::dht_bootstrap_nodes, bootstrap);
        pack.set_bool(lt::settings_pack::dht_restrict_routing_ips, false);
        pack.set_bool(lt::settings_pack::dht_restrict_search_ips, false);
        // Every session here has the same address: no rate limit for one address.
        pack.set_int(lt::settings_pack::dht_block_ratelimit, 1'000'000);
        pack.set_bool(lt::settings_pack::enable_lsd, false);
        pack.set_bool(lt::settings_pack::enable_upnp, false);
        pack.set_bool(lt::settings_pack::enable_natpmp, false);
        pack.set_bool(lt::settings_pack::allow_multiple_connections_per_ip, true);
        pack.set_int(lt::settings_pack::connections_limit, 2000);
        pack.set_int(lt::settings_pack::alert_mask, withDht ? int(lt::alert_category::dht) : 0);
        return pack;
    };
    std::unique_ptr<lt::session> router;
    std::string routerAddress;
    if (dht) {
        router = std::make_unique<lt::session>(lt::session_params(settings(true, "", "127.0.0.3")));
        while (router->listen_port() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        routerAddress = "127.0.0.3:" + std::to_string(router->listen_port());
        std::ofstream(folder + "/router.txt") << routerAddress << "\n";
    }

    const std::string seederAddress = dht ? "127.0.0.2" : "127.0.0.1";
    lt::settings_pack pack = settings(dht, routerAddress, seederAddress);
    lt::session seeder{lt::session_params(pack)};
    while (seeder.listen_port() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const int peerPort = seeder.listen_port();

    httplib::Server tracker;
    tracker.Get("/announce", [&](const httplib::Request&, httplib::Response& r) {
        std::string compact = {
            127, 0, 0, 1, static_cast<char>(peerPort >> 8), static_cast<char>(peerPort & 0xFF)};
        r.set_content("d8:intervali1800e5:peers6:" + compact + "e", "text/plain");
    });
    const int trackerPort = tracker.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { tracker.listen_after_bind(); });

    std::ofstream links(folder + "/links.txt");
    std::vector<lt::torrent_handle> handles;
    for (int i = 0; i < count; ++i) {
        const std::string name = "swarm-" + std::to_string(i) + ".bin";
        std::string content(256 * 1024, '\0');
        for (size_t k = 0; k < content.size(); ++k)
            content[k] = static_cast<char>((k * 13 + i) & 0xFF);
        std::ofstream(folder + "/" + name, std::ios::binary) << content;
        lt::file_storage files;
        lt::add_files(files, folder + "/" + name);
        lt::create_torrent creator(files, 16 * 1024, lt::create_torrent::v1_only);
        lt::set_piece_hashes(creator, folder);
        std::vector<char> bytes;
        lt::bencode(std::back_inserter(bytes), creator.generate());
        auto ti = std::make_shared<lt::torrent_info>(bytes.data(), static_cast<int>(bytes.size()));
        lt::add_torrent_params p;
        p.ti = ti;
        p.save_path = folder;
        p.flags |= lt::torrent_flags::seed_mode;
        p.flags &=
            ~(lt::torrent_flags::auto_managed | lt::torrent_flags::paused);  // all seed at once
        lt::torrent_handle h = seeder.add_torrent(std::move(p));
        while (h.status().state != lt::torrent_status::seeding) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::string hex;
        for (unsigned char b : ti->info_hashes().v1) {
            static const char* digits = "0123456789abcdef";
            hex.push_back(digits[b / 16]);
            hex.push_back(digits[b % 16]);
        }
        links << "magnet:?xt=urn:btih:" << hex << "&dn=swarm-" << i;
        if (!dht)
            links << "&tr=http%3A%2F%2F127.0.0.1%3A" << trackerPort << "%2Fannounce";
        links << "\n";
        handles.push_back(h);
    }
    links.close();
    // Ready once the router has heard the seeder announce every torrent.
    std::set<lt::sha1_hash> announced;
    for (int round = 0; router && announced.size() < handles.size() && round < 300; ++round) {
        for (auto& h : handles)
            h.force_dht_announce();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::vector<lt::alert*> alerts;
        router->pop_alerts(&alerts);
        for (lt::alert* a : alerts) {
            if (auto* announce = lt::alert_cast<lt::dht_announce_alert>(a))
                announced.insert(announce->info_hash);
        }
    }
    std::printf("ready\n");
    std::fflush(stdout);
    serving.join();
}

// A loopback swarm for benchmarks: a seeding session on 127.0.0.1 holding N real torrents and a
// minimal HTTP tracker that hands out the seeder as the only peer. Writes links.txt (magnet
// links naming the tracker) into the given folder, prints "ready", and runs until killed.
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <libtorrent/create_torrent.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>
#include <string>
#include <thread>

namespace lt = libtorrent;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: swarm_seeder COUNT FOLDER\n");
        return 2;
    }
    const int count = std::stoi(argv[1]);
    const std::string folder = argv[2];

    lt::settings_pack pack;
    pack.set_str(lt::settings_pack::listen_interfaces, "127.0.0.1:0");
    pack.set_bool(lt::settings_pack::enable_dht, false);
    pack.set_bool(lt::settings_pack::enable_lsd, false);
    pack.set_bool(lt::settings_pack::enable_upnp, false);
    pack.set_bool(lt::settings_pack::enable_natpmp, false);
    pack.set_bool(lt::settings_pack::allow_multiple_connections_per_ip, true);
    pack.set_int(lt::settings_pack::connections_limit, 2000);
    pack.set_int(lt::settings_pack::alert_mask, 0);
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
        links << "magnet:?xt=urn:btih:" << hex << "&dn=swarm-" << i
              << "&tr=http%3A%2F%2F127.0.0.1%3A" << trackerPort << "%2Fannounce\n";
    }
    links.close();
    std::printf("ready\n");
    std::fflush(stdout);
    serving.join();
}

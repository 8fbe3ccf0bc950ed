// A BitTorrent session on 127.0.0.1 that seeds real torrents, for tests of the network source.
#pragma once

#include <chrono>
#include <libtorrent/create_torrent.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>
#include <thread>

#include "test_support.h"
#include "torrent.h"

namespace velindra::testing {

namespace lt = libtorrent;

// No DHT, local discovery or port mapping: nothing leaves the machine.
inline lt::settings_pack LoopbackSettings() {
    lt::settings_pack pack;
    pack.set_str(lt::settings_pack::listen_interfaces, "127.0.0.1:0");
    pack.set_bool(lt::settings_pack::enable_dht, false);
    pack.set_bool(lt::settings_pack::enable_lsd, false);
    pack.set_bool(lt::settings_pack::enable_upnp, false);
    pack.set_bool(lt::settings_pack::enable_natpmp, false);
    pack.set_bool(lt::settings_pack::allow_multiple_connections_per_ip, true);
    pack.set_int(lt::settings_pack::alert_mask, 0);
    return pack;
}

// A session on 127.0.0.1 seeding real torrents made from files in a folder of its own.
class LoopbackSeeder {
  public:
    LoopbackSeeder() : session_(lt::session_params(LoopbackSettings())) {}

    // Returns the hex info-hash; info receives the exact bytes of the info dictionary.
    std::string Seed(const std::string& name, size_t size, std::string* info = nullptr) {
        testing::WriteFile(dir_ / name, std::string(size, static_cast<char>(name.size())));
        lt::file_storage files;
        lt::add_files(files, dir_ / name);
        lt::create_torrent creator(files, 16 * 1024, lt::create_torrent::v1_only);
        lt::set_piece_hashes(creator, dir_.path().string());
        std::vector<char> bytes;
        lt::bencode(std::back_inserter(bytes), creator.generate());
        auto ti = std::make_shared<lt::torrent_info>(bytes.data(), static_cast<int>(bytes.size()));
        const std::string section(ti->info_section().data(), ti->info_section().size());
        if (info)
            *info = section;
        lt::add_torrent_params p;
        p.ti = ti;
        p.save_path = dir_.path().string();
        p.flags |= lt::torrent_flags::seed_mode;
        p.flags &= ~(lt::torrent_flags::auto_managed | lt::torrent_flags::paused);
        lt::torrent_handle handle = session_.add_torrent(std::move(p));
        // Ready only once it seeds; a peer that arrives earlier is turned away.
        for (int i = 0; i < 500; ++i) {
            const lt::torrent_status st = handle.status();
            if (st.state == lt::torrent_status::seeding && !(st.flags & lt::torrent_flags::paused))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return testing::Hex(Sha1(section));
    }
    // Its address, once it listens (before that it reports port 0).
    std::string Peer() {
        for (int i = 0; i < 500 && session_.listen_port() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return "127.0.0.1:" + std::to_string(session_.listen_port());
    }

  private:
    TempDir dir_;
    lt::session session_;
};

}  // namespace velindra::testing

// A BitTorrent session on 127.0.0.1 that seeds real torrents, for tests of the network source;
// with a DHT of its own when asked.
#pragma once

#include <chrono>
#include <libtorrent/alert_types.hpp>
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

// No local discovery or port mapping, and a DHT only among sessions on 127.0.0.1 (libtorrent
// runs one on a loopback address given explicitly): nothing leaves the machine.
inline lt::settings_pack LoopbackSettings(bool dht = false, const std::string& bootstrap = "",
                                          const std::string& address = "127.0.0.1") {
    lt::settings_pack pack;
    pack.set_str(lt::settings_pack::listen_interfaces, address + ":0");
    pack.set_bool(lt::settings_pack::enable_dht, dht);
    pack.set_str(lt::settings_pack::dht_bootstrap_nodes, bootstrap);
    pack.set_bool(lt::settings_pack::dht_restrict_routing_ips, false);
    pack.set_bool(lt::settings_pack::dht_restrict_search_ips, false);
    // Every session here has the same address: no rate limit for one address.
    pack.set_int(lt::settings_pack::dht_block_ratelimit, 1'000'000);
    pack.set_bool(lt::settings_pack::enable_lsd, false);
    pack.set_bool(lt::settings_pack::enable_upnp, false);
    pack.set_bool(lt::settings_pack::enable_natpmp, false);
    pack.set_bool(lt::settings_pack::allow_multiple_connections_per_ip, true);
    pack.set_int(lt::settings_pack::alert_mask, dht ? int(lt::alert_category::dht) : 0);
    return pack;
}

// A session on 127.0.0.1 seeding real torrents made from files in a folder of its own. With a
// DHT, a second session is the DHT's router and the seeder announces every torrent to it; they
// take addresses of their own (127.0.0.2 and .3), as DHT nodes keep one peer per address.
class LoopbackSeeder {
  public:
    explicit LoopbackSeeder(bool dht = false) {
        if (dht) {
            router_ = std::make_unique<lt::session>(
                lt::session_params(LoopbackSettings(true, "", "127.0.0.3")));
            router_port_ = Port(*router_);
        }
        address_ = dht ? "127.0.0.2" : "127.0.0.1";
        session_ = std::make_unique<lt::session>(
            lt::session_params(LoopbackSettings(dht, dht ? Router() : "", address_)));
    }

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
        lt::torrent_handle handle = session_->add_torrent(std::move(p));
        // Ready only once it seeds; a peer that arrives earlier is turned away.
        for (int i = 0; i < 500; ++i) {
            const lt::torrent_status st = handle.status();
            if (st.state == lt::torrent_status::seeding && !(st.flags & lt::torrent_flags::paused))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        // With a DHT: ready once the router has heard the seeder announce it.
        for (int i = 0; router_ && i < 100; ++i) {
            handle.force_dht_announce();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::vector<lt::alert*> alerts;
            router_->pop_alerts(&alerts);
            const auto announced = [&](lt::alert* a) {
                auto* announce = lt::alert_cast<lt::dht_announce_alert>(a);
                return announce && announce->info_hash == ti->info_hashes().v1;
            };
            if (std::any_of(alerts.begin(), alerts.end(), announced))
                break;
        }
        return testing::Hex(Sha1(section));
    }
    std::string Router() const { return "127.0.0.3:" + std::to_string(router_port_); }
    // Its address, once it listens (before that it reports port 0).
    std::string Peer() { return address_ + ":" + std::to_string(Port(*session_)); }

  private:
    // A session's port, once it listens (before that it reports 0).
    static int Port(lt::session& s) {
        for (int i = 0; i < 500 && s.listen_port() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return s.listen_port();
    }

    TempDir dir_;
    std::unique_ptr<lt::session> router_;
    int router_port_ = 0;
    std::string address_;
    std::unique_ptr<lt::session> session_;
};

}  // namespace velindra::testing

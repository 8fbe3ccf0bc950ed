// A BitTorrent session on loopback that seeds real torrents, for the swarm benchmark and the
// tests of the network source. No local discovery or port mapping, and a DHT only among
// sessions on loopback (libtorrent runs one on a loopback address given explicitly, where on
// 0.0.0.0 it would count loopback as a local network): nothing leaves the machine. With a DHT,
// a second session is the DHT's router, and the seeder announces every torrent to it; they
// take addresses of their own (127.0.0.2 and .3), as DHT nodes keep one peer per address.
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <libtorrent/alert_types.hpp>
#include <libtorrent/create_torrent.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace velindra::seeding {

namespace lt = libtorrent;

class LoopbackSeeder {
  public:
    // Which connections a peer takes: the network has peers of every kind.
    enum class Accepts { Both, UtpOnly, TcpOnly };

    // Listens on `port`, or on any free one, at `address` (by default 127.0.0.1, or 127.0.0.2
    // with a DHT). `asShipped`: one connection per peer address, as the library's defaults
    // (and most clients) have it.
    explicit LoopbackSeeder(std::filesystem::path folder, bool dht = false, int port = 0,
                            Accepts accepts = Accepts::Both, std::string address = "",
                            bool asShipped = false)
        : folder_(std::move(folder)) {
        if (dht)
            router_ = Start(true, "", "127.0.0.3");
        address_ = !address.empty() ? address : dht ? "127.0.0.2" : "127.0.0.1";
        session_ = Start(dht, dht ? Router() : "", address_, port, accepts, asShipped);
    }

    // Seeds a file of `size` bytes made for the name, once it is ready to hand out pieces.
    // Returns the torrent's info-hash in lower-case hexadecimal (with `v2`, a BitTorrent v2
    // torrent and its 64-digit SHA-256 info-hash); `info` receives the exact bytes of its info
    // dictionary. With `hybrid`, the torrent is both v1 and v2: the v1 hash is returned and the
    // v2 hash written there.
    std::string Seed(const std::string& name, size_t size, std::string* info = nullptr,
                     bool v2 = false, std::string* hybrid = nullptr) {
        std::ofstream(folder_ / name, std::ios::binary)
            << std::string(size, static_cast<char>(name.size()));
        lt::file_storage files;
        lt::add_files(files, (folder_ / name).string());
        lt::create_torrent creator(files, 16 * 1024,
                                   hybrid ? lt::create_flags_t{}
                                   : v2   ? lt::create_torrent::v2_only
                                          : lt::create_torrent::v1_only);
        lt::set_piece_hashes(creator, folder_.string());
        std::vector<char> bytes;
        lt::bencode(std::back_inserter(bytes), creator.generate());
        auto ti = std::make_shared<lt::torrent_info>(bytes.data(), static_cast<int>(bytes.size()));
        if (info)
            info->assign(ti->info_section().data(), ti->info_section().size());
        lt::add_torrent_params p;
        p.ti = ti;
        p.save_path = folder_.string();
        p.flags |= lt::torrent_flags::seed_mode;
        p.flags &= ~(lt::torrent_flags::auto_managed | lt::torrent_flags::paused);
        handles_.push_back(session_->add_torrent(std::move(p)));
        // A peer that arrives before it seeds is turned away.
        for (int i = 0; i < 1000; ++i) {
            const lt::torrent_status st = handles_.back().status();
            if (st.state == lt::torrent_status::seeding && !(st.flags & lt::torrent_flags::paused))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (hybrid) {
            std::ostringstream v2hex;
            v2hex << ti->info_hashes().v2;
            *hybrid = v2hex.str();
        }
        std::ostringstream hex;
        if (v2 && !hybrid)
            hex << ti->info_hashes().v2;
        else
            hex << ti->info_hashes().v1;
        return hex.str();
    }

    // With a DHT: returns once the router has heard the seeder announce every torrent.
    void WaitForAnnounces() {
        std::set<lt::sha1_hash> announced;
        for (int round = 0; router_ && announced.size() < handles_.size() && round < 300; ++round) {
            for (auto& h : handles_)
                h.force_dht_announce();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::vector<lt::alert*> alerts;
            router_->pop_alerts(&alerts);
            for (lt::alert* a : alerts) {
                if (auto* announce = lt::alert_cast<lt::dht_announce_alert>(a))
                    announced.insert(announce->info_hash);
            }
        }
    }

    std::string Router() const { return "127.0.0.3:" + std::to_string(router_->listen_port()); }
    int Port() const { return session_->listen_port(); }
    std::string Peer() const { return address_ + ":" + std::to_string(Port()); }

  private:
    // A session that listens on the address, once it does.
    static std::unique_ptr<lt::session> Start(bool dht, const std::string& bootstrap,
                                              const std::string& address, int port = 0,
                                              Accepts accepts = Accepts::Both,
                                              bool asShipped = false) {
        lt::settings_pack pack;
        pack.set_bool(lt::settings_pack::enable_incoming_tcp, accepts != Accepts::UtpOnly);
        pack.set_bool(lt::settings_pack::enable_incoming_utp, accepts != Accepts::TcpOnly);
        pack.set_str(lt::settings_pack::listen_interfaces, address + ":" + std::to_string(port));
        pack.set_bool(lt::settings_pack::enable_dht, dht);
        pack.set_str(lt::settings_pack::dht_bootstrap_nodes, bootstrap);
        pack.set_bool(lt::settings_pack::dht_restrict_routing_ips, false);
        pack.set_bool(lt::settings_pack::dht_restrict_search_ips, false);
        // Every session here has the same address: no rate limit for one address.
        pack.set_int(lt::settings_pack::dht_block_ratelimit, 1'000'000);
        pack.set_int(lt::settings_pack::dht_upload_rate_limit, 10'000'000);  // 8 kB/s by default
        pack.set_bool(lt::settings_pack::enable_lsd, false);
        pack.set_bool(lt::settings_pack::enable_upnp, false);
        pack.set_bool(lt::settings_pack::enable_natpmp, false);
        pack.set_bool(lt::settings_pack::allow_multiple_connections_per_ip, !asShipped);
        pack.set_int(lt::settings_pack::connections_limit, 2000);
        // Many peers dial at once: a short backlog would drop their first SYN.
        pack.set_int(lt::settings_pack::listen_queue_size, 2000);
        pack.set_int(lt::settings_pack::alert_mask,
                     dht ? lt::alert_category::dht : lt::alert_category_t{});
        auto session = std::make_unique<lt::session>(lt::session_params(pack));
        for (int i = 0; i < 500 && session->listen_port() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return session;
    }

    std::filesystem::path folder_;
    std::unique_ptr<lt::session> router_;
    std::string address_;
    std::unique_ptr<lt::session> session_;
    std::vector<lt::torrent_handle> handles_;
};

}  // namespace velindra::seeding

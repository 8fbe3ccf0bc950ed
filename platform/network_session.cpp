#include "platform/network_session.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <libtorrent/disabled_disk_io.hpp>
#include <libtorrent/ip_filter.hpp>
#include <libtorrent/kademlia/dht_state.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/session_stats.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/span.hpp>
#include <mutex>
#include <set>
#include <thread>

#include "core/links.h"
#include "core/text_values.h"
#include "platform/addresses.h"
#include "platform/atomic_file.h"
#include "platform/file_reading.h"
#include "platform/process_setup.h"
#include "platform/user_folders.h"
#include "platform/utf16.h"
#include "version.h"

namespace lt = libtorrent;

namespace velindra {

std::string DefaultNetworkStateFile() {
    return InUserFolder(UserCacheFolder(), "swarm-state");
}

std::vector<std::pair<std::string, int>> Routers(const std::string& routers) {
    std::vector<std::pair<std::string, int>> parsed;
    for (const std::string_view host : SplitOn(routers, ',')) {
        if (const std::optional<Endpoint> split = SplitEndpoint(host); split && !host.empty())
            parsed.emplace_back(split->host, std::atoi(split->port.c_str()));
    }
    return parsed;
}

namespace {

// The largest state file read: far more than the few hundred nodes it keeps.
constexpr size_t kMaxStateBytes = 4u << 20;

// The DHT part of a saved session state; nothing when the file is missing, not a regular file,
// larger than the bound, unreadable or corrupt: the session then bootstraps as on a first run.
void LoadState(const std::string& path, lt::session_params& params) {
    std::string bytes;
    if (path.empty() || !ReadRegularFile(path, kMaxStateBytes, bytes).ok() || bytes.empty())
        return;
    try {
        lt::session_params saved = lt::read_session_params(
            lt::span<const char>(bytes.data(), static_cast<std::ptrdiff_t>(bytes.size())),
            lt::session::save_dht_state);
        params.dht_state = std::move(saved.dht_state);
    } catch (...) {
    }
}

// The saved nodes greeted on a warm start, at most, of each address family: a state file
// naming one host many times, or thousands of hosts, makes no flood.
constexpr size_t kMostSavedNodes = 300;

// Each host once (the first port it is listed with), in the file's order, at most
// kMostSavedNodes of them.
void KeepEachHostOnce(std::vector<lt::udp::endpoint>& nodes) {
    std::vector<lt::udp::endpoint> kept;
    std::set<lt::address> hosts;
    for (const lt::udp::endpoint& node : nodes) {
        if (kept.size() >= kMostSavedNodes)
            break;
        if (hosts.insert(node.address()).second)
            kept.push_back(node);
    }
    nodes = std::move(kept);
}

// Saves the session's DHT state. Nodes the session started from that it has not kept in its
// own table (a short batch may not have learnt them again) stay on the list, after its own.
void SaveState(const std::string& path, lt::session& session, const lt::dht::dht_state& loaded) {
    if (path.empty())
        return;
    try {
        lt::session_params state = session.session_state(lt::session::save_dht_state);
        for (auto [mine, old] : {std::pair{&state.dht_state.nodes, &loaded.nodes},
                                 std::pair{&state.dht_state.nodes6, &loaded.nodes6}}) {
            for (const lt::udp::endpoint& node : *old) {
                if (mine->size() < 200 &&
                    std::find(mine->begin(), mine->end(), node) == mine->end())
                    mine->push_back(node);
            }
        }
        const std::vector<char> bytes =
            lt::write_session_params_buf(state, lt::session::save_dht_state);
        std::error_code ec;
        std::filesystem::create_directories(PathFromUtf8(path).parent_path(), ec);
        AtomicFile file(path);
        if (file.Open().ok())
            file.Commit(std::string_view(bytes.data(), bytes.size()));
    } catch (const std::exception&) {
    }
}

// Blocks this machine, the private and link-local networks and the reserved ranges: nothing a
// link leads to there is contacted, peer or tracker.
lt::ip_filter PublicOnly() {
    lt::ip_filter filter;
    for (const auto& [first, last] : NonPublicRanges())
        filter.add_rule(lt::make_address(AddressText(first)), lt::make_address(AddressText(last)),
                        lt::ip_filter::blocked);
    return filter;
}

// What the session is told: the bounds and switches, and what it reports.
// What the rest of a run may hold open beside the session's peers: the files waiting for the
// committer, the web downloads and their connections, standard streams, the session's own.
constexpr long kFilesBesideThePeers = 192;

// The peers the session may be connected to at once: within the process's bound on open files,
// so that links wait for a connection slot instead of failing for want of a descriptor.
int ConnectionsLimit(long openFiles) {
    constexpr long kMost = 8000, kFewest = 16;
    if (openFiles < 0)
        return static_cast<int>(kMost);
    return static_cast<int>(std::clamp(openFiles - kFilesBesideThePeers, kFewest, kMost));
}

// How the trackers a link names are asked, and what is taken from them.
void TrackerSettings(lt::settings_pack& pack, const NetworkLimits& limits) {
    // Every tracker a link names is asked at once, each tier and each tracker of a tier: two
    // that fail take nothing from a third that knows a peer.
    pack.set_bool(lt::settings_pack::announce_to_all_tiers, true);
    pack.set_bool(lt::settings_pack::announce_to_all_trackers, true);
    // A tracker's answer is a few hundred bytes, a few kilobytes with many peers (200 compact
    // peers of both families take 4.8 KB): one that sends far more (or trickles it) is cut off
    // at 128 KB, so that hundreds of waiting links cost little (under the sanitizers, 500 links
    // whose tracker trickles an endless answer at 20 KB/s took 176 MB more than 500 whose
    // tracker is down).
    pack.set_int(lt::settings_pack::max_http_recv_buffer_size, 128 * 1024);
    // Trackers a link names are filtered like its peers. The library's own guard keeps a tracker
    // on this machine to the path /announce; a user who lets the links reach this machine
    // (--allow-private-addresses) has it asked at any path, as the link names it.
    pack.set_bool(lt::settings_pack::apply_ip_filter_to_trackers, true);
    pack.set_bool(lt::settings_pack::ssrf_mitigation, !limits.allowPrivateAddresses);
}

lt::settings_pack Settings(const NetworkLimits& limits, long openFiles) {
    lt::settings_pack pack;
    pack.set_str(lt::settings_pack::user_agent, kUserAgent);
    pack.set_str(lt::settings_pack::listen_interfaces, limits.listenInterfaces);
    pack.set_bool(lt::settings_pack::enable_dht, limits.dht);
    pack.set_bool(lt::settings_pack::enable_lsd, limits.localDiscovery);
    pack.set_bool(lt::settings_pack::enable_upnp, limits.portMapping);
    pack.set_bool(lt::settings_pack::enable_natpmp, limits.portMapping);
    pack.set_int(lt::settings_pack::stop_tracker_timeout, 1);
    // Errors, and what tells which trackers and peers could not be reached.
    pack.set_int(lt::settings_pack::alert_mask,
                 lt::alert_category::error | lt::alert_category::tracker |
                     lt::alert_category::connect | lt::alert_category::ip_block |
                     lt::alert_category::dht | lt::alert_category::dht_operation |
                     lt::alert_category::status);
    pack.set_int(lt::settings_pack::alert_queue_size, 50'000);
    // Peers are dialled within a tenth of a second of being known, many at a time.
    pack.set_int(lt::settings_pack::tick_interval, 100);
    // Every link of a batch that needs the network is in the session at once: none waits for
    // another's turn, nor for a connection slot.
    pack.set_int(lt::settings_pack::connection_speed, 500);
    pack.set_int(lt::settings_pack::connections_limit, ConnectionsLimit(openFiles));
    pack.set_int(lt::settings_pack::active_downloads, -1);
    pack.set_int(lt::settings_pack::active_limit, -1);
    pack.set_int(lt::settings_pack::active_dht_limit, -1);
    pack.set_int(lt::settings_pack::active_tracker_limit, -1);
    // Every link's trackers are asked at once too: an announce the library queues behind its
    // default of 50 at a time was not sent while its link waited, and the link failed.
    pack.set_int(lt::settings_pack::max_concurrent_http_announces, 8000);
    // Peers are dialled over uTP first and then TCP, as the library does, so that a peer that
    // takes only one of them is reached; a lost uTP dial is given up after a second instead of
    // three (still long enough for a uTP-only peer a second's round trip away), and the UDP
    // socket's receive buffer holds what the peers of hundreds of links send at once.
    pack.set_int(lt::settings_pack::utp_connect_timeout, 1000);
    pack.set_int(lt::settings_pack::recv_socket_buffer_size, 4 << 20);
    TrackerSettings(pack, limits);
    // A peer is its address and port: two peers a link names on one host (a seeder and a dead
    // port beside it) are each dialled, instead of the later one taking the earlier's place.
    pack.set_bool(lt::settings_pack::allow_multiple_connections_per_ip, true);
    // A DHT look-up keeps 16 requests in flight among the closest nodes it knows (the library's
    // default is 5): most nodes answer slowly or not at all, and the look-up goes on with the
    // first answers. On a simulated DHT of 20,000 nodes, 60 % of them dead, this took 20 links
    // from a warm start from 4.2 s to about 3 s; with 30 % dead it changed nothing but the
    // number of requests.
    pack.set_int(lt::settings_pack::dht_search_branching, 16);
    return pack;
}

}  // namespace

// Sessions of ended batches, torn down one after the other on a thread of their own: the
// library's teardown waits for its network thread (trackers told the look-up ended, sockets
// closed), which the user need not wait for. At the program's end whatever is left is waited
// for, unless the program ends at once (see NetworkTeardownPending).
class Teardowns {
  public:
    static Teardowns& Instance() {
        static Teardowns instance;
        return instance;
    }
    void Hand(lt::session_proxy proxy) {
        std::lock_guard<std::mutex> guard(lock_);
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { Run(); });
            } catch (const std::system_error&) {
                return;  // no thread to be had: the proxy's end waits for the library here
            }
        }
        queue_.push_back(std::move(proxy));
        ++pending_;
        changed_.notify_all();
    }
    bool pending() const { return pending_ > 0; }
    ~Teardowns() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            ending_ = true;
            changed_.notify_all();
        }
        if (thread_.joinable())
            thread_.join();
    }

  private:
    void Run() {
        std::unique_lock<std::mutex> guard(lock_);
        for (;;) {
            changed_.wait(guard, [&] { return ending_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            {
                lt::session_proxy proxy = std::move(queue_.front());
                queue_.erase(queue_.begin());
                guard.unlock();
            }  // its end waits for the library's thread
            guard.lock();
            --pending_;
        }
    }
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<lt::session_proxy> queue_;
    std::atomic<int> pending_{0};
    bool ending_ = false;
    std::thread thread_;
};

bool NetworkTeardownPending() {
    return Teardowns::Instance().pending();
}

NetworkSession::NetworkSession(const NetworkLimits& limits, std::function<void()> alerted)
    : limits_(limits) {
    const long openFiles = RaiseOpenFileLimit();
    lt::session_params params;
    if (limits_.dht)
        LoadState(limits_.stateFile, params);
    loaded_ = std::make_unique<lt::dht::dht_state>(params.dht_state);
    KeepEachHostOnce(loaded_->nodes);
    KeepEachHostOnce(loaded_->nodes6);
    warm_ = savedNodes();
    params.settings = Settings(limits_, openFiles);
    // A warm start asks every saved node at once and keeps those that answer: handed to the
    // library, the saved nodes would first be walked towards the session's own id, the routers
    // asked beside them. The routers are asked only when too few saved nodes answer.
    params.dht_state.nodes.clear();
    params.dht_state.nodes6.clear();
    // The library starts its DHT before it opens the listen sockets, and a DHT started without
    // a socket forgets the saved node id: it is switched on once the sockets are open.
    params.settings.set_bool(lt::settings_pack::enable_dht, false);
    params.settings.set_str(lt::settings_pack::dht_bootstrap_nodes,
                            warm_ ? "" : limits_.dhtBootstrapNodes);
    params.disk_io_constructor = lt::disabled_disk_io_constructor;
    if (!limits_.allowPrivateAddresses)
        params.ip_filter = PublicOnly();
    session_ = std::make_unique<lt::session>(std::move(params));
    if (limits_.dht) {
        // Taken after the session's start, which opens the sockets.
        lt::settings_pack dht;
        dht.set_bool(lt::settings_pack::enable_dht, true);
        session_->apply_settings(std::move(dht));
        if (warm_)
            PingSaved();
    }
    dhtNodeMetric_ = lt::find_metric_idx("dht.dht_nodes");
    session_->set_alert_notify(std::move(alerted));
}

NetworkSession::~NetworkSession() {
    session_->set_alert_notify([] {});
    if (limits_.dht)
        SaveState(limits_.stateFile, *session_, *loaded_);
    Teardowns& teardowns = Teardowns::Instance();  // made before the session ends
    lt::session_proxy proxy = session_->abort();
    session_.reset();  // returns at once: the proxy holds what is left
    teardowns.Hand(std::move(proxy));
}

void NetworkSession::SaveNow() {
    if (limits_.dht)
        SaveState(limits_.stateFile, *session_, *loaded_);
}

bool NetworkSession::savedNodes() const {
    return !loaded_->nodes.empty() || !loaded_->nodes6.empty();
}

namespace {

// A warm start looks up once this many saved nodes answered, or asks the routers after this
// wait.
constexpr long long kWarmNodes = 10;
constexpr auto kWarmWait = std::chrono::milliseconds(500);

}  // namespace

void NetworkSession::PingSaved() {
    for (const auto* list : {&loaded_->nodes, &loaded_->nodes6}) {
        for (const lt::udp::endpoint& node : *list)
            session_->add_dht_node({node.address().to_string(), node.port()});
    }
}

bool NetworkSession::DhtReady(Clock::time_point now, long long nodes) {
    if (dhtReady_ || !limits_.dht)
        return dhtReady_;
    if (!dhtRunning_) {
        // A look-up given to the session before its DHT runs is dropped.
        if (!session_->is_dht_running())
            return false;
        dhtRunning_ = true;
        dhtStarted_ = now;
    }
    // A warm start looks up once some saved nodes answered (with fewer than three, the library
    // would ask the routers beside them; with more, a look-up starts nearer its target). When too
    // few answer in a moment, the routers are asked as nodes; the look-ups start once one answered,
    // or after another moment.
    const auto waited = now - dhtStarted_;
    if (warm_ && nodes < kWarmNodes && waited >= kWarmWait && !routersAsked_) {
        routersAsked_ = true;
        for (const auto& router : Routers(limits_.dhtBootstrapNodes))
            session_->add_dht_node(router);
    }
    dhtReady_ =
        !warm_ || nodes >= kWarmNodes || (routersAsked_ && nodes > 0) || waited >= 2 * kWarmWait;
    return dhtReady_;
}

void NetworkSession::BootstrapAgain() {
    // The look-ups of the offline DHT ended at once; they ask again once it is ready, which
    // it is at once now that it has its routers.
    dhtRunning_ = dhtReady_ = warm_ = false;
    PingSaved();  // the saved nodes too, beside the routers
    lt::settings_pack pack;
    bootstrapToggle_ = !bootstrapToggle_;  // a changed value makes the library take it anew
    pack.set_str(lt::settings_pack::dht_bootstrap_nodes,
                 limits_.dhtBootstrapNodes + (bootstrapToggle_ ? "," : ""));
    session_->apply_settings(std::move(pack));
}

}  // namespace velindra

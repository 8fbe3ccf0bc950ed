#include "swarm_source.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <libtorrent/add_torrent_params.hpp>
#include <libtorrent/alert_types.hpp>
#include <libtorrent/disabled_disk_io.hpp>
#include <libtorrent/ip_filter.hpp>
#include <libtorrent/kademlia/dht_state.hpp>
#include <libtorrent/magnet_uri.hpp>
#include <libtorrent/session.hpp>
#include <libtorrent/session_params.hpp>
#include <libtorrent/session_stats.hpp>
#include <libtorrent/settings_pack.hpp>
#include <libtorrent/span.hpp>
#include <libtorrent/torrent_handle.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>
#include <sstream>
#include <thread>
#include <unordered_map>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "addresses.h"
#include "atomic_file.h"
#include "curl_downloader.h"
#include "digests.h"
#include "file_reading.h"
#include "torrent.h"
#include "user_folders.h"
#include "utf16.h"
#include "version.h"

namespace lt = libtorrent;

namespace velindra {

namespace {

using Clock = std::chrono::steady_clock;

std::string Bstr(std::string_view s) {
    return std::to_string(s.size()) + ":" + std::string(s);
}

}  // namespace

std::string TorrentFromMetadata(std::string_view info, const std::vector<std::string>& trackers) {
    std::string body = "d";
    if (!trackers.empty()) {
        body += "8:announce";
        body += Bstr(trackers.front());
        body +=
            "13:announce-list"
            "l";
        for (const auto& t : trackers)
            body.append("l").append(Bstr(t)).append("e");  // one tier each
        body += "e";
    }
    body += "4:info";
    body.append(info);
    body += "e";
    return body;
}

SwarmSource::SwarmSource(SwarmLimits limits) : limits_(std::move(limits)) {}

std::string DefaultSwarmStateFile() {
    return InUserFolder(UserCacheFolder(), "swarm-state");
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

// The DHT routers of the bootstrap setting ("host:port,..."), as host (without brackets) and
// port.
std::vector<std::pair<std::string, int>> Routers(const std::string& routers) {
    std::vector<std::pair<std::string, int>> parsed;
    for (size_t begin = 0; begin < routers.size();) {
        const size_t end = std::min(routers.find(',', begin), routers.size());
        std::string host = routers.substr(begin, end - begin);
        begin = end + 1;
        const size_t colon = host.rfind(':');
        if (host.empty() || colon == std::string::npos)
            continue;
        const int port = std::atoi(host.c_str() + colon + 1);
        host.resize(colon);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        parsed.emplace_back(host, port);
    }
    return parsed;
}

// How many of the DHT routers are given by name, and whether any by address.
void CountRouters(const std::string& routers, int& names, bool& byAddress) {
    names = 0;
    byAddress = false;
    for (const auto& [host, port] : Routers(routers)) {
        if (ParseAddress(host))
            byAddress = true;
        else
            ++names;
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

}  // namespace

// Sessions of ended batches, torn down one after the other on a thread of their own: the
// library's teardown waits for its network thread (trackers told the look-up ended, sockets
// closed), which the user need not wait for. At the program's end whatever is left is waited
// for, unless the program ends at once (see SwarmTeardownPending).
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

bool SwarmTeardownPending() {
    return Teardowns::Instance().pending();
}

SwarmSource::~SwarmSource() {
    {
        std::lock_guard<std::mutex> guard(alertLock_);
        closing_ = true;
        alerted_.notify_all();
    }
    if (watcher_.joinable())
        watcher_.join();
    // Links still waiting end now (a front end's run ends before its sources, so there are
    // none unless it could not end them).
    EndWaits();
    std::lock_guard<std::mutex> guard(lock_);
    if (!session_)
        return;
    session_->set_alert_notify([] {});
    if (limits_.dht)
        SaveState(limits_.stateFile, *session_, *loaded_);
    Teardowns& teardowns = Teardowns::Instance();  // made before the session ends
    lt::session_proxy proxy = session_->abort();
    session_.reset();  // returns at once: the proxy holds what is left
    teardowns.Hand(std::move(proxy));
}

void SwarmSource::Warm() {
    std::lock_guard<std::mutex> guard(lock_);
    try {
        Session();
    } catch (const std::exception&) {
        // Tried again when a link needs it, which then fails with the reason.
    }
}

namespace {

// Every link waiting on the network holds a few sockets: the soft bound on open files (often
// 1,024) is raised to the hard one.
void RaiseOpenFileLimit() {
#ifndef _WIN32
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
#endif
}

}  // namespace

namespace {

// What the session is told: the bounds and switches, and what it reports.
lt::settings_pack Settings(const SwarmLimits& limits) {
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
    pack.set_int(lt::settings_pack::connections_limit, 8000);
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
    // Trackers a link names are filtered like its peers.
    pack.set_bool(lt::settings_pack::apply_ip_filter_to_trackers, true);
    pack.set_bool(lt::settings_pack::ssrf_mitigation, true);
    // A DHT look-up keeps 16 requests in flight among the closest nodes it knows (the library's
    // default is 5): most nodes answer slowly or not at all, and the look-up goes on with the
    // first answers. On a simulated DHT of 20,000 nodes, 60 % of them dead, this took 20 links
    // from a warm start from 4.2 s to about 3 s; with 30 % dead it changed nothing but the
    // number of requests.
    pack.set_int(lt::settings_pack::dht_search_branching, 16);
    return pack;
}

}  // namespace

lt::session& SwarmSource::Session() {
    if (!session_)
        StartSession();
    // The watcher moves every waiting link on; without a thread for it no link is taken.
    if (!watcher_.joinable())
        watcher_ = std::thread([this] { Watch(); });
    return *session_;
}

void SwarmSource::StartSession() {
    RaiseOpenFileLimit();
    lt::session_params params;
    if (limits_.dht)
        LoadState(limits_.stateFile, params);
    loaded_ = std::make_unique<lt::dht::dht_state>(params.dht_state);
    warm_ = !loaded_->nodes.empty() || !loaded_->nodes6.empty();
    params.settings = Settings(limits_);
    // A warm start asks every saved node at once and keeps those that answer: handed to the
    // library, the saved nodes would first be walked towards the session's own id, the routers
    // asked beside them. The routers are asked only when too few saved nodes answer.
    params.dht_state.nodes.clear();
    params.dht_state.nodes6.clear();
    // The library starts its DHT before it opens the listen sockets, and a DHT started without
    // a socket forgets the saved node id: it is switched on once the sockets are open.
    params.settings.set_bool(lt::settings_pack::enable_dht, false);
    bootstrapNodes_ = limits_.dhtBootstrapNodes;
    params.settings.set_str(lt::settings_pack::dht_bootstrap_nodes, warm_ ? "" : bootstrapNodes_);
    CountRouters(limits_.dhtBootstrapNodes, routerNames_, routersByAddress_);
    routersByAddress_ = routersByAddress_ || !loaded_->nodes.empty() || !loaded_->nodes6.empty();
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
    lastDhtNode_ = Clock::now();
    ++sessionsStarted_;
    session_->set_alert_notify([this] {
        std::lock_guard<std::mutex> guard(alertLock_);
        alerts_ = true;
        alerted_.notify_all();
    });
}

namespace {

std::string EndpointText(const lt::tcp::endpoint& peer) {
    const std::string address = peer.address().to_string();
    return (peer.address().is_v6() ? "[" + address + "]" : address) + ":" +
           std::to_string(peer.port());
}

// What the memory of the unreachable is kept by: a tracker's address, a peer's, or the DHT.
std::string TrackerKey(const std::string& url) {
    return "tracker " + url;
}
std::string PeerKey(const lt::tcp::endpoint& peer) {
    return "peer " + EndpointText(peer);
}
constexpr const char* kDhtKey = "dht";

// A torrent's info dictionary and its hashes as the library writes them.
struct InfoAndHashes {
    std::string_view info;
    std::string v1, v2;
};

InfoAndHashes Described(const lt::torrent_info& torrent) {
    const auto section = torrent.info_section();
    InfoAndHashes described{
        std::string_view(section.data(), static_cast<size_t>(section.size())), {}, {}};
    std::ostringstream v1, v2;
    if (torrent.info_hashes().has_v1())
        described.v1 = (v1 << torrent.info_hashes().v1, v1.str());
    if (torrent.info_hashes().has_v2())
        described.v2 = (v2 << torrent.info_hashes().v2, v2.str());
    return described;
}

}  // namespace

struct SwarmSource::Params {
    lt::add_torrent_params params;
};

struct SwarmSource::Alert {
    lt::alert* alert;
};

// One look-up of a torrent in the network, shared by every link of the batch that names it by
// either of its hashes: the library knows a torrent once, whatever names the links give it.
// It ends when its last link is done.
struct SwarmSource::Lookup {
    lt::torrent_handle handle;
    LinkHashes hashes;  // every hash its links have named
    int users = 0;
    bool hasMetadata = false;
    int peers = 0;  // connected, as the session last said
    int mostPeers = 0;
    int dialled = 0;            // peers it dialled
    bool closedByPeer = false;  // a peer took the connection and then closed it
    // Its DHT look-up, known by its v1 hash or else its v2 hash as the DHT knows it. The
    // library starts none by itself (it would start one on adding a torrent, before its DHT can
    // take it, then one every few seconds for the torrents of a batch, and another beside a
    // running one when asked): this source starts one when the DHT is ready, and another only
    // after the last ended without a peer, once it has sent nothing for a while.
    lt::sha1_hash dhtTarget;
    bool dhtAsked = false;
    Clock::time_point lastDhtRequest;
};

void SwarmSource::Watch() {
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(alertLock_);
            alerted_.wait_for(guard, std::chrono::milliseconds(dhtWaiting_ ? 20 : 100),
                              [&] { return alerts_ || closing_; });
            if (closing_)
                return;
            alerts_ = false;
        }
        std::vector<std::function<void()>> ended;
        {
            std::lock_guard<std::mutex> guard(lock_);
            Poll();
            Step(ended);
            dhtWaiting_ = limits_.dht && !dhtReady_ && !lookups_.empty();
        }
        for (const auto& f : ended) {
            if (f)
                f();  // no lock of this source's held: the front end's run takes its own
        }
    }
}

struct SwarmSource::Index {
    std::unordered_map<lt::torrent_handle, Lookup*> lookups;
    std::unordered_multimap<lt::sha1_hash, Lookup*> byTarget;
};

SwarmSource::Index& SwarmSource::Indexed() {
    if (!byHandle_)
        byHandle_ = std::make_unique<Index>();
    if (byHandle_->lookups.empty()) {  // made again at most once a poll
        for (const auto& lookup : lookups_) {
            byHandle_->lookups[lookup->handle] = lookup.get();
            byHandle_->byTarget.emplace(lookup->dhtTarget, lookup.get());
        }
    }
    return *byHandle_;
}

SwarmSource::Lookup* SwarmSource::Find(const lt::torrent_handle& handle) {
    const Index& index = Indexed();
    const auto found = index.lookups.find(handle);
    return found == index.lookups.end() ? nullptr : found->second;
}

bool SwarmSource::Poll() {
    if (!session_)
        return false;
    if (byHandle_)
        byHandle_->lookups.clear(), byHandle_->byTarget.clear();
    const auto now = Clock::now();
    // While look-ups wait for the DHT to be ready, its nodes are counted more often.
    const auto statsEvery = std::chrono::milliseconds(dhtReady_ ? 100 : 20);
    if (limits_.dht && dhtNodeMetric_ >= 0 && now - statsAsked_ > statsEvery) {
        session_->post_session_stats();
        statsAsked_ = now;
    }
    // How many peers each look-up has: the torrents that changed since the last time.
    if (!lookups_.empty() && now - updatesAsked_ > std::chrono::milliseconds(200)) {
        session_->post_torrent_updates(lt::status_flags_t{});
        updatesAsked_ = now;
    }
    std::vector<lt::alert*> alerts;
    session_->pop_alerts(&alerts);
    for (lt::alert* a : alerts) {
        if (!NoteReachability(Alert{a}))
            Note(Alert{a});
    }
    if (byHandle_)
        byHandle_->lookups.clear(), byHandle_->byTarget.clear();  // look-ups come and go
    // The DHT counts as offline once it has had no node for a link's whole bound, or at once
    // when it has nothing to start from: no saved node, and no router name could be looked up
    // (no network at all).
    const bool silent =
        Clock::now() - lastDhtNode_ > std::chrono::milliseconds(limits_.unreachableMs);
    const bool nothingToStartFrom =
        !routersByAddress_ && routerNames_ > 0 && failedRouterLookups_ >= routerNames_;
    const bool offline = dhtNodes_ == 0 && (silent || nothingToStartFrom);
    if (offline && !dhtOffline_)
        dead_.Failed(kDhtKey, now);
    else if (dhtNodes_ > 0)
        dead_.Reached(kDhtKey);
    dhtOffline_ = offline;
    return !alerts.empty();
}

void SwarmSource::Note(const Alert& alert) {
    lt::alert* a = alert.alert;
    if (auto* got = lt::alert_cast<lt::metadata_received_alert>(a)) {
        for (const auto& lookup : lookups_) {
            if (lookup->handle == got->handle)
                lookup->hasMetadata = true;
        }
    } else if (auto* update = lt::alert_cast<lt::state_update_alert>(a)) {
        for (const lt::torrent_status& status : update->status) {
            if (Lookup* lookup = Find(status.handle)) {
                lookup->peers = status.num_peers;
                lookup->mostPeers = std::max(lookup->mostPeers, status.num_peers);
                lookup->hasMetadata = lookup->hasMetadata || status.has_metadata;
            }
        }
    } else if (auto* asked = lt::alert_cast<lt::dht_outgoing_get_peers_alert>(a)) {
        const auto [first, last] = Indexed().byTarget.equal_range(asked->info_hash);
        for (auto i = first; i != last; ++i)
            i->second->lastDhtRequest = Clock::now();
    } else if (auto* dialled = lt::alert_cast<lt::peer_connect_alert>(a)) {
        if (Lookup* lookup = Find(dialled->handle))
            ++lookup->dialled;
    } else if (auto* stats = lt::alert_cast<lt::session_stats_alert>(a)) {
        dhtNodes_ = stats->counters()[dhtNodeMetric_];
        if (dhtNodes_ > 0)
            lastDhtNode_ = Clock::now();
    } else if (auto* conflict = lt::alert_cast<lt::torrent_conflict_alert>(a)) {
        // Two look-ups turned out to be one torrent (one by its v1 hash, one by its v2 hash):
        // the library stops both, and hands over the metadata for their links.
        if (conflict->metadata) {
            const InfoAndHashes d = Described(*conflict->metadata);
            Keep(d.info, d.v1, d.v2);
        }
    } else if (auto* dht = lt::alert_cast<lt::dht_error_alert>(a)) {
        if (dht->op == lt::operation_t::hostname_lookup)
            ++failedRouterLookups_;
    }
}

bool SwarmSource::NoteReachability(const Alert& alert) {
    lt::alert* a = alert.alert;
    if (auto* sent = lt::alert_cast<lt::tracker_announce_alert>(a)) {
        ++announcing_[sent->tracker_url()];  // from one of the session's addresses
    } else if (auto* failed = lt::alert_cast<lt::tracker_error_alert>(a)) {
        // A tracker is dead once the announce from every address has failed (the library
        // skips one from an IPv6 address to an IPv4 tracker, and from loopback to the rest),
        // unless it answered on one of them.
        const std::string url = failed->tracker_url();
        int& announcing = announcing_[url];
        announcing = std::max(announcing - 1, 0);
        if (announcing == 0 && !answeredTrackers_.contains(url))
            dead_.Failed(TrackerKey(url), Clock::now());
        if (failed->error == lt::errors::banned_by_ip_filter)
            refusedTrackers_.insert(url);  // its name led to one
    } else if (auto* replied = lt::alert_cast<lt::tracker_reply_alert>(a)) {
        int& announcing = announcing_[replied->tracker_url()];
        announcing = std::max(announcing - 1, 0);
        dead_.Reached(TrackerKey(replied->tracker_url()));
        answeredTrackers_.insert(replied->tracker_url());
    } else if (auto* gone = lt::alert_cast<lt::peer_disconnected_alert>(a)) {
        // A connection that could not be made is a dead peer, unless uTP timed out (TCP is
        // tried next); one that was made is not.
        const bool beforeConnected =
            gone->op == lt::operation_t::connect || gone->op == lt::operation_t::sock_open ||
            gone->op == lt::operation_t::sock_bind || gone->op == lt::operation_t::sock_option;
        const bool utpTimedOut = gone->socket_type == lt::socket_type_t::utp &&
                                 gone->error == boost::system::errc::timed_out;
        if (beforeConnected && !utpTimedOut) {
            dead_.Failed(PeerKey(gone->endpoint), Clock::now());
        } else if (!beforeConnected) {
            dead_.Reached(PeerKey(gone->endpoint));
            const bool closed = gone->error == boost::asio::error::eof ||
                                gone->error == boost::asio::error::connection_reset;
            if (Lookup* lookup = closed ? Find(gone->handle) : nullptr)
                lookup->closedByPeer = true;
        }
    } else if (auto* blocked = lt::alert_cast<lt::peer_blocked_alert>(a)) {
        dead_.Failed(PeerKey(blocked->endpoint), Clock::now());  // never contacted
    } else {
        return false;
    }
    return true;
}

namespace {

// What the library is given for a link: its trackers and peers, the hash in its checked form,
// and no content ever asked for.
// The link with at most kMaxTrackersPerLink "tr=" and kMaxPeersPerLink "x.pe=" parameters:
// the library's work on a link grows with the square of their number.
std::string CappedLink(std::string_view link) {
    std::string capped;
    size_t trackers = 0, peers = 0;
    for (size_t begin = 0; begin < link.size();) {
        const size_t end = std::min(link.find('&', begin), link.size());
        const std::string_view param = link.substr(begin, end - begin);
        const bool keep = param.starts_with("tr=")     ? ++trackers <= kMaxTrackersPerLink
                          : param.starts_with("x.pe=") ? ++peers <= kMaxPeersPerLink
                                                       : true;
        if (keep)
            capped.append(capped.empty() ? "" : "&").append(param);
        begin = end + 1;
    }
    return capped;
}

// An address without the "user:password@" before its host.
std::string WithoutUserInfo(const std::string& url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos)
        return url;
    const size_t host = scheme + 3;
    const size_t end = std::min(url.find_first_of("/?#", host), url.size());
    const size_t at = url.rfind('@', end - 1);
    if (at == std::string::npos || at < host || end == host)
        return url;
    return url.substr(0, host) + url.substr(at + 1);
}

lt::add_torrent_params ParamsFor(const FetchRequest& request, const lt::info_hash_t& hashes,
                                 bool allowPrivateAddresses) {
    lt::error_code ec;
    lt::add_torrent_params params = lt::parse_magnet_uri(CappedLink(request.link), ec);
    if (ec)
        params = lt::add_torrent_params();  // keep going with the hashes alone
    params.info_hashes = hashes;
    // Web seeds serve content, never metadata; DHT nodes a link names are only asked where
    // the link may make the program reach any address.
    params.url_seeds.clear();
    if (!allowPrivateAddresses)
        params.dht_nodes.clear();
    // Credentials a link writes into a tracker's address are never sent, nor saved.
    for (std::string& tracker : params.trackers)
        tracker = WithoutUserInfo(tracker);
    params.save_path = ParentFolder(request.destination);
    // Added paused and then resumed: resuming a torrent dials the peers it knows at once, where
    // the library would otherwise wait for its next second.
    params.flags &= ~lt::torrent_flags::auto_managed;
    params.flags |= lt::torrent_flags::paused;
    params.flags |= lt::torrent_flags::upload_mode;  // never ask peers for content
    params.flags |= lt::torrent_flags::disable_dht;  // looked up when the source says
    return params;
}

// The hashes the network is asked by, v1 (SHA-1), v2 (SHA-256) or both; nothing when the link
// has neither.
std::optional<lt::info_hash_t> NetworkHashes(const LinkHashes& hashes) {
    const auto sha1 = [&] {
        return lt::sha1_hash(reinterpret_cast<const char*>(hashes.v1->data()));
    };
    const auto sha256 = [&] {
        return lt::sha256_hash(reinterpret_cast<const char*>(hashes.v2->data()));
    };
    if (hashes.v1 && hashes.v2)
        return lt::info_hash_t(sha1(), sha256());
    if (hashes.v1)
        return lt::info_hash_t(sha1());
    if (hashes.v2)
        return lt::info_hash_t(sha256());
    return std::nullopt;
}

// The torrent file for metadata that arrived, checked against the link and staged.
FetchResult StageMetadata(std::string_view info, const std::vector<std::string>& trackers,
                          const FetchRequest& request) {
    const std::string body = TorrentFromMetadata(info, trackers);
    if (FetchResult checked = CheckDelivered(body, request.hashes, nullptr); !checked.ok())
        return FetchResult::Failed(checked.error,
                                   "the metadata from the network does not match the link");
    auto file = std::make_unique<AtomicFile>(request.destination);
    if (FetchResult opened = file->Open(); !opened.ok())
        return opened;
    if (FetchResult written = file->Write(body); !written.ok())
        return written;
    FetchResult staged = FetchResult::Done("saved from the BitTorrent network");
    staged.staged = std::move(file);
    return staged;
}

// The facts a failure states; core/words.cpp has them in both languages.
constexpr const char* kUnreachable = "no peer, no DHT node";
constexpr const char* kClosedByPeer = "a peer took the connection and closed it";

// The host of a tracker's address, without brackets.
std::string TrackerHost(const std::string& url) {
    const size_t scheme = url.find("://");
    const size_t begin = scheme == std::string::npos ? 0 : scheme + 3;
    if (url.compare(begin, 1, "[") == 0) {
        const size_t close = url.find(']', begin);
        return close == std::string::npos ? "" : url.substr(begin + 1, close - begin - 1);
    }
    const size_t end = std::min(url.find_first_of(":/?#", begin), url.size());
    return url.substr(begin, end - begin);
}

bool Private(const std::string& host) {
    const std::optional<IpAddress> address = ParseAddress(host);
    return address && !IsPublic(*address);
}

}  // namespace

// What a link asks the network through: its trackers and its peers; and those it named that
// are on this machine or a private network and are never contacted.
struct SwarmSource::Named {
    std::vector<std::string> trackers;
    std::vector<lt::tcp::endpoint> peers;
    std::vector<std::string> refused;
};

FetchResult SwarmSource::Unreached(const Named& named, bool everReached, bool lost,
                                   const Lookup* lookup) const {
    std::string refused;
    for (const std::string& address : named.refused)
        refused += (refused.empty() ? "" : ", ") + address;
    for (const std::string& tracker : named.trackers) {
        if (refusedTrackers_.contains(tracker))
            refused += (refused.empty() ? "" : ", ") + tracker;
    }
    if (!everReached && !refused.empty())  // the detail is the addresses, as for a web address
        return FetchResult::Failed(FetchError::PrivateAddress, refused);
    if (!everReached && lookup && lookup->closedByPeer)
        return FetchResult::Failed(FetchError::NoConnection, kClosedByPeer);
    if (!everReached)
        return FetchResult::Failed(FetchError::NoConnection, kUnreachable);
    if (lost)
        return FetchResult::Failed(FetchError::NoConnection, "lost every peer and DHT node");
    return FetchResult::Failed(FetchError::Timeout, "peers reached, no metadata in time");
}

namespace {

bool SharesAHash(const LinkHashes& a, const LinkHashes& b) {
    return (a.v1 && a.v1 == b.v1) || (a.v2 && a.v2 == b.v2);
}

// The largest total of info dictionaries kept for other links of the same torrent.
constexpr size_t kMaxKeptMetadata = 64u << 20;

}  // namespace

bool SwarmSource::NothingLeftToAsk(const Named& named, Clock::time_point now,
                                   std::optional<Clock::time_point> since) const {
    // For a new link, what failed a moment ago; for a link waiting since `since`, also what
    // failed for it meanwhile (the session does not dial it again soon). The DHT is asked again
    // by a new link once its wait has passed (see RetryDht).
    const auto dead = [&](const std::string& key) {
        return dead_.Resting(key, now) || (since && dead_.FailedSince(key, *since));
    };
    if (limits_.dht && (!dhtOffline_ || (!since && !dead_.Resting(kDhtKey, now))))
        return false;
    for (const std::string& tracker : named.trackers) {
        if (!dead(TrackerKey(tracker)))
            return false;
    }
    for (const lt::tcp::endpoint& peer : named.peers) {
        if (!dead(PeerKey(peer)))
            return false;
    }
    return true;
}

FetchResult SwarmSource::NotAskedAgain(const Named& named, Clock::time_point now) const {
    std::optional<Clock::duration> latest;
    const auto note = [&](const std::string& key) {
        if (const auto resting = dead_.Resting(key, now))
            latest = latest ? std::min(*latest, *resting) : *resting;
    };
    if (limits_.dht)
        note(kDhtKey);
    for (const std::string& tracker : named.trackers)
        note(TrackerKey(tracker));
    for (const lt::tcp::endpoint& peer : named.peers)
        note(PeerKey(peer));
    if (!latest)
        return Unreached(named, false, false);  // it names nothing the network could be asked
    return FetchResult::Failed(FetchError::NotAskedAgain, TenthsOfSeconds(*latest));
}

void SwarmSource::RetryDht(Clock::time_point now) {
    if (!limits_.dht || !dhtOffline_ || dead_.Resting(kDhtKey, now))
        return;
    // Its nodes and routers are asked again, their names looked up again; with still no node
    // after a moment it is offline again, for longer.
    dhtOffline_ = false;
    failedRouterLookups_ = 0;
    lastDhtNode_ = now - std::chrono::milliseconds(limits_.unreachableMs) + kDhtRetryBound;
    // The look-ups of the offline DHT ended at once; they ask again once it is ready, which
    // it is at once now that it has its routers.
    dhtRunning_ = dhtReady_ = warm_ = false;
    for (const auto& lookup : lookups_)
        lookup->dhtAsked = false;
    PingSaved();  // the saved nodes too, beside the routers
    lt::settings_pack pack;
    bootstrapToggle_ = !bootstrapToggle_;  // a changed value makes the library take it anew
    pack.set_str(lt::settings_pack::dht_bootstrap_nodes,
                 bootstrapNodes_ + (bootstrapToggle_ ? "," : ""));
    session_->apply_settings(std::move(pack));
}

namespace {

// A warm start looks up once this many saved nodes answered, or asks the routers after this
// wait. A look-up none of whose requests went out for kDhtLookupDone has nothing left to ask
// but silent nodes (the library gives a node that has not answered in a second its place).
constexpr long long kWarmNodes = 10;
constexpr auto kWarmWait = std::chrono::milliseconds(500);
constexpr auto kDhtLookupDone = std::chrono::seconds(3);

}  // namespace

void SwarmSource::PingSaved() {
    for (const auto* list : {&loaded_->nodes, &loaded_->nodes6}) {
        for (const lt::udp::endpoint& node : *list)
            session_->add_dht_node({node.address().to_string(), node.port()});
    }
}

bool SwarmSource::DhtReady(Clock::time_point now) {
    if (dhtReady_ || !limits_.dht || !session_)
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
    if (warm_ && dhtNodes_ < kWarmNodes && waited >= kWarmWait && !routersAsked_) {
        routersAsked_ = true;
        for (const auto& router : Routers(bootstrapNodes_))
            session_->add_dht_node(router);
    }
    dhtReady_ = !warm_ || dhtNodes_ >= kWarmNodes || (routersAsked_ && dhtNodes_ > 0) ||
                waited >= 2 * kWarmWait;
    return dhtReady_;
}

void SwarmSource::AskDht(Clock::time_point now) {
    if (!limits_.dht || lookups_.empty() || !DhtReady(now))
        return;
    for (const auto& lookup : lookups_) {
        if (lookup->hasMetadata || lookup->peers > 0 ||
            (lookup->dhtAsked && now - lookup->lastDhtRequest < kDhtLookupDone))
            continue;
        // The torrent's own announce, whose peers the library dials at once; switched on for
        // the moment it starts.
        lookup->handle.unset_flags(lt::torrent_flags::disable_dht);
        lookup->handle.force_dht_announce();
        lookup->handle.set_flags(lt::torrent_flags::disable_dht);
        lookup->dhtAsked = true;
        lookup->lastDhtRequest = now;
    }
}

std::shared_ptr<const std::string> SwarmSource::Keep(std::string_view info, const std::string& v1,
                                                     const std::string& v2) {
    auto bytes = std::make_shared<const std::string>(info);
    if (metadataBytes_ + bytes->size() > kMaxKeptMetadata) {
        metadata_.clear();
        metadataBytes_ = 0;
    }
    for (const std::string& key : {v1, v2}) {
        if (!key.empty())
            metadata_[key] = bytes;
    }
    metadataBytes_ += bytes->size();
    return bytes;
}

std::shared_ptr<const std::string> SwarmSource::KnownMetadata(const LinkHashes& hashes) const {
    for (std::string key : {hashes.V1Text(), hashes.V2Text()}) {
        if (key.empty())
            continue;
        for (char& c : key)  // kept as the library writes hashes: lower-case
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (auto found = metadata_.find(key); found != metadata_.end())
            return found->second;
    }
    return nullptr;
}

std::shared_ptr<SwarmSource::Lookup> SwarmSource::Join(const FetchRequest& request, Params& params,
                                                       const Named& named, FetchResult& failure) {
    const auto now = Clock::now();
    RetryDht(now);
    // Whether the network can be reached is the session's matter: a link that names only what
    // this run found unreachable a moment ago fails at once while the DHT has no node.
    if (NothingLeftToAsk(named, now)) {
        failure = NotAskedAgain(named, now);
        return nullptr;
    }
    std::shared_ptr<Lookup> lookup;
    for (const auto& other : lookups_) {
        if (SharesAHash(other->hashes, request.hashes))
            lookup = other;
    }
    if (!lookup) {
        lt::error_code ec;
        lt::torrent_handle handle = session_->add_torrent(std::move(params.params), ec);
        if (ec || !handle.is_valid()) {
            failure = FetchResult::Failed(
                FetchError::Other, "the network source could not take the link: " + ec.message());
            return nullptr;
        }
        handle.resume();
        // The library may know the torrent already by its other hash.
        for (const auto& other : lookups_) {
            if (other->handle == handle)
                lookup = other;
        }
        if (!lookup) {
            lookup = lookups_.emplace_back(std::make_shared<Lookup>());
            lookup->handle = handle;
            lookup->dhtTarget = NetworkHashes(request.hashes)->get_best();
            if (byHandle_)
                byHandle_->lookups.clear(), byHandle_->byTarget.clear();
        }
    } else {
        // Another link for the same torrent is asking already: this one's trackers and peers
        // join its look-up. (A new look-up has them from the start, when the library dials
        // them at once.)
        for (const std::string& tracker : named.trackers)
            lookup->handle.add_tracker(lt::announce_entry(tracker));
        for (const lt::tcp::endpoint& peer : named.peers)
            lookup->handle.connect_peer(peer);
    }
    if (!lookup->hashes.v1)
        lookup->hashes.v1 = request.hashes.v1;
    if (!lookup->hashes.v2)
        lookup->hashes.v2 = request.hashes.v2;
    ++lookup->users;
    TurnToDht(now);
    return lookup;
}

void SwarmSource::TurnToDht(Clock::time_point now) {
    // The DHT's silence counts from when a link first needs it, not from the session's start
    // (a slow start, as under wine, would otherwise put the DHT offline before the link's own
    // bound, and its wait would be over before the link failed).
    if (lookups_.size() == 1 && dhtNodes_ == 0 && !dhtOffline_)
        lastDhtNode_ = std::max(lastDhtNode_, Clock::now());
    // Asked at once when the DHT is ready; otherwise the watcher asks it as soon as it is (a
    // link's start never waits on the library's thread).
    if (dhtReady_)
        AskDht(now);
    else if (limits_.dht) {
        dhtWaiting_ = true;
        std::lock_guard<std::mutex> wake(alertLock_);
        alerts_ = true;
        alerted_.notify_all();
    }
}

void SwarmSource::Leave(const std::shared_ptr<Lookup>& lookup) {
    if (--lookup->users > 0)
        return;
    std::erase(lookups_, lookup);
    if (session_)
        session_->remove_torrent(lookup->handle);
}

// One link's look-up while it waits: a state that the watcher moves on as the session reports,
// until it ends with the link's answer. Nobody's thread waits for it.
struct SwarmSource::Wait : PendingFetch {
    FetchRequest request;
    Named named;
    std::shared_ptr<Lookup> lookup;
    Clock::time_point start;
    Clock::time_point lastReached;
    bool everReached = false;

    std::mutex lock;
    std::condition_variable done;
    bool ended = false;
    FetchResult failure;
    std::shared_ptr<const std::string> metadata;  // the answer, when the metadata came
    std::function<void()> onEnded;

    void WhenEnded(std::function<void()> ended_) override {
        std::unique_lock<std::mutex> guard(lock);
        if (!ended) {
            onEnded = std::move(ended_);
            return;
        }
        guard.unlock();
        ended_();
    }
    FetchResult Take() override {
        std::unique_lock<std::mutex> guard(lock);
        done.wait(guard, [&] { return ended; });
        const std::shared_ptr<const std::string> info = std::move(metadata);
        if (!info)
            return std::move(failure);
        guard.unlock();
        // Staged only now, on the taker's thread: a link waiting for its turn holds no file.
        return StageMetadata(*info, named.trackers, request);
    }
    // Its answer; what is to be called once the source's lock is let go.
    std::function<void()> End(FetchResult answer, std::shared_ptr<const std::string> info) {
        std::lock_guard<std::mutex> guard(lock);
        failure = std::move(answer);
        metadata = std::move(info);
        ended = true;
        done.notify_all();
        return std::move(onEnded);
    }
};

FetchResult SwarmSource::Fetch(const FetchRequest& request) {
    return Begin(request)->Take();
}

std::shared_ptr<PendingFetch> SwarmSource::Begin(const FetchRequest& request) {
    const auto answered = [](FetchResult result) {
        return std::make_shared<AnsweredFetch>(std::move(result));
    };
    if (!NetworkHashes(request.hashes))
        return answered(FetchResult::Failed(FetchError::Other,
                                            "the info-hash is not one the network can look up"));
    Params params{
        ParamsFor(request, *NetworkHashes(request.hashes), limits_.allowPrivateAddresses)};
    Named named;
    if (!limits_.allowPrivateAddresses) {
        // Known to be refused before anything is asked: said as the reason, never dialled.
        std::erase_if(params.params.peers, [&](const lt::tcp::endpoint& peer) {
            const bool refused = Private(peer.address().to_string());
            if (refused)
                named.refused.push_back(EndpointText(peer));
            return refused;
        });
        std::erase_if(params.params.trackers, [&](const std::string& tracker) {
            const bool refused = Private(TrackerHost(tracker));
            if (refused)
                named.refused.push_back(tracker);
            return refused;
        });
    }
    named.trackers = params.params.trackers;
    named.peers = params.params.peers;
    auto wait = std::make_shared<Wait>();
    std::lock_guard<std::mutex> guard(lock_);
    try {
        Session();
        Poll();
        FetchResult failure;
        wait->lookup = Join(request, params, named, failure);
        if (!wait->lookup)
            return answered(std::move(failure));
        wait->request = request;
        wait->named = std::move(named);
        wait->start = wait->lastReached = Clock::now();
        waits_.push_back(wait);
    } catch (const std::exception& e) {
        if (wait->lookup)
            Leave(wait->lookup);
        return answered(FetchResult::Failed(FetchError::Other,
                                            std::string("the network source failed: ") + e.what()));
    }
    return wait;
}

void SwarmSource::MarkTried(const Named& named, Clock::time_point now) {
    for (const std::string& tracker : named.trackers) {
        if (!answeredTrackers_.contains(tracker))
            dead_.Failed(TrackerKey(tracker), now);
    }
    for (const lt::tcp::endpoint& peer : named.peers)
        dead_.Failed(PeerKey(peer), now);
}

std::shared_ptr<const std::string> SwarmSource::Arrived(Lookup& lookup, const LinkHashes& hashes) {
    if (auto known = KnownMetadata(hashes); known || !lookup.hasMetadata)
        return known;
    // A call into the library's thread, which never waits for this source's lock.
    const std::shared_ptr<const lt::torrent_info> info = lookup.handle.torrent_file();
    if (!info)
        return nullptr;
    const InfoAndHashes d = Described(*info);
    return Keep(d.info, d.v1, d.v2);
}

std::optional<FetchResult> SwarmSource::Progress(Wait& wait, Clock::time_point now,
                                                 std::shared_ptr<const std::string>& metadata) {
    if (wait.request.cancel && wait.request.cancel->load())
        return FetchResult::Failed(FetchError::Cancelled, "cancelled");
    Lookup& lookup = *wait.lookup;
    if ((metadata = Arrived(lookup, wait.request.hashes)))
        return FetchResult::Done("saved from the BitTorrent network");
    if (wait.request.activity)
        wait.request.activity->Network(lookup.peers, static_cast<int>(dhtNodes_));
    if (lookup.peers > 0 || dhtNodes_ > 0) {
        wait.lastReached = now;
        wait.everReached = true;
    }
    const bool outOfTime = now - wait.start > std::chrono::milliseconds(limits_.perLinkMs);
    const bool unreachable =
        now - wait.lastReached > std::chrono::milliseconds(limits_.unreachableMs);
    if (outOfTime || unreachable ||
        (lookup.peers == 0 && NothingLeftToAsk(wait.named, now, wait.start))) {
        if (unreachable && !wait.everReached)
            MarkTried(wait.named, now);  // nothing it named answered for its whole bound
        return Unreached(wait.named, wait.everReached, !outOfTime, &lookup);
    }
    return std::nullopt;
}

void SwarmSource::Step(std::vector<std::function<void()>>& ended) {
    const auto now = Clock::now();
    AskDht(now);
    std::erase_if(waits_, [&](const std::shared_ptr<Wait>& wait) {
        std::shared_ptr<const std::string> metadata;
        std::optional<FetchResult> answer;
        try {
            answer = Progress(*wait, now, metadata);
        } catch (const std::exception& e) {
            answer = FetchResult::Failed(FetchError::Other,
                                         std::string("the network source failed: ") + e.what());
        }
        if (!answer)
            return false;
        answer->peersDialled = wait->lookup->dialled;
        answer->peersConnected = wait->lookup->mostPeers;
        answer->dhtNodes = static_cast<int>(dhtNodes_);
        Leave(wait->lookup);
        ended.push_back(wait->End(std::move(*answer), std::move(metadata)));
        return true;
    });
}

void SwarmSource::EndWaits() {
    std::vector<std::function<void()>> ended;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const auto& wait : waits_)
            ended.push_back(wait->End(
                FetchResult::Failed(FetchError::Cancelled, "the network source closed"), nullptr));
        waits_.clear();
    }
    for (const auto& f : ended) {
        if (f)
            f();
    }
}

}  // namespace velindra

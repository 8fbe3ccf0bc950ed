#include "swarm_source.h"

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
#include <thread>

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
        body += "8:announce" + Bstr(trackers.front());
        body +=
            "13:announce-list"
            "l";
        for (const auto& t : trackers)
            body += "l" + Bstr(t) + "e";  // one tier each
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

// The saved nodes the DHT starts from, as "address:port" for the bootstrap setting, at most
// `count` of each address family.
std::string BootstrapFrom(const lt::dht::dht_state& state, size_t count) {
    std::string nodes;
    for (const auto* list : {&state.nodes, &state.nodes6}) {
        for (size_t i = 0; i < list->size() && i < count; ++i) {
            const lt::udp::endpoint& node = (*list)[i];
            const std::string address = node.address().to_string();
            nodes += (node.address().is_v6() ? "[" + address + "]" : address) + ":" +
                     std::to_string(node.port()) + ",";
        }
    }
    return nodes;
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

}  // namespace

SwarmSource::~SwarmSource() {
    std::lock_guard<std::mutex> guard(lock_);
    if (session_ && limits_.dht)
        SaveState(limits_.stateFile, *session_, *loaded_);
    session_.reset();  // closes every socket of the batch
}

void SwarmSource::Warm() {
    std::lock_guard<std::mutex> guard(lock_);
    Session();
}

lt::session& SwarmSource::Session() {
    if (!session_) {
        lt::settings_pack pack;
        pack.set_str(lt::settings_pack::user_agent, kUserAgent);
        pack.set_str(lt::settings_pack::listen_interfaces, limits_.listenInterfaces);
        pack.set_bool(lt::settings_pack::enable_dht, limits_.dht);
        pack.set_bool(lt::settings_pack::enable_lsd, limits_.localDiscovery);
        pack.set_bool(lt::settings_pack::enable_upnp, limits_.portMapping);
        pack.set_bool(lt::settings_pack::enable_natpmp, limits_.portMapping);
        pack.set_int(lt::settings_pack::stop_tracker_timeout, 1);
        pack.set_int(lt::settings_pack::alert_mask, lt::alert_category::error);
        lt::session_params params;
        if (limits_.dht)
            LoadState(limits_.stateFile, params);
        loaded_ = std::make_unique<lt::dht::dht_state>(params.dht_state);
        // The library drops the saved nodes when its DHT starts before the listen sockets are
        // open, as it does here: they go first among the bootstrap nodes instead, so that a
        // later batch starts from the network it knew and needs no router.
        pack.set_str(lt::settings_pack::dht_bootstrap_nodes,
                     BootstrapFrom(params.dht_state, 32) + limits_.dhtBootstrapNodes);
        params.settings = std::move(pack);
        params.disk_io_constructor = lt::disabled_disk_io_constructor;
        // Trackers a link names are filtered like its peers.
        params.settings.set_bool(lt::settings_pack::apply_ip_filter_to_trackers, true);
        params.settings.set_bool(lt::settings_pack::ssrf_mitigation, true);
        if (!limits_.allowPrivateAddresses)
            params.ip_filter = PublicOnly();
        session_ = std::make_unique<lt::session>(std::move(params));
        dhtNodeMetric_ = lt::find_metric_idx("dht.dht_nodes");
        ++sessionsStarted_;
    }
    return *session_;
}

int SwarmSource::DhtNodes() {
    // Called with lock_ held; the alert queue is read by one thread at a time.
    if (!session_ || !limits_.dht || dhtNodeMetric_ < 0)
        return 0;
    session_->post_session_stats();
    std::vector<lt::alert*> alerts;
    session_->pop_alerts(&alerts);
    for (lt::alert* a : alerts) {
        if (auto* stats = lt::alert_cast<lt::session_stats_alert>(a)) {
            dhtNodes_ = stats->counters()[dhtNodeMetric_];
        }
    }
    return static_cast<int>(dhtNodes_);
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
    params.flags &= ~(lt::torrent_flags::auto_managed | lt::torrent_flags::paused);
    params.flags |= lt::torrent_flags::upload_mode;  // never ask peers for content
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
FetchResult StageMetadata(const lt::torrent_info& info, const std::vector<std::string>& trackers,
                          const FetchRequest& request, std::unique_ptr<AtomicFile> file) {
    const auto section = info.info_section();
    const std::string body = TorrentFromMetadata(
        std::string_view(section.data(), static_cast<size_t>(section.size())), trackers);
    if (FetchResult checked = CheckDelivered(body, request.hashes, nullptr); !checked.ok())
        return FetchResult::Failed(checked.error,
                                   "the metadata from the network does not match the link");
    if (FetchResult written = file->Write(body); !written.ok())
        return written;
    FetchResult staged = FetchResult::Done("saved from the BitTorrent network");
    staged.staged = std::move(file);
    return staged;
}

constexpr const char* kUnreachable = "the network could not be reached (no peer, no DHT node)";

// Why a link that got no metadata in time failed.
FetchResult GaveUp(bool everReached, bool unreachable, int mostPeers) {
    if (!everReached)
        return FetchResult::Failed(FetchError::NoConnection, kUnreachable);
    if (unreachable)
        return FetchResult::Failed(FetchError::NoConnection,
                                   "lost every peer and DHT node of the network");
    return FetchResult::Failed(FetchError::Timeout,
                               "the network was reached (" + std::to_string(mostPeers) +
                                   " peers at most) but sent no metadata in time");
}

}  // namespace

// One look-up of a torrent in the network, shared by every link of the batch that names it:
// the library knows a torrent once, whatever names the links give it.
struct SwarmSource::Lookup {
    lt::torrent_handle handle;
    int users = 0;
};

namespace {

// A torrent by its v1 hash, or its v2 hash when it has none: what the library tells torrents
// apart by.
std::string LookupKey(const LinkHashes& hashes) {
    return hashes.v1 ? hashes.V1Text() : hashes.V2Text();
}

}  // namespace

FetchResult SwarmSource::Fetch(const FetchRequest& request) {
    const std::optional<lt::info_hash_t> hashes = NetworkHashes(request.hashes);
    if (!hashes)
        return FetchResult::Failed(FetchError::Other,
                                   "the info-hash is not one the network can look up");
    if (offline_) {
        // Whether the network can be reached is the session's matter, not the link's.
        std::lock_guard<std::mutex> guard(lock_);
        if (DhtNodes() == 0)
            return FetchResult::Failed(FetchError::NoConnection, kUnreachable);
        offline_ = false;  // a node has turned up: links are asked again
    }
    auto file = std::make_unique<AtomicFile>(request.destination);
    if (FetchResult opened = file->Open(); !opened.ok())
        return opened;

    lt::add_torrent_params params = ParamsFor(request, *hashes, limits_.allowPrivateAddresses);
    const std::vector<std::string> trackers = params.trackers;
    const std::string key = LookupKey(request.hashes);
    std::shared_ptr<Lookup> lookup;
    {
        std::lock_guard<std::mutex> guard(lock_);
        std::shared_ptr<Lookup>& shared = lookups_[key];
        if (!shared) {
            lt::error_code ec;
            lt::torrent_handle handle = Session().add_torrent(std::move(params), ec);
            if (ec || !handle.is_valid()) {
                lookups_.erase(key);
                return FetchResult::Failed(
                    FetchError::Other,
                    "the network source could not take the link: " + ec.message());
            }
            shared = std::make_shared<Lookup>();
            shared->handle = handle;
        } else {
            // Another link for the same torrent is asking already: this one's trackers and
            // peers join its look-up.
            for (const std::string& tracker : params.trackers)
                shared->handle.add_tracker(lt::announce_entry(tracker));
            for (const lt::tcp::endpoint& peer : params.peers)
                shared->handle.connect_peer(peer);
        }
        ++shared->users;
        lookup = shared;
    }
    FetchResult result = AwaitMetadata(lookup->handle, trackers, request, std::move(file));
    std::lock_guard<std::mutex> guard(lock_);
    if (--lookup->users == 0) {
        lookups_.erase(key);
        if (session_)
            session_->remove_torrent(lookup->handle);
    }
    return result;
}

FetchResult SwarmSource::AwaitMetadata(const lt::torrent_handle& handle,
                                       const std::vector<std::string>& trackers,
                                       const FetchRequest& request,
                                       std::unique_ptr<AtomicFile> file) {
    const auto start = Clock::now();
    auto lastReached = start;
    // A link added while the DHT was still starting is not looked up there until the library's
    // next announce, many minutes later: ask the DHT shortly after adding it, and again every
    // few seconds while no peer has turned up.
    auto nextDhtAsk = start + std::chrono::milliseconds(250);
    int mostPeers = 0;
    bool everReached = false;
    for (;;) {
        if (request.cancel && request.cancel->load())
            return FetchResult::Failed(FetchError::Cancelled, "cancelled");
        const lt::torrent_status status = handle.status(lt::torrent_handle::query_torrent_file);
        if (status.has_metadata) {
            std::shared_ptr<const lt::torrent_info> info = status.torrent_file.lock();
            if (!info)
                info = handle.torrent_file();
            if (info)
                return StageMetadata(*info, trackers, request, std::move(file));
        }
        int dhtNodes = 0;
        {
            std::lock_guard<std::mutex> guard(lock_);
            dhtNodes = DhtNodes();
        }
        const auto now = Clock::now();
        if (limits_.dht && status.num_peers == 0 && now >= nextDhtAsk) {
            handle.force_dht_announce();
            nextDhtAsk = now + std::chrono::seconds(3);
        }
        mostPeers = std::max(mostPeers, status.num_peers);
        if (request.activity)
            request.activity->Network(status.num_peers, dhtNodes);
        if (status.num_peers > 0 || dhtNodes > 0) {
            lastReached = now;
            everReached = true;
        }
        const bool outOfTime = now - start > std::chrono::milliseconds(limits_.perLinkMs);
        const bool unreachable =
            now - lastReached > std::chrono::milliseconds(limits_.unreachableMs);
        if (outOfTime || unreachable) {
            if (!everReached)
                offline_ = true;
            return GaveUp(everReached, unreachable, mostPeers);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace velindra

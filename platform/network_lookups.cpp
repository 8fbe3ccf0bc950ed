#include "platform/network_lookups.h"

#include <algorithm>
#include <cctype>
#include <libtorrent/alert_types.hpp>
#include <libtorrent/torrent_info.hpp>
#include <libtorrent/torrent_status.hpp>
#include <sstream>

#include "core/links.h"

namespace lt = libtorrent;

namespace velindra {

namespace {

bool SharesAHash(const LinkHashes& a, const LinkHashes& b) {
    return (a.v1 && a.v1 == b.v1) || (a.v2 && a.v2 == b.v2);
}

// The largest total of info dictionaries kept for other links of the same torrent.
constexpr size_t kMaxKeptMetadata = 64u << 20;

// The hybrid torrents remembered at most: a line of 106 bytes each.
constexpr size_t kMostPairs = 10'000;

bool IsLowerHex(std::string_view text, size_t length) {
    return text.size() == length && std::all_of(text.begin(), text.end(), [](char c) {
               return HexDigitValue(c) >= 0 && !(c >= 'A' && c <= 'F');
           });
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A look-up none of whose DHT requests went out for this long has nothing left to ask but
// silent nodes (the library gives a node that has not answered in a second its place).
constexpr auto kDhtLookupDone = std::chrono::seconds(3);

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

std::shared_ptr<Lookup> Lookups::Sharing(const LinkHashes& hashes) const {
    std::shared_ptr<Lookup> found;
    for (const auto& other : lookups_) {
        if (SharesAHash(other->hashes, hashes))
            found = other;
    }
    return found;
}

std::shared_ptr<Lookup> Lookups::Of(const lt::torrent_handle& handle) const {
    for (const auto& other : lookups_) {
        if (other->handle == handle)
            return other;
    }
    return nullptr;
}

std::shared_ptr<Lookup> Lookups::Add(const lt::torrent_handle& handle, const LinkHashes& hashes) {
    auto lookup = lookups_.emplace_back(std::make_shared<Lookup>());
    lookup->handle = handle;
    // What its DHT requests are known by: the v2 hash cut to SHA-1's length, or else the v1
    // hash, as the library picks it.
    lookup->dhtTarget = hashes.v2 ? lt::sha1_hash(reinterpret_cast<const char*>(hashes.v2->data()))
                                  : lt::sha1_hash(reinterpret_cast<const char*>(hashes.v1->data()));
    indexed_ = false;
    return lookup;
}

bool Lookups::Leave(const std::shared_ptr<Lookup>& lookup) {
    if (--lookup->users > 0)
        return false;
    std::erase(lookups_, lookup);
    indexed_ = false;
    return true;
}

const Lookups::Index& Lookups::Indexed() const {
    if (!indexed_) {
        index_.byHandle.clear();
        index_.byTarget.clear();
        for (const auto& lookup : lookups_) {
            index_.byHandle[lookup->handle] = lookup.get();
            index_.byTarget.emplace(lookup->dhtTarget, lookup.get());
        }
        indexed_ = true;
    }
    return index_;
}

Lookup* Lookups::Find(const lt::torrent_handle& handle) const {
    const Index& index = Indexed();
    const auto found = index.byHandle.find(handle);
    return found == index.byHandle.end() ? nullptr : found->second;
}

bool Lookups::Note(lt::alert* a) {
    if (auto* got = lt::alert_cast<lt::metadata_received_alert>(a)) {
        if (Lookup* lookup = Find(got->handle))
            lookup->hasMetadata = true;
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
    } else if (auto* gone = lt::alert_cast<lt::peer_disconnected_alert>(a)) {
        // A connection that was made and then closed by the peer.
        const bool closed = gone->error == boost::asio::error::eof ||
                            gone->error == boost::asio::error::connection_reset;
        const bool connected =
            gone->op != lt::operation_t::connect && gone->op != lt::operation_t::sock_open &&
            gone->op != lt::operation_t::sock_bind && gone->op != lt::operation_t::sock_option;
        if (Lookup* lookup = closed && connected ? Find(gone->handle) : nullptr)
            lookup->closedByPeer = true;
        return false;  // the peer's reachability is noted too
    } else if (auto* conflict = lt::alert_cast<lt::torrent_conflict_alert>(a)) {
        // Two look-ups turned out to be one torrent (one by its v1 hash, one by its v2 hash):
        // the library stops both, and hands over the metadata for their links.
        if (conflict->metadata) {
            const InfoAndHashes d = Described(*conflict->metadata);
            Keep(d.info, d.v1, d.v2);
        }
    } else {
        return false;
    }
    return true;
}

void Lookups::AskDht(Clock::time_point now) {
    for (const auto& lookup : lookups_) {
        if (lookup->privateLink || lookup->hasMetadata || lookup->peers > 0 ||
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

void Lookups::DhtRestarted() {
    for (const auto& lookup : lookups_)
        lookup->dhtAsked = false;
}

std::shared_ptr<const std::string> Lookups::Keep(std::string_view info, const std::string& v1,
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
    if (!v1.empty() && !v2.empty() && !partner_.contains(v1)) {
        Pair(v1, v2);
        pairsChanged_ = true;
    }
    return bytes;
}

void Lookups::Pair(const std::string& v1, const std::string& v2) {
    if (partner_.contains(v1) || partner_.contains(v2))
        return;
    if (pairs_.size() >= kMostPairs) {
        partner_.erase(pairs_.front().first);
        partner_.erase(pairs_.front().second);
        pairs_.erase(pairs_.begin());
    }
    pairs_.emplace_back(v1, v2);
    partner_[v1] = v2;
    partner_[v2] = v1;
}

LinkHashes Lookups::Completed(const LinkHashes& hashes) const {
    if (hashes.v1.has_value() == hashes.v2.has_value())
        return hashes;
    const std::string own = Lower(hashes.v1 ? hashes.V1Text() : hashes.V2Text());
    const auto other = partner_.find(own);
    if (other == partner_.end())
        return hashes;
    const std::optional<LinkHashes> both =
        hashes.v1 ? ReadLinkHashes(own, other->second) : ReadLinkHashes(other->second, own);
    return both && both->v1 && both->v2 ? *both : hashes;
}

std::string Lookups::PairsText() const {
    std::string text;
    for (const auto& [v1, v2] : pairs_)
        text += v1 + " " + v2 + "\n";
    return text;
}

void Lookups::ReadPairs(std::string_view text) {
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.size() == 40 + 1 + 64 && line[40] == ' ' && IsLowerHex(line.substr(0, 40), 40) &&
            IsLowerHex(line.substr(41), 64))
            Pair(std::string(line.substr(0, 40)), std::string(line.substr(41)));
    }
}

std::shared_ptr<const std::string> Lookups::Known(const LinkHashes& hashes) const {
    for (const std::string& text : {hashes.V1Text(), hashes.V2Text()}) {
        if (text.empty())
            continue;
        const std::string key = Lower(text);  // kept as the library writes hashes
        if (auto found = metadata_.find(key); found != metadata_.end())
            return found->second;
    }
    return nullptr;
}

std::shared_ptr<const std::string> Lookups::Arrived(Lookup& lookup, const LinkHashes& hashes) {
    if (auto known = Known(hashes); known || !lookup.hasMetadata)
        return known;
    // A call into the library's thread, which never waits for the source's lock.
    const std::shared_ptr<const lt::torrent_info> info = lookup.handle.torrent_file();
    if (!info)
        return nullptr;
    const InfoAndHashes d = Described(*info);
    return Keep(d.info, d.v1, d.v2);
}

}  // namespace velindra

// The network source's look-ups: one a torrent, shared by every link of the batch that names
// it by either of its hashes, and the metadata that came for them.
#pragma once

// Inside the network source: platform/ alone includes this (and the tests that reach inside);
// the programs ask for the network through platform/sources.h.
#ifndef VELINDRA_PLATFORM_INSIDE
#error "the network source's inner headers are platform's own: include platform/sources.h"
#endif

#include <chrono>
#include <libtorrent/alert.hpp>
#include <libtorrent/sha1_hash.hpp>
#include <libtorrent/torrent_handle.hpp>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/torrent.h"

namespace velindra {

// One look-up of a torrent in the network: the library knows a torrent once, whatever names the
// links give it. It ends when its last link is done.
struct Lookup {
    using Clock = std::chrono::steady_clock;
    libtorrent::torrent_handle handle;
    LinkHashes hashes;  // every hash its links have named
    int users = 0;
    bool hasMetadata = false;
    int peers = 0;  // connected, as the session last said
    int mostPeers = 0;
    int dialled = 0;            // peers it dialled
    bool closedByPeer = false;  // a peer took the connection and then closed it
    // Its DHT look-up, known by the hash the library picks (see Lookups::Add). The
    // library starts none by itself (it would start one on adding a torrent, before its DHT can
    // take it, then one every few seconds for the torrents of a batch, and another beside a
    // running one when asked): one is started when the DHT is ready, and another only after
    // the last ended without a peer, once it has sent nothing for a while.
    libtorrent::sha1_hash dhtTarget;
    bool dhtAsked = false;
    Clock::time_point lastDhtRequest;
    bool privateLink = false;  // one of its links is a private tracker's: never asked of the DHT
};

// Every look-up in progress. Not safe to call from several threads at once: the source's lock
// guards it.
class Lookups {
  public:
    using Clock = Lookup::Clock;
    bool empty() const { return lookups_.empty(); }
    size_t size() const { return lookups_.size(); }
    // The look-up of a torrent that shares a hash with `hashes`; the one the library knows by
    // `handle`.
    std::shared_ptr<Lookup> Sharing(const LinkHashes& hashes) const;
    std::shared_ptr<Lookup> Of(const libtorrent::torrent_handle& handle) const;
    // A new look-up of the torrent the library added as `handle`, asked by `hashes`.
    std::shared_ptr<Lookup> Add(const libtorrent::torrent_handle& handle, const LinkHashes& hashes);
    // A link is done with its look-up: true when it was the last, and the look-up is gone.
    bool Leave(const std::shared_ptr<Lookup>& lookup);
    // Takes what the session says of a look-up; whether the alert was about one.
    bool Note(libtorrent::alert* alert);
    // Starts the DHT look-up of each that has no peer yet and no look-up of its own running.
    void AskDht(Clock::time_point now);
    // The DHT bootstrapped again: every look-up asks it again once it is ready.
    void DhtRestarted();
    // The metadata for a link, once its look-up (or another of the same torrent) has it.
    std::shared_ptr<const std::string> Arrived(Lookup& lookup, const LinkHashes& hashes);
    // The metadata an earlier look-up of the same torrent received, if any.
    std::shared_ptr<const std::string> Known(const LinkHashes& hashes) const;

    // A link's hashes with the other hash of a hybrid torrent (v1 and v2) added, when the
    // torrent was seen before. A link that names one of them is asked by both: a seeder that
    // once served this machine by the v2 hash answers later handshakes with it, and a look-up
    // by the v1 hash alone would take that for another torrent.
    LinkHashes Completed(const LinkHashes& hashes) const;
    // The hybrid torrents seen, oldest first, one "V1 V2" line each (lower-case hexadecimal);
    // and the same read back (lines that are not such a pair are passed over).
    std::string PairsText() const;
    void ReadPairs(std::string_view text);
    bool pairsChanged() const { return pairsChanged_; }

  private:
    struct Index {
        std::unordered_map<libtorrent::torrent_handle, Lookup*> byHandle;
        std::unordered_multimap<libtorrent::sha1_hash, Lookup*> byTarget;
    };
    const Index& Indexed() const;  // made again after look-ups came or went
    Lookup* Find(const libtorrent::torrent_handle& handle) const;
    // Keeps a torrent's info dictionary for the links that name it by either of its hashes
    // (lower-case hexadecimal, "" for none).
    std::shared_ptr<const std::string> Keep(std::string_view info, const std::string& v1,
                                            const std::string& v2);

    std::vector<std::shared_ptr<Lookup>> lookups_;
    mutable Index index_;
    mutable bool indexed_ = false;
    // Info dictionaries received, by the hashes of their torrent (v1 and v2 hexadecimal), for
    // links of the same torrent whose look-up the library could not merge with another.
    std::map<std::string, std::shared_ptr<const std::string>> metadata_;
    size_t metadataBytes_ = 0;
    void Pair(const std::string& v1, const std::string& v2);
    std::vector<std::pair<std::string, std::string>> pairs_;  // oldest first
    std::map<std::string, std::string> partner_;              // each hash's other, both ways
    bool pairsChanged_ = false;
};

}  // namespace velindra

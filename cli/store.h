// The torrents that --serve and --watch fetched, kept by hash in the user's cache folder and
// shared by both: checked whenever one is read, kept under a bound, the least recently asked
// for first out.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "core/link_pipeline.h"
#include "core/torrent.h"

namespace velindra::cli {

class TorrentStore {
  public:
    static constexpr uintmax_t kBytes = uintmax_t{512} << 20;

    TorrentStore();
    // The user's store, one for the process: the watch and the server in one process share it.
    static TorrentStore& ForThisUser();
    const std::string& folder() const { return folder_; }
    // Where the file of a torrent is kept, however a link writes its hash.
    std::string PathOf(const LinkHashes& hashes) const;
    // The kept file, when it is there and still the torrent the hashes name; reading it makes
    // it the last to go.
    std::optional<std::string> Read(const LinkHashes& hashes) const;
    // A saved file kept too (written whole or not at all), and the store kept under its bound.
    void Keep(const LinkHashes& hashes, const std::string& savedFile);
    // A file of `bytes` put in the store: once the store may hold more than its bound, the files
    // least recently read go until it holds less.
    void Added(uintmax_t bytes);

    // A link's file answered from the store, staged at `destination` with the link's trackers
    // and `addedTrackers` in it, as a source delivers it; nothing when it is not kept.
    std::optional<LinkResult> Answer(const LinkPlan& plan, const std::string& destination,
                                     const std::vector<std::string>& addedTrackers) const;

  private:
    void Trim();

    std::string folder_;
    std::mutex trimLock_;
    // What the store holds, as last counted and added to since; counted when first needed.
    std::optional<uintmax_t> bytes_;
};

}  // namespace velindra::cli

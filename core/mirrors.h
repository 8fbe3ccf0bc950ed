// Where a link's torrent file is asked for: the torrent caches in their fixed order, then the
// BitTorrent network.
#pragma once

#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "interfaces.h"

namespace velindra {

// The caches, as URL templates with the placeholders {hash}, {first2} and {last2}.
const std::vector<std::string>& BuiltInMirrors();

// Fills in the hash, its first two and its last two characters (a shorter hash is used whole).
std::string BuildMirrorUrl(std::string_view urlTemplate, std::string_view infoHash);

struct MirrorOutcome {
    bool ok = false;
    int mirror = 0;                     // 1-based index of the source that delivered
    std::vector<FetchResult> attempts;  // one per source asked, in order
    std::vector<SourceKind> kinds;      // which kind each of them was
    FetchResult last() const { return attempts.empty() ? FetchResult{} : attempts.back(); }
    bool cancelled() const { return !attempts.empty() && last().error == FetchError::Cancelled; }
};

// What one link asks of its sources.
struct ChainRequest {
    std::string infoHash;  // the v1 hash as written, or empty for a v2-only link
    std::string v2Hash;    // the v2 hash as written, or empty
    std::vector<std::string> exactSources;
    std::string networkLink;  // the whole link; empty when the network is not asked
    std::string destination;
    LinkPosition position;
    const std::atomic<bool>* cancel = nullptr;
};

// Asks the sources in order and stops at the first that delivers: the mirrors, each with the
// hash in the form the caches index (40 upper-case hexadecimal digits; they index no v2
// hashes, so a v2-only link skips them), then the link's own addresses of its file, then the
// BitTorrent network (when a link is given), all through the one downloader. Every delivery is
// checked against every hash the link has. A link whose hashes have no checkable form fails at
// once with FetchError::InvalidHash, and nothing is asked. A destination that cannot be
// written, or a cancel, ends the chain at once: no other source could help.
MirrorOutcome FetchFromSources(const ChainRequest& link, Downloader& downloader,
                               const std::vector<std::string>& mirrors);

// Sends network requests to the network source (when there is one) and everything else to the
// web downloader.
class SourceRouter : public Downloader {
  public:
    SourceRouter(Downloader& web, Downloader* network) : web_(web), network_(network) {}
    FetchResult Fetch(const FetchRequest& request) override;

  private:
    Downloader& web_;
    Downloader* network_;
};

}  // namespace velindra

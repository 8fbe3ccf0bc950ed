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
    FetchResult last() const { return attempts.empty() ? FetchResult{} : attempts.back(); }
    bool cancelled() const { return !attempts.empty() && last().error == FetchError::Cancelled; }
};

// Asks the mirrors in order and stops at the first that delivers, each with the hash in the
// form the caches index (40 upper-case hexadecimal digits). A hash without a checkable form
// fails at once with FetchError::InvalidHash, and nothing is asked. When they all fail and a
// link (the whole "magnet:?..." text) is given, the BitTorrent network is asked last, through
// the same downloader. A destination that cannot be written, or a cancel, ends the chain at
// once: no other source could help.
MirrorOutcome FetchFromMirrors(std::string_view infoHash, const std::string& destination,
                               Downloader& downloader, const std::vector<std::string>& mirrors,
                               std::string_view networkLink = {}, LinkPosition position = {},
                               const std::atomic<bool>* cancel = nullptr);

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

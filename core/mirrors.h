// The torrent caches a link's file is asked from, in their fixed order, and the one downloader
// that takes the requests of every kind of source.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "interfaces.h"

namespace velindra {

// The caches, as URL templates with the placeholders {hash}, {first2} and {last2}.
const std::vector<std::string>& BuiltInMirrors();

// Fills in the hash, its first two and its last two characters (a shorter hash is used whole).
std::string BuildMirrorUrl(std::string_view urlTemplate, std::string_view infoHash);

// Sends network requests to the network source (when there is one) and everything else to the
// web downloader.
class SourceRouter : public Downloader {
  public:
    SourceRouter(Downloader& web, Downloader* network) : web_(web), network_(network) {}
    FetchResult Fetch(const FetchRequest& request) override;
    std::shared_ptr<PendingFetch> Begin(const FetchRequest& request) override;

  private:
    Downloader* For(const FetchRequest& request);
    Downloader& web_;
    Downloader* network_;
};

}  // namespace velindra

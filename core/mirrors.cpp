#include "mirrors.h"

#include <algorithm>

namespace velindra {

namespace {

void ReplaceAll(std::string& text, std::string_view what, std::string_view with) {
    for (size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
    }
}

}  // namespace

const std::vector<std::string>& BuiltInMirrors() {
    static const std::vector<std::string> mirrors = {
        "http://bt.box.n0808.com/{first2}/{last2}/{hash}.torrent",
        "http://itorrents.org/torrent/{hash}.torrent",
        "http://torcache.net/torrent/{hash}.torrent",
    };
    return mirrors;
}

std::string BuildMirrorUrl(std::string_view urlTemplate, std::string_view infoHash) {
    std::string url(urlTemplate);
    const size_t two = std::min<size_t>(2, infoHash.size());
    ReplaceAll(url, "{first2}", infoHash.substr(0, two));
    ReplaceAll(url, "{last2}", infoHash.substr(infoHash.size() - two));
    ReplaceAll(url, "{hash}", infoHash);
    return url;
}

Downloader* SourceRouter::For(const FetchRequest& request) {
    // The web downloader takes all but the network's requests.
    return request.source == SourceKind::Network ? network_ : &web_;
}

FetchResult SourceRouter::Fetch(const FetchRequest& request) {
    Downloader* source = For(request);
    return source ? source->Fetch(request)
                  : FetchResult::Failed(FetchError::Other, "the network is not asked");
}

std::shared_ptr<PendingFetch> SourceRouter::Begin(const FetchRequest& request) {
    Downloader* source = For(request);
    return source ? source->Begin(request) : Downloader::Begin(request);
}

}  // namespace velindra

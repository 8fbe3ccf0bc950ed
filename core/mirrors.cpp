#include "mirrors.h"

#include <algorithm>
#include <optional>

#include "torrent.h"

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

MirrorOutcome FetchFromMirrors(std::string_view infoHash, const std::string& destination,
                               Downloader& downloader, const std::vector<std::string>& mirrors,
                               std::string_view networkLink, LinkPosition position,
                               const std::atomic<bool>* cancel) {
    MirrorOutcome outcome;
    // Only a hash whose bytes are known can be checked against what a source delivers, and
    // only its canonical form can reach a URL: nothing else of the link ever does.
    const std::optional<std::string> canonical = CanonicalInfoHash(infoHash);
    if (!canonical) {
        outcome.attempts.push_back(FetchResult::Failed(
            FetchError::InvalidHash, "not 40 hexadecimal or 32 base-32 characters"));
        return outcome;
    }
    const size_t sources = mirrors.size() + (networkLink.empty() ? 0 : 1);
    for (size_t k = 0; k < sources; ++k) {
        FetchRequest request;
        if (k < mirrors.size()) {
            request.url = BuildMirrorUrl(mirrors[k], *canonical);
        } else {
            request.source = SourceKind::Network;
        }
        request.link = std::string(networkLink);
        request.destination = destination;
        request.infoHash = *canonical;
        request.sourceIndex = static_cast<int>(k + 1);
        request.position = position;
        request.cancel = cancel;
        outcome.attempts.push_back(downloader.Fetch(request));
        const FetchResult& result = outcome.attempts.back();
        if (result.ok()) {
            outcome.ok = true;
            outcome.mirror = request.sourceIndex;
            break;
        }
        if (result.error == FetchError::CannotWrite || result.error == FetchError::Cancelled) {
            break;
        }
    }
    return outcome;
}

FetchResult SourceRouter::Fetch(const FetchRequest& request) {
    if (request.source == SourceKind::Network) {
        if (!network_)
            return FetchResult::Failed(FetchError::Other, "the network is not asked");
        return network_->Fetch(request);
    }
    return web_.Fetch(request);
}

}  // namespace velindra

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

MirrorOutcome FetchFromSources(const ChainRequest& link, Downloader& downloader,
                               const std::vector<std::string>& mirrors) {
    MirrorOutcome outcome;
    // Only a hash whose bytes are known can be checked against what a source delivers, and
    // only its canonical form can reach a URL: nothing else of the link ever does.
    const std::optional<LinkHashes> hashes = CanonicalHashes(link.infoHash, link.v2Hash);
    if (!hashes) {
        outcome.attempts.push_back(FetchResult::Failed(
            FetchError::InvalidHash, "not 40 hexadecimal or 32 base-32 characters"));
        outcome.kinds.push_back(SourceKind::Mirror);
        return outcome;
    }
    std::vector<FetchRequest> chain;
    const auto add = [&](SourceKind kind, int index, std::string url) {
        FetchRequest& r = chain.emplace_back();
        r.source = kind;
        r.url = std::move(url);
        r.sourceIndex = index;
    };
    for (size_t k = 0; !hashes->v1.empty() && k < mirrors.size(); ++k)
        add(SourceKind::Mirror, static_cast<int>(k + 1), BuildMirrorUrl(mirrors[k], hashes->v1));
    for (size_t k = 0; k < link.exactSources.size(); ++k)
        add(SourceKind::LinkAddress, static_cast<int>(k + 1), link.exactSources[k]);
    if (!link.networkLink.empty())
        add(SourceKind::Network, 1, {});
    for (size_t k = 0; k < chain.size(); ++k) {
        FetchRequest& request = chain[k];
        request.link = link.networkLink;
        request.destination = link.destination;
        request.infoHash = hashes->v1;
        request.v2Hash = hashes->v2;
        request.position = link.position;
        request.cancel = link.cancel;
        outcome.attempts.push_back(downloader.Fetch(request));
        outcome.kinds.push_back(request.source);
        const FetchResult& result = outcome.attempts.back();
        if (result.ok()) {
            outcome.ok = true;
            outcome.mirror = static_cast<int>(k + 1);
            break;
        }
        if (result.error == FetchError::CannotWrite || result.error == FetchError::Cancelled)
            break;
    }
    return outcome;
}

FetchResult SourceRouter::Fetch(const FetchRequest& request) {
    if (request.source == SourceKind::Network) {  // the web downloader takes the rest
        if (!network_)
            return FetchResult::Failed(FetchError::Other, "the network is not asked");
        return network_->Fetch(request);
    }
    return web_.Fetch(request);
}

}  // namespace velindra

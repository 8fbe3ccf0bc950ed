#include "core/mirrors.h"

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

}  // namespace velindra

#include "core/torrent.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "core/links.h"

namespace velindra {

using bencode::Bstr;
using bencode::Entries;
using bencode::EntriesOf;
using bencode::IntegerOf;
using bencode::StringAt;
using bencode::StringOf;
using bencode::Strings;
using bencode::ValueEnd;
using bencode::ValueOf;

namespace {

// None when the digest names the info, WrongTorrent when it does not, Other when the system
// could not compute it.
template <typename Digest>
FetchError Matches(const std::optional<Digest>& actual, const Digest& expected) {
    if (!actual)
        return FetchError::Other;  // nothing can be vouched for
    return *actual == expected ? FetchError::None : FetchError::WrongTorrent;
}

}  // namespace

FetchError CheckTorrent(std::string_view body, const LinkHashes& hashes, const Digests& digests,
                        size_t* length) {
    const std::optional<TorrentParts> parts = ParseTorrent(body);
    if (!parts)
        return FetchError::NotATorrent;
    const std::optional<Sha1Digest>& v1 = hashes.v1;
    const std::optional<Sha256Digest>& v2 = hashes.v2;
    if (!v1 && !v2)
        return FetchError::InvalidHash;
    if (v1) {
        if (const FetchError e = Matches(digests.sha1(parts->info), *v1); e != FetchError::None)
            return e;
    }
    if (v2 && (!v1 || parts->v2)) {
        if (const FetchError e = Matches(digests.sha256(parts->info), *v2); e != FetchError::None)
            return e;
    }
    if (length)
        *length = parts->length;
    return FetchError::None;
}

namespace {

// A URL as it is compared: its scheme and host in lower case.
std::string UrlKey(std::string_view url) {
    std::string key(url);
    const size_t scheme = key.find("://");
    const size_t host = scheme == std::string::npos ? 0 : scheme + 3;
    const size_t end = std::min(key.find_first_of("/?#", host), key.size());
    for (size_t k = 0; k < end; ++k)
        key[k] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[k])));
    return key;
}

// Adds a file's length to the facts; false when it has none that can be a length.
bool AddFile(TorrentFacts& facts, std::string_view length) {
    const std::optional<int64_t> n = IntegerOf(length);
    if (!n || *n < 0 || static_cast<uint64_t>(*n) > UINT64_MAX - facts.size)
        return false;
    facts.size += static_cast<uint64_t>(*n);
    ++facts.files;
    return true;
}

// v1's list of files, padding files (attr "p") left out.
bool AddFileList(TorrentFacts& facts, std::string_view list) {
    for (size_t i = 1; i < list.size() && list[i] != 'e';) {
        const size_t end = ValueEnd(list, i);
        if (list[i] != 'd')
            return false;
        const Entries file = EntriesOf(list.substr(i, end - i));
        const std::optional<std::string> attr = StringOf(ValueOf(file, "attr"));
        if (!(attr && attr->find('p') != std::string::npos) &&
            !AddFile(facts, ValueOf(file, "length")))
            return false;
        i = end;
    }
    return true;
}

// v2's file tree: a file is a dictionary under the key "" that holds its length.
bool AddFileTree(TorrentFacts& facts, std::string_view tree) {
    std::vector<std::string_view> folders = {tree};
    while (!folders.empty()) {
        const std::string_view folder = folders.back();
        folders.pop_back();
        if (folder.empty() || folder[0] != 'd')
            return false;
        for (const auto& [key, value] : EntriesOf(folder)) {
            if (key.empty() && value[0] == 'd') {
                if (!AddFile(facts, ValueOf(EntriesOf(value), "length")))
                    return false;
            } else {
                folders.push_back(value);
            }
        }
    }
    return true;
}

// Where a torrent says its trackers and web seeds are.
struct Addresses {
    std::string announce;
    std::vector<std::vector<std::string>> tiers;
    std::vector<std::string> seeds;
};

Addresses AddressesOf(const Entries& entries) {
    Addresses a;
    for (const auto& [key, value] : entries) {
        size_t at = 0;
        if (key == "announce" && value[0] >= '0' && value[0] <= '9') {
            a.announce = StringAt(value, at);
        } else if (key == "announce-list" && value[0] == 'l') {
            for (size_t i = 1; i < value.size() && value[i] != 'e';) {
                const size_t end = ValueEnd(value, i);
                if (value[i] == 'l')
                    a.tiers.push_back(Strings(value.substr(i, end - i)));
                i = end;
            }
        } else if (key == "url-list") {
            a.seeds =
                value[0] == 'l' ? Strings(value) : std::vector{std::string(StringAt(value, at))};
        }
    }
    if (a.tiers.empty() && !a.announce.empty())
        a.tiers.push_back({a.announce});
    return a;
}

// Adds the trackers (each a tier of its own) and web seeds it lacks; whether it lacked any.
bool AddMissing(Addresses& a, const std::vector<std::string>& trackers,
                const std::vector<std::string>& webSeeds) {
    std::set<std::string> known, knownSeeds;
    for (const auto& tier : a.tiers)
        for (const std::string& url : tier)
            known.insert(UrlKey(url));
    for (const std::string& url : a.seeds)
        knownSeeds.insert(UrlKey(url));
    bool added = false;
    for (const std::string& url : trackers) {
        if (!url.empty() && known.insert(UrlKey(url)).second) {
            a.tiers.push_back({url});
            added = true;
        }
    }
    for (const std::string& url : webSeeds) {
        if (!url.empty() && knownSeeds.insert(UrlKey(url)).second) {
            a.seeds.push_back(url);
            added = true;
        }
    }
    if (a.announce.empty() && !a.tiers.empty() && !a.tiers.front().empty())
        a.announce = a.tiers.front().front();
    return added;
}

// The torrent's other entries with its addresses, keys in order.
std::string Written(Entries entries, const Addresses& a) {
    std::string list = "l";
    for (const auto& tier : a.tiers) {
        list += "l";
        for (const std::string& url : tier)
            list += Bstr(url);
        list += "e";
    }
    list += "e";
    std::string seedList = "l";
    for (const std::string& url : a.seeds)
        seedList += Bstr(url);
    seedList += "e";
    std::erase_if(entries, [](const auto& e) {
        return e.first == "announce" || e.first == "announce-list" || e.first == "url-list";
    });
    const std::string announce = Bstr(a.announce);
    if (!a.announce.empty())
        entries.emplace_back("announce", announce);
    if (!a.tiers.empty())
        entries.emplace_back("announce-list", list);
    if (!a.seeds.empty())
        entries.emplace_back("url-list", seedList);
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    std::string body = "d";
    for (const auto& [key, value] : entries)
        body.append(Bstr(key)).append(value);
    return body + "e";
}

}  // namespace

std::optional<std::string> WithLinkAddresses(std::string_view torrent,
                                             const std::vector<std::string>& trackers,
                                             const std::vector<std::string>& webSeeds) {
    const std::optional<TorrentParts> parts = ParseTorrent(torrent);
    if (!parts)
        return std::nullopt;
    Entries entries = EntriesOf(torrent.substr(0, parts->length));
    Addresses addresses = AddressesOf(entries);
    if (!AddMissing(addresses, trackers, webSeeds))
        return std::nullopt;
    return Written(std::move(entries), addresses);
}

std::optional<TorrentFacts> DescribeTorrent(std::string_view torrent) {
    const std::optional<TorrentParts> parts = ParseTorrent(torrent);
    if (!parts)
        return std::nullopt;
    const Entries info = EntriesOf(parts->info);
    TorrentFacts facts;
    std::optional<std::string> name = StringOf(ValueOf(info, "name.utf-8"));
    if (!name)
        name = StringOf(ValueOf(info, "name"));
    if (!name)
        return std::nullopt;
    facts.name = std::move(*name);
    facts.isPrivate = IntegerOf(ValueOf(info, "private")) == 1;
    const std::string_view files = ValueOf(info, "files"), tree = ValueOf(info, "file tree");
    const bool counted = !files.empty() && files[0] == 'l' ? AddFileList(facts, files)
                         : !ValueOf(info, "length").empty()
                             ? AddFile(facts, ValueOf(info, "length"))
                             : AddFileTree(facts, tree);
    if (!counted)
        return std::nullopt;
    return facts;
}

std::optional<std::string> CompletedForLink(std::string_view torrent, std::string_view link,
                                            const std::vector<std::string>& addedTrackers) {
    std::vector<std::string> trackers, webSeeds;
    if (link.starts_with(kMagnetMarker)) {
        if (std::optional<ParsedLink> parsed =
                ParseLink(link.substr(kMagnetMarker.size()), false)) {
            trackers = std::move(parsed->trackers);
            webSeeds = std::move(parsed->webSeeds);
        }
    }
    // A private torrent's peers come from its own trackers only: no other is added to it.
    if (!addedTrackers.empty()) {
        const std::optional<TorrentFacts> facts = DescribeTorrent(torrent);
        if (facts && !facts->isPrivate)
            trackers.insert(trackers.end(), addedTrackers.begin(), addedTrackers.end());
    }
    return WithLinkAddresses(torrent, trackers, webSeeds);
}

std::string TorrentFromMetadata(std::string_view info, const std::vector<std::string>& trackers) {
    std::string body = "d";
    if (!trackers.empty()) {
        body += "8:announce" + Bstr(trackers.front()) + "13:announce-listl";
        for (const auto& t : trackers)
            body.append("l").append(Bstr(t)).append("e");
        body += "e";
    }
    body += "4:info";
    body.append(info);
    body += "e";
    return body;
}

}  // namespace velindra

#include "core/torrent.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "core/links.h"

namespace velindra {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A byte string "<length>:<bytes>" at i; on success i is just past it.
bool ParseString(std::string_view d, size_t& i, std::string_view* out) {
    const size_t n = d.size();
    if (i >= n || !IsDigit(d[i]))
        return false;
    if (d[i] == '0' && i + 1 < n && IsDigit(d[i + 1]))
        return false;  // leading zero
    size_t length = 0;
    while (i < n && IsDigit(d[i])) {
        length = length * 10 + static_cast<size_t>(d[i] - '0');
        if (length > n)
            return false;  // longer than the whole body
        ++i;
    }
    if (i >= n || d[i] != ':')
        return false;
    ++i;
    if (length > n - i)
        return false;
    if (out)
        *out = d.substr(i, length);
    i += length;
    return true;
}

// An integer "i<digits>e" at i, with no leading zeros and no "-0".
bool ParseInteger(std::string_view d, size_t& i) {
    const size_t n = d.size();
    ++i;  // past "i"
    if (i < n && d[i] == '-') {
        ++i;
        if (i >= n || d[i] < '1' || d[i] > '9')
            return false;
    }
    if (i >= n || !IsDigit(d[i]))
        return false;
    if (d[i] == '0') {
        ++i;
    } else {
        while (i < n && IsDigit(d[i]))
            ++i;
    }
    if (i >= n || d[i] != 'e')
        return false;
    ++i;
    return true;
}

int Base32Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a';
    if (c >= '2' && c <= '7')
        return c - '2' + 26;
    return -1;
}

bool IsAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

}  // namespace

namespace {

// Walks one bencoded value without recursion, remembering where the top-level "info" value
// lies. Each step reads one key, one scalar, or the start or end of a list or dictionary.
class BencodeWalker {
  public:
    explicit BencodeWalker(std::string_view d) : d_(d) {}

    // False when the text is not well-formed; true once the outer value has ended.
    bool Walk() {
        do {
            if (i_ >= d_.size())
                return false;  // truncated
            const bool ok = !stack_.empty() && stack_.back().dict && stack_.back().expectKey
                                ? ReadKey()
                                : ReadValue();
            if (!ok)
                return false;
        } while (!stack_.empty());
        return true;
    }

    size_t end() const { return i_; }
    bool infoV2() const { return infoV2_; }
    std::optional<std::string_view> info() const { return infoIsDict ? info_ : std::nullopt; }

  private:
    struct Frame {
        bool dict;
        bool expectKey;
        size_t firstKey = 0;         // where this dictionary's keys start in keys_
        bool sorted = true;          // its keys so far came in ascending order
        std::string_view last = {};  // its last key
    };

    // A key by where its "<length>:" starts in the body, which was read once already: four
    // bytes a key, less than the shortest key and value take there.
    using Key = uint32_t;
    std::string_view View(Key k) const {
        size_t i = k, length = 0;
        while (d_[i] != ':')
            length = length * 10 + static_cast<size_t>(d_[i++] - '0');
        return d_.substr(i + 1, length);
    }

    bool ReadKey() {
        if (d_[i_] == 'e')
            return Close();
        const Key start = static_cast<Key>(i_);
        std::string_view key;
        if (!ParseString(d_, i_, &key))
            return false;  // keys are byte strings
        Frame& frame = stack_.back();
        // A repeated key would make readers disagree on its value. Keys in order (as every
        // writer puts them) are checked against the last one; a dictionary out of order is
        // checked once it ends, from the places of its keys.
        if (frame.firstKey < keys_.size() && frame.sorted) {
            if (key == frame.last)
                return false;
            frame.sorted = frame.last < key;
        }
        frame.last = key;
        keys_.push_back(start);
        nextIsInfo_ = stack_.size() == 1 && key == "info" && !infoStart_;
        if (stack_.size() == 2 && infoStart_ && !info_ &&
            (key == "meta version" || key == "file tree"))
            infoV2_ = true;  // a key of the info dictionary itself
        frame.expectKey = false;
        return true;
    }

    bool ReadValue() {
        const char c = d_[i_];
        if (c == 'e') {
            if (stack_.empty() || stack_.back().dict)
                return false;  // dict key without value
            return Close();
        }
        if (nextIsInfo_) {
            infoStart_ = i_;
            infoIsDict = c == 'd';
            nextIsInfo_ = false;
        }
        if (c == 'l' || c == 'd') {
            if (stack_.size() >= kMaxBencodeDepth)
                return false;
            stack_.push_back(Frame{c == 'd', c == 'd', keys_.size()});
            ++i_;
            return true;
        }
        const bool ok =
            c == 'i' ? ParseInteger(d_, i_) : IsDigit(c) && ParseString(d_, i_, nullptr);
        if (ok)
            ValueEnded();
        return ok;
    }

    bool Close() {
        const Frame& frame = stack_.back();
        if (frame.dict && !frame.sorted) {
            const auto begin = keys_.begin() + static_cast<std::ptrdiff_t>(frame.firstKey);
            const auto less = [this](Key a, Key b) { return View(a) < View(b); };
            std::sort(begin, keys_.end(), less);
            const auto same = [this](Key a, Key b) { return View(a) == View(b); };
            if (std::adjacent_find(begin, keys_.end(), same) != keys_.end())
                return false;
        }
        if (frame.dict)
            keys_.resize(frame.firstKey);
        stack_.pop_back();
        ++i_;
        ValueEnded();
        return true;
    }

    // Called whenever a value has ended at i_, with its own frame (if any) popped.
    void ValueEnded() {
        if (stack_.size() == 1 && infoStart_ && !info_)
            info_ = d_.substr(*infoStart_, i_ - *infoStart_);
        if (!stack_.empty() && stack_.back().dict)
            stack_.back().expectKey = true;
    }

    std::string_view d_;
    size_t i_ = 0;
    std::vector<Frame> stack_;
    std::vector<Key> keys_;    // of the open dictionaries, each one's after its parent's
    bool nextIsInfo_ = false;  // the key just read at the top level was "info"
    std::optional<size_t> infoStart_;
    std::optional<std::string_view> info_;
    bool infoIsDict = false;
    bool infoV2_ = false;
};

}  // namespace

std::optional<TorrentParts> ParseTorrent(std::string_view d) {
    if (d.empty() || d[0] != 'd' || d.size() > UINT32_MAX)
        return std::nullopt;
    BencodeWalker walker(d);
    if (!walker.Walk())
        return std::nullopt;
    for (size_t k = walker.end(); k < d.size(); ++k) {
        if (!IsAsciiSpace(d[k]))
            return std::nullopt;  // trailing data; servers may only append white space
    }
    if (!walker.info())
        return std::nullopt;
    return TorrentParts{*walker.info(), walker.end(), walker.infoV2()};
}

bool BeginsAsTorrent(std::string_view head) {
    constexpr size_t kLongestKey = 64;
    if (head.size() < 4 || head[0] != 'd' || head[1] < '1' || head[1] > '9')
        return false;
    size_t length = static_cast<size_t>(head[1] - '0'), at = 2;
    if (head[at] >= '0' && head[at] <= '9')
        length = length * 10 + static_cast<size_t>(head[at++] - '0');
    if (length > kLongestKey || head[at++] != ':')
        return false;
    const std::string_view key = head.substr(at, length);
    return key.size() == length &&
           std::all_of(key.begin(), key.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
}

std::optional<std::string_view> FindInfoDictionary(std::string_view body) {
    const std::optional<TorrentParts> parts = ParseTorrent(body);
    if (!parts)
        return std::nullopt;
    return parts->info;
}

namespace {

// The bytes that exactly 2 * N hexadecimal digits of either case stand for.
template <size_t N>
std::optional<std::array<uint8_t, N>> HexBytes(std::string_view hex) {
    if (hex.size() != 2 * N)
        return std::nullopt;
    std::array<uint8_t, N> bytes{};
    for (size_t k = 0; k < N; ++k) {
        const int hi = HexDigitValue(hex[2 * k]);
        const int lo = HexDigitValue(hex[2 * k + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes[k] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return bytes;
}

}  // namespace

std::optional<Sha1Digest> InfoHashBytes(std::string_view hash) {
    Sha1Digest bytes{};
    if (hash.size() == 40)
        return HexBytes<20>(hash);
    if (hash.size() == 32) {
        uint64_t buffer = 0;
        int bits = 0;
        size_t out = 0;
        for (char c : hash) {
            const int v = Base32Value(c);
            if (v < 0)
                return std::nullopt;
            buffer = (buffer << 5) | static_cast<uint64_t>(v);
            bits += 5;
            if (bits >= 8) {
                bits -= 8;
                bytes[out++] = static_cast<uint8_t>((buffer >> bits) & 0xFF);
            }
        }
        return bytes;  // 32 x 5 bits are exactly 20 bytes
    }
    return std::nullopt;
}

namespace {

// Bytes as hexadecimal digits of the case the hash's users index.
template <size_t N>
std::string Hex(const std::array<uint8_t, N>& bytes, const char* digits) {
    std::string hex;
    for (uint8_t b : bytes) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 15]);
    }
    return hex;
}

}  // namespace

std::optional<Sha256Digest> V2HashBytes(std::string_view hash) {
    return HexBytes<32>(hash);
}

std::string LinkHashes::V1Text() const {
    return v1 ? Hex(*v1, "0123456789ABCDEF") : std::string();
}

std::string LinkHashes::V2Text() const {
    return v2 ? Hex(*v2, "0123456789abcdef") : std::string();
}

std::optional<LinkHashes> ReadLinkHashes(std::string_view v1, std::string_view v2) {
    LinkHashes hashes;
    if (!v1.empty()) {
        hashes.v1 = InfoHashBytes(v1);
        if (!hashes.v1)
            return std::nullopt;
    }
    if (!v2.empty()) {
        hashes.v2 = V2HashBytes(v2);
        if (!hashes.v2 && v1.empty())
            return std::nullopt;
    }
    if (!hashes.v1 && !hashes.v2)
        return std::nullopt;
    return hashes;
}

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

std::string Bstr(std::string_view s) {
    return std::to_string(s.size()) + ":" + std::string(s);
}

}  // namespace

namespace {

// The end of the well-formed bencoded value that starts at `i`.
size_t ValueEnd(std::string_view d, size_t i) {
    size_t depth = 0;
    do {
        const char c = d[i];
        if (c == 'i') {
            i = d.find('e', i) + 1;
        } else if (c == 'l' || c == 'd') {
            ++depth;
            ++i;
        } else if (c == 'e') {
            --depth;
            ++i;
        } else {
            const size_t colon = d.find(':', i);
            i = colon + 1 + std::stoul(std::string(d.substr(i, colon - i)));
        }
    } while (depth > 0);
    return i;
}

// The string at `i`, and where it ends.
std::string_view StringAt(std::string_view d, size_t& i) {
    const size_t colon = d.find(':', i);
    const size_t length = std::stoul(std::string(d.substr(i, colon - i)));
    i = colon + 1 + length;
    return d.substr(colon + 1, length);
}

// The strings of a list value (nested lists flattened one level into `tiers`, when given).
std::vector<std::string> Strings(std::string_view list) {
    std::vector<std::string> out;
    for (size_t i = 1; i < list.size() && list[i] != 'e';) {
        if (IsDigit(list[i]))
            out.emplace_back(StringAt(list, i));
        else
            i = ValueEnd(list, i);
    }
    return out;
}

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

}  // namespace

namespace {

using Entries = std::vector<std::pair<std::string_view, std::string_view>>;  // key, raw value

// The entries of a well-formed dictionary, in the order written.
Entries EntriesOf(std::string_view d) {
    Entries entries;
    for (size_t i = 1; i < d.size() && d[i] != 'e';) {
        const std::string_view key = StringAt(d, i);
        const size_t end = ValueEnd(d, i);
        entries.emplace_back(key, d.substr(i, end - i));
        i = end;
    }
    return entries;
}

std::string_view ValueOf(const Entries& entries, std::string_view key) {
    for (const auto& [k, value] : entries) {
        if (k == key)
            return value;
    }
    return {};
}

// A well-formed integer value ("i42e"); nothing for another kind, or one out of range.
std::optional<int64_t> IntegerOf(std::string_view value) {
    if (value.size() < 3 || value[0] != 'i')
        return std::nullopt;
    const bool negative = value[1] == '-';
    uint64_t n = 0;
    for (size_t k = negative ? 2 : 1; k + 1 < value.size(); ++k) {
        if (n > (uint64_t{INT64_MAX} - 9) / 10)
            return std::nullopt;
        n = n * 10 + static_cast<uint64_t>(value[k] - '0');
    }
    return negative ? -static_cast<int64_t>(n) : static_cast<int64_t>(n);
}

std::optional<std::string> StringOf(std::string_view value) {
    if (value.empty() || !IsDigit(value[0]))
        return std::nullopt;
    size_t at = 0;
    return std::string(StringAt(value, at));
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
        if (key == "announce" && IsDigit(value[0])) {
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

#include "core/bencode.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

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

bool IsAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

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

namespace bencode {

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
        if (list[i] >= '0' && list[i] <= '9')
            out.emplace_back(StringAt(list, i));
        else
            i = ValueEnd(list, i);
    }
    return out;
}

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
    if (value.empty() || value[0] < '0' || value[0] > '9')
        return std::nullopt;
    size_t at = 0;
    return std::string(StringAt(value, at));
}

std::string Bstr(std::string_view s) {
    return std::to_string(s.size()) + ":" + std::string(s);
}

}  // namespace bencode

}  // namespace velindra

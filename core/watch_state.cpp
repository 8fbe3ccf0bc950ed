#include "core/watch_state.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "core/links.h"

namespace velindra {

namespace {

// A file name on one line: "%", line breaks and tabs escaped.
std::string Escaped(const std::string& name) {
    std::string out;
    for (const char c : name) {
        if (c == '%' || c == '\n' || c == '\r' || c == '\t') {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += '%';
            out += kHex[static_cast<unsigned char>(c) >> 4];
            out += kHex[static_cast<unsigned char>(c) & 15];
        } else {
            out += c;
        }
    }
    return out;
}

bool IsHashText(const std::string& hash) {
    return !hash.empty() && hash.size() <= 128 && std::all_of(hash.begin(), hash.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    });
}

}  // namespace

WatchState WatchState::Read(std::string_view text) {
    WatchState state;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string kind, hash;
        words >> kind >> hash;
        if (!IsHashText(hash))
            continue;
        if (kind == "wait") {
            Wait wait;
            if (words >> wait.first >> wait.attempts >> wait.next && wait.attempts > 0)
                state.waits_[hash] = wait;
        } else if (kind == "saved") {
            const size_t name = line.find('\t');
            if (name != std::string::npos && name + 1 < line.size())
                state.saved_.emplace(PercentDecoded(std::string_view(line).substr(name + 1)), hash);
        }
    }
    return state;
}

std::string WatchState::Text() const {
    std::string text;
    for (const auto& [hash, wait] : waits_)
        text += "wait " + hash + " " + std::to_string(wait.first) + " " +
                std::to_string(wait.attempts) + " " + std::to_string(wait.next) + "\n";
    for (const auto& [file, hash] : saved_)
        text += "saved " + hash + "\t" + Escaped(file) + "\n";
    return text;
}

bool WatchState::Due(const std::string& hash, int64_t now) const {
    const auto found = waits_.find(hash);
    return found == waits_.end() || found->second.next <= now;
}

std::optional<int64_t> WatchState::Failed(const std::string& hash, int64_t now,
                                          const WatchPatience& patience) {
    Wait& wait = waits_[hash];
    if (wait.attempts == 0)
        wait.first = now;
    ++wait.attempts;
    if (now - wait.first >= patience.giveUpAfter)
        return std::nullopt;
    int64_t pause = patience.firstWait;
    for (int k = 1; k < wait.attempts && pause < patience.longestWait; ++k)
        pause *= 2;
    wait.next = now + std::min(pause, patience.longestWait);
    // The last ask comes when the week ends, not a long wait after it.
    wait.next = std::min(wait.next, wait.first + patience.giveUpAfter);
    return wait.next;
}

int64_t WatchState::NextAsk(const std::string& hash) const {
    const auto found = waits_.find(hash);
    return found == waits_.end() ? 0 : found->second.next;
}

int WatchState::attempts(const std::string& hash) const {
    const auto found = waits_.find(hash);
    return found == waits_.end() ? 0 : found->second.attempts;
}

void WatchState::Saved(const std::string& file, const std::string& hash) {
    saved_.emplace(file, hash);
    waits_.erase(hash);
}

bool WatchState::WasSaved(const std::string& file, const std::string& hash) const {
    return saved_.count({file, hash}) > 0;
}

void WatchState::Forget(const std::string& file, const std::set<std::string>& hashes) {
    for (auto it = saved_.lower_bound({file, ""}); it != saved_.end() && it->first == file;)
        it = saved_.erase(it);
    for (const std::string& hash : hashes)
        waits_.erase(hash);
}

void WatchState::KeepOnly(const std::set<std::string>& files, const std::set<std::string>& hashes) {
    std::erase_if(saved_, [&](const auto& entry) { return !files.count(entry.first); });
    std::erase_if(waits_, [&](const auto& entry) { return !hashes.count(entry.first); });
}

}  // namespace velindra

#include "cli/store.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <vector>

#include "core/interfaces.h"
#include "platform/atomic_file.h"
#include "platform/curl_downloader.h"
#include "platform/digests.h"
#include "platform/file_reading.h"
#include "platform/host_paths.h"
#include "platform/user_folders.h"
#include "platform/utf16.h"

namespace velindra::cli {

namespace fs = std::filesystem;

TorrentStore::TorrentStore() : folder_(InUserFolder(UserCacheFolder(), "store")) {}

TorrentStore& TorrentStore::ForThisUser() {
    static TorrentStore store;
    return store;
}

std::string TorrentStore::PathOf(const LinkHashes& hashes) const {
    const std::string key = hashes.v1 ? hashes.V1Text() : hashes.V2Text();
    return JoinDestination(folder_, key + ".torrent", HostPathRules());
}

std::optional<std::string> TorrentStore::Read(const LinkHashes& hashes) const {
    const std::string path = PathOf(hashes);
    const uint64_t bound = DownloadLimits{}.maxBodyBytes;
    std::string body;
    if (!SafeToRead(path, bound) || !ReadRegularFile(path, bound, body).ok() ||
        !CheckDelivered(body, hashes, nullptr).ok())
        return std::nullopt;
    std::error_code ec;  // read now: the last to go
    fs::last_write_time(PathFromUtf8(path), fs::file_time_type::clock::now(), ec);
    return body;
}

void TorrentStore::Keep(const LinkHashes& hashes, const std::string& savedFile) {
    const std::string path = PathOf(hashes);
    std::error_code ec;
    if (savedFile == path)
        return Added(fs::file_size(PathFromUtf8(path), ec));
    const uint64_t bound = DownloadLimits{}.maxBodyBytes;
    std::string body;
    if (!SafeToRead(savedFile, bound) || !ReadRegularFile(savedFile, bound, body).ok())
        return;
    MakeFolders(folder_);
    // Written whole under another name and then renamed, but not forced to disk: a copy that a
    // crash left short fails its check when read, and is fetched again.
    const fs::path target = PathFromUtf8(path);
    fs::path part = target;
    part += ".part-" + std::to_string(std::random_device{}());
    bool written = false;
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        written =
            static_cast<bool>(out.write(body.data(), static_cast<std::streamsize>(body.size())));
        out.close();
        written = written && !out.fail();
    }
    if (written)
        fs::rename(part, target, ec);
    if (!written || ec)
        fs::remove(part, ec);
    else
        Added(body.size());
}

void TorrentStore::Added(uintmax_t bytes) {
    std::lock_guard<std::mutex> guard(trimLock_);
    if (bytes_)
        *bytes_ += bytes;
    if (!bytes_ || *bytes_ > kBytes)
        Trim();  // counted afresh: a file replaced, or removed by hand, is not counted twice
}

void TorrentStore::Trim() {
    std::error_code ec;
    std::vector<std::pair<fs::file_time_type, fs::path>> files;
    uintmax_t total = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(PathFromUtf8(folder_), ec)) {
        if (!entry.is_regular_file(ec) || entry.path().extension() != ".torrent")
            continue;
        total += entry.file_size(ec);
        files.emplace_back(entry.last_write_time(ec), entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& [time, path] : files) {
        if (total <= kBytes)
            break;
        total -= fs::file_size(path, ec);
        fs::remove(path, ec);
    }
    bytes_ = total;
}

std::optional<LinkResult> TorrentStore::Answer(
    const LinkPlan& plan, const std::string& destination,
    const std::vector<std::string>& addedTrackers) const {
    if (!plan.hashes)
        return std::nullopt;
    std::optional<std::string> body = Read(*plan.hashes);
    if (!body)
        return std::nullopt;
    if (std::optional<std::string> completed = CompletedForLink(*body, plan.link, addedTrackers))
        body = std::move(completed);
    // When it cannot be staged there, the sources are asked, and say why as they fail.
    auto file = std::make_shared<AtomicFile>(destination);
    if (!file->Open().ok() || !file->Write(*body).ok())
        return std::nullopt;
    FetchResult staged = FetchResult::Done("staged from the store");
    staged.torrent = DescribeTorrent(*body);
    staged.staged = std::move(file);
    staged.bytes = body->size();
    LinkResult result;
    // Index 0 among the caches: the store, which stands before them all.
    result.attempts.emplace_back(SourceKind::Mirror, 0, std::move(staged));
    return result;
}

}  // namespace velindra::cli

#include "cli/link_run.h"

#include <filesystem>
#include <mutex>

#include "core/torrent.h"
#include "core/utf8.h"
#include "platform/digests.h"
#include "platform/file_reading.h"
#include "platform/host_paths.h"
#include "platform/utf16.h"

namespace velindra::cli {

namespace {

extern "C" void OnSignal(int number) {
    gSignal = number;
    gStop = true;
    if (void (*wake)() = gWake.load())
        wake();
}

}  // namespace

void CatchInterrupts() {
    HandleInterrupts(OnSignal);
}

// What is at a link's file's place already, for --no-clobber: nothing, or the link's own
// torrent (checked by hash; one file read at a time, so that large files of those names cost
// one file's memory), or anything else, which is never replaced. A file larger than a torrent
// may be is something else, unread. `facts` receives what a kept file holds.
std::optional<Ending> AtItsPlace(const std::string& destination, const LinkHashes& hashes,
                                 std::optional<TorrentFacts>* facts) {
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(PathFromUtf8(destination), ec)))
        return std::nullopt;
    const size_t bound = DownloadLimits{}.maxBodyBytes;
    if (!SafeToRead(destination, bound))
        return Ending::LeftAlone;
    // A file that does not begin as a torrent does is decided from its first bytes.
    std::string body;
    ReadRegularFile(destination, kTorrentHeadBytes, body);
    if (!BeginsAsTorrent(body))
        return Ending::LeftAlone;
    static std::mutex oneAtATime;
    std::lock_guard<std::mutex> guard(oneAtATime);
    const bool holds = ReadRegularFile(destination, bound, body).ok() &&
                       CheckDelivered(body, hashes, nullptr).ok();
    if (holds && facts)
        *facts = DescribeTorrent(body);
    return holds ? Ending::Kept : Ending::LeftAlone;
}

// The file name at the end of a path.
std::string FileNameOf(const std::string& path) {
    const size_t cut = path.find_last_of(HostPathRules().windows ? "\\/" : "/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace velindra::cli

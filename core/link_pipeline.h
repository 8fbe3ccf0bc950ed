// The stages of one link, the same for the windows' batch and the command line's run: planning
// (parse, hashes, file name, destination, refusal of links no source could help with) and
// fetching (the mirrors, the link's own addresses, then the network source), with one result
// per link that says what every source answered.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_names.h"
#include "interfaces.h"
#include "links.h"
#include "mirrors.h"
#include "torrent.h"

namespace velindra {

struct LinkPlan {
    std::string link;                  // the whole link, "magnet:?" and the piece
    std::string piece;                 // the piece as cut from the text
    std::optional<ParsedLink> parsed;  // none: the link holds no info-hash parameter
    std::optional<LinkHashes> hashes;  // none: no delivered file could be checked
    std::string fileName;              // decoded, made safe, with ".torrent"
    std::string destination;           // in the folder; empty when no folder was given
    bool fetchable() const { return parsed && hashes; }
};

// Takes one piece of the text (as SplitLinks cut it) as far as the point where its file can be
// fetched. The destination is the file name in `folder`, or empty when `folder` is.
LinkPlan PlanLink(std::string_view piece, bool usedn, std::string_view folder,
                  PathRules rules = kHostPathRules);

// Every piece of a batch planned, in order. Within the batch no link's file may replace another
// link's: a link whose name another link with a different torrent has taken already (the same
// display name, names equal once made safe or shortened, or equal but for case on Windows) is
// named after its info-hash instead, as fileName=btih would name it, and after its info-hash
// and a number when even that is taken. Two links for the same torrent under one name share
// the file.
std::vector<LinkPlan> PlanBatch(const std::vector<std::string>& pieces, bool usedn,
                                std::string_view folder, PathRules rules = kHostPathRules);

// Where a link's file is asked for.
struct LinkSources {
    Downloader& downloader;
    const std::vector<std::string>& mirrors = BuiltInMirrors();
    bool askNetwork = false;  // the network source, when every mirror has failed
    // The addresses a link names itself may be on this machine or a private network.
    bool allowPrivateAddresses = false;
};

// One source asked for a link, and its answer.
struct Attempt {
    SourceKind kind = SourceKind::Mirror;
    int index = 0;  // among the sources of its kind, 1-based
    FetchResult result;
};

// Everything that happened to one link's fetch.
struct LinkResult {
    std::vector<Attempt> attempts;  // in the order asked; the last one delivered, if any did
    bool ok() const { return !attempts.empty() && attempts.back().result.ok(); }
    bool cancelled() const {
        return !attempts.empty() && attempts.back().result.error == FetchError::Cancelled;
    }
    // The file the last source delivered, staged.
    std::shared_ptr<StagedFile> staged() const {
        return ok() ? attempts.back().result.staged : nullptr;
    }
};

// Asks the sources for a planned link in order and stops at the first that delivers: the
// mirrors, each with the hash in the form the caches index (they index no v2 hashes, so a
// v2-only link skips them), then the link's own addresses of its file, then the BitTorrent
// network (when asked). Every delivery is checked against every hash the link has, and staged
// beside `destination`. A link whose hashes have no checkable form fails at once with
// FetchError::InvalidHash, and nothing is asked. A destination that cannot be written, or a
// cancel, ends the chain at once: no other source could help. `activity`, when given, says
// which source is being asked.
LinkResult FetchLink(const LinkPlan& plan, const std::string& destination,
                     const LinkSources& sources, LinkPosition position = {},
                     const std::atomic<bool>* cancel = nullptr, Activity* activity = nullptr);

// A failed attempt of its own, for a link whose work could not even start.
LinkResult FailedLink(FetchError error, std::string detail);

}  // namespace velindra

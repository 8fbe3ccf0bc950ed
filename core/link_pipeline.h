// The stages of one link, the same for the windows' batch and the command line's workers:
// planning (parse, canonical hash, file name, destination, refusal of links no source could
// help with) and fetching (the mirrors, then the network source).
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "file_names.h"
#include "links.h"
#include "mirrors.h"
#include "torrent.h"

namespace velindra {

struct LinkPlan {
    std::string link;                  // the whole link, "magnet:?" and the piece
    std::string piece;                 // the piece as cut from the text
    std::optional<ParsedLink> parsed;  // none: the link holds no "xt=urn:btih:"
    std::optional<LinkHashes> hashes;  // canonical; none: no delivered file could be checked
    std::string fileName;              // decoded, made safe, with ".torrent"
    std::string destination;           // in the folder; empty when no folder was given
    bool fetchable() const { return parsed && hashes; }
};

// Takes one piece of the text (as SplitLinks cut it) as far as the point where its file can be
// fetched. The destination is the file name in `folder`, or empty when `folder` is.
LinkPlan PlanLink(std::string_view piece, bool usedn, std::string_view folder,
                  PathRules rules = kHostPathRules);

// Where a link's file is asked for.
struct LinkSources {
    Downloader& downloader;
    const std::vector<std::string>& mirrors = BuiltInMirrors();
    bool askNetwork = false;  // the network source, when every mirror has failed
};

// Fetches a planned link's file into `destination`.
MirrorOutcome FetchLink(const LinkPlan& plan, const std::string& destination,
                        const LinkSources& sources, LinkPosition position = {},
                        const std::atomic<bool>* cancel = nullptr);

}  // namespace velindra

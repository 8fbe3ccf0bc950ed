// velindra-cli --watch: a folder watched until the program is stopped, every *.magnet file in
// it converted into checked .torrent files, patient with links no source has yet.
#pragma once

#include <optional>
#include <string>

#include "cli/options.h"
#include "platform/console.h"
#include "platform/sources.h"

namespace velindra::cli {

// Why the folder --watch names cannot be watched; nothing when it can.
std::optional<std::string> CheckWatchedFolder(const Options& options);

// Watches until a signal stops it (0), or the folder has been gone for minutes (1); `sources`
// serve the whole watch, its network session too.
int Watch(Options& options, const Console& console, BatchSources& sources);

}  // namespace velindra::cli

// velindra-cli --serve: a local torrent cache over HTTP, answering as the torrent caches do,
// with the caches, the links' addresses and the network behind it and the torrents it fetched
// kept in a bounded store in the user's cache folder.
#pragma once

#include <optional>
#include <string>

#include "cli/options.h"
#include "platform/console.h"
#include "platform/sources.h"

namespace velindra::cli {

// The address and port --serve names (127.0.0.1 when it names a port alone); the usage error
// when it is none, or when it is not this machine's loopback and no --token was given.
std::optional<std::string> CheckServeOptions(Options& options, std::string& host, int& port);

// Serves until a signal stops it; 2 when it cannot listen there.
int Serve(Options& options, const Console& console, BatchSources& sources, const std::string& host,
          int port);

}  // namespace velindra::cli

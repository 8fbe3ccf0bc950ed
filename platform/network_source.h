// The BitTorrent network source as every front end makes it, whether or not the program was
// built with it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "interfaces.h"

namespace velindra {

struct NetworkOptions {
    bool dht = true;
    // The peers and trackers a link names may be on this machine or a private network.
    bool allowPrivateAddresses = false;
    std::string listen;                    // empty: every address, any port
    std::vector<std::string> dhtNodes;     // empty: the public routers
    std::optional<double> perLinkSeconds;  // empty: the source's own bound
};

// A network session for one run or batch, started now so that its DHT bootstrap is done by the
// time a link's caches have all failed, with its DHT state kept in the user's cache folder;
// nothing when the program was built without the network source.
std::unique_ptr<Downloader> MakeNetworkSource(const NetworkOptions& options);

// Whether the session of a run that has ended is still being torn down: the program need not
// wait for it.
bool NetworkClosing();

}  // namespace velindra

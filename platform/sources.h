// The sources a run or batch asks, made in one place for both programs from one set of options:
// a part the program keeps (the web downloader for the caches and the links' own addresses of
// their files) and a part each batch has (unless turned off or built without it, one BitTorrent
// network session), routed by kind.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/curl_downloader.h"
#include "platform/source_router.h"

namespace velindra {

struct SourceOptions {
    // The addresses a link names itself (its file's addresses, its peers, trackers and DHT
    // nodes) may be on this machine or a private network; the caches always may.
    bool allowPrivateAddresses = false;
    bool network = true;  // the network, asked when every cache has failed
    bool dht = true;
    std::string listen;                    // empty: every address, any port
    std::vector<std::string> dhtNodes;     // empty: the public routers
    std::optional<double> perLinkSeconds;  // empty: the network source's own bound
    std::optional<double> stallSeconds;    // empty: the web downloader's own bound
    std::string caFile;                    // empty: as TrustStore::FromEnvironment finds it
};

// The web downloader's bounds for these options.
DownloadLimits WebLimits(const SourceOptions& options);

// A network session for one run or batch, started now so that its DHT bootstrap is done by the
// time a link's caches have all failed, with its DHT state kept in the user's cache folder;
// nothing when the options turn it off or the program was built without the network source.
std::unique_ptr<Downloader> MakeNetworkSource(const SourceOptions& options);

// How long the network source looks for one link unless told otherwise, in milliseconds.
long NetworkPerLinkMs();

// Whether the session of a run that has ended is still being torn down: the program need not
// wait for it.
bool NetworkClosing();

// The sources of one batch: the program's web downloader for the caches and the links' own
// addresses, and the batch's own network session when there is one; every kind of request goes
// to its downloader.
class BatchSources {
  public:
    BatchSources(Downloader& web, std::unique_ptr<Downloader> network);
    ~BatchSources();
    Downloader& downloader() { return router_; }
    bool askNetwork() const { return network_ != nullptr; }
    // The network session's state saved now, for a program that runs for days.
    void Checkpoint() {
        if (network_)
            network_->Checkpoint();
    }

  private:
    std::unique_ptr<Downloader> network_;
    SourceRouter router_;
};

// The part of the sources a program keeps for all its batches: the web downloader, and the
// options a batch's network session is made with.
class ProgramSources {
  public:
    explicit ProgramSources(const SourceOptions& options);
    Downloader& web() { return web_; }
    // A batch's network session (see MakeNetworkSource).
    std::unique_ptr<Downloader> Network() const { return MakeNetworkSource(options_); }

  private:
    SourceOptions options_;
    CurlDownloader web_;
};

}  // namespace velindra

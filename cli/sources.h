// The sources a run asks: the web downloader for the caches and, unless turned off or built
// without it, one BitTorrent network session for the whole run; and the one committer that puts
// the files they deliver on disk, so that a worker goes on with its next link meanwhile.
#pragma once

#include <memory>

#include "committer.h"
#include "curl_downloader.h"
#include "mirrors.h"
#include "options.h"

namespace velindra::cli {

class RunSources {
  public:
    explicit RunSources(const Options& options);
    ~RunSources();
    Downloader& downloader() { return router_; }
    FileCommitter& committer() { return committer_; }
    // Whether the network is asked when every cache has failed.
    bool askNetwork() const { return network_ != nullptr; }

  private:
    Committer committer_;  // the last to go: it finishes what the sources handed over
    CurlDownloader web_;
    std::unique_ptr<Downloader> network_;
    SourceRouter router_;
};

}  // namespace velindra::cli

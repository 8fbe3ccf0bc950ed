#include "sources.h"

#include "network_source.h"

namespace velindra::cli {

namespace {

DownloadLimits WebLimits(const Options& options) {
    DownloadLimits limits;
    if (options.timeoutSeconds)
        limits.stallTimeoutMs = static_cast<long>(*options.timeoutSeconds * 1000);
    return limits;
}

// One network session for the whole run; it is asked only for links every cache failed.
std::unique_ptr<Downloader> NetworkSource(const Options& options) {
    if (!options.swarm)
        return nullptr;
    return MakeNetworkSource({options.dht, options.allowPrivateAddresses, options.listen,
                              options.dhtNodes, options.swarmSeconds});
}

}  // namespace

RunSources::RunSources(const Options& options)
    : web_(WebLimits(options), TrustStore::FromEnvironment(options.caFile)),
      network_(NetworkSource(options)),
      router_(web_, network_.get()) {}

RunSources::~RunSources() = default;

}  // namespace velindra::cli

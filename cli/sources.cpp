#include "sources.h"

#include "swarm_source.h"

namespace velindra::cli {

namespace {

DownloadLimits WebLimits(const Options& options) {
    DownloadLimits limits;
    if (options.timeoutSeconds)
        limits.stallTimeoutMs = static_cast<long>(*options.timeoutSeconds * 1000);
    return limits;
}

#ifdef VELINDRA_SWARM
// One network session for the whole run, started now so that its DHT bootstrap is done by the
// time a link's mirrors have all failed; it is asked only for such links.
std::unique_ptr<Downloader> NetworkSource(const Options& options) {
    if (!options.swarm)
        return nullptr;
    SwarmLimits limits;
    limits.dht = options.dht;
    limits.stateFile = DefaultSwarmStateFile();
    limits.allowPrivateAddresses = options.allowPrivateAddresses;
    if (!options.listen.empty())
        limits.listenInterfaces = options.listen;
    if (!options.dhtNodes.empty()) {
        limits.dhtBootstrapNodes.clear();
        for (const std::string& node : options.dhtNodes)
            limits.dhtBootstrapNodes += (limits.dhtBootstrapNodes.empty() ? "" : ",") + node;
    }
    if (options.swarmSeconds) {
        limits.perLinkMs = static_cast<long>(*options.swarmSeconds * 1000);
        limits.unreachableMs = std::min(limits.unreachableMs, limits.perLinkMs);
    }
    auto swarm = std::make_unique<SwarmSource>(limits);
    swarm->Warm();
    return swarm;
}
#else
std::unique_ptr<Downloader> NetworkSource(const Options&) {
    return nullptr;  // built without the network source
}
#endif

}  // namespace

RunSources::RunSources(const Options& options)
    : web_(WebLimits(options), TrustStore::FromEnvironment(options.caFile)),
      network_(NetworkSource(options)),
      router_(web_, network_.get()) {}

RunSources::~RunSources() = default;

bool NetworkClosing() {
#ifdef VELINDRA_SWARM
    return SwarmTeardownPending();
#else
    return false;
#endif
}

}  // namespace velindra::cli

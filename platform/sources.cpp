#include "sources.h"

#ifdef VELINDRA_SWARM
#include <algorithm>

#include "swarm_source.h"
#endif

namespace velindra {

DownloadLimits WebLimits(const SourceOptions& options) {
    DownloadLimits limits;
    if (options.stallSeconds)
        limits.stallTimeoutMs = static_cast<long>(*options.stallSeconds * 1000);
    limits.allowPrivateAddresses = options.allowPrivateAddresses;
    return limits;
}

#ifdef VELINDRA_SWARM
std::unique_ptr<Downloader> MakeNetworkSource(const SourceOptions& options) {
    if (!options.network)
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
    if (options.perLinkSeconds) {
        limits.perLinkMs = static_cast<long>(*options.perLinkSeconds * 1000);
        limits.unreachableMs = std::min(limits.unreachableMs, limits.perLinkMs);
    }
    auto swarm = std::make_unique<SwarmSource>(limits);
    swarm->Warm();
    return swarm;
}

bool NetworkClosing() {
    return SwarmTeardownPending();
}
#else
std::unique_ptr<Downloader> MakeNetworkSource(const SourceOptions&) {
    return nullptr;
}

bool NetworkClosing() {
    return false;
}
#endif

Sources::Sources(const SourceOptions& options)
    : web_(WebLimits(options), TrustStore::FromEnvironment(options.caFile)),
      network_(MakeNetworkSource(options)),
      router_(web_, network_.get()) {}

Sources::~Sources() = default;

}  // namespace velindra

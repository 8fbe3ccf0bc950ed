#include "platform/sources.h"

#include "platform/network_session.h"
#ifdef VELINDRA_NETWORK
#include <algorithm>

#include "platform/network_source.h"
#endif

namespace velindra {

DownloadLimits WebLimits(const SourceOptions& options) {
    DownloadLimits limits;
    if (options.stallSeconds)
        limits.stallTimeoutMs = static_cast<long>(*options.stallSeconds * 1000);
    limits.allowPrivateAddresses = options.allowPrivateAddresses;
    return limits;
}

long NetworkPerLinkMs() {
    return NetworkLimits{}.perLinkMs;
}

#ifdef VELINDRA_NETWORK
std::unique_ptr<Downloader> MakeNetworkSource(const SourceOptions& options) {
    if (!options.network)
        return nullptr;
    NetworkLimits limits;
    limits.dht = options.dht;
    limits.stateFile = DefaultNetworkStateFile();
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
    auto network = std::make_unique<NetworkSource>(limits);
    network->Warm();
    return network;
}

bool NetworkClosing() {
    return NetworkTeardownPending();
}
#else
std::unique_ptr<Downloader> MakeNetworkSource(const SourceOptions&) {
    return nullptr;
}

bool NetworkClosing() {
    return false;
}
#endif

BatchSources::BatchSources(Downloader& web, std::unique_ptr<Downloader> network)
    : network_(std::move(network)) {
    router_.Route(SourceKind::Mirror, &web);
    router_.Route(SourceKind::LinkAddress, &web);
    router_.Route(SourceKind::Network, network_.get());
}

BatchSources::~BatchSources() = default;

ProgramSources::ProgramSources(const SourceOptions& options)
    : options_(options), web_(WebLimits(options), TrustStore::FromEnvironment(options.caFile)) {}

}  // namespace velindra

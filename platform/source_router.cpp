#include "platform/source_router.h"

namespace velindra {

void SourceRouter::Route(SourceKind kind, Downloader* downloader) {
    routes_[static_cast<size_t>(kind)] = downloader;
}

FetchResult SourceRouter::Fetch(const FetchRequest& request) {
    Downloader* source = routes_[static_cast<size_t>(request.source)];
    return source ? source->Fetch(request)
                  : FetchResult::Failed(FetchError::Other, "the network is not asked");
}

std::shared_ptr<PendingFetch> SourceRouter::Begin(const FetchRequest& request) {
    Downloader* source = routes_[static_cast<size_t>(request.source)];
    return source ? source->Begin(request) : Downloader::Begin(request);
}

}  // namespace velindra

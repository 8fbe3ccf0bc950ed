// The one downloader a batch's steps ask: it hands each request to the downloader of its kind
// of source.
#pragma once

#include <array>

#include "core/interfaces.h"

namespace velindra {

class SourceRouter : public Downloader {
  public:
    // Requests of this kind go to `downloader`; none (null) fails them.
    void Route(SourceKind kind, Downloader* downloader);
    FetchResult Fetch(const FetchRequest& request) override;
    std::shared_ptr<PendingFetch> Begin(const FetchRequest& request) override;

  private:
    std::array<Downloader*, kSourceKindCount> routes_{};
};

}  // namespace velindra

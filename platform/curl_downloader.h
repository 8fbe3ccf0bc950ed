// Downloads over HTTP and HTTPS with libcurl, checked and written safely.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "core/interfaces.h"
#include "platform/url.h"
#include "platform/web_environment.h"

namespace velindra {

// Every bound of a download, in one place.
struct DownloadLimits {
    long connectTimeoutMs = 10'000;   // name lookup and connection
    long stallTimeoutMs = 15'000;     // a connected transfer that delivers nothing for this long
    size_t maxBodyBytes = 64u << 20;  // counted on the decoded body
    long maxRedirects = 5;
    long totalTimeoutMs = 60'000;  // the whole request, redirects included
    // The addresses a link names itself may be on this machine or a private network; the caches
    // always may. Otherwise such an address is not contacted (FetchError::PrivateAddress).
    bool allowPrivateAddresses = false;
};

class CurlDownloader : public Downloader {
  public:
    explicit CurlDownloader(DownloadLimits limits = {},
                            TrustStore trust = TrustStore::FromEnvironment());
    ~CurlDownloader() override;

    FetchResult Fetch(const FetchRequest& request) override;

  private:
    struct Pool;
    struct Unreached;
    FetchResult Download(const FetchRequest& request);
    DownloadLimits limits_;
    TrustStore trust_;
    std::unique_ptr<Pool> pool_;
    std::unique_ptr<Unreached> unreached_;
};

}  // namespace velindra

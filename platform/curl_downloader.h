// Downloads over HTTP and HTTPS with libcurl, checked and written safely.
#pragma once

#include <cstddef>
#include <string>

#include "interfaces.h"

namespace velindra {

// Every bound of a download, in one place.
struct DownloadLimits {
    long connectTimeoutMs = 10'000;   // name lookup and connection
    long stallTimeoutMs = 15'000;     // a transfer that delivers nothing for this long fails
    size_t maxBodyBytes = 64u << 20;  // counted on the decoded body
    long maxRedirects = 5;
};

inline constexpr const char* kUserAgent = "Velindra/1.0.0";

// One blocking transfer per call, each with a handle of its own and without signals, so calls
// may run on several threads at once. A body is accepted only when it is a torrent for the
// requested info-hash; it then replaces the destination atomically. The standard proxy
// variables are honoured.
class CurlDownloader : public Downloader {
  public:
    explicit CurlDownloader(DownloadLimits limits = {});

    FetchResult Fetch(const FetchRequest& request) override;

    const DownloadLimits& limits() const { return limits_; }

  private:
    DownloadLimits limits_;
};

}  // namespace velindra

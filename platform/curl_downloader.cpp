#include "curl_downloader.h"

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <mutex>

#include "atomic_file.h"
#include "sha1.h"
#include "torrent.h"

namespace velindra {

namespace {

using Clock = std::chrono::steady_clock;

struct Transfer {
    std::string body;
    size_t maxBytes = 0;
    bool tooLarge = false;
    long stallMs = 0;
    Clock::time_point lastProgress = Clock::now();
    curl_off_t lastReceived = 0;
    bool stalled = false;
    const std::atomic<bool>* cancel = nullptr;
    bool cancelled = false;
};

size_t OnData(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (t->body.size() + bytes > t->maxBytes) {
        t->tooLarge = true;
        return 0;  // aborts the transfer
    }
    t->body.append(data, bytes);
    t->lastProgress = Clock::now();
    return bytes;
}

int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    if (t->cancel && t->cancel->load()) {
        t->cancelled = true;
        return 1;
    }
    const auto now = Clock::now();
    if (received != t->lastReceived) {
        t->lastReceived = received;
        t->lastProgress = now;
    }
    if (now - t->lastProgress > std::chrono::milliseconds(t->stallMs)) {
        t->stalled = true;
        return 1;
    }
    return 0;
}

FetchResult Fail(FetchError error, std::string detail) {
    return FetchResult{error, std::move(detail)};
}

FetchResult Classify(CURLcode code, const Transfer& t, const char* errorBuffer, long status) {
    if (t.cancelled)
        return Fail(FetchError::Cancelled, "cancelled");
    if (t.tooLarge)
        return Fail(FetchError::TooLarge, "the file is larger than the limit");
    if (t.stalled)
        return Fail(FetchError::Timeout, "the transfer stalled");
    const std::string why = errorBuffer[0] ? errorBuffer : curl_easy_strerror(code);
    switch (code) {
        case CURLE_HTTP_RETURNED_ERROR:
            return Fail(FetchError::HttpStatus, "HTTP status " + std::to_string(status));
        case CURLE_OPERATION_TIMEDOUT:
            return Fail(FetchError::Timeout, why);
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
            return Fail(FetchError::NoConnection, why);
        case CURLE_TOO_MANY_REDIRECTS:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return Fail(FetchError::Redirect, why);
        default:
            return Fail(FetchError::Other, why);
    }
}

}  // namespace

CurlDownloader::CurlDownloader(DownloadLimits limits) : limits_(limits) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

FetchResult CurlDownloader::Fetch(const FetchRequest& request) {
    // A folder that cannot take the file fails at once, before any transfer.
    AtomicFile file(request.destination);
    if (!file.Open()) {
        return Fail(FetchError::CannotWrite, file.error());
    }

    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl)
        return Fail(FetchError::Other, "cannot start a transfer");
    Transfer t;
    t.maxBytes = limits_.maxBodyBytes;
    t.stallMs = limits_.stallTimeoutMs;
    t.cancel = request.cancel;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, limits_.maxRedirects);
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, limits_.connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");  // every encoding libcurl can decode
    curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnData);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);

    const CURLcode code = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK) {
        return Classify(code, t, errorBuffer, status);
    }
    if (status < 200 || status >= 300) {
        return Fail(status >= 300 && status < 400 ? FetchError::Redirect : FetchError::HttpStatus,
                    "HTTP status " + std::to_string(status));
    }
    switch (CheckTorrent(t.body, request.infoHash, Sha1)) {
        case FetchError::None:
            break;
        case FetchError::WrongTorrent:
            return Fail(FetchError::WrongTorrent, "the torrent is for another info-hash");
        default:
            return Fail(FetchError::NotATorrent, "the answer is not a torrent file");
    }
    if (!file.Commit(t.body)) {
        return Fail(FetchError::CannotWrite, file.error());
    }
    return FetchResult{FetchError::None, "saved"};
}

}  // namespace velindra

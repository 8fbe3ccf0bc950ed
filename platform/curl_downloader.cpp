#include "platform/curl_downloader.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <optional>
#include <vector>

#include "core/links.h"
#include "core/torrent.h"
#include "platform/address_guard.h"
#include "platform/addresses.h"
#include "platform/atomic_file.h"
#include "platform/curl_answer.h"
#include "platform/curl_pool.h"
#include "platform/curl_transfer.h"
#include "platform/digests.h"
#include "platform/retry_wait.h"
#include "platform/url.h"
#include "version.h"

namespace velindra {

using web::Clock;
using web::OnConnected;
using web::OnData;
using web::OnOpenSocket;
using web::OnProgress;
using web::Transfer;

CurlDownloader::CurlDownloader(DownloadLimits limits, TrustStore trust)
    : limits_(limits), trust_(std::move(trust)), unreached_(std::make_unique<Unreached>()) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    pool_ = std::make_unique<Pool>();
}

CurlDownloader::~CurlDownloader() = default;

namespace {

// Everything a request asks of libcurl; the handle comes with its options reset.
void SetOptions(CURL* h, CURLSH* share, const FetchRequest& request, const DownloadLimits& limits,
                const TrustStore& trust, Transfer& t, char* errorBuffer) {
    if (share)
        curl_easy_setopt(h, CURLOPT_SHARE, share);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // The link's own addresses are followed by hand, so that every place they lead to is
    // looked at before it is asked.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, RowOf(request.source).namedByLink ? 0L : 1L);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, OnOpenSocket);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, &t);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, limits.maxRedirects);
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);
    // An announced size over the bound is refused before the body is read.
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBodyBytes));
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");  // every encoding libcurl can decode
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_2TLS);
    curl_easy_setopt(h, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    if (!trust.caFile.empty())
        curl_easy_setopt(h, CURLOPT_CAINFO, trust.caFile.c_str());
    if (!trust.caPath.empty())
        curl_easy_setopt(h, CURLOPT_CAPATH, trust.caPath.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnData);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, OnConnected);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, &t);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);
}

// The body in the temporary file is kept only when it is a torrent for the requested hash.
FetchResult KeepIfTheTorrent(std::unique_ptr<AtomicFile> file, const FetchRequest& request) {
    std::string body;
    if (FetchResult read = file->ReadBack(body); !read.ok())
        return read;
    size_t length = 0;
    if (FetchResult checked = CheckDelivered(body, request.hashes, &length); !checked.ok())
        return checked;
    // The link's trackers and web seeds go into the file too (the info dictionary, and so the
    // hash, unchanged); white space a server appended after the torrent is not part of it.
    const size_t delivered = body.size();
    body.resize(length);
    std::optional<std::string> merged = CompletedForLink(body, request.link, request.addedTrackers);
    if (merged) {
        auto whole = std::make_unique<AtomicFile>(file->destination());
        if (FetchResult opened = whole->Open(); !opened.ok())
            return opened;
        if (FetchResult written = whole->Write(*merged); !written.ok())
            return written;
        file = std::move(whole);
    } else if (length < delivered) {
        if (FetchResult cut = file->Truncate(length); !cut.ok())
            return cut;
    }
    FetchResult kept = FetchResult::Done("staged");
    kept.torrent = DescribeTorrent(merged ? *merged : body);
    kept.staged = std::move(file);
    return kept;
}

}  // namespace

namespace {

// What a request connects to: its proxy, when it goes through one (a proxy that cannot be
// reached fails every cache behind it alike), else its scheme, host and port.
std::string ConnectsTo(const std::string& url) {
    if (const std::optional<std::string> proxy = ProxyFor(url))
        return "proxy " + *proxy;
    const Url parsed(url);
    return parsed.Get(CURLUPART_SCHEME) + "://" + parsed.Get(CURLUPART_HOST) + ":" +
           parsed.Get(CURLUPART_PORT);
}

}  // namespace

FetchResult CurlDownloader::Fetch(const FetchRequest& request) {
    if (RowOf(request.source).namedByLink)
        return Download(request);
    const std::string host = ConnectsTo(request.url);
    if (std::optional<FetchResult> known = unreached_->Recent(host))
        return *known;
    FetchResult result = Download(request);
    // Anything but a connection that could not be made says the cache is there.
    if (result.error != FetchError::Cancelled && result.error != FetchError::CannotWrite)
        unreached_->Note(host, result.error != FetchError::NoConnection);
    return result;
}

FetchResult CurlDownloader::Download(const FetchRequest& request) {
    // A folder that cannot take the file fails at once, before any transfer.
    auto file = std::make_unique<AtomicFile>(request.destination);
    if (FetchResult opened = file->Open(); !opened.ok())
        return opened;

    CURL* h = pool_->Acquire();
    if (!h)
        return FetchResult::Failed(FetchError::Other, "cannot start a transfer");
    struct Return {
        Pool& pool;
        CURL* h;
        ~Return() { pool.Release(h); }
    } giveBack{*pool_, h};
    // Its open connections, TLS sessions and loaded certificates stay for this request.
    web::Transfer t;
    t.file = file.get();
    t.maxBytes = limits_.maxBodyBytes;
    t.stallMs = limits_.stallTimeoutMs;
    t.cancel = request.cancel;
    t.handle = h;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    SetOptions(h, pool_->share, request, limits_, trust_, t, errorBuffer);

    // The addresses a link names itself, and every place they lead to, are looked at before
    // they are asked: credentials written in them are dropped, and, unless allowed, this machine
    // and the private networks are not asked at all.
    const bool fromLink = RowOf(request.source).namedByLink;
    std::string url = request.url;
    const auto start = Clock::now();
    CURLcode code = CURLE_OK;
    FetchResult result = [&] {
        for (long hop = 0;; ++hop) {
            if (fromLink) {
                if (std::optional<FetchResult> refused =
                        web::NextHop(h, url, request, limits_, start, t))
                    return *refused;
            }
            curl_easy_setopt(h, CURLOPT_URL, url.c_str());
            code = curl_easy_perform(h);
            if (web::Answered answer =
                    web::Answer(h, code, t, errorBuffer, fromLink, hop, url, limits_);
                !answer.redirect)
                return answer.result;
        }
    }();
    if (result.ok())
        result = KeepIfTheTorrent(std::move(file), request);
    return web::Described(std::move(result), h, code);
}

}  // namespace velindra

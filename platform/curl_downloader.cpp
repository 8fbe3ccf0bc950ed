#include "curl_downloader.h"

#include <curl/curl.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "atomic_file.h"
#include "committer.h"
#include "digests.h"
#include "torrent.h"
#include "version.h"

namespace velindra {

namespace {

using Clock = std::chrono::steady_clock;

struct Transfer {
    AtomicFile* file = nullptr;
    size_t received = 0;
    size_t maxBytes = 0;
    bool tooLarge = false;
    FetchResult writeError = FetchResult::Done();
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
    if (t->received + bytes > t->maxBytes) {
        t->tooLarge = true;
        return 0;  // aborts the transfer
    }
    t->writeError = t->file->Write(std::string_view(data, bytes));
    if (!t->writeError.ok())
        return 0;
    t->received += bytes;
    t->lastProgress = Clock::now();
    return bytes;
}

// The stall clock starts once the connection is made: waiting for a busy listener is the
// connect bound's business.
int OnConnected(void* user, char*, char*, int, int) {
    static_cast<Transfer*>(user)->lastProgress = Clock::now();
    return CURL_PREREQFUNC_OK;
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

FetchResult Classify(CURLcode code, const Transfer& t, const char* errorBuffer, long status) {
    if (t.cancelled)
        return FetchResult::Failed(FetchError::Cancelled, "cancelled");
    if (t.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        return FetchResult::Failed(FetchError::TooLarge, "the file is larger than the limit");
    if (!t.writeError.ok())
        return t.writeError;
    if (t.stalled)
        return FetchResult::Failed(FetchError::Timeout, "the transfer stalled");
    const std::string why = errorBuffer[0] ? errorBuffer : curl_easy_strerror(code);
    switch (code) {
        case CURLE_HTTP_RETURNED_ERROR:
            return FetchResult::Failed(FetchError::HttpStatus,
                                       "HTTP status " + std::to_string(status));
        case CURLE_OPERATION_TIMEDOUT:
            return FetchResult::Failed(FetchError::Timeout, why);
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT:
            return FetchResult::Failed(FetchError::NoConnection, why);
        case CURLE_WEIRD_SERVER_REPLY:
            return FetchResult::Failed(FetchError::NotHttp, why);
        case CURLE_UNSUPPORTED_PROTOCOL:
            // An answer without an HTTP status line is reported by libcurl as HTTP/0.9.
            if (why.find("HTTP/0.9") != std::string::npos)
                return FetchResult::Failed(FetchError::NotHttp, why);
            return FetchResult::Failed(FetchError::Redirect, why);
        case CURLE_TOO_MANY_REDIRECTS:
            return FetchResult::Failed(FetchError::Redirect, why);
        case CURLE_URL_MALFORMAT:
            // A libcurl built for HTTP only cannot even parse a redirect to file: or ftp:.
            if (status >= 300 && status < 400)
                return FetchResult::Failed(FetchError::Redirect, why);
            return FetchResult::Failed(FetchError::Other, why);
        default:
            return FetchResult::Failed(FetchError::Other, why);
    }
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

TrustStore TrustStore::FromEnvironment(const std::string& caFileOverride) {
    TrustStore trust;
    trust.caFile = caFileOverride;
    if (trust.caFile.empty())
        trust.caFile = Environment("CURL_CA_BUNDLE");
    if (trust.caFile.empty())
        trust.caFile = Environment("SSL_CERT_FILE");
    trust.caPath = Environment("SSL_CERT_DIR");
    return trust;
}

// Transfer handles that finished their work, ready for the next request, and what all of them
// share: name look-ups and TLS sessions.
struct CurlDownloader::Pool {
    std::mutex lock;
    std::vector<CURL*> idle;
    CURLSH* share = nullptr;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> shareLocks;

    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
        static_cast<Pool*>(user)->shareLocks[data].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* user) {
        static_cast<Pool*>(user)->shareLocks[data].unlock();
    }

    Pool() {
        share = curl_share_init();
        if (share) {
            curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &Pool::Lock);
            curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &Pool::Unlock);
            curl_share_setopt(share, CURLSHOPT_USERDATA, this);
            curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
            curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        }
    }
    ~Pool() {
        for (CURL* h : idle)
            curl_easy_cleanup(h);
        if (share)
            curl_share_cleanup(share);
    }
    CURL* Acquire() {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!idle.empty()) {
                CURL* h = idle.back();
                idle.pop_back();
                return h;
            }
        }
        return curl_easy_init();
    }
    void Release(CURL* h) {
        curl_easy_reset(h);  // drops every pointer into the finished request
        std::lock_guard<std::mutex> guard(lock);
        idle.push_back(h);
    }
};

CurlDownloader::CurlDownloader(DownloadLimits limits, TrustStore trust)
    : limits_(limits), trust_(std::move(trust)) {
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
    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
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
FetchResult KeepIfTheTorrent(std::unique_ptr<AtomicFile> owned, const FetchRequest& request,
                             Committer* committer) {
    AtomicFile& file = *owned;

    std::string body;
    if (FetchResult read = file.ReadBack(body); !read.ok())
        return read;
    size_t length = 0;
    if (FetchResult checked = CheckDelivered(body, {request.infoHash, request.v2Hash}, &length);
        !checked.ok())
        return checked;
    // White space a server appended after the torrent is not part of it.
    if (length < body.size()) {
        if (FetchResult cut = file.Truncate(length); !cut.ok())
            return cut;
    }
    if (committer) {
        FetchResult handed = FetchResult::Done("saved");
        handed.pending = committer->Submit(std::move(owned), request.cancel);
        return handed;
    }
    FetchResult committed = file.Commit();
    return committed.ok() ? FetchResult::Done("saved") : committed;
}

}  // namespace

FetchResult CurlDownloader::Fetch(const FetchRequest& request) {
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
    Transfer t;
    t.file = file.get();
    t.maxBytes = limits_.maxBodyBytes;
    t.stallMs = limits_.stallTimeoutMs;
    t.cancel = request.cancel;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    SetOptions(h, pool_->share, request, limits_, trust_, t, errorBuffer);

    const CURLcode code = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK)
        return Classify(code, t, errorBuffer, status);
    if (status < 200 || status >= 300) {
        return FetchResult::Failed(
            status >= 300 && status < 400 ? FetchError::Redirect : FetchError::HttpStatus,
            "HTTP status " + std::to_string(status));
    }
    return KeepIfTheTorrent(std::move(file), request, committer_);
}

}  // namespace velindra

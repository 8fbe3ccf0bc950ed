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
#include "core/retry_wait.h"
#include "core/torrent.h"
#include "platform/addresses.h"
#include "platform/atomic_file.h"
#include "platform/digests.h"
#include "platform/url.h"
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
    CURL* handle = nullptr;
    // Every address connected to must be public (the link's own addresses, not through a
    // proxy); the first one that was not.
    bool onlyPublic = false;
    std::optional<IpAddress> refused;
};

// A socket for a connection the transfer is about to make, or none when the address is one
// it may not reach.
curl_socket_t OnOpenSocket(void* user, curlsocktype purpose, curl_sockaddr* address) {
    auto* t = static_cast<Transfer*>(user);
    if (t->onlyPublic && purpose == CURLSOCKTYPE_IPCXN) {
        const std::optional<IpAddress> a = AddressOf(&address->addr);
        if (!a || !IsPublic(*a)) {
            t->refused = a.value_or(IpAddress{});
            return CURL_SOCKET_BAD;
        }
    }
#ifdef SOCK_CLOEXEC
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
#else
    return ::socket(address->family, address->socktype, address->protocol);
#endif
}

size_t OnData(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    long status = 0;
    curl_easy_getinfo(t->handle, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 300 && status < 400)
        return bytes;  // the body of a redirect that is followed by hand
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

FetchResult HttpStatus(long status) {
    FetchResult failed =
        FetchResult::Failed(FetchError::HttpStatus, "HTTP status " + std::to_string(status));
    failed.httpStatus = static_cast<int>(status);
    return failed;
}

// The detail is the address alone: the error's words say what it means.
FetchResult NotContacted(const std::string& what) {
    return FetchResult::Failed(FetchError::PrivateAddress, what);
}

// What the library's code (and the system's error behind a failed connection) says, as a fact
// the program has words for.
Fact TransferFact(CURLcode code, long osError) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return Fact::HostNotFound;
        case CURLE_COULDNT_CONNECT:
#ifdef _WIN32
            return osError == 10061 ? Fact::ConnectionRefused : Fact::CouldNotConnect;  // WSA's
#else
            return osError == ECONNREFUSED ? Fact::ConnectionRefused : Fact::CouldNotConnect;
#endif
        case CURLE_OPERATION_TIMEDOUT:
            return Fact::ConnectTimedOut;
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
            return Fact::ConnectionBroken;
        case CURLE_GOT_NOTHING:
            return Fact::NothingReceived;
        case CURLE_SSL_CONNECT_ERROR:
            return Fact::SecureFailed;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
            return Fact::CertificateRefused;
        default:
            return Fact::None;
    }
}

FetchResult Classified(CURLcode code, const Transfer& t, const char* errorBuffer, long status) {
    if (t.cancelled)
        return FetchResult::Failed(FetchError::Cancelled, "cancelled");
    if (t.refused)
        return NotContacted(AddressText(*t.refused));
    if (t.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
        return FetchResult::Failed(FetchError::TooLarge, "the file is larger than the limit");
    if (!t.writeError.ok())
        return t.writeError;
    if (t.stalled)
        return FetchResult::Failed(FetchError::Timeout, "the transfer stalled");
    const std::string why = errorBuffer[0] ? errorBuffer : curl_easy_strerror(code);
    switch (code) {
        case CURLE_HTTP_RETURNED_ERROR:
            return HttpStatus(status);
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

FetchResult Classify(CURLcode code, const Transfer& t, const char* errorBuffer, long status,
                     long osError) {
    FetchResult result = Classified(code, t, errorBuffer, status);
    if (t.stalled && !t.cancelled && !t.refused && !t.tooLarge && t.writeError.ok())
        result.fact = Fact::TransferStalled;
    else if (result.fact == Fact::None && result.error != FetchError::HttpStatus)
        result.fact = TransferFact(code, osError);
    return result;
}

}  // namespace

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

// The caches that could not be reached lately, by scheme, host and port (or proxy): asked
// again once their wait has passed.
struct CurlDownloader::Unreached {
    std::mutex lock;
    RetryWait hosts;

    // A back-off of at most this long is waited out by a link that has nothing else left.
    static constexpr std::chrono::milliseconds kShortRest{1000};

    // Why a cache is not asked now: it could not be reached a moment ago. Asking again after
    // the wait may help (it counts as a try with --retry), and a short wait's end is said.
    std::optional<FetchResult> Recent(const std::string& key) {
        std::lock_guard<std::mutex> guard(lock);
        const auto now = Clock::now();
        const auto resting = hosts.Resting(key, now);
        if (!resting)
            return std::nullopt;
        FetchResult known =
            FetchResult::Failed(FetchError::NotAskedAgain, TenthsOfSeconds(*resting));
        known.transient = true;
        if (const auto left = hosts.ShortRestLeft(key, now, kShortRest)) {
            known.restLeftMs = std::chrono::ceil<std::chrono::milliseconds>(*left).count();
            known.retryAfterSeconds = 1;
        }
        return known;
    }
    void Note(const std::string& key, bool reached) {
        std::lock_guard<std::mutex> guard(lock);
        if (reached)
            hosts.Reached(key);
        else
            hosts.Failed(key, Clock::now());
    }
};

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

// Why a link's own address may not be asked, looked at before anything is sent. Through a
// proxy (the user's choice, and the only connection then made) what it is asked for is looked
// up here first, and refused when it is this machine or a private network; a direct connection
// is looked at again as it is made.
std::optional<FetchResult> Unreachable(const std::string& host, bool proxied) {
    if (const std::optional<IpAddress> literal = ParseAddress(host)) {
        if (!IsPublic(*literal))
            return NotContacted(host);
        return std::nullopt;
    }
    if (proxied) {
        for (const IpAddress& a : Resolve(host)) {
            if (!IsPublic(a))
                return NotContacted(host + " (" + AddressText(a) + ")");
        }
    }
    return std::nullopt;
}

}  // namespace

namespace {

// Sends the request for a link's own address the way ProxyFor says, whatever libcurl would
// decide on its own, and watches every connection of a direct one.
std::optional<FetchResult> Route(CURL* h, const std::string& url, bool onlyPublic, Transfer& t) {
    const std::optional<std::string> proxy = ProxyFor(url);
    curl_easy_setopt(h, CURLOPT_PROXY, proxy ? proxy->c_str() : "");
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");
    t.onlyPublic = onlyPublic && !proxy;
    if (!onlyPublic)
        return std::nullopt;
    return Unreachable(Url(url).Get(CURLUPART_HOST), proxy.has_value());
}

}  // namespace

namespace {

// Before each request for an address a link names (the first and every redirect): its
// credentials dropped, where it may lead checked, and what is left of the time bound set; a
// failure when it cannot be asked.
std::optional<FetchResult> NextHop(CURL* h, std::string& url, const FetchRequest& request,
                                   const DownloadLimits& limits, Clock::time_point start,
                                   Transfer& t) {
    url = Url(url).WithoutCredentials();
    // The caches are the user's choice; what the link names itself is not.
    const bool onlyPublic = RowOf(request.source).namedByLink && !limits.allowPrivateAddresses;
    if (std::optional<FetchResult> refused = Route(h, url, onlyPublic, t))
        return refused;
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    const long left = limits.totalTimeoutMs - static_cast<long>(spent.count());
    if (left <= 0)
        return FetchResult::Failed(FetchError::Timeout, "the request took too long");
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, left);
    return std::nullopt;
}

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

namespace {

// What one request's answer was: a failure, a redirect to follow (Done("redirect"), with `url`
// its target), or Done() for a body to look at.
FetchResult Answer(CURL* h, CURLcode code, const Transfer& t, const char* errorBuffer,
                   bool fromLink, long hop, std::string& url, const DownloadLimits& limits) {
    {
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        long osError = 0;
        curl_easy_getinfo(h, CURLINFO_OS_ERRNO, &osError);
        if (code != CURLE_OK)
            return Classify(code, t, errorBuffer, status, osError);
        const char* next = nullptr;
        if (fromLink && status >= 300 && status < 400 &&
            curl_easy_getinfo(h, CURLINFO_REDIRECT_URL, &next) == CURLE_OK && next) {
            if (hop >= limits.maxRedirects)
                return FetchResult::Failed(FetchError::Redirect, "too many redirects");
            url = next;
            return FetchResult::Done("redirect");
        }
        if (status >= 300 && status < 400)
            return FetchResult::Failed(FetchError::Redirect,
                                       "HTTP status " + std::to_string(status));
        if (status < 200 || status >= 300)
            return HttpStatus(status);
        return FetchResult::Done();
    }
}

// What else a request's answer tells: the bytes it brought, whether trying again may help (a
// connection refused or reset, a time-out, a server busy or failing for a moment), and how long
// the server asks to be left alone.
FetchResult Described(FetchResult result, CURL* h, CURLcode code) {
    curl_off_t bytes = 0, retryAfter = 0;
    if (curl_easy_getinfo(h, CURLINFO_SIZE_DOWNLOAD_T, &bytes) == CURLE_OK)
        result.bytes = static_cast<uint64_t>(bytes);
    if (curl_easy_getinfo(h, CURLINFO_RETRY_AFTER, &retryAfter) == CURLE_OK && retryAfter > 0)
        result.retryAfterSeconds = static_cast<long>(retryAfter);
    switch (code) {
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            result.transient = result.error != FetchError::Cancelled;
            break;
        default:
            break;
    }
    for (const int status : {408, 429, 500, 502, 503, 504})
        result.transient = result.transient || result.httpStatus == status;
    result.transient = result.transient || result.fact == Fact::TransferStalled;
    return result;
}

}  // namespace

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
    Transfer t;
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
                        NextHop(h, url, request, limits_, start, t))
                    return *refused;
            }
            curl_easy_setopt(h, CURLOPT_URL, url.c_str());
            code = curl_easy_perform(h);
            if (FetchResult answer = Answer(h, code, t, errorBuffer, fromLink, hop, url, limits_);
                answer.error != FetchError::None || answer.detail != "redirect")
                return answer;
        }
    }();
    if (result.ok())
        result = KeepIfTheTorrent(std::move(file), request);
    return Described(std::move(result), h, code);
}

}  // namespace velindra

#include "platform/curl_answer.h"

#include <cerrno>

#include "platform/address_guard.h"

namespace velindra::web {

FetchResult HttpStatus(long status) {
    FetchResult failed =
        FetchResult::Failed(FetchError::HttpStatus, "HTTP status " + std::to_string(status));
    failed.httpStatus = static_cast<int>(status);
    return failed;
}

namespace {

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
            // A redirect to a scheme not asked; without a redirect's status, an answer without an
            // HTTP status line (which libcurl calls HTTP/0.9).
            if (status >= 300 && status < 400)
                return FetchResult::Failed(FetchError::Redirect, why);
            return FetchResult::Failed(FetchError::NotHttp, why);
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

Answered Answer(CURL* h, CURLcode code, const Transfer& t, const char* errorBuffer, bool fromLink,
                long hop, std::string& url, const DownloadLimits& limits) {
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
            return {FetchResult::Done(), true};
        }
        if (status >= 300 && status < 400)
            return FetchResult::Failed(FetchError::Redirect,
                                       "HTTP status " + std::to_string(status));
        if (status < 200 || status >= 300)
            return HttpStatus(status);
        return FetchResult::Done();
    }
}

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

}  // namespace velindra::web

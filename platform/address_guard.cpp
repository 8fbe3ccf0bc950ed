#include "platform/address_guard.h"

#include "core/source_kinds.h"
#include "platform/url.h"

namespace velindra::web {

FetchResult NotContacted(const std::string& what) {
    return FetchResult::Failed(FetchError::PrivateAddress, what);
}

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

}  // namespace velindra::web

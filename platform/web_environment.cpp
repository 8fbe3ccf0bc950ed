#include "platform/web_environment.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/addresses.h"
#include "platform/url.h"

namespace velindra {

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Whether one entry of no_proxy names the host: the name itself or a domain above it ("x.test"
// and ".x.test" both name "a.x.test"), an address, or a range of addresses ("10.0.0.0/8").
bool Exempts(std::string entry, const std::string& host) {
    if (entry.size() > 2 && entry.front() == '[' && entry.find(']') != std::string::npos)
        entry = entry.substr(1, entry.find(']') - 1);  // [::1]
    const size_t slash = entry.find('/');
    const std::optional<IpAddress> address = ParseAddress(host);
    if (slash != std::string::npos || ParseAddress(entry)) {
        const std::optional<IpAddress> net = ParseAddress(entry.substr(0, slash));
        if (!address || !net || net->v6 != address->v6)
            return false;
        const int width = address->v6 ? 128 : 32;
        int bits = width;
        if (slash != std::string::npos) {
            const std::string digits = entry.substr(slash + 1);
            if (digits.empty() || digits.size() > 3 ||
                digits.find_first_not_of("0123456789") != std::string::npos)
                return false;
            bits = std::min(std::stoi(digits), width);
        }
        for (int bit = 0; bit < bits; ++bit) {
            const int mask = 0x80 >> (bit % 8);
            if ((address->bytes[bit / 8] & mask) != (net->bytes[bit / 8] & mask))
                return false;
        }
        return true;
    }
    while (!entry.empty() && entry.front() == '.')
        entry.erase(0, 1);
    while (!entry.empty() && entry.back() == '.')
        entry.pop_back();
    if (entry.empty())
        return false;
    return host == entry || (host.size() > entry.size() && host.ends_with(entry) &&
                             host[host.size() - entry.size() - 1] == '.');
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

std::optional<std::string> ProxyFor(const std::string& url) {
    Url parts(url);
    const std::string scheme = Lower(parts.Get(CURLUPART_SCHEME));
    std::string host = Lower(parts.Get(CURLUPART_HOST));
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    while (!host.empty() && host.back() == '.')
        host.pop_back();
    std::string proxy;
    if (scheme == "http")
        proxy = Environment("http_proxy");
    else if (scheme == "https")
        proxy = !Environment("https_proxy").empty() ? Environment("https_proxy")
                                                    : Environment("HTTPS_PROXY");
    if (proxy.empty())
        proxy =
            !Environment("all_proxy").empty() ? Environment("all_proxy") : Environment("ALL_PROXY");
    if (proxy.empty())
        return std::nullopt;
    const std::string exempt =
        !Environment("no_proxy").empty() ? Environment("no_proxy") : Environment("NO_PROXY");
    for (size_t begin = 0; begin <= exempt.size();) {
        const size_t end = std::min(exempt.find_first_of(", ", begin), exempt.size());
        const std::string entry = Lower(exempt.substr(begin, end - begin));
        if (entry == "*" || Exempts(entry, host))
            return std::nullopt;
        begin = end + 1;
    }
    return proxy;
}

}  // namespace velindra

// What the environment tells the web downloader, read as curl reads it: the certificates to
// trust and the proxy to go through.
#pragma once

#include <optional>
#include <string>

namespace velindra {

// Where the certificates that HTTPS servers are checked against come from: the file given
// (velindra-cli --cacert), else CURL_CA_BUNDLE or SSL_CERT_FILE and SSL_CERT_DIR from the
// environment, as curl reads them, else the system's store.
struct TrustStore {
    std::string caFile;
    std::string caPath;
    static TrustStore FromEnvironment(const std::string& caFileOverride = {});
};

// The proxy a request for this URL goes through, read from the environment as libcurl reads it
// (http_proxy; https_proxy or HTTPS_PROXY; all_proxy or ALL_PROXY; no_proxy or NO_PROXY with
// names, domains, addresses and ranges); none when it goes direct.
std::optional<std::string> ProxyFor(const std::string& url);

}  // namespace velindra

// The one way the programs take an address apart: libcurl's reading of it, the same that
// sends the requests.
#pragma once

#include <curl/curl.h>

#include <string>

namespace velindra {

class Url {
  public:
    // Web addresses only, or any scheme (a tracker's "udp://").
    enum Schemes { Web, Any };
    explicit Url(const std::string& text, Schemes schemes = Web);
    ~Url();
    Url(const Url&) = delete;
    Url& operator=(const Url&) = delete;
    bool ok() const { return ok_; }
    std::string Get(CURLUPart part) const;
    // The host without the brackets of an IPv6 address, in its ASCII form, lower-case: an
    // international name as the DNS knows it where it can be, else percent-encoded.
    std::string Host() const;
    bool HasCredentials() const;
    // The URL without a user name, password or login options: credentials a link writes into
    // an address are never sent.
    std::string WithoutCredentials();

  private:
    CURLU* url_;
    bool ok_ = false;
};

// The address without credentials, as WithoutCredentials makes it; `url` itself when it is
// not one.
// An address libcurl would not read loses its "user:password@" all the same.
std::string WithoutCredentials(const std::string& url);

// A tracker as the programs show it, in every output: its scheme, host and port only
// ("http://10.0.0.5:2710/…"). Private trackers keep the user's secret in the path or query.
std::string ShownTracker(const std::string& tracker);

}  // namespace velindra

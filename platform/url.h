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
std::string WithoutCredentials(const std::string& url);

}  // namespace velindra

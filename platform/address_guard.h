// Which addresses a web request may ask: the security rule of the web downloader, in one place.
// The caches are the user's choice and always may be asked; the addresses a link names itself
// (and every place they redirect to) may not be this machine or a private network, unless the
// user allows it: looked at before anything is sent, and again for every connection made.
#pragma once

#ifndef VELINDRA_PLATFORM_INSIDE
#error "the web downloader's inner headers are platform's own: include platform/curl_downloader.h"
#endif

#include <curl/curl.h>

#include <optional>
#include <string>

#include "core/interfaces.h"
#include "platform/curl_downloader.h"
#include "platform/curl_transfer.h"

namespace velindra::web {

// A refusal to contact an address; its detail is the address alone (the error's words say what
// it means).
FetchResult NotContacted(const std::string& what);

// libcurl's socket callback: a socket for a connection the transfer is about to make, or none
// when the address is one it may not reach (the Transfer then names it).
curl_socket_t OnOpenSocket(void* user, curlsocktype purpose, curl_sockaddr* address);

// Before each request for an address a link names (the first and every redirect): its
// credentials dropped, where it may lead checked, and what is left of the time bound set; a
// failure when it cannot be asked.
std::optional<FetchResult> NextHop(CURL* h, std::string& url, const FetchRequest& request,
                                   const DownloadLimits& limits, Clock::time_point start,
                                   Transfer& t);

}  // namespace velindra::web

// What a web request's answer was, in the program's terms: libcurl's codes and the server's
// status classified into the error classes and the facts the programs have words for.
#pragma once

#ifndef VELINDRA_PLATFORM_INSIDE
#error "the web downloader's inner headers are platform's own: include platform/curl_downloader.h"
#endif

#include <curl/curl.h>

#include <string>
#include <utility>

#include "core/result.h"
#include "platform/curl_downloader.h"
#include "platform/curl_transfer.h"

namespace velindra::web {

// A failure for a server's error status.
FetchResult HttpStatus(long status);

// One request's answer: a failure, a redirect to follow (`redirect`, with the address its
// target), or Done() for a body to look at.
struct Answered {
    Answered(FetchResult r, bool isRedirect = false) : result(std::move(r)), redirect(isRedirect) {}
    FetchResult result;
    bool redirect = false;
};
Answered Answer(CURL* h, CURLcode code, const Transfer& t, const char* errorBuffer, bool fromLink,
                long hop, std::string& url, const DownloadLimits& limits);

// What else a request's answer tells: the bytes it brought, whether trying again may help (a
// connection refused or reset, a time-out, a server busy or failing for a moment), and how long
// the server asks to be left alone.
FetchResult Described(FetchResult result, CURL* h, CURLcode code);

}  // namespace velindra::web

// One web transfer's state, which libcurl's callbacks read and write while it runs: the file the
// body goes to and its bound, the stall clock, the cancel flag, the address the guard refused.
#pragma once

#ifndef VELINDRA_PLATFORM_INSIDE
#error "the web downloader's inner headers are platform's own: include platform/curl_downloader.h"
#endif

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <optional>

#include "core/result.h"
#include "platform/addresses.h"
#include "platform/atomic_file.h"

namespace velindra::web {

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

// libcurl's callbacks, each with the Transfer as its user pointer: the body written to the file
// (a redirect's dropped), the stall clock started once connected, and the transfer ended when
// it is cancelled or stalls.
size_t OnData(char* data, size_t size, size_t count, void* user);
int OnConnected(void* user, char*, char*, int, int);
int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t);

}  // namespace velindra::web

// What the web downloader keeps between requests: the transfer handles that finished their work
// (with the look-ups and TLS sessions they share), and the caches that could not be reached lately.
#pragma once

#ifndef VELINDRA_PLATFORM_INSIDE
#error "the web downloader's inner headers are platform's own: include platform/curl_downloader.h"
#endif

#include <curl/curl.h>

#include <array>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/result.h"
#include "platform/curl_downloader.h"
#include "platform/curl_transfer.h"
#include "platform/retry_wait.h"

namespace velindra {

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
        const auto now = web::Clock::now();
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
            hosts.Failed(key, web::Clock::now());
    }
};

}  // namespace velindra

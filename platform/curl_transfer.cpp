#include "platform/curl_transfer.h"

namespace velindra::web {

size_t OnData(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    long status = 0;
    curl_easy_getinfo(t->handle, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 300 && status < 400)
        return bytes;  // the body of a redirect that is followed by hand
    if (t->received + bytes > t->maxBytes) {
        t->tooLarge = true;
        return 0;  // aborts the transfer
    }
    t->writeError = t->file->Write(std::string_view(data, bytes));
    if (!t->writeError.ok())
        return 0;
    t->received += bytes;
    t->lastProgress = Clock::now();
    return bytes;
}

// The stall clock starts once the connection is made: waiting for a busy listener is the
// connect bound's business.
int OnConnected(void* user, char*, char*, int, int) {
    static_cast<Transfer*>(user)->lastProgress = Clock::now();
    return CURL_PREREQFUNC_OK;
}

int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    if (t->cancel && t->cancel->load()) {
        t->cancelled = true;
        return 1;
    }
    const auto now = Clock::now();
    if (received != t->lastReceived) {
        t->lastReceived = received;
        t->lastProgress = now;
    }
    if (now - t->lastProgress > std::chrono::milliseconds(t->stallMs)) {
        t->stalled = true;
        return 1;
    }
    return 0;
}

}  // namespace velindra::web

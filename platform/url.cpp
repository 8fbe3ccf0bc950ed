#include "platform/url.h"

#include <algorithm>
#include <cctype>

namespace velindra {

Url::Url(const std::string& text, Schemes schemes) : url_(curl_url()) {
    const unsigned flags = schemes == Any ? CURLU_NON_SUPPORT_SCHEME : 0;
    ok_ = url_ && curl_url_set(url_, CURLUPART_URL, text.c_str(), flags) == CURLUE_OK;
}

Url::~Url() {
    curl_url_cleanup(url_);
}

std::string Url::Get(CURLUPart part) const {
    char* text = nullptr;
    if (!ok_ || curl_url_get(url_, part, &text, 0) != CURLUE_OK)
        return {};
    std::string value = text;
    curl_free(text);
    return value;
}

std::string Url::Host() const {
    char* text = nullptr;
    if (!ok_ || (curl_url_get(url_, CURLUPART_HOST, &text, CURLU_PUNYCODE) != CURLUE_OK &&
                 curl_url_get(url_, CURLUPART_HOST, &text, CURLU_URLENCODE) != CURLUE_OK))
        return {};
    std::string host = text;
    curl_free(text);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    for (char& c : host)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return host;
}

bool Url::HasCredentials() const {
    return !Get(CURLUPART_USER).empty() || !Get(CURLUPART_PASSWORD).empty() ||
           !Get(CURLUPART_OPTIONS).empty();
}

std::string Url::WithoutCredentials() {
    curl_url_set(url_, CURLUPART_USER, nullptr, 0);
    curl_url_set(url_, CURLUPART_PASSWORD, nullptr, 0);
    curl_url_set(url_, CURLUPART_OPTIONS, nullptr, 0);
    return Get(CURLUPART_URL);
}

namespace {

// An address that libcurl would not read, taken apart as text: everything up to "://", the
// authority after it without anything up to its last "@", and the rest.
struct TextParts {
    std::string scheme, authority, rest;
};

TextParts SplitAsText(const std::string& url) {
    TextParts parts;
    const size_t colon = url.find("://");
    const auto schemeChar = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
    };
    if (colon == std::string::npos || colon == 0 ||
        !std::isalpha(static_cast<unsigned char>(url[0])) ||
        !std::all_of(url.begin(), url.begin() + static_cast<std::ptrdiff_t>(colon), schemeChar)) {
        parts.rest = url;
        return parts;
    }
    parts.scheme = url.substr(0, colon);
    const size_t start = colon + 3;
    const size_t end = std::min(url.find_first_of("/?#", start), url.size());
    parts.authority = url.substr(start, end - start);
    if (const size_t at = parts.authority.rfind('@'); at != std::string::npos)
        parts.authority.erase(0, at + 1);
    parts.rest = url.substr(end);
    return parts;
}

}  // namespace

std::string WithoutCredentials(const std::string& url) {
    Url parsed(url);
    if (parsed.ok())
        return parsed.WithoutCredentials();
    const TextParts parts = SplitAsText(url);
    return parts.scheme.empty() ? url : parts.scheme + "://" + parts.authority + parts.rest;
}

std::string ShownTracker(const std::string& tracker) {
    Url url(tracker, Url::Any);
    std::string scheme = url.Get(CURLUPART_SCHEME), host = url.Get(CURLUPART_HOST);
    std::string port = url.Get(CURLUPART_PORT), rest = url.Get(CURLUPART_PATH);
    if (!url.Get(CURLUPART_QUERY).empty())
        rest += "?";
    if (scheme.empty() || host.empty()) {
        const TextParts parts = SplitAsText(tracker);
        scheme = parts.scheme;
        host = parts.authority;
        port.clear();
        rest = parts.rest;
    }
    if (scheme.empty())
        return "…";
    return scheme + "://" + host + (port.empty() ? "" : ":" + port) +
           (rest.empty() || rest == "/" ? "" : "/…");
}

}  // namespace velindra

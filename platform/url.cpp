#include "url.h"

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

std::string WithoutCredentials(const std::string& url) {
    Url parsed(url);
    return parsed.ok() ? parsed.WithoutCredentials() : url;
}

}  // namespace velindra

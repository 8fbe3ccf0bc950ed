#include "core/text_values.h"

#include <cstdlib>

namespace velindra {

std::optional<long> NumberIn(const std::string& text, long lowest, long highest) {
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || n < lowest || n > highest)
        return std::nullopt;
    return n;
}

std::optional<Endpoint> SplitEndpoint(std::string_view text) {
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    Endpoint endpoint{std::string(text.substr(0, colon)), std::string(text.substr(colon + 1))};
    std::string& host = endpoint.host;
    endpoint.bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
    if (endpoint.bracketed)
        host = host.substr(1, host.size() - 2);
    return endpoint;
}

}  // namespace velindra

// Values read from what a user writes in an option or a setting: a whole number within bounds,
// and an address with its port ("HOST:PORT").
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velindra {

// A whole decimal number from `lowest` to `highest` as strtol reads one (blanks before it and
// a sign allowed), with nothing after it; nothing otherwise.
std::optional<long> NumberIn(const std::string& text, long lowest, long highest);

// "HOST:PORT" split at its last colon, the brackets of an IPv6 address taken off the host
// ("[::1]:80": "::1" and "80"); nothing without a colon.
struct Endpoint {
    std::string host;
    std::string port;
    bool bracketed = false;  // the host was written in brackets
    std::string written() const { return bracketed ? "[" + host + "]" : host; }
};
std::optional<Endpoint> SplitEndpoint(std::string_view text);

}  // namespace velindra

// Addresses of this machine and of the networks it is on: which ones a link may make the
// program contact (the public internet), and which it may not (this machine, private and
// link-local networks, and the reserved ranges).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct sockaddr;

namespace velindra {

struct IpAddress {
    bool v6 = false;
    std::array<uint8_t, 16> bytes{};  // an IPv4 address in the first four
    bool operator==(const IpAddress&) const = default;
};

// A host written as an address: IPv4 in any of the forms the system's own parser takes
// ("127.0.0.1", "2130706433", "0x7f000001", "0177.1"), or IPv6 with or without brackets;
// nothing for a name.
std::optional<IpAddress> ParseAddress(const std::string& host);
std::optional<IpAddress> AddressOf(const sockaddr* address);
std::string AddressText(const IpAddress& address);

// Whether an address is on the public internet. IPv4 inside IPv6 (mapped, translated, NAT64's
// well-known prefix, 6to4) counts as the IPv4 address it holds; NAT64's local-use prefix, which
// reaches private networks, is never public.
bool IsPublic(const IpAddress& address);

// The ranges that are not public, first and last address of each, for a filter: the same list
// IsPublic reads.
std::vector<std::pair<IpAddress, IpAddress>> NonPublicRanges();

// The addresses a name resolves to here; none when it does not.
std::vector<IpAddress> Resolve(const std::string& host);

// Whether a host is an address of this machine (IPv4, or IPv6 without brackets; the "any"
// addresses too) or one of its network interfaces: one a listening socket can be bound to.
bool IsLocalHost(const std::string& host);

}  // namespace velindra

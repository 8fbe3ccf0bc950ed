// What the address rules need from the system, one implementation per system
// (addresses_posix.cpp, addresses_win.cpp).
#pragma once

#include <string>

struct sockaddr;

namespace velindra::addresses_system {

// An address written as the system writes one of `family` (AF_INET, AF_INET6) into `address`
// (its in_addr or in6_addr); false when it is none.
bool FromText(int family, const std::string& text, void* address);
// Whether a socket can be bound to the address: it is one of this machine's (or "any").
bool Bindable(int family, const sockaddr* address, int length);
// Whether the name is one of this machine's network interfaces.
bool IsInterfaceName(const std::string& name);

}  // namespace velindra::addresses_system

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/addresses.h"

namespace velindra {

std::vector<IpAddress> Resolve(const std::string& host) {
    std::vector<IpAddress> found;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0)
        return found;
    for (const addrinfo* i = list; i; i = i->ai_next) {
        if (const std::optional<IpAddress> a = AddressOf(i->ai_addr))
            found.push_back(*a);
    }
    ::freeaddrinfo(list);
    return found;
}

namespace {

// Whether a socket can be bound to the address: it is one of this machine's (or "any").
bool Bindable(int family, const sockaddr* address, socklen_t length) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool bound = ::bind(fd, address, length) == 0;
    ::close(fd);
    return bound;
}

}  // namespace

bool IsLocalHost(const std::string& host) {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    if (::inet_pton(AF_INET, host.c_str(), &v4.sin_addr) == 1)
        return Bindable(AF_INET, reinterpret_cast<const sockaddr*>(&v4), sizeof v4);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    if (::inet_pton(AF_INET6, host.c_str(), &v6.sin6_addr) == 1)
        return Bindable(AF_INET6, reinterpret_cast<const sockaddr*>(&v6), sizeof v6);
    return !host.empty() && ::if_nametoindex(host.c_str()) != 0;
}

}  // namespace velindra

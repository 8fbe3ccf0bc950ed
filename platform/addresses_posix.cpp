#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

#include "addresses.h"

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

bool IsLocalHost(const std::string& host) {
    in6_addr address{};
    return ::inet_pton(AF_INET, host.c_str(), &address) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), &address) == 1 ||
           (!host.empty() && ::if_nametoindex(host.c_str()) != 0);
}

}  // namespace velindra

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include "addresses.h"

namespace velindra {

std::vector<IpAddress> Resolve(const std::string& host) {
    std::vector<IpAddress> found;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return found;
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &list) == 0) {
        for (const addrinfo* i = list; i; i = i->ai_next) {
            if (const std::optional<IpAddress> a = AddressOf(i->ai_addr))
                found.push_back(*a);
        }
        freeaddrinfo(list);
    }
    WSACleanup();
    return found;
}

bool IsLocalHost(const std::string& host) {
    IN6_ADDR address{};
    return InetPtonA(AF_INET, host.c_str(), &address) == 1 ||
           InetPtonA(AF_INET6, host.c_str(), &address) == 1;
}

}  // namespace velindra

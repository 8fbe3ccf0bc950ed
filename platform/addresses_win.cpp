// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include "platform/addresses.h"

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

namespace {

// Whether a socket can be bound to the address: it is one of this machine's (or "any").
bool Bindable(int family, const sockaddr* address, int length) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    const SOCKET s = socket(family, SOCK_STREAM, 0);
    const bool bound = s != INVALID_SOCKET && bind(s, address, length) == 0;
    if (s != INVALID_SOCKET)
        closesocket(s);
    WSACleanup();
    return bound;
}

}  // namespace

bool IsLocalHost(const std::string& host) {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    if (InetPtonA(AF_INET, host.c_str(), &v4.sin_addr) == 1)
        return Bindable(AF_INET, reinterpret_cast<const sockaddr*>(&v4), sizeof v4);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    if (InetPtonA(AF_INET6, host.c_str(), &v6.sin6_addr) == 1)
        return Bindable(AF_INET6, reinterpret_cast<const sockaddr*>(&v6), sizeof v6);
    return false;
}

}  // namespace velindra

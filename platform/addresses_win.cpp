// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include "platform/addresses.h"
#include "platform/addresses_system.h"

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

namespace addresses_system {

bool FromText(int family, const std::string& text, void* address) {
    return InetPtonA(family, text.c_str(), address) == 1;
}

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

bool IsInterfaceName(const std::string&) {
    return false;  // Windows binds to addresses, not to interfaces by name
}

}  // namespace addresses_system

}  // namespace velindra

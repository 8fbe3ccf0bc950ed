#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/addresses.h"
#include "platform/addresses_system.h"

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

namespace addresses_system {

bool FromText(int family, const std::string& text, void* address) {
    return ::inet_pton(family, text.c_str(), address) == 1;
}

bool Bindable(int family, const sockaddr* address, int length) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool bound = ::bind(fd, address, static_cast<socklen_t>(length)) == 0;
    ::close(fd);
    return bound;
}

bool IsInterfaceName(const std::string& name) {
    return !name.empty() && ::if_nametoindex(name.c_str()) != 0;
}

}  // namespace addresses_system

}  // namespace velindra

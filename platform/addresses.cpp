#include "platform/addresses.h"

#include "platform/addresses_system.h"

#ifdef _WIN32
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>

namespace velindra {

namespace {

struct Prefix {
    bool v6;
    std::array<uint8_t, 16> net;
    int bits;
};

constexpr Prefix V4(uint8_t a, uint8_t b, uint8_t c, uint8_t d, int bits) {
    return {false, {a, b, c, d}, bits};
}

// What is not the public internet: "this" network, private, shared (carrier NAT), loopback,
// link-local, protocol assignments, documentation, benchmarking, multicast and reserved
// ranges.
constexpr Prefix kNonPublicV4[] = {
    V4(0, 0, 0, 0, 8),      V4(10, 0, 0, 0, 8),    V4(100, 64, 0, 0, 10),   V4(127, 0, 0, 0, 8),
    V4(169, 254, 0, 0, 16), V4(172, 16, 0, 0, 12), V4(192, 0, 0, 0, 24),    V4(192, 0, 2, 0, 24),
    V4(192, 168, 0, 0, 16), V4(198, 18, 0, 0, 15), V4(198, 51, 100, 0, 24), V4(203, 0, 113, 0, 24),
    V4(224, 0, 0, 0, 3),  // multicast, reserved and the broadcast address
};

// ... and the IPv6 ones of its own.
constexpr Prefix kNonPublicV6[] = {
    {true, {}, 96},  // unspecified, loopback and the old IPv4-compatible form
    {true, {0x00, 0x64, 0xff, 0x9b, 0x00, 0x01}, 48},  // NAT64 for local use: private networks
    {true, {0x01, 0x00}, 64},                          // discard
    {true, {0x20, 0x01, 0x0d, 0xb8}, 32},              // documentation
    {true, {0xfc}, 7},                                 // unique local
    {true, {0xfe, 0x80}, 10},                          // link-local
    {true, {0xfe, 0xc0}, 10},                          // site-local
    {true, {0xff}, 8},                                 // multicast
};

// The IPv6 forms that carry an IPv4 address (from the prefix's end on), which reach whatever
// that address does.
constexpr Prefix kCarriesV4[] = {
    {true, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff}, 96},  // IPv4-mapped
    {true, {0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0, 0}, 96},  // IPv4-translated
    {true, {0x00, 0x64, 0xff, 0x9b}, 96},                    // NAT64, well-known prefix
    {true, {0x20, 0x02}, 16},                                // 6to4
};

// Every range that is not public, in one list: the IPv4 ones, the IPv6 ones, and the IPv4 ones
// in each IPv6 form that carries IPv4. Both the check of a link's web addresses and the network
// source's filter are made from it.
const std::vector<Prefix>& NonPublic() {
    static const std::vector<Prefix> all = [] {
        std::vector<Prefix> list(std::begin(kNonPublicV4), std::end(kNonPublicV4));
        list.insert(list.end(), std::begin(kNonPublicV6), std::end(kNonPublicV6));
        for (const Prefix& form : kCarriesV4) {
            const size_t at = static_cast<size_t>(form.bits / 8);
            for (const Prefix& v4 : kNonPublicV4) {
                Prefix carried = form;
                std::copy_n(v4.net.begin(), 4, carried.net.begin() + static_cast<long>(at));
                carried.bits = form.bits + v4.bits;
                list.push_back(carried);
            }
        }
        return list;
    }();
    return all;
}

bool Within(const IpAddress& a, const Prefix& p) {
    if (a.v6 != p.v6)
        return false;
    for (int bit = 0; bit < p.bits; ++bit) {
        const int mask = 0x80 >> (bit % 8);
        if ((a.bytes[bit / 8] & mask) != (p.net[bit / 8] & mask))
            return false;
    }
    return true;
}

// One part of a BSD-style IPv4 address: decimal, octal after "0", hexadecimal after "0x".
std::optional<uint64_t> Part(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    int base = 10;
    size_t i = 0;
    if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
        if (i == text.size())
            return std::nullopt;
    } else if (text[0] == '0') {
        base = 8;
    }
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int c = std::tolower(static_cast<unsigned char>(text[i]));
        const int digit = std::isdigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : 99;
        if (digit >= base)
            return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
    }
    return value;
}

std::optional<IpAddress> ParseV4(const std::string& host) {
    std::vector<uint64_t> parts;
    for (size_t begin = 0; begin <= host.size();) {
        const size_t dot = std::min(host.find('.', begin), host.size());
        const std::optional<uint64_t> part = Part(host.substr(begin, dot - begin));
        if (!part || parts.size() == 4)
            return std::nullopt;
        parts.push_back(*part);
        begin = dot + 1;
    }
    // "a", "a.b" (b 24 bits), "a.b.c" (c 16 bits), "a.b.c.d".
    uint64_t value = parts.back();
    const uint64_t limit = 0xFFFFFFFFull >> (8 * (parts.size() - 1));
    if (value > limit)
        return std::nullopt;
    for (size_t k = 0; k + 1 < parts.size(); ++k) {
        if (parts[k] > 255)
            return std::nullopt;
        value |= parts[k] << (8 * (3 - k));
    }
    IpAddress a;
    for (int k = 0; k < 4; ++k)
        a.bytes[static_cast<size_t>(k)] = static_cast<uint8_t>(value >> (8 * (3 - k)));
    return a;
}

std::optional<IpAddress> ParseV6(std::string host) {
    const size_t zone = host.find('%');
    if (zone != std::string::npos)
        host.resize(zone);  // fe80::1%eth0
    std::vector<uint16_t> head, tail;
    std::vector<uint16_t>* into = &head;
    bool gap = false;
    size_t i = 0;
    if (host.starts_with("::")) {
        gap = true;
        into = &tail;
        i = 2;
    }
    while (i < host.size()) {
        const size_t end = std::min(host.find(':', i), host.size());
        const std::string group = host.substr(i, end - i);
        if (group.find('.') != std::string::npos && end == host.size()) {
            const std::optional<IpAddress> v4 = ParseV4(group);  // ::ffff:1.2.3.4
            if (!v4 || group.find_first_not_of("0123456789.") != std::string::npos)
                return std::nullopt;
            into->push_back(static_cast<uint16_t>(v4->bytes[0] << 8 | v4->bytes[1]));
            into->push_back(static_cast<uint16_t>(v4->bytes[2] << 8 | v4->bytes[3]));
            break;
        }
        if (group.empty() || group.size() > 4 ||
            group.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return std::nullopt;
        into->push_back(static_cast<uint16_t>(std::stoul(group, nullptr, 16)));
        i = end;
        if (i < host.size()) {
            if (host.compare(i, 2, "::") == 0) {
                if (gap)
                    return std::nullopt;
                gap = true;
                into = &tail;
                i += 2;
            } else {
                ++i;
                if (i == host.size())
                    return std::nullopt;
            }
        }
    }
    if (head.size() + tail.size() > 8 || (!gap && head.size() != 8) ||
        (gap && head.size() + tail.size() == 8))
        return std::nullopt;
    IpAddress a;
    a.v6 = true;
    for (size_t k = 0; k < head.size(); ++k) {
        a.bytes[2 * k] = static_cast<uint8_t>(head[k] >> 8);
        a.bytes[2 * k + 1] = static_cast<uint8_t>(head[k]);
    }
    for (size_t k = 0; k < tail.size(); ++k) {
        const size_t at = 16 - 2 * (tail.size() - k);
        a.bytes[at] = static_cast<uint8_t>(tail[k] >> 8);
        a.bytes[at + 1] = static_cast<uint8_t>(tail[k]);
    }
    return a;
}

}  // namespace

std::optional<IpAddress> ParseAddress(const std::string& host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        return ParseV6(host.substr(1, host.size() - 2));
    if (host.find(':') != std::string::npos)
        return ParseV6(host);
    std::string bare = host;
    if (!bare.empty() && bare.back() == '.')
        bare.pop_back();  // "127.0.0.1." is the same address
    return ParseV4(bare);
}

std::optional<IpAddress> AddressOf(const sockaddr* address) {
    IpAddress a;
    if (address->sa_family == AF_INET) {
        std::memcpy(a.bytes.data(), &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
        return a;
    }
    if (address->sa_family == AF_INET6) {
        a.v6 = true;
        std::memcpy(a.bytes.data(), &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
        return a;
    }
    return std::nullopt;
}

std::string AddressText(const IpAddress& a) {
    std::string text;
    if (!a.v6) {
        for (int k = 0; k < 4; ++k)
            text += (k ? "." : "") + std::to_string(a.bytes[static_cast<size_t>(k)]);
        return text;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    for (size_t k = 0; k < 16; k += 2) {
        if (k)
            text += ':';
        const unsigned group = unsigned(a.bytes[k]) << 8 | a.bytes[k + 1];
        bool leading = true;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = (group >> shift) & 15;
            if (leading && digit == 0 && shift > 0)
                continue;
            leading = false;
            text += kDigits[digit];
        }
    }
    return text;
}

bool IsPublic(const IpAddress& a) {
    for (const Prefix& p : NonPublic()) {
        if (Within(a, p))
            return false;
    }
    return true;
}

std::vector<std::pair<IpAddress, IpAddress>> NonPublicRanges() {
    std::vector<std::pair<IpAddress, IpAddress>> ranges;
    for (const Prefix& p : NonPublic()) {
        IpAddress first, last;
        first.v6 = last.v6 = p.v6;
        const int size = p.v6 ? 16 : 4;
        for (int bit = 0; bit < size * 8; ++bit) {
            const size_t byte = static_cast<size_t>(bit / 8);
            const int mask = 0x80 >> (bit % 8);
            if (bit < p.bits) {
                first.bytes[byte] |= p.net[byte] & mask;
                last.bytes[byte] |= p.net[byte] & mask;
            } else {
                last.bytes[byte] |= mask;
            }
        }
        ranges.emplace_back(first, last);
    }
    return ranges;
}

bool IsLocalHost(const std::string& host) {
    namespace system = addresses_system;
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    if (system::FromText(AF_INET, host, &v4.sin_addr))
        return system::Bindable(AF_INET, reinterpret_cast<const sockaddr*>(&v4), sizeof v4);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    if (system::FromText(AF_INET6, host, &v6.sin6_addr))
        return system::Bindable(AF_INET6, reinterpret_cast<const sockaddr*>(&v6), sizeof v6);
    return system::IsInterfaceName(host);
}

}  // namespace velindra

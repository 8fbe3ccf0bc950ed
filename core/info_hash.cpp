#include "core/info_hash.h"

#include "core/links.h"

namespace velindra {

namespace {

int Base32Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a';
    if (c >= '2' && c <= '7')
        return c - '2' + 26;
    return -1;
}

}  // namespace

namespace {

// The bytes that exactly 2 * N hexadecimal digits of either case stand for.
template <size_t N>
std::optional<std::array<uint8_t, N>> HexBytes(std::string_view hex) {
    if (hex.size() != 2 * N)
        return std::nullopt;
    std::array<uint8_t, N> bytes{};
    for (size_t k = 0; k < N; ++k) {
        const int hi = HexDigitValue(hex[2 * k]);
        const int lo = HexDigitValue(hex[2 * k + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        bytes[k] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return bytes;
}

}  // namespace

std::optional<Sha1Digest> InfoHashBytes(std::string_view hash) {
    Sha1Digest bytes{};
    if (hash.size() == 40)
        return HexBytes<20>(hash);
    if (hash.size() == 32) {
        uint64_t buffer = 0;
        int bits = 0;
        size_t out = 0;
        for (char c : hash) {
            const int v = Base32Value(c);
            if (v < 0)
                return std::nullopt;
            buffer = (buffer << 5) | static_cast<uint64_t>(v);
            bits += 5;
            if (bits >= 8) {
                bits -= 8;
                bytes[out++] = static_cast<uint8_t>((buffer >> bits) & 0xFF);
            }
        }
        return bytes;  // 32 x 5 bits are exactly 20 bytes
    }
    return std::nullopt;
}

std::optional<Sha256Digest> V2HashBytes(std::string_view hash) {
    return HexBytes<32>(hash);
}

std::string LinkHashes::V1Text() const {
    return v1 ? HexOf(*v1, true) : std::string();
}

std::string LinkHashes::V2Text() const {
    return v2 ? HexOf(*v2) : std::string();
}

std::optional<LinkHashes> ReadLinkHashes(std::string_view v1, std::string_view v2) {
    LinkHashes hashes;
    if (!v1.empty()) {
        hashes.v1 = InfoHashBytes(v1);
        if (!hashes.v1)
            return std::nullopt;
    }
    if (!v2.empty()) {
        hashes.v2 = V2HashBytes(v2);
        if (!hashes.v2 && v1.empty())
            return std::nullopt;
    }
    if (!hashes.v1 && !hashes.v2)
        return std::nullopt;
    return hashes;
}

}  // namespace velindra

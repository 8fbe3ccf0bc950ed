// The info-hashes a link names a torrent by: read from the forms links write them in, and
// written back in the forms the caches and links use.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velindra {

using Sha1Digest = std::array<uint8_t, 20>;

// The 20 bytes a 40-digit hexadecimal or a 32-character base-32 info-hash stands for, in
// either case; nullopt for any other form.
std::optional<Sha1Digest> InfoHashBytes(std::string_view infoHash);

using Sha256Digest = std::array<uint8_t, 32>;

// The 32 bytes of a BitTorrent v2 info-hash written as 64 hexadecimal digits of either case;
// nullopt for any other form.
std::optional<Sha256Digest> V2HashBytes(std::string_view v2Hash);

// The hashes a link is known by, as their bytes: a v1 info-hash (SHA-1), a v2 info-hash
// (SHA-256), or both for a hybrid link. Read once from the link's text and carried to every
// source, which checks what it delivers against them.
struct LinkHashes {
    std::optional<Sha1Digest> v1;
    std::optional<Sha256Digest> v2;
    // The 40 upper-case hexadecimal digits the caches index, or "" without a v1 hash.
    std::string V1Text() const;
    // The 64 lower-case hexadecimal digits v2 links write, or "" without a v2 hash.
    std::string V2Text() const;
    bool operator==(const LinkHashes&) const = default;
};

// Both hashes of a link, from their texts as the link writes them ("" for none); nothing when
// the link has none, or one that cannot be read (a v2 hash beside a readable v1 hash is then
// left out, unchecked).
std::optional<LinkHashes> ReadLinkHashes(std::string_view v1, std::string_view v2);

// Bytes as hexadecimal digits, lower case unless asked for upper (as the caches index v1 hashes).
template <size_t N>
std::string HexOf(const std::array<uint8_t, N>& bytes, bool upper = false) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string hex;
    for (const uint8_t b : bytes) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 15]);
    }
    return hex;
}

}  // namespace velindra

// SHA-1 and SHA-256 from the system's cryptography, and what they vouch for: CNG (BCrypt) on
// Windows (digests_win.cpp), OpenSSL's libcrypto elsewhere (digests_openssl.cpp).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/torrent.h"

namespace velindra {

// Nothing when the system could not compute the digest.
std::optional<Sha1Digest> Sha1(std::string_view data);
std::optional<Sha256Digest> Sha256(std::string_view data);

inline constexpr Digests kSystemDigests{Sha1, Sha256};

// Whether a delivered body is the torrent for the link's hashes, with plain words when it is
// not; `length` receives how many leading bytes of the body are the torrent.
FetchResult CheckDelivered(std::string_view body, const LinkHashes& hashes, size_t* length);

}  // namespace velindra

#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "torrent.h"

namespace velindra {

// SHA-1 from the system's cryptography, and what it vouches for.

// SHA-1 from the system's cryptography: CNG (BCrypt) on Windows (sha1_win.cpp), OpenSSL's
// libcrypto elsewhere (sha1_openssl.cpp). Nothing when the system could not compute it.
std::optional<Sha1Digest> Sha1(std::string_view data);

// Whether a delivered body is the torrent for the hash, with plain words when it is not;
// `length` receives how many leading bytes of the body are the torrent.
FetchResult CheckDelivered(std::string_view body, const std::string& infoHash, size_t* length);

}  // namespace velindra

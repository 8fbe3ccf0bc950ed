#pragma once

#include <optional>
#include <string_view>

#include "torrent.h"

namespace velindra {

// SHA-1 from the system's cryptography: CNG (BCrypt) on Windows (sha1_win.cpp), OpenSSL's
// libcrypto elsewhere (sha1_openssl.cpp). Nothing when the system could not compute it.
std::optional<Sha1Digest> Sha1(std::string_view data);

}  // namespace velindra

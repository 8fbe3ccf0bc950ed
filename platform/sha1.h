#pragma once

#include <string_view>

#include "torrent.h"

namespace velindra {

// SHA-1 from the system's cryptography: CNG (BCrypt) on Windows, OpenSSL's libcrypto elsewhere.
Sha1Digest Sha1(std::string_view data);

}  // namespace velindra

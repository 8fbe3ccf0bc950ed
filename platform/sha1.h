#pragma once

#include <string_view>

#include "torrent.h"

namespace velindra {

// SHA-1 from OpenSSL's libcrypto.
Sha1Digest Sha1(std::string_view data);

}  // namespace velindra

#include "sha1.h"

#include <openssl/evp.h>

namespace velindra {

Sha1Digest Sha1(std::string_view data) {
    Sha1Digest digest{};
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha1(), nullptr);
    return digest;
}

}  // namespace velindra

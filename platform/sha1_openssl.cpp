#include <openssl/evp.h>

#include "sha1.h"

namespace velindra {

std::optional<Sha1Digest> Sha1(std::string_view data) {
    Sha1Digest digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha1(), nullptr) != 1 ||
        length != digest.size())
        return std::nullopt;
    return digest;
}

}  // namespace velindra

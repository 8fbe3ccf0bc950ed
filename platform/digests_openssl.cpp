#include <openssl/evp.h>

#include "platform/digests.h"

namespace velindra {

namespace {

template <typename Digest>
std::optional<Digest> Compute(std::string_view data, const EVP_MD* algorithm) {
    Digest digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, algorithm, nullptr) != 1 ||
        length != digest.size())
        return std::nullopt;
    return digest;
}

}  // namespace

std::optional<Sha1Digest> Sha1(std::string_view data) {
    return Compute<Sha1Digest>(data, EVP_sha1());
}

std::optional<Sha256Digest> Sha256(std::string_view data) {
    return Compute<Sha256Digest>(data, EVP_sha256());
}

}  // namespace velindra

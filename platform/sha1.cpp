#include "sha1.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <stdexcept>
#else
#include <openssl/evp.h>
#endif

namespace velindra {

#ifdef _WIN32
namespace {

// One provider for the whole process; hash objects made from it may be used on any thread.
BCRYPT_ALG_HANDLE Sha1Provider() {
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        if (!BCRYPT_SUCCESS(
                BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA1_ALGORITHM, nullptr, 0)))
            throw std::runtime_error("SHA-1 is not available from the system");
        return handle;
    }();
    return provider;
}

}  // namespace

Sha1Digest Sha1(std::string_view data) {
    Sha1Digest digest{};
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(Sha1Provider(), &hash, nullptr, 0, nullptr, 0, 0)))
        throw std::runtime_error("cannot start a SHA-1 hash");
    // BCryptHashData takes at most 4 GiB at a time.
    bool ok = true;
    for (size_t done = 0; ok && done < data.size();) {
        const ULONG chunk = static_cast<ULONG>(std::min<size_t>(data.size() - done, 1u << 30));
        auto* bytes = reinterpret_cast<PUCHAR>(const_cast<char*>(data.data() + done));
        ok = BCRYPT_SUCCESS(BCryptHashData(hash, bytes, chunk, 0));
        done += chunk;
    }
    ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), digest.size(), 0));
    BCryptDestroyHash(hash);
    if (!ok)
        throw std::runtime_error("SHA-1 failed");
    return digest;
}
#else
Sha1Digest Sha1(std::string_view data) {
    Sha1Digest digest{};
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha1(), nullptr);
    return digest;
}
#endif

}  // namespace velindra

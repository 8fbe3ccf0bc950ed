// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>

#include "platform/digests.h"

namespace velindra {

namespace {

// One provider per algorithm for the whole process; hash objects made from it may be used on
// any thread. Null when the system has none.
BCRYPT_ALG_HANDLE Provider(LPCWSTR algorithm) {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0)))
        return nullptr;
    return handle;
}

template <typename Digest>
std::optional<Digest> Compute(std::string_view data, BCRYPT_ALG_HANDLE provider) {
    Digest digest{};
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!provider || !BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0)))
        return std::nullopt;
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
        return std::nullopt;
    return digest;
}

}  // namespace

std::optional<Sha1Digest> Sha1(std::string_view data) {
    static const BCRYPT_ALG_HANDLE provider = Provider(BCRYPT_SHA1_ALGORITHM);
    return Compute<Sha1Digest>(data, provider);
}

std::optional<Sha256Digest> Sha256(std::string_view data) {
    static const BCRYPT_ALG_HANDLE provider = Provider(BCRYPT_SHA256_ALGORITHM);
    return Compute<Sha256Digest>(data, provider);
}

}  // namespace velindra

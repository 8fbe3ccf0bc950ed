// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>

#include "sha1.h"

namespace velindra {

namespace {

// One provider for the whole process; hash objects made from it may be used on any thread.
// Null when the system has none.
BCRYPT_ALG_HANDLE Sha1Provider() {
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        if (!BCRYPT_SUCCESS(
                BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA1_ALGORITHM, nullptr, 0)))
            return BCRYPT_ALG_HANDLE{nullptr};
        return handle;
    }();
    return provider;
}

}  // namespace

std::optional<Sha1Digest> Sha1(std::string_view data) {
    Sha1Digest digest{};
    BCRYPT_HASH_HANDLE hash = nullptr;
    const BCRYPT_ALG_HANDLE provider = Sha1Provider();
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

}  // namespace velindra

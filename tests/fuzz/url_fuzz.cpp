// libFuzzer target for the addresses a link or the user names, as the programs read them with
// libcurl: a tracker is never shown with more than its scheme, host and port, credentials
// never survive, and a mirror template takes only the hash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/mirrors.h"
#include "platform/url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find('\0') != std::string::npos)
        return 0;  // no address the programs read holds one
    const std::string shown = velindra::ShownTracker(text);
    if (shown.find_first_of("@?#") != std::string::npos)
        std::abort();
    for (const auto schemes : {velindra::Url::Web, velindra::Url::Any}) {
        velindra::Url url(text, schemes);
        url.Host();
        if (url.ok() && url.HasCredentials()) {
            velindra::Url again(url.WithoutCredentials(), schemes);
            if (again.ok() && again.HasCredentials())
                std::abort();
        }
    }
    velindra::WithoutCredentials(text);
    const std::string hash(40, 'A');
    const std::string mirror = velindra::BuildMirrorUrl(text, hash);
    if (text.find("{hash}") != std::string::npos && mirror.find(hash) == std::string::npos)
        std::abort();
    return 0;
}

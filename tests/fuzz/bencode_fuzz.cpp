// libFuzzer target for the torrent parser: no input may crash it, hang it or make it read
// outside the body, and an accepted "info" value always lies inside the body and is itself
// well-formed bencode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/torrent.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const auto info = velindra::FindInfoDictionary(body);
    if (info) {
        if (info->data() < body.data() || info->data() + info->size() > body.data() + body.size()) {
            std::abort();
        }
        if (info->empty() || info->front() != 'd' || info->back() != 'e')
            std::abort();
        // Wrapped as the only value of a torrent, the info bytes must parse to themselves.
        const std::string again = "d4:info" + std::string(*info) + "e";
        const auto reparsed = velindra::FindInfoDictionary(again);
        if (!reparsed || *reparsed != *info)
            std::abort();
    }
    velindra::InfoHashBytes(body);
    return 0;
}

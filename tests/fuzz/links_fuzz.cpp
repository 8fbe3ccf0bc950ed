// libFuzzer target for pasted text: the splitter, the link parser, display-name decoding and
// file naming. Every link found lies inside the text, its addresses are web addresses with no
// white space, and every file name is one safe path component ending in ".torrent".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/file_names.h"
#include "core/links.h"

namespace {

void CheckName(const std::string& name, velindra::PathRules rules) {
    const std::string_view forbidden = rules.windows ? "<>:\"/\\|?*" : "/";
    if (!name.ends_with(velindra::kTorrentSuffix) || name.size() > 4 * velindra::kMaxFileNameUnits)
        std::abort();
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || forbidden.find(c) != std::string_view::npos)
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto pieces = velindra::SplitLinks(text);
    for (const velindra::LinkSpan& span : velindra::FindLinks(text)) {
        if (span.begin > text.size())
            std::abort();
        const std::string piece = velindra::PieceAt(text, span);
        for (const bool usedn : {true, false}) {
            const auto parsed = velindra::ParseLink(piece, usedn);
            if (!parsed)
                continue;
            if (parsed->exactSources.size() > velindra::kMaxExactSources)
                std::abort();
            for (const std::string& url : parsed->exactSources) {
                const bool web = url.size() >= 7 && (url[0] == 'h' || url[0] == 'H');
                if (!web || url.find_first_of(" \t\r\n") != std::string::npos)
                    std::abort();
            }
            for (const bool windows : {false, true}) {
                const velindra::PathRules rules{windows};
                CheckName(velindra::FileNameFor(parsed->stem, rules), rules);
            }
        }
        velindra::CappedLink(piece, 3, 3);
    }
    for (const std::string& piece : pieces)
        velindra::DecodeDisplayName(piece);
    return 0;
}

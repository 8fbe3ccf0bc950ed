// Splitting and parsing a large paste: 100,000 links in about 10 MB of text.
// Prints the time of each stage; the target is well under 200 ms for the whole paste.
#include <chrono>
#include <cstdio>
#include <string>

#include "file_names.h"
#include "links.h"

int main() {
    using Clock = std::chrono::steady_clock;
    std::string text;
    const int links = 100000;
    text.reserve(11 * 1000 * 1000);
    for (int i = 0; i < links; ++i) {
        char hash[41];
        std::snprintf(hash, sizeof hash, "%040x", i * 2654435761u);
        std::string link = "magnet:?xt=urn:btih:";
        link += hash;
        link += "&dn=%E4%B8%AD+Show+" + std::to_string(i) + "&tr=udp%3A%2F%2Ft.example%3A80";
        link.resize(98, 'x');  // about 100 bytes a link with the line break
        text += link;
        text += "\r\n";
    }
    const auto t0 = Clock::now();
    const auto pieces = velindra::SplitLinks(text);
    const auto t1 = Clock::now();
    size_t total = 0;
    for (const auto& piece : pieces) {
        if (auto parsed = velindra::ParseLink(piece, true)) {
            total += velindra::MakeFileName(velindra::DecodeDisplayName(parsed->stem)).size();
        }
    }
    const auto t2 = Clock::now();
    const auto ms = [](auto d) { return std::chrono::duration<double, std::milli>(d).count(); };
    std::printf("paste: %.1f MB, %zu links\n", text.size() / 1e6, pieces.size());
    std::printf("split: %.1f ms\nparse+decode+name: %.1f ms\ntotal: %.1f ms (%zu name bytes)\n",
                ms(t1 - t0), ms(t2 - t1), ms(t2 - t0), total);
    return pieces.size() == static_cast<size_t>(links) ? 0 : 1;
}

// Splitting and parsing a large paste: 100,000 links in about 10 MB of text. Prints the time of
// each stage; the target is well under 200 ms for the whole paste. Then reading a hostile
// torrent body of the largest size a download takes (64 MiB) made of millions of keys, in order
// and out of order: the time and how much memory the reader took beyond the body (the growth of
// the peak, Linux's VmHWM), whose target is at most the body's size.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "core/file_names.h"
#include "core/links.h"
#include "core/torrent.h"

namespace {

// The peak of this process's resident memory since the last ResetPeak, in KiB.
long PeakKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:"))
            return std::stol(line.substr(6));
    }
    return 0;
}

void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// A torrent whose info dictionary holds distinct keys until the body has `bytes`: each "k:..."
// with an empty value, in ascending order or scattered (a multiple of an odd number, modulo a
// power of two, is distinct for every key). Built in place, so that the peak before reading is
// the body alone.
std::string ManyKeys(size_t bytes, bool ordered) {
    std::string body;
    body.reserve(bytes + 16);
    body = "d4:infod";
    char entry[16];
    for (unsigned i = 0; body.size() + 11 + 2 <= bytes; ++i) {
        std::snprintf(entry, sizeof entry, "7:%07x0:", ordered ? i : i * 2654435761u % 0x10000000u);
        body += entry;
    }
    return body + "ee";
}

}  // namespace

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
            total += velindra::MakeFileName(velindra::DecodeDisplayName(parsed->stem), {}).size();
        }
    }
    const auto t2 = Clock::now();
    const auto ms = [](auto d) { return std::chrono::duration<double, std::milli>(d).count(); };
    std::printf("paste: %.1f MB, %zu links\n", text.size() / 1e6, pieces.size());
    std::printf("split: %.1f ms\nparse+decode+name: %.1f ms\ntotal: %.1f ms (%zu name bytes)\n",
                ms(t1 - t0), ms(t2 - t1), ms(t2 - t0), total);
    bool ok = pieces.size() == static_cast<size_t>(links);
    for (const bool ordered : {true, false}) {
        const std::string body = ManyKeys(size_t{64} << 20, ordered);
        ResetPeak();
        const long before = PeakKilobytes();
        const auto start = Clock::now();
        const bool read = velindra::FindInfoDictionary(body).has_value();
        const auto end = Clock::now();
        std::printf("64 MiB torrent, keys %s: %s in %.0f ms, %.1f MB beyond the body\n",
                    ordered ? "in order" : "out of order", read ? "read" : "refused",
                    ms(end - start), (PeakKilobytes() - before) / 1024.0);
        ok = ok && read;
    }
    return ok ? 0 : 1;
}

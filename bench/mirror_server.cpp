// A loopback torrent cache for benchmarks: holds N distinct, real torrents and serves them under
// /good/{first2}/{last2}/{hash}.torrent (and /good/torrent/{hash}.torrent), and as a proxy for
// any cache (http://HOST/.../{hash}.torrent); /missing/... answers 404. Hashes in either case.
// With DELAY-MS, each file is answered that late, as a slow cache would. Writes links.txt
// (magnet links) and urls.txt (direct URLs) into the given folder, prints its port, and serves
// until killed.
#include <httplib.h>
#include <openssl/evp.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <unordered_map>

namespace {

std::string Hex(const unsigned char* d, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s.push_back(digits[d[i] / 16]);
        s.push_back(digits[d[i] % 16]);
    }
    return s;
}

std::string Bstr(const std::string& s) {
    return std::to_string(s.size()) + ":" + s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: mirror_server COUNT FOLDER [DELAY-MS]\n");
        return 2;
    }
    const int count = std::stoi(argv[1]);
    const std::string folder = argv[2];
    const int delayMs = argc > 3 ? std::stoi(argv[3]) : 0;
    std::unordered_map<std::string, std::string> torrents;
    std::ofstream links(folder + "/links.txt");
    std::vector<std::string> hashes;
    for (int i = 0; i < count; ++i) {
        // About 1 KB each: a name, a length and 40 piece hashes.
        std::string pieces(800, '\0');
        for (size_t k = 0; k < pieces.size(); ++k)
            pieces[k] = static_cast<char>((i * 131 + k * 7) & 0xFF);
        const std::string name = "bench-" + std::to_string(i) + ".bin";
        const std::string info = "d6:lengthi" + std::to_string(1000000 + i) + "e4:name" +
                                 Bstr(name) + "12:piece lengthi262144e6:pieces" + Bstr(pieces) +
                                 "e";
        unsigned char digest[20];
        unsigned int n = 0;
        EVP_Digest(info.data(), info.size(), digest, &n, EVP_sha1(), nullptr);
        const std::string hash = Hex(digest, 20);
        torrents[hash] =
            "d8:announce" + Bstr("http://tracker.invalid/announce") + "4:info" + info + "e";
        hashes.push_back(hash);
        links << "magnet:?xt=urn:btih:" << hash << "&dn=bench+" << i
              << "&tr=udp%3A%2F%2Ft.invalid%3A80\n";
    }
    links.close();

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(64); };
    server.set_tcp_nodelay(true);  // as web servers answer (nginx: tcp_nodelay on)
    const auto serve = [&](const httplib::Request& q, httplib::Response& r) {
        std::string hash = q.matches[1];
        for (char& c : hash)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        auto it = torrents.find(hash);
        if (it == torrents.end()) {
            r.status = 404;
            return;
        }
        r.set_content(it->second, "application/x-bittorrent");
    };
    server.Get(R"(/good/.*/(\w{40})\.torrent)", serve);
    server.Get(R"(http://.*/(\w{40})\.torrent)", serve);  // asked as a proxy
    server.Get(R"(/missing/.*)",
               [](const httplib::Request&, httplib::Response& r) { r.status = 404; });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::ofstream urls(folder + "/urls.txt");
    for (const auto& h : hashes) {
        urls << "http://127.0.0.1:" << port << "/good/" << h.substr(0, 2) << "/" << h.substr(38)
             << "/" << h << ".torrent\n";
    }
    urls.close();
    std::printf("%d\n", port);
    std::fflush(stdout);
    server.listen_after_bind();
}

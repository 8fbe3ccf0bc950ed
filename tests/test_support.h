// Shared helpers for tests that use real files and real servers on 127.0.0.1.
#pragma once

#include <httplib.h>  // and the system's sockets

#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "platform/atomic_file.h"
#include "platform/digests.h"
#include "platform/utf16.h"

namespace velindra::testing {

template <typename Digest>
std::string Hex(const Digest& d) {
    std::string s;
    for (const uint8_t value : d)
        s += std::string{"0123456789abcdef"[value / 16], "0123456789abcdef"[value % 16]};
    return s;
}

inline std::string Base32(const Sha1Digest& d) {
    std::string s;
    uint64_t buffer = 0;
    int bits = 0;
    for (const uint8_t b : d) {
        buffer = (buffer << 8) | b;
        for (bits += 8; bits >= 5;)
            s.push_back("ABCDEFGHIJKLMNOPQRSTUVWXYZ234567"[(buffer >> (bits -= 5)) & 31]);
    }
    return s;
}

// A small, valid torrent whose info dictionary depends on `name`; hash is its info-hash in the
// form the caches index (40 upper-case hexadecimal digits). With `v2`, the info dictionary also
// has the fields of BitTorrent v2, and v2hash is its SHA-256 in 64 lower-case digits.
struct Torrent {
    std::string body, hash, v2hash;
};

inline Torrent MakeTorrent(const std::string& name, bool v2 = false, bool isPrivate = false) {
    const auto bstr = [](const std::string& s) { return std::to_string(s.size()) + ":" + s; };
    const std::string info = "d" + std::string(v2 ? "9:file treede12:meta versioni2e" : "") +
                             "6:lengthi" + std::to_string(1000 + name.size()) + "e4:name" +
                             bstr(name) + "12:piece lengthi16384e6:pieces" +
                             bstr(std::string(20, static_cast<char>(name.size()))) +
                             (isPrivate ? "7:privatei1ee" : "e");
    return Torrent{"d8:announce10:http://t/a4:info" + info + "e",
                   ReadLinkHashes(Hex(*Sha1(info)), "")->V1Text(), Hex(*Sha256(info))};
}

// A source's staged file put in its place at once, as a committer would.
inline FetchResult Committed(FetchResult result) {
    if (!result.ok() || !result.staged)
        return result;
    FetchResult saved = dynamic_cast<AtomicFile&>(*result.staged).Commit();
    return saved.ok() ? FetchResult::Done(result.detail) : saved;
}

inline std::string Utf8Path(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The folder and the name joined with the system's separator.
inline std::string Join(const std::string& folder, const std::string& name) {
    return Utf8Path(PathFromUtf8(folder) / PathFromUtf8(name));
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(PathFromUtf8(path), std::ios::binary) << data;
}

// Sets a variable of this process's environment, or removes it when the value is empty.
inline void SetVariable(const std::string& name, const std::string& value) {
#ifdef _WIN32
    _wputenv_s(Utf16(name).c_str(), Utf16(value).c_str());
#else
    value.empty() ? unsetenv(name.c_str()) : setenv(name.c_str(), value.c_str(), 1);
#endif
}

// A variable of this process's environment; nothing when it is not set.
inline std::optional<std::string> Variable(const std::string& name) {
#ifdef _WIN32
    const wchar_t* value = _wgetenv(Utf16(name).c_str());
    return value ? std::optional<std::string>(Utf8(value)) : std::nullopt;
#else
    const char* value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
#endif
}

// Variables of this process's environment set for a scope ("" removes one), each put back as
// it was when the scope ends.
class ScopedVariables {
  public:
    explicit ScopedVariables(const std::map<std::string, std::string>& values = {}) {
        for (const auto& [name, value] : values)
            Set(name, value);
    }
    ~ScopedVariables() {
        for (const auto& [name, value] : saved_)
            SetVariable(name, value.value_or(""));
    }
    ScopedVariables(const ScopedVariables&) = delete;
    ScopedVariables& operator=(const ScopedVariables&) = delete;
    void Set(const std::string& name, const std::string& value) {
        saved_.try_emplace(name, Variable(name));
        SetVariable(name, value);
    }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// Downloads in tests go straight to 127.0.0.1, whatever proxy the machine has.
inline void ClearProxies() {
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "no_proxy", "NO_PROXY"})
        SetVariable(name, "");
}

// A word for the shell (cmd on Windows, where the program reads it with CommandLineToArgvW).
inline std::string Quote(const std::string& s) {
#ifdef _WIN32
    return "\"" + s + (s.ends_with("\\") ? "\\\"" : "\"");
#else
    std::string quoted = "'";
    for (const char c : s)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
#endif
}

// A folder of its own, removed with everything in it at the end.
class TempDir {
  public:
    TempDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() /
                ("velindra-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return Utf8Path(path_); }
    std::string operator/(const std::string& name) const { return Join(str(), name); }
    std::set<std::string> Entries() const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_))
            names.insert(Utf8Path(e.path().filename()));
        return names;
    }

  private:
    std::filesystem::path path_;
};

// A path on this machine as the program under test names it: wine reaches the Unix root as
// drive Z:.
inline std::string ProgramPath(std::string path) {
#ifdef _WIN32
    if (path.starts_with("/"))
        path = "Z:" + path;
#endif
    return path;
}

// A port on 127.0.0.1 on which nothing listens: bound, named, and let go.
inline int RefusingPort() {
    const socket_t fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    httplib::detail::close_socket(fd);
    return ntohs(address.sin_port);
}

// A port on 127.0.0.1 (the one given, or any free one) that counts who comes: TCP
// connections, and UDP datagrams.
class CountingListener {
  public:
    explicit CountingListener(int port = 0) {
        for (int attempt = 0; attempt < 20 && !Bind(port); ++attempt) {
        }
        thread_ = std::thread([this] {
            char datagram[2048];
            while (!stopping_) {
                fd_set ready;
                FD_ZERO(&ready);
                FD_SET(tcp_, &ready);
                FD_SET(udp_, &ready);
                timeval wait{0, 50000};
                const socket_t highest = tcp_ > udp_ ? tcp_ : udp_;
                if (::select(static_cast<int>(highest) + 1, &ready, nullptr, nullptr, &wait) <= 0)
                    continue;
                if (FD_ISSET(tcp_, &ready)) {
                    const socket_t client = ::accept(tcp_, nullptr, nullptr);
                    if (client != INVALID_SOCKET) {
                        ++connections_;
                        httplib::detail::close_socket(client);
                    }
                }
                if (FD_ISSET(udp_, &ready) && ::recv(udp_, datagram, sizeof datagram, 0) >= 0)
                    ++connections_;
            }
        });
    }
    ~CountingListener() {
        stopping_ = true;
        thread_.join();
        httplib::detail::close_socket(tcp_);
        httplib::detail::close_socket(udp_);
    }
    int port() const { return port_; }
    int connections() const { return connections_; }

  private:
    // A TCP and a UDP socket on one port.
    bool Bind(int port) {
        tcp_ = ::socket(AF_INET, SOCK_STREAM, 0);
        udp_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        socklen_t length = sizeof address;
        ::bind(tcp_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(tcp_, 16);
        ::getsockname(tcp_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        if (::bind(udp_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return true;
        httplib::detail::close_socket(tcp_);
        httplib::detail::close_socket(udp_);
        return false;
    }

    socket_t tcp_{}, udp_{};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

// An HTTP server on 127.0.0.1 with a free port, serving until it is destroyed.
class LoopbackServer {
  public:
    httplib::Server server;

    void Start() {
        // Tests open many connections at once, and clients keep theirs alive: every one of
        // them must be accepted at once (the library's listen backlog of 5 would make the
        // kernel drop the others' first packet) and served by a thread of its own.
        socket_t listener{};
        server.set_socket_options([&listener](socket_t fd) {
            httplib::default_socket_options(fd);
            listener = fd;
        });
        server.new_task_queue = [] { return new httplib::ThreadPool(64); };
        port_ = server.bind_to_any_port("127.0.0.1");
        ::listen(listener, 128);  // a second listen() only widens the backlog
        thread_ = std::thread([this] { server.listen_after_bind(); });
        while (!server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~LoopbackServer() {
        server.stop();
        if (thread_.joinable())
            thread_.join();
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    int port_ = 0;
    std::thread thread_;
};

}  // namespace velindra::testing

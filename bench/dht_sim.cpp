// A simulated Mainline DHT on loopback for benchmarks: one process answers for thousands of
// nodes, each at 127.A.B.1:6881 (every node in a /24 of its own), through one UDP socket bound
// to port 6881 that learns each query's destination from IP_PKTINFO and answers from it.
//
// The network's shape follows the measurements of the real DHT: every node knows its 8 closest
// nodes and 3 per distance bucket, so a look-up takes several hops; each node has a round trip
// of its own from a lognormal distribution (a median and a 90th percentile); some nodes are dead
// (never answer) and some flaky (answer half the time); the dead still stand in the others'
// tables, as they do in the real one. The 8 live nodes closest to each info-hash of the links
// file answer get_peers with the seeder's address. A router node at 127.254.0.1 knows 16 nodes
// per bucket, answers every time, after the median round trip.
//
//     dht_sim LINKS-FILE PEER [--nodes N] [--dead F] [--flaky F] [--median MS] [--p90 MS]
//             [--seed S] [--stats FILE]
//
// Prints "ready ROUTER" once it answers. On SIGUSR1 it writes to the stats file what it was
// asked since the last time (queries, get_peers per info-hash, get_peers a node was asked
// again for the same info-hash by the same client, queries to the router, info-hashes whose
// peer was handed out) and starts again.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <queue>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Id = std::array<unsigned char, 20>;

constexpr uint16_t kPort = 6881;
constexpr uint32_t kRouter = (127u << 24) | (254u << 16) | 1u;  // 127.254.0.1

struct Node {
    Id id{};
    uint32_t address = 0;  // host order
    double rttMs = 0;
    bool dead = false;
    bool flaky = false;
    std::vector<int> known;  // indices of the nodes it hands out
};

bool Closer(const Id& target, const Id& a, const Id& b) {
    for (int i = 0; i < 20; ++i) {
        const int x = a[i] ^ target[i], y = b[i] ^ target[i];
        if (x != y)
            return x < y;
    }
    return false;
}

// A small bencode reader: enough for KRPC queries.
struct Value {
    std::string text;
    long long number = 0;
    std::vector<Value> list;
    std::map<std::string, Value> dict;
};

std::optional<Value> Decode(const std::string& in, size_t& at, int depth = 0) {
    if (at >= in.size() || depth > 16)
        return std::nullopt;
    Value v;
    const char c = in[at];
    if (c == 'i') {
        const size_t end = in.find('e', at);
        if (end == std::string::npos)
            return std::nullopt;
        v.number = std::atoll(in.c_str() + at + 1);
        at = end + 1;
    } else if (c == 'l' || c == 'd') {
        ++at;
        while (at < in.size() && in[at] != 'e') {
            auto first = Decode(in, at, depth + 1);
            if (!first)
                return std::nullopt;
            if (c == 'l') {
                v.list.push_back(std::move(*first));
                continue;
            }
            auto second = Decode(in, at, depth + 1);
            if (!second)
                return std::nullopt;
            v.dict[first->text] = std::move(*second);
        }
        if (at >= in.size())
            return std::nullopt;
        ++at;
    } else if (c >= '0' && c <= '9') {
        const size_t colon = in.find(':', at);
        if (colon == std::string::npos)
            return std::nullopt;
        const size_t length = std::strtoul(in.c_str() + at, nullptr, 10);
        if (colon + 1 + length > in.size())
            return std::nullopt;
        v.text = in.substr(colon + 1, length);
        at = colon + 1 + length;
    } else {
        return std::nullopt;
    }
    return v;
}

std::string Str(const std::string& s) {
    return std::to_string(s.size()) + ":" + s;
}

std::string Compact(uint32_t address, uint16_t port) {
    const uint32_t a = htonl(address);
    const uint16_t p = htons(port);
    std::string out(reinterpret_cast<const char*>(&a), 4);
    out.append(reinterpret_cast<const char*>(&p), 2);
    return out;
}

struct Reply {
    Clock::time_point due;
    uint32_t from;  // the node's address, host order
    sockaddr_in to;
    std::string body;
    bool operator>(const Reply& other) const { return due > other.due; }
};

volatile std::sig_atomic_t statsWanted = 0;

class Network {
  public:
    Network(int count, double dead, double flaky, double medianMs, double p90Ms, unsigned seed)
        : random_(seed) {
        // Lognormal round trips: the median is e^mu, the 90th percentile e^(mu + 1.2816 sigma).
        const double mu = std::log(medianMs);
        const double sigma = std::max(std::log(p90Ms / medianMs) / 1.2816, 0.0);
        std::lognormal_distribution<double> rtt(mu, sigma);
        std::uniform_real_distribution<double> coin(0, 1);
        nodes_.resize(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            Node& n = nodes_[static_cast<size_t>(i)];
            for (auto& b : n.id)
                b = static_cast<unsigned char>(random_());
            n.address = (127u << 24) | ((1u + static_cast<uint32_t>(i) / 250) << 16) |
                        ((1u + static_cast<uint32_t>(i) % 250) << 8) | 1u;
            n.rttMs = std::min(rtt(random_), 5000.0);
            const double roll = coin(random_);
            n.dead = roll < dead;
            n.flaky = !n.dead && roll < dead + flaky;
        }
        byId_.resize(nodes_.size());
        for (size_t i = 0; i < byId_.size(); ++i)
            byId_[i] = static_cast<int>(i);
        std::sort(byId_.begin(), byId_.end(),
                  [&](int a, int b) { return nodes_[a].id < nodes_[b].id; });
        for (size_t i = 0; i < nodes_.size(); ++i)
            nodes_[i].known = Table(nodes_[i].id, 3, static_cast<int>(i));
        Node router;
        router.address = kRouter;
        router.rttMs = medianMs;
        for (auto& b : router.id)
            b = static_cast<unsigned char>(random_());
        router.known = Table(router.id, 16, -1);
        routerIndex_ = static_cast<int>(nodes_.size());
        nodes_.push_back(router);
        for (size_t i = 0; i < nodes_.size(); ++i)
            byAddress_[nodes_[i].address] = static_cast<int>(i);
    }

    // Who holds the peer for an info-hash: its 8 closest live nodes.
    void Store(const Id& hash) {
        std::vector<int> live;
        for (int i : Closest(hash, 64)) {
            if (!nodes_[static_cast<size_t>(i)].dead && i != routerIndex_)
                live.push_back(i);
        }
        live.resize(std::min<size_t>(live.size(), 8));
        for (int i : live)
            holders_.insert({i, hash});
    }

    // The answer of the node at `address` to a query, with when it goes out; nothing when the
    // node does not answer.
    std::optional<std::pair<double, std::string>> Answer(uint32_t address, const std::string& in,
                                                         const sockaddr_in& client,
                                                         const std::string& peer) {
        const auto found = byAddress_.find(address);
        if (found == byAddress_.end())
            return std::nullopt;
        const int index = found->second;
        const Node& node = nodes_[static_cast<size_t>(index)];
        size_t at = 0;
        const auto query = Decode(in, at);
        if (!query || query->dict.count("y") == 0 || query->dict.at("y").text != "q")
            return std::nullopt;
        const std::string method = query->dict.count("q") ? query->dict.at("q").text : "";
        const Value* args = query->dict.count("a") ? &query->dict.at("a") : nullptr;
        ++stats_.queries;
        if (index == routerIndex_)
            ++stats_.router;
        Id target = node.id;
        bool peers = false;
        if (args && (method == "get_peers" || method == "find_node")) {
            const std::string key = method == "get_peers" ? "info_hash" : "target";
            const auto t = args->dict.find(key);
            if (t != args->dict.end() && t->second.text.size() == 20)
                std::memcpy(target.data(), t->second.text.data(), 20);
            if (method == "get_peers") {
                ++stats_.getPeers;
                ++stats_.perHash[target];
                const auto asked = std::make_tuple(client.sin_port, index, target);
                if (!asked_.insert(asked).second)
                    ++stats_.askedAgain;
                peers = holders_.count({index, target}) > 0;
            }
        }
        if (node.dead || (node.flaky && coin_(random_) < 0.5))
            return std::nullopt;
        if (peers)
            ++stats_.answeredWithPeer[target];
        std::string r = "d2:id" + Str(std::string(node.id.begin(), node.id.end()));
        if (method == "get_peers" || method == "find_node") {
            std::string compact;
            for (int i : Nearest(node.known, target, 8)) {
                const Node& n = nodes_[static_cast<size_t>(i)];
                compact += std::string(n.id.begin(), n.id.end()) + Compact(n.address, kPort);
            }
            r += "5:nodes" + Str(compact);
            if (method == "get_peers") {
                r += "5:token" + Str("tok");
                if (peers)
                    r += "6:valuesl" + Str(peer) + "e";
            }
        }
        r += "e";
        const std::string t = query->dict.count("t") ? query->dict.at("t").text : "";
        std::normal_distribution<double> jitter(1.0, 0.05);
        return std::pair{node.rttMs * std::max(jitter(random_), 0.8),
                         "d1:r" + r + "1:t" + Str(t) + "1:y1:re"};
    }

    void WriteStats(const std::string& path) {
        std::ofstream out(path, std::ios::app);
        size_t most = 0;
        for (const auto& [hash, n] : stats_.perHash)
            most = std::max(most, n);
        out << "queries " << stats_.queries << " get_peers " << stats_.getPeers << " hashes "
            << stats_.perHash.size() << " most_per_hash " << most << " asked_again "
            << stats_.askedAgain << " router " << stats_.router << " found "
            << stats_.answeredWithPeer.size() << "\n";
        stats_ = {};
        asked_.clear();
    }

  private:
    // The nodes a node at `id` keeps: its 8 closest and `perBucket` from each distance bucket.
    std::vector<int> Table(const Id& id, int perBucket, int self) {
        std::vector<int> known;
        for (int i : Closest(id, 9)) {
            if (i != self && known.size() < 8)
                known.push_back(i);
        }
        for (int bits = 0; bits < 40; ++bits) {
            // Nodes sharing exactly `bits` leading bits: one run of the nodes sorted by id.
            Id low = id, high = id;
            const int byte = bits / 8, bit = 7 - bits % 8;
            low[byte] ^= static_cast<unsigned char>(1 << bit);
            high[byte] ^= static_cast<unsigned char>(1 << bit);
            for (int k = bit - 1; k >= 0; --k) {
                low[byte] &= static_cast<unsigned char>(~(1 << k));
                high[byte] |= static_cast<unsigned char>(1 << k);
            }
            for (int b = byte + 1; b < 20; ++b)
                low[b] = 0, high[b] = 0xFF;
            const auto from =
                std::lower_bound(byId_.begin(), byId_.end(), low,
                                 [&](int a, const Id& v) { return nodes_[a].id < v; });
            const auto to = std::upper_bound(byId_.begin(), byId_.end(), high,
                                             [&](const Id& v, int a) { return v < nodes_[a].id; });
            const auto size = to - from;
            if (size <= 0)
                continue;
            for (int k = 0; k < perBucket && k < size; ++k) {
                const int pick = *(from + static_cast<long>(random_() % static_cast<size_t>(size)));
                if (pick != self && std::find(known.begin(), known.end(), pick) == known.end())
                    known.push_back(pick);
            }
        }
        return known;
    }

    // The `count` nodes of the whole network closest to `target`.
    std::vector<int> Closest(const Id& target, size_t count) {
        const auto at = std::lower_bound(byId_.begin(), byId_.end(), target,
                                         [&](int a, const Id& v) { return nodes_[a].id < v; });
        const long middle = at - byId_.begin();
        std::vector<int> window;
        for (long i = std::max(0L, middle - 80);
             i < std::min(static_cast<long>(byId_.size()), middle + 80); ++i)
            window.push_back(byId_[static_cast<size_t>(i)]);
        return Nearest(window, target, count);
    }

    std::vector<int> Nearest(std::vector<int> among, const Id& target, size_t count) {
        const size_t n = std::min(count, among.size());
        std::partial_sort(among.begin(), among.begin() + static_cast<long>(n), among.end(),
                          [&](int a, int b) { return Closer(target, nodes_[a].id, nodes_[b].id); });
        among.resize(n);
        return among;
    }

    struct Stats {
        size_t queries = 0, getPeers = 0, askedAgain = 0, router = 0;
        std::map<Id, size_t> perHash, answeredWithPeer;
    };

    std::mt19937_64 random_;
    std::uniform_real_distribution<double> coin_{0, 1};
    std::vector<Node> nodes_;
    std::vector<int> byId_;
    std::map<uint32_t, int> byAddress_;
    std::set<std::pair<int, Id>> holders_;
    std::set<std::tuple<uint16_t, int, Id>> asked_;
    Stats stats_;
    int routerIndex_ = 0;
};

std::optional<Id> HashOf(const std::string& link) {
    static const std::regex btih("xt=urn:btih:([0-9a-fA-F]{40})");
    std::smatch m;
    if (!std::regex_search(link, m, btih))
        return std::nullopt;
    Id id{};
    for (int i = 0; i < 20; ++i)
        id[static_cast<size_t>(i)] =
            static_cast<unsigned char>(std::stoi(m[1].str().substr(i * 2, 2), nullptr, 16));
    return id;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: dht_sim LINKS-FILE PEER [--nodes N] [--dead F] [--flaky F] "
                     "[--median MS] [--p90 MS] [--seed S] [--stats FILE]\n");
        return 2;
    }
    int count = 20000;
    double dead = 0.3, flaky = 0.1, median = 150, p90 = 500;
    unsigned seed = 1;
    std::string statsFile = "/dev/stderr";
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string flag = argv[i], value = argv[i + 1];
        if (flag == "--nodes")
            count = std::stoi(value);
        else if (flag == "--dead")
            dead = std::stod(value);
        else if (flag == "--flaky")
            flaky = std::stod(value);
        else if (flag == "--median")
            median = std::stod(value);
        else if (flag == "--p90")
            p90 = std::stod(value);
        else if (flag == "--seed")
            seed = static_cast<unsigned>(std::stoul(value));
        else if (flag == "--stats")
            statsFile = value;
    }
    const std::string peerText = argv[2];
    const size_t colon = peerText.rfind(':');
    in_addr peerAddress{};
    if (colon == std::string::npos ||
        inet_pton(AF_INET, peerText.substr(0, colon).c_str(), &peerAddress) != 1) {
        std::fprintf(stderr, "dht_sim: PEER is ADDRESS:PORT\n");
        return 2;
    }
    const std::string peer = Compact(ntohl(peerAddress.s_addr),
                                     static_cast<uint16_t>(std::stoi(peerText.substr(colon + 1))));

    Network network(count, dead, flaky, median, p90, seed);
    std::ifstream links(argv[1]);
    for (std::string line; std::getline(links, line);) {
        if (auto hash = HashOf(line))
            network.Store(*hash);
    }

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const int buffer = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(kPort);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        std::perror("dht_sim: bind");
        return 1;
    }
    std::signal(SIGUSR1, [](int) { statsWanted = 1; });
    std::printf("ready 127.254.0.1:%d\n", kPort);
    std::fflush(stdout);

    std::priority_queue<Reply, std::vector<Reply>, std::greater<>> due;
    for (;;) {
        if (statsWanted) {
            statsWanted = 0;
            network.WriteStats(statsFile);
        }
        const auto now = Clock::now();
        while (!due.empty() && due.top().due <= now) {
            const Reply& r = due.top();
            char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
            iovec iov{const_cast<char*>(r.body.data()), r.body.size()};
            msghdr msg{};
            msg.msg_name = const_cast<sockaddr_in*>(&r.to);
            msg.msg_namelen = sizeof r.to;
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&msg);
            c->cmsg_level = IPPROTO_IP;
            c->cmsg_type = IP_PKTINFO;
            c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
            in_pktinfo info{};
            info.ipi_spec_dst.s_addr = htonl(r.from);
            std::memcpy(CMSG_DATA(c), &info, sizeof info);
            sendmsg(fd, &msg, 0);
            due.pop();
        }
        int wait = 100;
        if (!due.empty())
            wait = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(due.top().due - Clock::now())
                    .count());
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, std::clamp(wait, 0, 100)) <= 0)
            continue;
        for (;;) {
            char data[2048];
            char control[CMSG_SPACE(sizeof(in_pktinfo))];
            sockaddr_in from{};
            iovec iov{data, sizeof data};
            msghdr msg{};
            msg.msg_name = &from;
            msg.msg_namelen = sizeof from;
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            const ssize_t n = recvmsg(fd, &msg, MSG_DONTWAIT);
            if (n <= 0)
                break;
            uint32_t to = 0;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                    in_pktinfo info{};
                    std::memcpy(&info, CMSG_DATA(c), sizeof info);
                    to = ntohl(info.ipi_addr.s_addr);
                }
            }
            auto answer = network.Answer(to, std::string(data, static_cast<size_t>(n)), from, peer);
            if (!answer)
                continue;
            // Half the round trip is the query's way there, which the client's clock already
            // counts from its send: the whole of it is spent here.
            const auto after = std::chrono::microseconds(static_cast<long>(answer->first * 1000));
            due.push(Reply{Clock::now() + after, to, from, std::move(answer->second)});
        }
    }
}

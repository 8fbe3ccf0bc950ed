// Delays every packet of netfilter queue 0 by a fixed time before letting it through: a slow
// network for benchmarks on a kernel without netem. Run it inside a network namespace of its
// own, with a rule such as `iptables -A OUTPUT -o lo -j NFQUEUE --queue-num 0`; on loopback a
// packet passes OUTPUT once, so a delay of 25 ms makes a round trip of 50 ms.
//
//     packet_delay MILLISECONDS     prints "ready" once the queue is bound, runs until killed
// clang-format off
#include <arpa/inet.h>  // before the queue's header, which needs it
#include <libnetfilter_queue/libnetfilter_queue.h>
// clang-format on
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <string>

#ifndef NF_ACCEPT
#define NF_ACCEPT 1
#endif

namespace {

using Clock = std::chrono::steady_clock;

struct Held {
    uint32_t id;
    Clock::time_point due;
};

std::deque<Held> gHeld;  // in arrival order, which is also the order they are due
Clock::duration gDelay;

int OnPacket(nfq_q_handle*, nfgenmsg*, nfq_data* packet, void*) {
    if (const nfqnl_msg_packet_hdr* header = nfq_get_msg_packet_hdr(packet))
        gHeld.push_back({ntohl(header->packet_id), Clock::now() + gDelay});
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: packet_delay MILLISECONDS\n");
        return 2;
    }
    gDelay = std::chrono::milliseconds(std::stoi(argv[1]));
    nfq_handle* handle = nfq_open();
    if (!handle || nfq_bind_pf(handle, AF_INET) < 0 || nfq_bind_pf(handle, AF_INET6) < 0) {
        std::perror("packet_delay: netfilter queue");
        return 1;
    }
    nfq_q_handle* queue = nfq_create_queue(handle, 0, OnPacket, nullptr);
    if (!queue || nfq_set_mode(queue, NFQNL_COPY_META, 0) < 0) {
        std::perror("packet_delay: queue 0");
        return 1;
    }
    nfq_set_queue_maxlen(queue, 1 << 16);
    nfnl_rcvbufsiz(nfq_nfnlh(handle), 64 << 20);
    const int fd = nfq_fd(handle);
    const int on = 1;
    setsockopt(fd, SOL_NETLINK, NETLINK_NO_ENOBUFS, &on, sizeof on);
    std::printf("ready\n");
    std::fflush(stdout);

    char buffer[1 << 16];
    for (;;) {
        int wait = -1;
        if (!gHeld.empty()) {
            const auto left = gHeld.front().due - Clock::now();
            wait = static_cast<int>(
                std::max<long>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, wait) > 0) {
            // Everything that has arrived, without blocking.
            for (;;) {
                const ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (got <= 0)
                    break;
                nfq_handle_packet(handle, buffer, static_cast<int>(got));
            }
        }
        const auto now = Clock::now();
        while (!gHeld.empty() && gHeld.front().due <= now) {
            nfq_set_verdict(queue, gHeld.front().id, NF_ACCEPT, 0, nullptr);
            gHeld.pop_front();
        }
    }
}

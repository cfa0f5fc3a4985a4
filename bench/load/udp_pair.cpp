// The raw-UDP floor under the load benchmark: what the same datagrams cost with no protocol
// and no game behind them.
//   udp-pair echo                 answers every datagram with one of --reply bytes; prints
//                                 its port, then runs until its input closes
//   udp-pair drive PORT --players N --duration S [--rate R] [--size B]
//                                 N players on 127.0.0.1, each sending from its own loopback
//                                 address R datagrams of B bytes a second; prints
//                                 "RESULT sent_per_s=... received_per_s=..."
// The echo side reads and writes in batches (recvmmsg, sendmmsg), as the server does.

#include <arpa/inet.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kBatch = 32;
constexpr size_t kRoom = 2048;

int64_t NowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int Fail(const char* what) {
    std::perror(what);
    return 1;
}

int Echo(size_t reply_size) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    socklen_t length = sizeof any;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&any), &length) != 0)
        return Fail("udp-pair echo");
    std::printf("%u\n", unsigned(ntohs(any.sin_port)));
    std::fflush(stdout);
    std::vector<char> in(kBatch * kRoom), reply(reply_size, 'r');
    std::array<mmsghdr, kBatch> messages{};
    std::array<iovec, kBatch> buffers{};
    std::array<sockaddr_in, kBatch> peers{};
    for (;;) {
        pollfd waits[2] = {{fd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(waits, 2, -1) < 0 || (waits[1].revents & (POLLIN | POLLHUP)))
            return 0;  // told to stop
        for (int got; (got = [&] {
                 for (size_t i = 0; i < kBatch; ++i) {
                     buffers[i] = {in.data() + i * kRoom, kRoom};
                     messages[i].msg_hdr = {&peers[i], sizeof peers[i], &buffers[i], 1,
                                            nullptr, 0, 0};
                 }
                 return recvmmsg(fd, messages.data(), kBatch, MSG_DONTWAIT, nullptr);
             }()) > 0;) {
            for (int i = 0; i < got; ++i)
                buffers[size_t(i)] = {reply.data(), reply.size()};
            sendmmsg(fd, messages.data(), unsigned(got), MSG_DONTWAIT);
        }
    }
}

int Drive(uint16_t port, int players, double seconds, double rate, size_t size) {
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int epoll = epoll_create1(0);
    std::vector<int> fds;
    for (int i = 0; i < players; ++i) {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in source{};
        source.sin_family = AF_INET;
        source.sin_addr.s_addr = htonl(0x7F000002u + uint32_t(i));
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
            connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0)
            return Fail("udp-pair drive");
        epoll_event ev{EPOLLIN, {.u32 = uint32_t(i)}};
        epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &ev);
        fds.push_back(fd);
    }
    // Each player's sends are spread evenly, its first one at a random point of the period.
    const int64_t period = int64_t(1e6 / rate), start = NowMicros(),
                  end = start + int64_t(seconds * 1e6);
    std::vector<int64_t> due(static_cast<size_t>(players));
    for (int i = 0; i < players; ++i)
        due[size_t(i)] = start + std::rand() % period;
    std::vector<char> payload(size, 'p'), sink(kRoom);
    uint64_t sent = 0, received = 0;
    std::array<epoll_event, 256> ready;
    for (int64_t now = start; now < end; now = NowMicros()) {
        for (int i = 0; i < players; ++i) {
            if (due[size_t(i)] <= now) {
                sent += send(fds[size_t(i)], payload.data(), payload.size(), 0) > 0;
                due[size_t(i)] += period;
            }
        }
        const int n = epoll_wait(epoll, ready.data(), int(ready.size()), 1);
        for (int k = 0; k < n; ++k) {
            while (recv(fds[ready[size_t(k)].data.u32], sink.data(), sink.size(), 0) > 0)
                ++received;
        }
    }
    std::printf("RESULT sent_per_s=%.1f received_per_s=%.1f\n", double(sent) / seconds,
                double(received) / seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    int players = 0;
    double seconds = 10, rate = 20;
    size_t size = 40, reply = 300;
    for (int i = mode == "drive" ? 3 : 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const double value = std::atof(argv[i + 1]);
        if (option == "--players")
            players = int(value);
        else if (option == "--duration")
            seconds = value;
        else if (option == "--rate")
            rate = value;
        else if (option == "--size")
            size = size_t(value);
        else if (option == "--reply")
            reply = size_t(value);
    }
    if (mode == "echo" && reply > 0 && reply <= kRoom)
        return Echo(reply);
    if (mode == "drive" && argc > 2 && players > 0 && rate > 0 && seconds > 0 && size > 0 &&
        size <= kRoom)
        return Drive(uint16_t(std::atoi(argv[2])), players, seconds, rate, size);
    std::fprintf(stderr,
                 "usage: udp-pair echo [--reply BYTES]\n"
                 "       udp-pair drive PORT --players N [--duration S] [--rate R] "
                 "[--size BYTES]\n");
    return 2;
}

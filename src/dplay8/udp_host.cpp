#include "dplay8/udp_host.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>

namespace dplay8 {

namespace {

// Datagrams taken or given to the kernel in one call, and the room for each one received:
// far more than any frame of the transport (1400 bytes); a longer datagram is dropped.
constexpr size_t kBatch = 32;
constexpr size_t kDatagramRoom = 4096;
// Datagrams read from one socket before the others get a turn.
constexpr int kReadBurst = 256;
// The loop looks at its queue at least this often even with no timer due.
constexpr Millis kMaxSleep = 1000;
constexpr Millis kClosingSleep = 20;

int OpenSocket(uint32_t address, uint16_t port, int& error) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        error = errno;
        close(fd);
        return -1;
    }
    // Room for a burst of joins or messages while the I/O thread is busy.
    int size = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    return fd;
}

uint16_t BoundPort(int fd) {
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    return ntohs(bound.sin_port);
}

void CloseFd(int& fd) {
    if (fd >= 0)
        close(fd);
    fd = -1;
}

}  // namespace

Millis MonotonicMillis() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Millis(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

UdpHost::~UdpHost() {
    Close();
}

int UdpHost::Start(HostConfig config, const UdpHostOptions& options, EventHandler handler) {
    if (started_)
        return EALREADY;
    int error = 0;
    session_fd_ = OpenSocket(options.bind_address, options.port, error);
    if (session_fd_ < 0)
        return error;
    port_ = BoundPort(session_fd_);
    if (options.enumeration_port && port_ != options.enumeration_port_number) {
        int ignored = 0;
        // Another program may hold 6073; then clients find us by the port alone.
        enum_fd_ = OpenSocket(options.bind_address, options.enumeration_port_number, ignored);
        enum_port_ = enum_fd_ >= 0 ? BoundPort(enum_fd_) : 0;
    }
    wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
    if (wake_fd_ < 0 || epoll_fd_ < 0) {
        error = errno;
        CloseFd(session_fd_);
        CloseFd(enum_fd_);
        CloseFd(wake_fd_);
        CloseFd(epoll_fd_);
        return error;
    }
    for (int fd : {session_fd_, enum_fd_, wake_fd_}) {
        if (fd < 0)
            continue;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = fd;
        epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev);
    }
    const Millis now = MonotonicMillis();
    host_ = std::make_unique<HostSession>(std::move(config), now);
    server_dpnid_ = host_->server_dpnid();
    dispatcher_ = std::make_unique<OrderedDispatcher>(options.handler_threads, std::move(handler));
    receive_buffer_.resize(kBatch * kDatagramRoom);
    started_ = true;
    {
        std::lock_guard lock(queue_mutex_);
        accepting_ = true;
    }
    io_ = std::thread([this] { Run(); });
    return 0;
}

void UdpHost::Queue(Command command) {
    std::lock_guard lock(queue_mutex_);
    if (!accepting_)
        return;
    // The I/O thread reads the eventfd before it takes the queue, so one wake-up per
    // empty-to-nonempty change is enough.
    const bool wake = commands_.empty();
    commands_.push_back(std::move(command));
    if (wake) {
        const uint64_t one = 1;
        ssize_t written = write(wake_fd_, &one, sizeof one);
        (void)written;  // a full counter still wakes the loop
    }
}

void UdpHost::Send(uint32_t dpnid, ByteSpan data, const SendOptions& options) {
    Queue(Command{CommandKind::kSend, dpnid, Bytes(data.begin(), data.end()), options, {}});
}

void UdpHost::SendToMany(std::vector<uint32_t> dpnids, ByteSpan data, const SendOptions& options) {
    Queue(Command{CommandKind::kSendMany, 0, Bytes(data.begin(), data.end()), options,
                  std::move(dpnids)});
}

void UdpHost::DestroyPlayer(uint32_t dpnid) {
    Queue(Command{CommandKind::kDestroy, dpnid, {}, {}, {}});
}

std::optional<ConnectionStats> UdpHost::Stats(uint32_t dpnid) {
    std::lock_guard lock(state_mutex_);
    if (!host_)
        return std::nullopt;
    return host_->Stats(dpnid, MonotonicMillis());
}

size_t UdpHost::player_count() {
    std::lock_guard lock(state_mutex_);
    return host_ ? host_->player_count() : 0;
}

HostTraffic UdpHost::traffic() {
    std::lock_guard lock(state_mutex_);
    return host_ ? host_->Traffic() : HostTraffic{};
}

HostCounters UdpHost::counters() {
    std::lock_guard lock(state_mutex_);
    return host_ ? host_->counters() : HostCounters{};
}

void UdpHost::Close() {
    if (!started_)
        return;
    Queue(Command{CommandKind::kClose, 0, {}, {}, {}});
    io_.join();
    {
        // Sends from the handlers still running would never go out now.
        std::lock_guard lock(queue_mutex_);
        accepting_ = false;
        commands_.clear();
    }
    // Every kPlayerDestroyed has been posted; let the handlers finish them.
    dispatcher_->Drain();
    dispatcher_.reset();
    CloseFd(session_fd_);
    CloseFd(enum_fd_);
    CloseFd(wake_fd_);
    CloseFd(epoll_fd_);
    enum_port_ = 0;
    started_ = false;
}

void UdpHost::Run() {
    epoll_event ready[4];
    for (;;) {
        Millis sleep;
        bool done = false;
        {
            std::lock_guard lock(state_mutex_);
            const Millis now = MonotonicMillis();
            done = host_->closing() && host_->Quiet(now);
            const Millis next = host_->NextTimeout();
            sleep = next == kNever ? kMaxSleep : std::clamp<Millis>(next - now, 0, kMaxSleep);
            if (host_->closing())
                sleep = std::min(sleep, kClosingSleep);
        }
        if (done)
            break;
        const int n = epoll_wait(epoll_fd_, ready, 4, int(sleep));
        const Millis now = MonotonicMillis();
        bool wake = false, trim = false;
        {
            std::lock_guard lock(state_mutex_);
            for (int i = 0; i < n; ++i) {
                const int fd = ready[i].data.fd;
                if (fd == wake_fd_) {
                    wake = true;
                } else {
                    Receive(fd, fd == enum_fd_ ? SocketRole::kEnumeration : SocketRole::kSession,
                            now);
                }
            }
            if (wake) {
                uint64_t count;
                ssize_t got = read(wake_fd_, &count, sizeof count);
                (void)got;
            }
            ApplyCommands(now);
            if (now >= host_->NextTimeout())
                host_->HandleTimeout(now);
            Datagram d;
            while (host_->PollTransmit(d))
                out_scratch_.push_back(std::move(d));
            while (auto e = host_->PollEvent())
                events_scratch_.push_back(std::move(*e));
            trim = host_->counters().backlogs_disconnected != backlogs_seen_ &&
                   now >= trimmed_at_ + 1000;
            if (trim)
                backlogs_seen_ = host_->counters().backlogs_disconnected;
        }
        if (trim) {
            // A client cut off for falling behind held up to its whole send queue: give that
            // memory back to the system, not only to the allocator (at most once a second).
            trimmed_at_ = now;
            malloc_trim(0);
        }
        Flush();
    }
}

void UdpHost::Receive(int fd, SocketRole role, Millis now) {
    std::array<mmsghdr, kBatch> messages{};
    std::array<iovec, kBatch> buffers{};
    std::array<sockaddr_in, kBatch> sources{};
    for (int taken = 0; taken < kReadBurst;) {
        for (size_t i = 0; i < kBatch; ++i) {
            buffers[i] = {receive_buffer_.data() + i * kDatagramRoom, kDatagramRoom};
            messages[i].msg_hdr = {};
            messages[i].msg_hdr.msg_name = &sources[i];
            messages[i].msg_hdr.msg_namelen = sizeof sources[i];
            messages[i].msg_hdr.msg_iov = &buffers[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int got = recvmmsg(fd, messages.data(), kBatch, MSG_DONTWAIT, nullptr);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return;  // EAGAIN, or an ICMP error reported on the socket: nothing to read
        }
        for (int i = 0; i < got; ++i) {
            const msghdr& h = messages[i].msg_hdr;
            if ((h.msg_flags & MSG_TRUNC) != 0 || h.msg_namelen < sizeof(sockaddr_in) ||
                sources[i].sin_family != AF_INET) {
                continue;
            }
            const Endpoint peer{ntohl(sources[i].sin_addr.s_addr), ntohs(sources[i].sin_port)};
            host_->HandleDatagram(
                peer, role,
                ByteSpan(receive_buffer_.data() + i * kDatagramRoom, messages[i].msg_len), now);
        }
        taken += got;
        if (size_t(got) < kBatch)
            return;  // the socket is empty
    }
}

void UdpHost::ApplyCommands(Millis now) {
    {
        std::lock_guard lock(queue_mutex_);
        applying_.swap(commands_);
    }
    for (Command& c : applying_) {
        switch (c.kind) {
            case CommandKind::kSend:
                host_->Send(c.dpnid, c.data, c.options, now);
                break;
            case CommandKind::kSendMany:
                for (uint32_t dpnid : c.dpnids)
                    host_->Send(dpnid, c.data, c.options, now);
                break;
            case CommandKind::kDestroy:
                host_->DestroyPlayer(c.dpnid, now);
                break;
            case CommandKind::kClose:
                host_->Close(now);
                break;
        }
    }
    applying_.clear();
}

void UdpHost::Flush() {
    // Runs of datagrams for the same socket go to the kernel together.
    std::array<mmsghdr, kBatch> messages{};
    std::array<iovec, kBatch> buffers{};
    std::array<sockaddr_in, kBatch> targets{};
    for (size_t first = 0; first < out_scratch_.size();) {
        const auto socketOf = [this](const Datagram& d) {
            return d.socket == SocketRole::kEnumeration && enum_fd_ >= 0 ? enum_fd_ : session_fd_;
        };
        const int fd = socketOf(out_scratch_[first]);
        size_t count = 0;
        for (; count < kBatch && first + count < out_scratch_.size() &&
               socketOf(out_scratch_[first + count]) == fd;
             ++count) {
            Datagram& d = out_scratch_[first + count];
            targets[count] = {};
            targets[count].sin_family = AF_INET;
            targets[count].sin_port = htons(d.peer.port);
            targets[count].sin_addr.s_addr = htonl(d.peer.address);
            buffers[count] = {d.bytes.data(), d.bytes.size()};
            messages[count].msg_hdr = {};
            messages[count].msg_hdr.msg_name = &targets[count];
            messages[count].msg_hdr.msg_namelen = sizeof targets[count];
            messages[count].msg_hdr.msg_iov = &buffers[count];
            messages[count].msg_hdr.msg_iovlen = 1;
        }
        for (size_t done = 0; done < count;) {
            const int sent =
                sendmmsg(fd, messages.data() + done, unsigned(count - done), MSG_DONTWAIT);
            if (sent < 0 && errno == EINTR)
                continue;
            // A datagram the kernel will not take (a full buffer, an unreachable peer) is
            // dropped, as the network might; the transport repeats what matters.
            done += sent > 0 ? size_t(sent) : 1;
        }
        first += count;
    }
    out_scratch_.clear();
    dispatcher_->PostAll(events_scratch_);
}

}  // namespace dplay8

#pragma once
// The host on real UDP: one I/O thread runs a HostSession over the session socket (and the
// enumeration socket, UDP 6073, when that port is free), sleeping in epoll until a datagram
// arrives, a queued send wakes it through an eventfd, or the next protocol timer is due.
// Session events go to a small pool of handler threads, one player's in order and one at a
// time, so a slow handler never stalls the network.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "dplay8/host_session.h"
#include "dplay8/ordered_dispatcher.h"

namespace dplay8 {

inline constexpr uint16_t kEnumerationPort = 6073;

struct UdpHostOptions {
    uint16_t port = 0;             // 0: one the system chooses
    uint32_t bind_address = 0;     // host byte order; 0: every interface
    bool enumeration_port = true;  // also answer enumeration on UDP 6073 when it is free
    // The enumeration port; tests pass 0 for one the system chooses, so that a server already
    // running on the machine cannot stand in their way.
    uint16_t enumeration_port_number = kEnumerationPort;
    size_t handler_threads = 2;
};

// Milliseconds of CLOCK_MONOTONIC.
Millis MonotonicMillis();

class UdpHost {
public:
    using EventHandler = std::function<void(HostEvent&)>;

    UdpHost() = default;
    ~UdpHost();
    UdpHost(const UdpHost&) = delete;
    UdpHost& operator=(const UdpHost&) = delete;

    // Binds the sockets and starts the threads; 0 or the errno that stopped it.
    int Start(HostConfig config, const UdpHostOptions& options, EventHandler handler);
    uint16_t port() const { return port_; }
    bool answers_enumeration_port() const { return enum_fd_ >= 0; }
    uint16_t enumeration_port() const { return enum_port_; }  // 0 when not answering there
    uint32_t server_dpnid() const { return server_dpnid_; }

    // Copies the message into the queue and wakes the I/O thread; never waits for the
    // network. A send to a player who is gone is dropped there.
    void Send(uint32_t dpnid, ByteSpan data, const SendOptions& options);
    // One copy of the message for each of the players (those gone by then are skipped).
    void SendToMany(std::vector<uint32_t> dpnids, ByteSpan data, const SendOptions& options);
    // Removes a player from the session (TERMINATE_SESSION, then a graceful close).
    void DestroyPlayer(uint32_t dpnid);
    std::optional<ConnectionStats> Stats(uint32_t dpnid);
    size_t player_count();
    HostCounters counters();
    HostTraffic traffic();

    // Closes every connection, delivers the remaining players' kPlayerDestroyed events and
    // returns once no handler is running. Not from a handler.
    void Close();

private:
    enum class CommandKind { kSend, kSendMany, kDestroy, kClose };
    struct Command {
        CommandKind kind = CommandKind::kSend;
        uint32_t dpnid = 0;
        Bytes data;
        SendOptions options;
        std::vector<uint32_t> dpnids;  // kSendMany
    };

    void Queue(Command command);
    void Run();
    void Receive(int fd, SocketRole role, Millis now);
    void ApplyCommands(Millis now);
    void Flush();

    int session_fd_ = -1;
    int enum_fd_ = -1;
    uint16_t enum_port_ = 0;
    int wake_fd_ = -1;
    int epoll_fd_ = -1;
    uint16_t port_ = 0;
    uint32_t server_dpnid_ = 0;
    bool started_ = false;

    std::mutex state_mutex_;  // the session, between the I/O thread and Stats
    std::unique_ptr<HostSession> host_;

    std::mutex queue_mutex_;
    std::vector<Command> commands_;
    bool accepting_ = false;         // the I/O thread runs and takes commands
    std::vector<Command> applying_;  // I/O thread only

    std::unique_ptr<OrderedDispatcher> dispatcher_;
    std::thread io_;
    std::vector<HostEvent> events_scratch_;  // I/O thread only
    std::vector<Datagram> out_scratch_;      // I/O thread only
    Bytes receive_buffer_;                   // I/O thread only
    uint64_t backlogs_seen_ = 0;             // I/O thread only
    Millis trimmed_at_ = -1000;              // I/O thread only
};

}  // namespace dplay8

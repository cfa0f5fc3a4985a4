#pragma once
// The host side of a client/server session, without sockets, threads or clocks: it routes
// datagrams by peer endpoint to one transport Connection each, answers host enumeration,
// admits clients through the join exchange of [MC-DPL8CS] 3.1.5.1, hands their messages up
// and notices when they leave. The owner loops exactly as for a Connection:
//
//   host.HandleDatagram(from, socket, bytes, now);   // every datagram received
//   if (now >= host.NextTimeout()) host.HandleTimeout(now);
//   while (host.PollTransmit(out)) send(out);
//   while (auto e = host.PollEvent()) ...;
//
// Player ids follow [MC-DPL8CS] 2.2.7. Name table index 1 is the all-players group (never
// sent in client/server mode), index 2 the server's own player, clients from 3 on.

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "dplay8/connect_info.h"
#include "dplay8/connection.h"
#include "dplay8/endpoint.h"
#include "dplay8/guid.h"
#include "dplay8/session_messages.h"
#include "dplay8/token_bucket.h"

namespace dplay8 {

// What one client, or anyone forging sources, can make the host hold or do.
struct HostLimits {
    // A peer must confirm its transport connection this long after its CONNECT, and
    // acknowledge its admission this long after it was admitted.
    Millis handshake_timeout = 5000;
    Millis admission_timeout = 10000;
    // The largest message a peer may send before it has joined (its join request).
    size_t max_message_before_join = 64 * 1024;
    // Connections not yet joined, at most, and from one address. When there is no room, the
    // oldest one (of that address, if the address has none) that has not yet asked to join
    // gives way to a new CONNECT, so that a flood of CONNECTs, forged or not, cannot lock
    // real players out.
    size_t max_pending = 256;
    size_t max_pending_per_address = 16;
    // Messages a joined client may send a second, and in one burst; beyond them messages
    // are dropped, and a client whose dropped messages pass `flood_seconds` worth of its
    // rate (they drain at 1/`flood_seconds` of the rate) is disconnected. A rate of 0 lifts
    // the limit.
    uint32_t message_rate = 200;
    uint32_t message_burst = 400;
    uint32_t flood_seconds = 5;
    // Enumeration replies a second to one source address (a burst of twice that) and to
    // all of them; 0 lifts the limit.
    uint32_t enum_rate = 4;
    uint32_t enum_total_rate = 1000;
};

struct HostConfig {
    Guid application;
    Guid instance;
    uint32_t flags = kSessionClientServer;  // DPNSESSION_* flags of the session
    uint32_t max_players = 0;               // clients and server player; 0: no limit
    std::u16string session_name;
    std::optional<std::u16string> password;
    Bytes enum_reply;  // application data in every EnumResponse
    ConnectionConfig connection;
    // A peer must finish the join exchange this long after its transport connected.
    Millis join_timeout = 30000;
    HostLimits limits;
    // After Close, how long the host waits at most for its peers to acknowledge.
    Millis close_linger = 1000;
};

// What the host turned away or cut off, since it started.
struct HostCounters {
    uint64_t enum_replies_refused = 0;  // over the enumeration rate limits
    uint64_t connects_refused = 0;      // no room even after eviction, or while closing
    uint64_t pending_evicted = 0;       // half-open connections that gave way to newer ones
    uint64_t restarts_refused = 0;      // CONNECTs for a new session from a peer still there
    uint64_t messages_dropped = 0;      // over a client's message rate
    uint64_t flooders_disconnected = 0;
    uint64_t backlogs_disconnected = 0;  // clients too far behind on guaranteed data
    uint64_t players_lost = 0;           // joined players whose connection stopped answering
    friend bool operator==(const HostCounters&, const HostCounters&) = default;
};

// What has gone through the host since it started, and what waits to go out now.
struct HostTraffic {
    uint64_t datagrams_in = 0, datagrams_out = 0;
    uint64_t bytes_in = 0, bytes_out = 0;          // UDP payload bytes
    uint64_t messages_in = 0;                      // game messages of joined players handed up
    uint64_t messages_out = 0;                     // game messages queued to joined players
    size_t queued_messages = 0, queued_bytes = 0;  // in every send queue together
    size_t most_queued_messages = 0;               // in the longest one
    friend bool operator==(const HostTraffic&, const HostTraffic&) = default;
};

// kPlayerInfo: a joined player changed its name (REQ_UPDATE_INFO).
enum class HostEventType { kPlayerCreated, kMessage, kPlayerDestroyed, kPlayerInfo };

struct HostEvent {
    HostEventType type = HostEventType::kMessage;
    uint32_t dpnid = 0;
    std::u16string name;  // kPlayerCreated, kPlayerInfo
    Bytes data;           // kMessage
    bool guaranteed = false;
    uint32_t reason = kDestroyNormal;  // kPlayerDestroyed: a DESTROY_PLAYER reason
};

class HostSession {
public:
    HostSession(HostConfig config, Millis now);

    uint32_t server_dpnid() const { return server_dpnid_; }
    const HostConfig& config() const { return config_; }

    void HandleDatagram(const Endpoint& from, SocketRole socket, ByteSpan datagram, Millis now);
    void HandleTimeout(Millis now);
    Millis NextTimeout() const;
    bool PollTransmit(Datagram& out);
    std::optional<HostEvent> PollEvent();

    // Queues a game message to a joined player; false for anyone else or while closing.
    bool Send(uint32_t dpnid, ByteSpan data, const SendOptions& options, Millis now);
    // Removes a joined player: TERMINATE_SESSION, then a graceful close.
    bool DestroyPlayer(uint32_t dpnid, Millis now);
    // Ends the session: every joined player is destroyed, every connection closed.
    void Close(Millis now);
    bool closing() const { return closing_; }
    // After Close: every peer has finished (or the linger time is over).
    bool Quiet(Millis now) const;

    // Joined players, not counting the server's own.
    size_t player_count() const { return joined_.size(); }
    std::vector<uint32_t> Players() const;
    std::optional<ConnectionStats> Stats(uint32_t dpnid, Millis now) const;
    size_t connection_count() const { return peers_.size(); }
    // Connections that have not yet joined (or been refused).
    size_t pending_count() const { return pending_order_.size(); }
    const HostCounters& counters() const { return counters_; }
    // Walks every connection for the queue figures: for a statistics display, not per packet.
    HostTraffic Traffic() const;

private:
    enum class Stage { kTransport, kAwaitConnectInfo, kAwaitAck, kJoined, kLeaving };

    // A CONNECT for a new transport session from an endpoint whose connection still works
    // waits until that connection has been probed: if the peer answers, the CONNECT was not
    // its own (anyone can forge a source address) and is dropped; if not, the peer
    // restarted and the new connection replaces the old.
    struct Restart {
        Bytes connect;  // the latest CONNECT
        uint32_t session_id = 0;
        Millis since = 0;
        Millis decide_at = kNever;
    };

    struct Peer {
        Peer(Endpoint e, Connection c) : at(e), conn(std::move(c)) {}
        Endpoint at;
        Connection conn;
        Stage stage = Stage::kTransport;
        Millis join_deadline = kNever;
        uint64_t pending_seq = 0;  // its place in pending_order_ while pending
        uint32_t dpnid = 0;
        std::u16string name;
        TokenBucket messages;  // the message rate
        TokenBucket flood;     // how far past it the client may go before it is cut off
        std::optional<Restart> restart;
        Millis armed = kNever;  // the time of its entry in timers_
    };

    void HandleEnumQuery(const Endpoint& from, SocketRole socket, ByteSpan datagram, Millis now);
    ConnectionConfig UnjoinedConfig() const;
    void HandleConnectFrom(const Endpoint& from, ByteSpan connect, Millis now);
    bool MakeRoomFor(const Endpoint& from);
    void BeginRestart(Peer& peer, ByteSpan connect, uint32_t session_id, Millis now);
    void DecideRestart(Peer& peer, Millis now);
    // Delivers the peer's events and takes its datagrams, then notes its next timer.
    void Pump(Peer& peer, Millis now);
    void Watch(Peer& peer);
    bool AllowMessage(Peer& peer, Millis now);
    void HandleSessionMessage(Peer& peer, const Bytes& data, Millis now);
    void Admit(Peer& peer, const PlayerConnectInfo& request, Millis now);
    void Refuse(Peer& peer, HResult result, Millis now);
    void UpdateInfoOf(Peer& peer, const ReqUpdateInfo& request, Millis now);
    void Leave(Peer& peer, uint32_t reason);
    static bool IsPending(Stage stage);
    void SetStage(Peer& peer, Stage stage);
    void AddPending(Peer& peer);
    void RemovePending(Peer& peer);
    bool SendCore(Peer& peer, const Bytes& message, Millis now);
    uint32_t AllocateDpnid();

    HostConfig config_;
    uint32_t server_dpnid_ = 0;
    uint32_t name_table_version_ = 0;
    uint32_t next_index_ = 3;
    std::vector<uint32_t> free_indexes_;
    std::unordered_map<Endpoint, Peer, EndpointHash> peers_;
    std::unordered_map<uint32_t, Endpoint> joined_;  // dpnid -> peer
    // Peers not yet joined, oldest first, and how many of them each address has.
    std::map<uint64_t, Endpoint> pending_order_;
    std::unordered_map<uint32_t, size_t> pending_by_address_;
    uint64_t next_pending_seq_ = 1;
    SourceRateLimiter enum_limiter_;
    HostCounters counters_;
    HostTraffic traffic_;
    // Each peer's next timer, kept in a heap so that a timeout visits only the peers that are
    // due. An entry is the peer's while its time is the one the peer was armed with; a peer
    // whose timer moved is armed again with a new entry, and the old one is skipped when it
    // comes up (or dropped when the heap is rebuilt, once stale entries outnumber the peers).
    struct Timer {
        Millis at;
        Endpoint peer;
        bool operator>(const Timer& other) const { return at > other.at; }
    };
    std::vector<Timer> timers_;  // a min-heap on `at`
    std::vector<Endpoint> due_scratch_;
    std::deque<Datagram> out_;
    std::deque<HostEvent> events_;
    bool closing_ = false;
    Millis close_deadline_ = kNever;
    Bytes scratch_;
};

}  // namespace dplay8

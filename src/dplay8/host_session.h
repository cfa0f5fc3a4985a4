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
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "dplay8/connect_info.h"
#include "dplay8/connection.h"
#include "dplay8/endpoint.h"
#include "dplay8/guid.h"
#include "dplay8/session_messages.h"

namespace dplay8 {

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
    // Connections not yet joined, at most; further CONNECTs are ignored.
    size_t max_pending = 256;
    // After Close, how long the host waits at most for its peers to acknowledge.
    Millis close_linger = 1000;
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

private:
    enum class Stage { kTransport, kAwaitConnectInfo, kAwaitAck, kJoined, kLeaving };

    struct Peer {
        explicit Peer(Connection c) : conn(std::move(c)) {}
        Connection conn;
        Stage stage = Stage::kTransport;
        Millis join_deadline = kNever;
        uint32_t dpnid = 0;
        std::u16string name;
    };

    void HandleEnumQuery(const Endpoint& from, SocketRole socket, ByteSpan datagram);
    void Pump(const Endpoint& at, Peer& peer, Millis now);
    void HandleSessionMessage(const Endpoint& at, Peer& peer, const Bytes& data, Millis now);
    void Admit(const Endpoint& at, Peer& peer, const PlayerConnectInfo& request, Millis now);
    void UpdateInfoOf(Peer& peer, const ReqUpdateInfo& request, Millis now);
    void Leave(Peer& peer, uint32_t reason);
    bool SendCore(Peer& peer, const Bytes& message, Millis now);
    uint32_t AllocateDpnid();
    size_t PendingCount() const;

    HostConfig config_;
    uint32_t server_dpnid_ = 0;
    uint32_t name_table_version_ = 0;
    uint32_t next_index_ = 3;
    std::vector<uint32_t> free_indexes_;
    std::unordered_map<Endpoint, Peer, EndpointHash> peers_;
    std::unordered_map<uint32_t, Endpoint> joined_;  // dpnid -> peer
    std::deque<Datagram> out_;
    std::deque<HostEvent> events_;
    bool closing_ = false;
    Millis close_deadline_ = kNever;
    Bytes scratch_;
};

}  // namespace dplay8

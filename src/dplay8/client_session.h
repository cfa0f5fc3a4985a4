#pragma once
// The client side of a client/server session, without sockets, threads or clocks: one
// transport Connection to the host and the join exchange of [MC-DPL8CS] 3.1.5.1 on top
// (PLAYER_CONNECT_INFO, then SEND_CONNECT_INFO or CONNECT_FAILED, then ACK_CONNECT_INFO).
// Driven like a Connection; enumeration is the EnumQuery/EnumResponse codecs, no state.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "dplay8/connect_info.h"
#include "dplay8/connection.h"
#include "dplay8/session_messages.h"

namespace dplay8 {

struct ClientConfig {
    Guid application;
    Guid instance;  // zero: whichever session answers
    std::u16string name;
    std::optional<std::u16string> password;
    Bytes player_data;
    uint32_t dnet_version = 8;
    uint32_t session_id = 0;  // the transport connection's id
    ConnectionConfig connection;
};

// kInfoUpdated: the host confirmed a SetName (its UPDATE_INFO is in `updated`).
enum class ClientEventType { kJoined, kConnectFailed, kMessage, kTerminated, kInfoUpdated };

struct ClientEvent {
    ClientEventType type = ClientEventType::kMessage;
    HResult result = kOk;    // kConnectFailed: the host's code (kErrGeneric without one)
    SendConnectInfo joined;  // kJoined: what the host sent
    UpdateInfo updated;      // kInfoUpdated
    Bytes data;              // kMessage
    bool guaranteed = false;
    DisconnectReason reason = DisconnectReason::kClosedLocally;  // kTerminated
    bool terminated_by_host = false;  // kTerminated after the host's TERMINATE_SESSION
};

class ClientSession {
public:
    ClientSession(ClientConfig config, Millis now);

    void HandleDatagram(ByteSpan datagram, Millis now);
    void HandleTimeout(Millis now);
    Millis NextTimeout() const { return conn_.NextTimeout(); }
    bool PollTransmit(Millis now, Bytes& out);
    std::optional<ClientEvent> PollEvent();

    // A game message to the host; false until joined or once leaving.
    bool Send(ByteSpan data, const SendOptions& options, Millis now);
    // Asks the host to change our player's name (REQ_UPDATE_INFO); false until joined.
    bool SetName(const std::u16string& name, uint32_t context, Millis now);
    // Leaves the session: a graceful close of the transport, no session message.
    void Close(Millis now) { conn_.Close(now); }

    bool joined() const { return joined_; }
    bool ended() const { return ended_; }
    uint32_t dpnid() const { return dpnid_; }
    ConnectionStats Stats(Millis now) const { return conn_.Stats(now); }

private:
    void Process(Millis now);
    void HandleSessionMessage(const Bytes& data, Millis now);

    ClientConfig config_;
    Connection conn_;
    bool joined_ = false;
    bool ended_ = false;
    bool failed_ = false;
    bool terminated_by_host_ = false;
    uint32_t dpnid_ = 0;
    std::deque<ClientEvent> events_;
};

}  // namespace dplay8

#include "dplay8/client_session.h"

#include "dplay8/session_messages.h"

namespace dplay8 {

ClientSession::ClientSession(ClientConfig config, Millis now)
    : config_(std::move(config)),
      conn_(Connection::Connect(config_.connection, config_.session_id, now)) {}

void ClientSession::HandleDatagram(ByteSpan datagram, Millis now) {
    conn_.HandleDatagram(datagram, now);
    Process(now);
}

void ClientSession::HandleTimeout(Millis now) {
    conn_.HandleTimeout(now);
    Process(now);
}

bool ClientSession::PollTransmit(Millis now, Bytes& out) {
    if (conn_.PollTransmit(now, out))
        return true;
    // Sending can finish a close (the last acknowledgment), and what that raises can queue
    // more to send.
    Process(now);
    return conn_.PollTransmit(now, out);
}

void ClientSession::Process(Millis now) {
    while (auto e = conn_.PollEvent()) {
        switch (e->type) {
            case EventType::kConnected: {
                PlayerConnectInfo request;
                request.flags = kConnectFlagClient;
                request.dnet_version = config_.dnet_version;
                request.name = config_.name;
                request.data = config_.player_data;
                request.password = config_.password;
                request.instance = config_.instance;
                request.application = config_.application;
                SendOptions options;
                options.guaranteed = true;
                options.user_flags = kCommandUser1;
                conn_.Send(Encode(request), options, now);
                break;
            }
            case EventType::kMessage:
                if (e->user_flags & kCommandUser1) {
                    HandleSessionMessage(e->data, now);
                } else if (e->user_flags == 0 && joined_) {
                    ClientEvent m;
                    m.type = ClientEventType::kMessage;
                    m.data = std::move(e->data);
                    m.guaranteed = e->guaranteed;
                    events_.push_back(std::move(m));
                }
                break;
            case EventType::kSendComplete:
                break;
            case EventType::kDisconnected:
                if (!ended_) {
                    ended_ = true;
                    ClientEvent t;
                    if (!joined_ && !failed_) {
                        t.type = ClientEventType::kConnectFailed;
                        t.result = kErrGeneric;
                    } else {
                        t.type = ClientEventType::kTerminated;
                    }
                    t.reason = e->reason;
                    t.terminated_by_host = terminated_by_host_;
                    if (!failed_)
                        events_.push_back(std::move(t));
                }
                joined_ = false;
                break;
        }
    }
}

void ClientSession::HandleSessionMessage(const Bytes& data, Millis now) {
    uint32_t type;
    if (!PeekCoreType(data, type))
        return;
    switch (CoreType(type)) {
        case CoreType::kSendConnectInfo: {
            if (joined_ || failed_)
                return;
            auto info = DecodeSendConnectInfo(data);
            if (!info)
                return;
            SendOptions options;
            options.guaranteed = true;
            options.user_flags = kCommandUser1;
            conn_.Send(EncodeAckConnectInfo(), options, now);
            joined_ = true;
            dpnid_ = info->dpnid;
            ClientEvent j;
            j.type = ClientEventType::kJoined;
            j.joined = std::move(*info);
            events_.push_back(std::move(j));
            break;
        }
        case CoreType::kConnectFailed: {
            if (joined_ || failed_)
                return;
            auto failed = DecodeConnectFailed(data);
            failed_ = true;
            ClientEvent f;
            f.type = ClientEventType::kConnectFailed;
            f.result = failed ? failed->result : kErrGeneric;
            events_.push_back(std::move(f));
            conn_.Close(now);
            break;
        }
        case CoreType::kTerminateSession:
            if (joined_) {
                terminated_by_host_ = true;
                conn_.Close(now);
            }
            break;
        case CoreType::kUpdateInfo:
            if (joined_) {
                if (auto update = DecodeUpdateInfo(data)) {
                    ClientEvent u;
                    u.type = ClientEventType::kInfoUpdated;
                    u.updated = std::move(*update);
                    events_.push_back(std::move(u));
                }
            }
            break;
        default:
            break;
    }
}

std::optional<ClientEvent> ClientSession::PollEvent() {
    if (events_.empty())
        return std::nullopt;
    ClientEvent e = std::move(events_.front());
    events_.pop_front();
    return e;
}

bool ClientSession::SetName(const std::u16string& name, uint32_t context, Millis now) {
    if (!joined_ || ended_)
        return false;
    ReqUpdateInfo request;
    request.context = context;
    request.dpnid = dpnid_;
    request.info_flags = kInfoName;
    request.name = name;
    SendOptions options;
    options.guaranteed = true;
    options.user_flags = kCommandUser1;
    return conn_.Send(Encode(request), options, now).has_value();
}

bool ClientSession::Send(ByteSpan data, const SendOptions& options, Millis now) {
    if (!joined_ || ended_)
        return false;
    SendOptions game = options;
    game.user_flags = 0;
    return conn_.Send(data, game, now).has_value();
}

}  // namespace dplay8

#include "dplay8/host_session.h"

#include <algorithm>

#include "dplay8/connect_admission.h"
#include "dplay8/dpnid.h"
#include "dplay8/enum_responder.h"
#include "dplay8/session_messages.h"

namespace dplay8 {

namespace {

constexpr uint32_t kServerIndex = 2;
// The version the server's entry was created at: the all-players group took version 1.
constexpr uint32_t kServerVersion = 2;
// dwDNETVersion we give the server's name table entry (the version our clients send too).
constexpr uint32_t kServerDnetVersion = 8;
// A closed connection still answers its peer's repeats; it is looked at again this often
// until it has finished.
constexpr Millis kSweepPeriod = 1000;

}  // namespace

HostSession::HostSession(HostConfig config, Millis /*now*/) : config_(std::move(config)) {
    name_table_version_ = kServerVersion;
    server_dpnid_ = MakeDpnid(kServerIndex, kServerVersion, config_.instance);
}

void HostSession::HandleDatagram(const Endpoint& from, SocketRole socket, ByteSpan datagram,
                                 Millis now) {
    if (datagram.empty())
        return;
    if (datagram[0] == 0) {
        // A zero lead byte is host enumeration ([MC-DPL8R] 2.1), never a transport frame.
        HandleEnumQuery(from, socket, datagram);
        return;
    }
    if (socket != SocketRole::kSession)
        return;
    auto it = peers_.find(from);
    const bool connect =
        ClassifyFrame(datagram) == FrameKind::kCommand && CommandOpcode(datagram) == kOpConnect;
    if (it != peers_.end() && connect) {
        // A CONNECT for another transport session from a known endpoint means the client
        // there started over (restarted on the same port, or a NAT reused the mapping): the
        // old one is gone. Repeats of the first CONNECT carry the same session id.
        auto f = DecodeHandshake(datagram);
        if (f && (f->session_id != it->second.conn.session_id() ||
                  it->second.conn.state() == ConnectionState::kClosed)) {
            Leave(it->second, kDestroyConnectionLost);
            peers_.erase(it);
            it = peers_.end();
        }
    }
    if (it == peers_.end()) {
        if (!connect || closing_ || PendingCount() >= config_.max_pending)
            return;
        auto conn = Connection::Accept(config_.connection, datagram, now);
        if (!conn)
            return;
        it = peers_.emplace(from, Peer(std::move(*conn))).first;
    } else {
        it->second.conn.HandleDatagram(datagram, now);
    }
    Pump(from, it->second, now);
}

void HostSession::HandleEnumQuery(const Endpoint& from, SocketRole socket, ByteSpan datagram) {
    if (closing_)
        return;
    auto query = DecodeEnumQuery(datagram);
    if (!query)
        return;
    HostDescription host;
    host.application = config_.application;
    host.instance = config_.instance;
    host.flags = config_.flags;
    host.max_players = config_.max_players;
    host.current_players = uint32_t(joined_.size() + 1);
    host.session_name = config_.session_name;
    host.password_required = config_.password.has_value();
    host.reply = config_.enum_reply;
    auto response = AnswerEnumQuery(*query, host);
    if (!response)
        return;
    out_.push_back(Datagram{from, socket, Encode(*response)});
}

void HostSession::Pump(const Endpoint& at, Peer& peer, Millis now) {
    for (;;) {
        bool any = false;
        while (auto e = peer.conn.PollEvent()) {
            any = true;
            switch (e->type) {
                case EventType::kConnected:
                    if (peer.stage == Stage::kTransport) {
                        peer.stage = Stage::kAwaitConnectInfo;
                        peer.join_deadline = now + config_.join_timeout;
                    }
                    break;
                case EventType::kMessage:
                    if (e->user_flags & kCommandUser1) {
                        HandleSessionMessage(at, peer, e->data, now);
                    } else if (e->user_flags == 0 && peer.stage == Stage::kJoined) {
                        HostEvent m;
                        m.type = HostEventType::kMessage;
                        m.dpnid = peer.dpnid;
                        m.data = std::move(e->data);
                        m.guaranteed = e->guaranteed;
                        events_.push_back(std::move(m));
                    }
                    // Voice (user 2) and data before the join are dropped.
                    break;
                case EventType::kSendComplete:
                    break;
                case EventType::kDisconnected:
                    Leave(peer, e->reason == DisconnectReason::kConnectionLost
                                    ? kDestroyConnectionLost
                                    : kDestroyNormal);
                    peer.join_deadline = now + kSweepPeriod;
                    break;
            }
        }
        while (peer.conn.PollTransmit(now, scratch_)) {
            any = true;
            out_.push_back(Datagram{at, SocketRole::kSession, scratch_});
        }
        if (!any)
            return;
    }
}

void HostSession::HandleSessionMessage(const Endpoint& at, Peer& peer, const Bytes& data,
                                       Millis now) {
    uint32_t type;
    if (!PeekCoreType(data, type))
        return;
    switch (CoreType(type)) {
        case CoreType::kPlayerConnectInfo:
            if (peer.stage == Stage::kAwaitConnectInfo) {
                // An undecodable request is ignored; the join time-out ends the peer.
                if (auto request = DecodePlayerConnectInfo(data))
                    Admit(at, peer, *request, now);
            }
            break;
        case CoreType::kAckConnectInfo:
            if (peer.stage == Stage::kAwaitAck && IsAckConnectInfo(data)) {
                peer.stage = Stage::kJoined;
                peer.join_deadline = kNever;
                joined_[peer.dpnid] = at;
                HostEvent created;
                created.type = HostEventType::kPlayerCreated;
                created.dpnid = peer.dpnid;
                created.name = peer.name;
                events_.push_back(std::move(created));
            }
            break;
        case CoreType::kReqProcessCompletion:
            if (peer.stage == Stage::kJoined) {
                if (auto request = DecodeReqProcessCompletion(data)) {
                    HostEvent m;
                    m.type = HostEventType::kMessage;
                    m.dpnid = peer.dpnid;
                    m.data = std::move(request->payload);
                    m.guaranteed = true;
                    events_.push_back(std::move(m));
                    SendCore(peer, Encode(ProcessCompletion{request->context}), now);
                }
            }
            break;
        case CoreType::kReqUpdateInfo:
            if (peer.stage == Stage::kJoined) {
                if (auto request = DecodeReqUpdateInfo(data))
                    UpdateInfoOf(peer, *request, now);
            }
            break;
        default:
            // Peer-to-peer, host migration and groups have no place here.
            break;
    }
}

void HostSession::Admit(const Endpoint& at, Peer& peer, const PlayerConnectInfo& request,
                        Millis now) {
    HostSettings settings;
    settings.instance = config_.instance;
    settings.application = config_.application;
    settings.closing = closing_;
    settings.password = config_.password;
    settings.max_players = config_.max_players;
    // Clients admitted but not yet acknowledged hold their places too.
    const auto admitted = std::count_if(peers_.begin(), peers_.end(), [](const auto& p) {
        return p.second.stage == Stage::kAwaitAck;
    });
    settings.current_players = uint32_t(joined_.size() + size_t(admitted) + 1);
    HResult result = CheckConnectRequest(request, settings);
    const uint32_t dpnid = result == kOk ? AllocateDpnid() : 0;
    if (result == kOk && dpnid == 0)
        result = kErrGeneric;  // every name table index is taken
    if (result != kOk) {
        SendCore(peer, Encode(ConnectFailed{result, {}}), now);
        peer.conn.Close(now);
        peer.stage = Stage::kLeaving;
        peer.join_deadline = now + kSweepPeriod;
        return;
    }
    peer.dpnid = dpnid;
    peer.name = request.name;
    peer.stage = Stage::kAwaitAck;

    SendConnectInfo info;
    info.desc.flags = config_.flags | (config_.password ? kSessionRequirePassword : 0);
    info.desc.max_players = config_.max_players;
    info.desc.current_players = uint32_t(joined_.size() + 2);
    info.desc.session_name = config_.session_name;
    info.desc.password = config_.password;  // the echo of the password just verified
    info.desc.instance = config_.instance;
    info.desc.application = config_.application;
    info.dpnid = dpnid;
    info.version = name_table_version_;
    NameTableEntry server;
    server.dpnid = server_dpnid_;
    server.flags = kEntryHost | kEntryServer;
    server.version = kServerVersion;
    server.dnet_version = kServerDnetVersion;
    NameTableEntry client;
    client.dpnid = dpnid;
    client.flags = kEntryClient;
    client.version = name_table_version_;
    client.dnet_version = request.dnet_version;
    client.name = request.name;
    client.data = request.data;
    client.url = EndpointUrl(at);
    info.entries = {server, client};
    SendCore(peer, Encode(info), now);
}

void HostSession::UpdateInfoOf(Peer& peer, const ReqUpdateInfo& request, Millis now) {
    // A client changes only its own entry, whatever id it names; the answer goes to it
    // alone, as clients keep no other entries ([MC-DPL8CS] 3.5.1).
    UpdateInfo answer;
    answer.context = request.context;
    answer.dpnid = peer.dpnid;
    answer.version = ++name_table_version_;
    answer.info_flags = request.info_flags & (kInfoName | kInfoData);
    if (answer.info_flags & kInfoName) {
        peer.name = request.name;
        answer.name = request.name;
        HostEvent info;
        info.type = HostEventType::kPlayerInfo;
        info.dpnid = peer.dpnid;
        info.name = request.name;
        events_.push_back(std::move(info));
    }
    if (answer.info_flags & kInfoData)
        answer.data = request.data;
    answer.requesting = peer.dpnid;
    SendCore(peer, Encode(answer), now);
}

void HostSession::Leave(Peer& peer, uint32_t reason) {
    if (peer.stage == Stage::kJoined) {
        joined_.erase(peer.dpnid);
        HostEvent destroyed;
        destroyed.type = HostEventType::kPlayerDestroyed;
        destroyed.dpnid = peer.dpnid;
        destroyed.reason = reason;
        events_.push_back(std::move(destroyed));
    }
    if (peer.dpnid != 0) {
        free_indexes_.push_back(DpnidIndex(peer.dpnid, config_.instance));
        peer.dpnid = 0;
    }
    peer.stage = Stage::kLeaving;
}

bool HostSession::SendCore(Peer& peer, const Bytes& message, Millis now) {
    SendOptions options;
    options.guaranteed = true;
    options.sequential = true;
    options.user_flags = kCommandUser1;
    return peer.conn.Send(message, options, now).has_value();
}

uint32_t HostSession::AllocateDpnid() {
    uint32_t index;
    if (!free_indexes_.empty()) {
        index = free_indexes_.back();
        free_indexes_.pop_back();
    } else if (next_index_ <= kDpnidIndexMask) {
        index = next_index_++;
    } else {
        return 0;
    }
    // The version moves on with every entry; skip the rare values whose id would be zero
    // (the "all players" target) or the server's.
    for (;;) {
        const uint32_t dpnid = MakeDpnid(index, ++name_table_version_, config_.instance);
        if (dpnid != 0 && dpnid != server_dpnid_ && joined_.count(dpnid) == 0)
            return dpnid;
    }
}

size_t HostSession::PendingCount() const {
    return peers_.size() - joined_.size();
}

void HostSession::HandleTimeout(Millis now) {
    for (auto it = peers_.begin(); it != peers_.end();) {
        Peer& peer = it->second;
        bool touched = false;
        if (now >= peer.conn.NextTimeout()) {
            peer.conn.HandleTimeout(now);
            touched = true;
        }
        if (now >= peer.join_deadline) {
            peer.join_deadline = kNever;
            if (peer.stage == Stage::kTransport || peer.stage == Stage::kAwaitConnectInfo ||
                peer.stage == Stage::kAwaitAck) {
                // The join exchange did not finish in time.
                Leave(peer, kDestroyNormal);
                peer.conn.Abort(now);
                peer.join_deadline = now + kSweepPeriod;
            } else if (peer.stage == Stage::kLeaving) {
                peer.join_deadline = now + kSweepPeriod;
            }
            touched = true;
        }
        if (touched)
            Pump(it->first, peer, now);
        if (peer.stage == Stage::kLeaving && peer.conn.finished(now)) {
            it = peers_.erase(it);
        } else {
            ++it;
        }
    }
}

Millis HostSession::NextTimeout() const {
    Millis t = kNever;
    for (const auto& [endpoint, peer] : peers_)
        t = std::min({t, peer.conn.NextTimeout(), peer.join_deadline});
    return t;
}

bool HostSession::PollTransmit(Datagram& out) {
    if (out_.empty())
        return false;
    out = std::move(out_.front());
    out_.pop_front();
    return true;
}

std::optional<HostEvent> HostSession::PollEvent() {
    if (events_.empty())
        return std::nullopt;
    HostEvent e = std::move(events_.front());
    events_.pop_front();
    return e;
}

bool HostSession::Send(uint32_t dpnid, ByteSpan data, const SendOptions& options, Millis now) {
    auto j = joined_.find(dpnid);
    if (j == joined_.end())
        return false;
    auto it = peers_.find(j->second);
    if (it == peers_.end())
        return false;
    SendOptions game = options;
    game.user_flags = 0;
    const bool queued = it->second.conn.Send(data, game, now).has_value();
    Pump(it->first, it->second, now);
    return queued;
}

bool HostSession::DestroyPlayer(uint32_t dpnid, Millis now) {
    auto j = joined_.find(dpnid);
    if (j == joined_.end())
        return false;
    auto it = peers_.find(j->second);
    if (it == peers_.end())
        return false;
    Peer& peer = it->second;
    SendCore(peer, Encode(TerminateSession{}), now);
    peer.conn.Close(now);
    Leave(peer, kDestroyHostDestroyedPlayer);
    peer.join_deadline = now + kSweepPeriod;
    Pump(it->first, peer, now);
    return true;
}

void HostSession::Close(Millis now) {
    if (closing_)
        return;
    closing_ = true;
    close_deadline_ = now + config_.close_linger;
    for (auto& [endpoint, peer] : peers_) {
        if (peer.stage == Stage::kJoined) {
            Leave(peer, kDestroySessionTerminated);
            peer.conn.Close(now);
        } else if (peer.stage != Stage::kLeaving) {
            Leave(peer, kDestroyNormal);
            peer.conn.Abort(now);
        }
        peer.join_deadline = now + kSweepPeriod;
        Pump(endpoint, peer, now);
    }
}

bool HostSession::Quiet(Millis now) const {
    if (!closing_)
        return false;
    if (now >= close_deadline_)
        return true;
    return std::all_of(peers_.begin(), peers_.end(), [](const auto& p) {
        return p.second.conn.state() == ConnectionState::kClosed;
    });
}

std::vector<uint32_t> HostSession::Players() const {
    std::vector<uint32_t> ids;
    ids.reserve(joined_.size());
    for (const auto& [dpnid, endpoint] : joined_)
        ids.push_back(dpnid);
    return ids;
}

std::optional<ConnectionStats> HostSession::Stats(uint32_t dpnid, Millis now) const {
    auto j = joined_.find(dpnid);
    if (j == joined_.end())
        return std::nullopt;
    auto it = peers_.find(j->second);
    if (it == peers_.end())
        return std::nullopt;
    return it->second.conn.Stats(now);
}

}  // namespace dplay8

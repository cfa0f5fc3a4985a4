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

HostSession::HostSession(HostConfig config, Millis /*now*/)
    : config_(std::move(config)),
      enum_limiter_(config_.limits.enum_rate, config_.limits.enum_total_rate) {
    name_table_version_ = kServerVersion;
    server_dpnid_ = MakeDpnid(kServerIndex, kServerVersion, config_.instance);
}

void HostSession::HandleDatagram(const Endpoint& from, SocketRole socket, ByteSpan datagram,
                                 Millis now) {
    if (datagram.empty())
        return;
    ++traffic_.datagrams_in;
    traffic_.bytes_in += datagram.size();
    if (datagram[0] == 0) {
        // A zero lead byte is host enumeration ([MC-DPL8R] 2.1), never a transport frame.
        HandleEnumQuery(from, socket, datagram, now);
        return;
    }
    if (socket != SocketRole::kSession)
        return;
    const bool connect =
        ClassifyFrame(datagram) == FrameKind::kCommand && CommandOpcode(datagram) == kOpConnect;
    auto it = peers_.find(from);
    if (it == peers_.end()) {
        if (connect)
            HandleConnectFrom(from, datagram, now);
        return;
    }
    Peer& peer = it->second;
    if (connect) {
        auto f = DecodeHandshake(datagram);
        if (!f)
            return;
        // A CONNECT for another transport session from a known endpoint: the client there
        // may have started over (restarted on the same port, or a NAT reused the mapping),
        // or someone forged its address. Repeats of the first CONNECT carry the same id.
        const bool replaceable = peer.stage == Stage::kTransport ||
                                 peer.conn.state() == ConnectionState::kClosed ||
                                 peer.conn.state() == ConnectionState::kAborting;
        if (f->session_id != peer.conn.session_id() && !replaceable) {
            BeginRestart(peer, datagram, f->session_id, now);
            Pump(peer, now);
            return;
        }
        if (f->session_id != peer.conn.session_id() ||
            peer.conn.state() == ConnectionState::kClosed) {
            Leave(peer, kDestroyConnectionLost);
            RemovePending(peer);
            peers_.erase(it);
            HandleConnectFrom(from, datagram, now);
            return;
        }
    }
    peer.conn.HandleDatagram(datagram, now);
    if (peer.restart && peer.conn.last_receive() >= peer.restart->since)
        DecideRestart(peer, now);
    Pump(peer, now);
}

ConnectionConfig HostSession::UnjoinedConfig() const {
    // Until it has joined, a peer has nothing to send but its join request.
    ConnectionConfig config = config_.connection;
    config.max_message_size =
        std::min(config.max_message_size, config_.limits.max_message_before_join);
    return config;
}

void HostSession::HandleConnectFrom(const Endpoint& from, ByteSpan connect, Millis now) {
    auto conn = Connection::Accept(UnjoinedConfig(), connect, now);
    if (!conn)
        return;
    if (closing_ || !MakeRoomFor(from)) {
        ++counters_.connects_refused;
        return;
    }
    Peer& peer = peers_.emplace(from, Peer(from, std::move(*conn))).first->second;
    peer.join_deadline = now + config_.limits.handshake_timeout;
    AddPending(peer);
    Pump(peer, now);
}

bool HostSession::MakeRoomFor(const Endpoint& from) {
    const auto mine = pending_by_address_.find(from.address);
    const bool address_full =
        mine != pending_by_address_.end() && mine->second >= config_.limits.max_pending_per_address;
    if (!address_full && pending_order_.size() < config_.limits.max_pending)
        return true;
    // The oldest connection (of this address, when it is the address that has no room) that
    // has not confirmed its handshake gives way, or else the oldest that has not asked to
    // join, and one already being admitted only when there is no other.
    const Endpoint* victim = nullptr;
    for (const auto& [seq, endpoint] : pending_order_) {
        if (address_full && endpoint.address != from.address)
            continue;
        const Stage stage = peers_.at(endpoint).stage;
        if (stage == Stage::kTransport) {
            victim = &endpoint;
            break;
        }
        if (stage == Stage::kAwaitConnectInfo && victim == nullptr)
            victim = &endpoint;
    }
    if (victim == nullptr) {
        // Only clients being admitted: the oldest of them, for a client that cannot see our
        // answers can still guess its way this far.
        for (const auto& [seq, endpoint] : pending_order_) {
            if (!address_full || endpoint.address == from.address) {
                victim = &endpoint;
                break;
            }
        }
    }
    if (victim == nullptr)
        return false;
    auto it = peers_.find(*victim);
    Leave(it->second, kDestroyNormal);  // gives back the id of one being admitted
    RemovePending(it->second);
    peers_.erase(it);
    ++counters_.pending_evicted;
    return true;
}

void HostSession::BeginRestart(Peer& peer, ByteSpan connect, uint32_t session_id, Millis now) {
    if (!peer.restart) {
        // Long enough for the probe and one repeat of it to be answered, and for the next
        // repeat of what is in flight when a full window holds the probe back.
        const Millis rtt = peer.conn.smoothed_rtt();
        const Millis first = DataRetryInterval(rtt, 0, config_.connection.retry);
        // At least 2 s: a live player on a slow or busy link must not lose its place.
        Millis decide_at = now + std::max<Millis>(2000, 2 * first + rtt);
        if (const Millis retry = peer.conn.NextRetryAt(); retry != kNever)
            decide_at = std::max(decide_at, retry + first + rtt);
        peer.restart = Restart{{}, 0, now, decide_at};
        peer.conn.Probe(now);
    }
    peer.restart->connect.assign(connect.begin(), connect.end());
    peer.restart->session_id = session_id;
}

void HostSession::DecideRestart(Peer& peer, Millis now) {
    Restart restart = std::move(*peer.restart);
    peer.restart.reset();
    if (peer.conn.last_receive() >= restart.since) {
        // The peer answered on its connection: the CONNECT came from someone else.
        ++counters_.restarts_refused;
        return;
    }
    auto conn = Connection::Accept(UnjoinedConfig(), restart.connect, now);
    if (!conn)
        return;
    // The peer is gone; its endpoint starts over in place.
    Leave(peer, kDestroyConnectionLost);
    RemovePending(peer);
    const Endpoint at = peer.at;
    peer = Peer(at, std::move(*conn));
    peer.join_deadline = now + config_.limits.handshake_timeout;
    AddPending(peer);
}

void HostSession::HandleEnumQuery(const Endpoint& from, SocketRole /*socket*/, ByteSpan datagram,
                                  Millis now) {
    if (closing_)
        return;
    auto query = DecodeEnumQuery(datagram);
    if (!query)
        return;
    if (!enum_limiter_.Allow(from.address, now)) {
        ++counters_.enum_replies_refused;
        return;
    }
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
    // Whichever socket the query came in on, the answer leaves from the session's: clients
    // learn the port to connect to from the reply's source ([MC-DPLHP], EnumResponse).
    out_.push_back(Datagram{from, SocketRole::kSession, Encode(*response)});
}

void HostSession::Pump(Peer& peer, Millis now) {
    for (;;) {
        bool any = false;
        while (auto e = peer.conn.PollEvent()) {
            any = true;
            switch (e->type) {
                case EventType::kConnected:
                    if (peer.stage == Stage::kTransport) {
                        SetStage(peer, Stage::kAwaitConnectInfo);
                        peer.join_deadline = now + config_.join_timeout;
                    }
                    break;
                case EventType::kMessage:
                    if (peer.stage == Stage::kJoined && !AllowMessage(peer, now))
                        break;
                    if (e->user_flags & kCommandUser1) {
                        HandleSessionMessage(peer, e->data, now);
                    } else if (e->user_flags == 0 && peer.stage == Stage::kJoined) {
                        HostEvent m;
                        m.type = HostEventType::kMessage;
                        m.dpnid = peer.dpnid;
                        m.data = std::move(e->data);
                        m.guaranteed = e->guaranteed;
                        events_.push_back(std::move(m));
                        ++traffic_.messages_in;
                    }
                    // Voice (user 2) and data before the join are dropped.
                    break;
                case EventType::kSendComplete:
                    break;
                case EventType::kDisconnected:
                    if (e->reason == DisconnectReason::kSendBacklog)
                        ++counters_.backlogs_disconnected;
                    if (e->reason == DisconnectReason::kConnectionLost &&
                        peer.stage == Stage::kJoined)
                        ++counters_.players_lost;
                    Leave(peer, e->reason == DisconnectReason::kConnectionLost ||
                                        e->reason == DisconnectReason::kSendBacklog
                                    ? kDestroyConnectionLost
                                    : kDestroyNormal);
                    peer.join_deadline = now + kSweepPeriod;
                    break;
            }
        }
        while (peer.conn.PollTransmit(now, scratch_)) {
            any = true;
            out_.push_back(Datagram{peer.at, SocketRole::kSession, scratch_});
        }
        if (!any)
            break;
    }
    Watch(peer);
}

bool HostSession::AllowMessage(Peer& peer, Millis now) {
    if (config_.limits.message_rate == 0 ||
        peer.messages.Take(config_.limits.message_rate, config_.limits.message_burst, now)) {
        return true;
    }
    ++counters_.messages_dropped;
    // What was dropped drains slowly, so a client held above its rate for long is cut off.
    const double rate = config_.limits.message_rate, seconds = config_.limits.flood_seconds;
    if (!peer.flood.Take(rate / std::max(seconds, 1.0), rate * seconds, now)) {
        // Far past any client's pace for seconds on end: a flood, not a player.
        ++counters_.flooders_disconnected;
        Leave(peer, kDestroyHostDestroyedPlayer);
        peer.conn.Abort(now);
        peer.join_deadline = now + kSweepPeriod;
    }
    return false;
}

void HostSession::HandleSessionMessage(Peer& peer, const Bytes& data, Millis now) {
    uint32_t type;
    if (!PeekCoreType(data, type))
        return;
    switch (CoreType(type)) {
        case CoreType::kPlayerConnectInfo:
            if (peer.stage == Stage::kAwaitConnectInfo) {
                if (auto request = DecodePlayerConnectInfo(data)) {
                    Admit(peer, *request, now);
                } else {
                    // Malformed (a name of an odd number of bytes, a field out of bounds):
                    // refused at once rather than left to wait for its time-out.
                    Refuse(peer, kErrGeneric, now);
                }
            }
            break;
        case CoreType::kAckConnectInfo:
            if (peer.stage == Stage::kAwaitAck && IsAckConnectInfo(data)) {
                SetStage(peer, Stage::kJoined);
                peer.join_deadline = kNever;
                peer.conn.set_max_message_size(config_.connection.max_message_size);
                joined_[peer.dpnid] = peer.at;
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
                    ++traffic_.messages_in;
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

void HostSession::Admit(Peer& peer, const PlayerConnectInfo& request, Millis now) {
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
        Refuse(peer, result, now);
        return;
    }
    peer.dpnid = dpnid;
    peer.name = request.name;
    SetStage(peer, Stage::kAwaitAck);
    // A real client acknowledges within a few round trips, repeats on a lossy link included.
    peer.join_deadline = now + config_.limits.admission_timeout;

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
    client.url = EndpointUrl(peer.at);
    info.entries = {server, client};
    SendCore(peer, Encode(info), now);
}

void HostSession::Refuse(Peer& peer, HResult result, Millis now) {
    SendCore(peer, Encode(ConnectFailed{result, {}}), now);
    peer.conn.Close(now);
    SetStage(peer, Stage::kLeaving);
    peer.join_deadline = now + kSweepPeriod;
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
    SetStage(peer, Stage::kLeaving);
    peer.restart.reset();
}

bool HostSession::IsPending(Stage stage) {
    return stage == Stage::kTransport || stage == Stage::kAwaitConnectInfo ||
           stage == Stage::kAwaitAck;
}

void HostSession::SetStage(Peer& peer, Stage stage) {
    if (IsPending(peer.stage) && !IsPending(stage))
        RemovePending(peer);
    peer.stage = stage;
}

void HostSession::AddPending(Peer& peer) {
    peer.pending_seq = next_pending_seq_++;
    pending_order_.emplace(peer.pending_seq, peer.at);
    ++pending_by_address_[peer.at.address];
}

void HostSession::RemovePending(Peer& peer) {
    if (peer.pending_seq == 0)
        return;
    pending_order_.erase(peer.pending_seq);
    peer.pending_seq = 0;
    if (auto n = pending_by_address_.find(peer.at.address); n != pending_by_address_.end()) {
        if (--n->second == 0)
            pending_by_address_.erase(n);
    }
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

void HostSession::Watch(Peer& peer) {
    const Millis at = std::min({peer.conn.NextTimeout(), peer.join_deadline,
                                peer.restart ? peer.restart->decide_at : kNever});
    if (at == peer.armed)
        return;
    peer.armed = at;
    if (at == kNever)
        return;
    if (timers_.size() >= 4 * peers_.size() + 64) {
        // Mostly stale: keep one entry a peer.
        timers_.clear();
        for (const auto& [endpoint, p] : peers_) {
            if (p.armed != kNever)
                timers_.push_back(Timer{p.armed, endpoint});
        }
        std::make_heap(timers_.begin(), timers_.end(), std::greater<>());
        return;
    }
    timers_.push_back(Timer{at, peer.at});
    std::push_heap(timers_.begin(), timers_.end(), std::greater<>());
}

void HostSession::HandleTimeout(Millis now) {
    // The due entries are taken first: serving a peer arms it again, perhaps for now.
    std::vector<Endpoint>& due = due_scratch_;
    due.clear();
    while (!timers_.empty() && timers_.front().at <= now) {
        std::pop_heap(timers_.begin(), timers_.end(), std::greater<>());
        const Timer timer = timers_.back();
        timers_.pop_back();
        auto it = peers_.find(timer.peer);
        if (it != peers_.end() && it->second.armed == timer.at) {
            it->second.armed = kNever;
            due.push_back(timer.peer);
        }
    }
    for (const Endpoint& endpoint : due) {
        auto it = peers_.find(endpoint);
        if (it == peers_.end())
            continue;
        Peer& peer = it->second;
        if (now >= peer.conn.NextTimeout())
            peer.conn.HandleTimeout(now);
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
        }
        if (peer.restart && now >= peer.restart->decide_at)
            DecideRestart(peer, now);
        Pump(peer, now);
        if (peer.stage == Stage::kLeaving && peer.conn.finished(now))
            peers_.erase(it);
    }
}

Millis HostSession::NextTimeout() const {
    // A stale entry on top only makes the owner call HandleTimeout early, which drops it.
    return timers_.empty() ? kNever : timers_.front().at;
}

bool HostSession::PollTransmit(Datagram& out) {
    if (out_.empty())
        return false;
    out = std::move(out_.front());
    out_.pop_front();
    ++traffic_.datagrams_out;
    traffic_.bytes_out += out.bytes.size();
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
    traffic_.messages_out += queued;
    Pump(it->second, now);
    return queued;
}

HostTraffic HostSession::Traffic() const {
    HostTraffic t = traffic_;
    for (const auto& [endpoint, peer] : peers_) {
        t.queued_messages += peer.conn.queued_messages();
        t.queued_bytes += peer.conn.queued_bytes();
        t.most_queued_messages = std::max(t.most_queued_messages, peer.conn.queued_messages());
    }
    return t;
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
    Pump(peer, now);
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
        Pump(peer, now);
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

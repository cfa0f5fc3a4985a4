// Connection set-up, command frames, timers and teardown. Sending is in
// connection_send.cpp, receiving data frames in connection_receive.cpp.

#include "dplay8/connection.h"

#include <algorithm>

namespace dplay8 {

namespace {

constexpr uint32_t kMajorVersionMask = 0xFFFF0000;
constexpr uint32_t kMajorVersion = 0x00010000;

uint32_t Tick(Millis now) {
    return uint32_t(uint64_t(now));
}

}  // namespace

Connection::Connection(const ConnectionConfig& config, uint32_t session_id, bool listener,
                       Millis now)
    : config_(config),
      state_(listener ? ConnectionState::kAwaitingConfirm : ConnectionState::kConnecting),
      listener_(listener),
      session_id_(session_id),
      connect_timestamp_(Tick(now)),
      last_receive_(now),
      last_keepalive_(now),
      throughput_window_start_(now) {
    // A datagram must at least hold the largest header and something to carry.
    config_.max_datagram = std::max<size_t>(config_.max_datagram, 64);
}

Connection Connection::Connect(const ConnectionConfig& config, uint32_t session_id, Millis now) {
    Connection c(config, session_id, false, now);
    c.QueueHandshake(kOpConnect, true, 0, now);
    return c;
}

std::optional<Connection> Connection::Accept(const ConnectionConfig& config, ByteSpan connect,
                                             Millis now) {
    auto f = DecodeHandshake(connect);
    if (!f || f->opcode != kOpConnect || (f->version & kMajorVersionMask) != kMajorVersion) {
        return std::nullopt;
    }
    Connection c(config, f->session_id, true, now);
    c.remote_version_ = f->version;
    c.last_peer_msg_id_ = f->msg_id;
    c.QueueHandshake(kOpConnected, true, f->msg_id, now);
    return c;
}

void Connection::QueueHandshake(uint8_t opcode, bool poll, uint8_t rsp_id, Millis now) {
    HandshakeFrame f;
    f.opcode = opcode;
    f.poll = poll;
    f.msg_id = next_msg_id_;
    f.rsp_id = rsp_id;
    f.version = config_.protocol_version;
    f.session_id = session_id_;
    // Every handshake frame carries the tick at which this side began, as in the
    // documents' exchanges, where retries and the final CONNECTED repeat it.
    f.timestamp = connect_timestamp_;
    handshake_sent_[next_msg_id_ % handshake_sent_.size()] = {next_msg_id_, now};
    ++next_msg_id_;
    Bytes out;
    EncodeHandshake(f, out);
    control_out_.push_back(std::move(out));
    // Only the connector's CONNECT and the listener's CONNECTED wait for an answer.
    if (poll)
        handshake_retry_at_ = now + ConnectRetryInterval(handshake_attempts_, config_.retry);
}

void Connection::QueueHardDisconnect(Millis now) {
    HandshakeFrame f;
    f.opcode = kOpHardDisconnect;
    f.msg_id = next_msg_id_++;
    f.version = config_.protocol_version;
    f.session_id = session_id_;
    f.timestamp = Tick(now);
    Bytes out;
    EncodeHandshake(f, out);
    control_out_.push_back(std::move(out));
}

void Connection::HandleDatagram(ByteSpan datagram, Millis now) {
    RollThroughput(now);
    switch (ClassifyFrame(datagram)) {
        case FrameKind::kData:
            ++stats_.datagrams_received;
            stats_.bytes_received += datagram.size();
            HandleData(datagram, now);
            break;
        case FrameKind::kCommand:
            ++stats_.datagrams_received;
            stats_.bytes_received += datagram.size();
            HandleCommand(datagram, now);
            break;
        case FrameKind::kInvalid:
            break;
    }
}

void Connection::HandleCommand(ByteSpan datagram, Millis now) {
    uint8_t opcode = CommandOpcode(datagram);
    if (opcode == kOpSack) {
        auto sack = DecodeSack(datagram);
        if (sack && state_ == ConnectionState::kClosed && sack->send_mask && now < linger_until_) {
            // Lingering after a graceful close: a peer still repeating the send mask of
            // frames it gave up missed our last acknowledgment; say it again.
            ack_now_ = true;
            return;
        }
        if (!sack || (state_ != ConnectionState::kConnected && state_ != ConnectionState::kClosing))
            return;
        last_receive_ = now;
        ProcessAck(sack->next_recv, sack->sack_mask, now);
        if (sack->send_mask && uint8_t(sack->next_seq - next_recv_) <= 64) {
            ApplySendMask(sack->next_seq, sack->send_mask);
            Advance(now);
            // The sender waits for our next-receive to pass the frames it gave up.
            ScheduleAck(now + config_.quick_ack);
        }
        CheckCloseComplete(now);
        return;
    }
    if (opcode == kOpConnectedSigned) {
        // We never sign, so a signed answer is not for us ([MC-DPL8R] 3.1.5.1.3).
        return;
    }
    auto f = DecodeHandshake(datagram);
    if (!f)
        return;
    switch (f->opcode) {
        case kOpConnect:
            HandleConnect(*f, now);
            break;
        case kOpConnected:
            HandleConnected(*f, now);
            break;
        case kOpHardDisconnect:
            HandleHardDisconnect(*f, now);
            break;
        default:
            break;
    }
}

void Connection::HandleConnect(const HandshakeFrame& f, Millis now) {
    // A repeated CONNECT means our CONNECTED was lost: answer again at once.
    if (state_ == ConnectionState::kAwaitingConfirm && f.session_id == session_id_) {
        last_peer_msg_id_ = f.msg_id;
        QueueHandshake(kOpConnected, true, f.msg_id, now);
    }
}

void Connection::SampleHandshakeRtt(uint8_t rsp_id, Millis now) {
    const HandshakeSent& sent = handshake_sent_[rsp_id % handshake_sent_.size()];
    if (sent.msg_id == rsp_id && sent.at != kNever)
        rtt_.Sample(now - sent.at);
}

void Connection::HandleConnected(const HandshakeFrame& f, Millis now) {
    if (f.session_id != session_id_ || (f.version & kMajorVersionMask) != kMajorVersion)
        return;
    if (state_ == ConnectionState::kConnecting && f.poll) {
        SampleHandshakeRtt(f.rsp_id, now);
        remote_version_ = f.version;
        last_peer_msg_id_ = f.msg_id;
        QueueHandshake(kOpConnected, false, f.msg_id, now);
        Establish(now);
    } else if (state_ == ConnectionState::kAwaitingConfirm && !f.poll) {
        SampleHandshakeRtt(f.rsp_id, now);
        Establish(now);
    } else if ((state_ == ConnectionState::kConnected || state_ == ConnectionState::kClosing) &&
               f.poll && !listener_) {
        // The listener did not get our CONNECTED; repeat it.
        QueueHandshake(kOpConnected, false, f.msg_id, now);
    }
}

void Connection::HandleHardDisconnect(const HandshakeFrame& f, Millis now) {
    if (f.session_id != session_id_)
        return;
    if (state_ == ConnectionState::kAborting) {
        // The peer answered our hard disconnect.
        Terminate(abort_reason_, now);
    } else if (state_ == ConnectionState::kConnected || state_ == ConnectionState::kClosing) {
        CancelAll(SendResult::kCancelled);
        for (int i = 0; i < config_.hard_disconnects; ++i)
            QueueHardDisconnect(now);
        Terminate(DisconnectReason::kAbortedByPeer, now);
    }
}

void Connection::Establish(Millis now) {
    state_ = ConnectionState::kConnected;
    handshake_retry_at_ = kNever;
    last_receive_ = now;
    last_keepalive_ = now;
    Event connected;
    connected.type = EventType::kConnected;
    events_.push_back(std::move(connected));
    // Both sides open with a keep-alive, which measures the round trip at once and lets a
    // listener whose confirmation was lost complete on the first data frame.
    OutMessage keepalive;
    keepalive.kind = ItemKind::kKeepAlive;
    queue_.push_front(std::move(keepalive));
}

void Connection::Terminate(DisconnectReason reason, Millis now) {
    if (state_ == ConnectionState::kClosed)
        return;
    state_ = ConnectionState::kClosed;
    handshake_retry_at_ = kNever;
    hard_disconnect_at_ = kNever;
    ack_at_ = kNever;
    send_mask_at_ = kNever;
    // After a graceful close the peer may still repeat its END_STREAM if our last
    // acknowledgment was lost; keep answering until it would have given up.
    bool graceful =
        reason == DisconnectReason::kClosedLocally || reason == DisconnectReason::kClosedByPeer;
    linger_until_ = now;
    if (graceful) {
        // Long enough for the peer's whole retry schedule, with room for its round-trip
        // estimate to be twice ours.
        for (int attempt = 0; attempt <= config_.retry.max_retries; ++attempt) {
            linger_until_ += DataRetryInterval(2 * rtt_.smoothed(), attempt, config_.retry);
        }
    }
    Event e;
    e.type = EventType::kDisconnected;
    e.reason = reason;
    events_.push_back(std::move(e));
}

void Connection::CancelAll(SendResult result) {
    for (auto& m : queue_) {
        if (m.kind == ItemKind::kData)
            EmitSendComplete(m.id, result);
    }
    // Swapped out rather than cleared, so that a long queue gives its memory back.
    std::deque<OutMessage>().swap(queue_);
    queued_messages_ = 0;
    queued_bytes_ = 0;
    queue_deadlines_.clear();
    for (uint8_t s = send_base_; s != next_send_; ++s) {
        for (auto& p : sent_[s].pieces) {
            if (p.completes_message)
                EmitSendComplete(p.id, result);
        }
        sent_[s] = SentFrame{};
    }
    send_base_ = next_send_;
    retransmit_.clear();
    dropped_fragments_.clear();
}

void Connection::Close(Millis now) {
    switch (state_) {
        case ConnectionState::kConnecting:
        case ConnectionState::kAwaitingConfirm:
            Abort(now);
            break;
        case ConnectionState::kConnected: {
            state_ = ConnectionState::kClosing;
            close_requested_locally_ = true;
            OutMessage end;
            end.kind = ItemKind::kEndStream;
            queue_.push_back(std::move(end));
            break;
        }
        default:
            break;
    }
}

Millis Connection::NextRetryAt() const {
    Millis t = kNever;
    for (uint8_t s = send_base_; s != next_send_; ++s) {
        if (sent_[s].active && !sent_[s].sacked)
            t = std::min(t, sent_[s].retry_at);
    }
    return t;
}

void Connection::Probe(Millis /*now*/) {
    if (state_ != ConnectionState::kConnected)
        return;
    const bool queued = std::any_of(queue_.begin(), queue_.end(), [](const OutMessage& m) {
        return m.kind == ItemKind::kKeepAlive;
    });
    if (!queued) {
        // Ahead of everything but the rest of a message already under way.
        OutMessage keepalive;
        keepalive.kind = ItemKind::kKeepAlive;
        const bool under_way = !queue_.empty() && queue_.front().sent_offset > 0;
        queue_.insert(queue_.begin() + (under_way ? 1 : 0), std::move(keepalive));
    }
}

void Connection::Abort(Millis now, DisconnectReason reason) {
    if (state_ == ConnectionState::kClosed || state_ == ConnectionState::kAborting)
        return;
    abort_reason_ = reason;
    CancelAll(SendResult::kCancelled);
    state_ = ConnectionState::kAborting;
    handshake_retry_at_ = kNever;
    // Nothing but HARD_DISCONNECTs goes out from here on.
    ack_now_ = false;
    ack_at_ = kNever;
    send_mask_at_ = kNever;
    QueueHardDisconnect(now);
    hard_disconnects_sent_ = 1;
    hard_disconnect_at_ = now + HardDisconnectInterval(rtt_.smoothed());
}

void Connection::CheckCloseComplete(Millis now) {
    if (state_ != ConnectionState::kClosing)
        return;
    if (end_stream_acked_ && peer_end_stream_ && peer_end_stream_acked_) {
        Terminate(close_requested_locally_ ? DisconnectReason::kClosedLocally
                                           : DisconnectReason::kClosedByPeer,
                  now);
    }
}

Millis Connection::NextTimeout() const {
    Millis t = std::min(handshake_retry_at_, hard_disconnect_at_);
    if (state_ == ConnectionState::kConnected || state_ == ConnectionState::kClosing) {
        t = std::min({t, ack_at_, send_mask_at_});
        for (uint8_t s = send_base_; s != next_send_; ++s) {
            const SentFrame& f = sent_[s];
            if (!f.sacked && !f.retransmit_pending)
                t = std::min(t, f.retry_at);
        }
        if (!queue_deadlines_.empty())
            t = std::min(t, *queue_deadlines_.begin());
        if (state_ == ConnectionState::kConnected) {
            t = std::min(t, std::max(last_receive_, last_keepalive_) + config_.keepalive_interval);
        }
    }
    return t;
}

void Connection::HandleTimeout(Millis now) {
    RollThroughput(now);
    if (now >= handshake_retry_at_) {
        handshake_retry_at_ = kNever;
        if (handshake_attempts_ >= config_.retry.connect_retries) {
            Terminate(DisconnectReason::kConnectFailed, now);
            return;
        }
        ++handshake_attempts_;
        if (state_ == ConnectionState::kConnecting) {
            QueueHandshake(kOpConnect, true, 0, now);
        } else if (state_ == ConnectionState::kAwaitingConfirm) {
            QueueHandshake(kOpConnected, true, last_peer_msg_id_, now);
        }
    }
    if (now >= hard_disconnect_at_) {
        if (hard_disconnects_sent_ < config_.hard_disconnects) {
            QueueHardDisconnect(now);
            ++hard_disconnects_sent_;
            hard_disconnect_at_ = now + HardDisconnectInterval(rtt_.smoothed());
        } else {
            Terminate(abort_reason_, now);
            return;
        }
    }
    if (state_ != ConnectionState::kConnected && state_ != ConnectionState::kClosing)
        return;
    if (now >= ack_at_) {
        ack_at_ = kNever;
        ack_now_ = true;
    }
    if (now >= send_mask_at_) {
        send_mask_at_ = kNever;
        ack_now_ = true;
    }
    for (uint8_t s = send_base_; s != next_send_ && state_ != ConnectionState::kClosed; ++s) {
        SentFrame& f = sent_[s];
        if (!f.sacked && !f.retransmit_pending && now >= f.retry_at) {
            OnFrameTimer(s, now);
        }
    }
    if (state_ == ConnectionState::kClosed)
        return;
    ExpireQueue(now);
    if (state_ == ConnectionState::kConnected &&
        now >= std::max(last_receive_, last_keepalive_) + config_.keepalive_interval) {
        last_keepalive_ = now;
        // Frames in flight already probe the peer; a keep-alive is for an idle link.
        if (Outstanding() == 0 && queue_.empty()) {
            OutMessage keepalive;
            keepalive.kind = ItemKind::kKeepAlive;
            queue_.push_back(std::move(keepalive));
        }
    }
}

std::optional<Event> Connection::PollEvent() {
    if (events_.empty())
        return std::nullopt;
    Event e = std::move(events_.front());
    events_.pop_front();
    return e;
}

bool Connection::PollTransmit(Millis now, Bytes& out) {
    out.clear();
    if (!control_out_.empty()) {
        out.swap(control_out_.front());
        control_out_.erase(control_out_.begin());
        CountSent(out.size(), now);
        return true;
    }
    if (state_ == ConnectionState::kConnected || state_ == ConnectionState::kClosing) {
        if (BuildRetransmit(now, out) || BuildNewFrame(now, out)) {
            CountSent(out.size(), now);
            return true;
        }
    }
    if (ack_now_ && (state_ == ConnectionState::kConnected || state_ == ConnectionState::kClosing ||
                     state_ == ConnectionState::kClosed)) {
        BuildSack(now, out);
        CountSent(out.size(), now);
        CheckCloseComplete(now);
        return true;
    }
    return false;
}

void Connection::CountSent(size_t bytes, Millis now) {
    ++stats_.datagrams_sent;
    stats_.bytes_sent += bytes;
    RollThroughput(now);
    throughput_window_bytes_ += bytes;
}

void Connection::RollThroughput(Millis now) {
    Millis elapsed = now - throughput_window_start_;
    if (elapsed >= 1000) {
        stats_.throughput_bps = uint32_t(throughput_window_bytes_ * 1000 / uint64_t(elapsed));
        throughput_window_start_ = now;
        throughput_window_bytes_ = 0;
    }
}

ConnectionStats Connection::Stats(Millis now) const {
    ConnectionStats s = stats_;
    s.round_trip_ms = rtt_.smoothed();
    // A window left open for two seconds or more means the link has gone quiet.
    if (now - throughput_window_start_ >= 2000)
        s.throughput_bps = 0;
    return s;
}

}  // namespace dplay8

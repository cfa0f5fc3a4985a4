// The sending half of a connection: the message queue, framing (plain, fragmented and
// coalesced), the window, retries, send masks and the processing of acknowledgments.

#include <algorithm>

#include "dplay8/connection.h"

namespace dplay8 {

namespace {

constexpr size_t kMaxWindow = 64;
static_assert(kMaxWindow <= SequenceSlots<int>::kSize, "a slot for every frame in flight");
// DFRAME header with both 64-bit masks; room is kept for them so that a retry, which
// carries the latest masks, still fits in a datagram.
constexpr size_t kMaxDataHeader = 20;

uint32_t Tick(Millis now) {
    return uint32_t(uint64_t(now));
}

void ResetFrame(auto& f) {
    f.active = false;
    f.command = 0;
    f.control = 0;
    f.reliable = false;
    f.coalesced = false;
    // A coalesced frame's pieces are given back: a connection does not keep 64 frames'
    // worth of them after a burst.
    if (f.pieces.capacity() > 1)
        std::remove_reference_t<decltype(f.pieces)>().swap(f.pieces);
    else
        f.pieces.clear();
    f.first_sent = 0;
    f.last_sent = 0;
    f.retry_at = kNever;
    f.attempts = 0;
    f.sacked = false;
    f.dropped = false;
    f.retransmit_pending = false;
}

}  // namespace

std::optional<uint64_t> Connection::Send(ByteSpan data, const SendOptions& options, Millis now) {
    if (state_ != ConnectionState::kConnected || data.empty() ||
        data.size() > config_.max_message_size) {
        return std::nullopt;
    }
    OutMessage m;
    m.id = next_send_id_++;
    // An empty queue takes any one message, however small the bound.
    const bool full =
        queued_messages_ > 0 && (queued_messages_ + 1 > config_.max_queued_messages ||
                                 queued_bytes_ + data.size() > config_.max_queued_bytes);
    if (full && options.guaranteed) {
        // The peer cannot keep up with what it must receive: holding more would let one
        // slow or silent client take the server's memory.
        Abort(now, DisconnectReason::kSendBacklog);
        return std::nullopt;
    }
    if (full) {
        // Too late to matter by the time it could go out.
        ++stats_.messages_timed_out;
        EmitSendComplete(m.id, SendResult::kTimedOut);
        return m.id;
    }
    m.command = uint8_t((options.guaranteed ? kCommandReliable : 0) |
                        (options.sequential ? kCommandSequential : 0) |
                        (options.user_flags & (kCommandUser1 | kCommandUser2)));
    m.data.assign(data.begin(), data.end());
    const Millis timeout =
        options.timeout > 0 || options.guaranteed ? options.timeout : config_.unguaranteed_timeout;
    if (timeout > 0) {
        m.deadline = now + timeout;
        queue_deadlines_.insert(m.deadline);
    }
    ++queued_messages_;
    queued_bytes_ += m.data.size();
    uint64_t id = m.id;
    queue_.push_back(std::move(m));
    return id;
}

size_t Connection::WindowLimit() const {
    return std::min(cwnd_, kMaxWindow);
}

size_t Connection::MaxFramePayload() const {
    return config_.max_datagram - kMaxDataHeader;
}

void Connection::EraseDeadline(const OutMessage& m) {
    if (m.deadline == kNever)
        return;
    auto it = queue_deadlines_.find(m.deadline);
    if (it != queue_deadlines_.end())
        queue_deadlines_.erase(it);
}

void Connection::Unqueued(const OutMessage& m) {
    if (m.kind != ItemKind::kData)
        return;
    --queued_messages_;
    queued_bytes_ -= m.data.size();
}

void Connection::EmitSendComplete(uint64_t id, SendResult result) {
    Event e;
    e.type = EventType::kSendComplete;
    e.send_id = id;
    e.result = result;
    events_.push_back(std::move(e));
}

void Connection::ExpireQueue(Millis now) {
    if (queue_deadlines_.empty() || *queue_deadlines_.begin() > now)
        return;
    for (auto it = queue_.begin(); it != queue_.end();) {
        // A message whose first fragment went out is committed and no longer expires.
        if (it->kind == ItemKind::kData && it->sent_offset == 0 && it->deadline <= now) {
            EraseDeadline(*it);
            ++stats_.messages_timed_out;
            EmitSendComplete(it->id, SendResult::kTimedOut);
            Unqueued(*it);
            it = queue_.erase(it);
        } else {
            ++it;
        }
    }
}

bool Connection::BuildNewFrame(Millis now, Bytes& out) {
    if (end_stream_sent_)
        return false;
    ExpireQueue(now);
    if (queue_.empty() || Outstanding() >= WindowLimit())
        return false;

    uint8_t seq = next_send_;
    SentFrame& f = sent_[seq];
    ResetFrame(f);
    OutMessage& front = queue_.front();
    size_t max_payload = MaxFramePayload();
    bool always_poll = false;

    if (front.kind != ItemKind::kData) {
        f.command = kCommandReliable | kCommandSequential | kCommandNewMsg | kCommandEndMsg;
        if (front.kind == ItemKind::kKeepAlive) {
            f.control = kControlKeepAliveOrCorrelate;
        } else {
            f.control = kControlEndStream;
            end_stream_sent_ = true;
            end_stream_seq_ = seq;
        }
        always_poll = true;
        queue_.pop_front();
    } else if (front.sent_offset > 0 || front.data.size() > max_payload) {
        // A message larger than one frame goes out in consecutive fragments.
        size_t chunk = std::min(front.data.size() - front.sent_offset, max_payload);
        bool first = front.sent_offset == 0;
        bool last = front.sent_offset + chunk == front.data.size();
        Piece p;
        p.id = front.id;
        p.command = front.command;
        p.data.assign(front.data.begin() + std::ptrdiff_t(front.sent_offset),
                      front.data.begin() + std::ptrdiff_t(front.sent_offset + chunk));
        p.completes_message = last;
        f.command =
            uint8_t(front.command | (first ? kCommandNewMsg : 0) | (last ? kCommandEndMsg : 0));
        f.pieces.push_back(std::move(p));
        if (first) {
            EraseDeadline(front);
            front.deadline = kNever;
        }
        front.sent_offset += chunk;
        if (last) {
            ++stats_.messages_sent;
            Unqueued(front);
            queue_.pop_front();
        }
    } else {
        // Small messages share a frame when the peer understands coalescing.
        size_t count = 1;
        bool can_coalesce =
            remote_version_ >= kCoalesceVersion && config_.protocol_version >= kCoalesceVersion;
        if (can_coalesce) {
            size_t padded = 0;
            count = 0;
            for (const OutMessage& m : queue_) {
                if (count == kMaxCoalesced || m.kind != ItemKind::kData || m.sent_offset != 0 ||
                    m.data.size() > kMaxCoalescedPartSize) {
                    break;
                }
                size_t with_this = padded + m.data.size();
                if (CoalescedSize(count + 1, with_this) > max_payload)
                    break;
                padded = with_this + (PadTo4(m.data.size()) - m.data.size());
                ++count;
            }
            count = std::max<size_t>(count, 1);
        }
        if (count >= 2) {
            f.coalesced = true;
            f.control = kControlCoalesce;
            f.command = kCommandNewMsg | kCommandEndMsg;
            for (size_t i = 0; i < count; ++i) {
                OutMessage& m = queue_.front();
                f.command |= m.command & (kCommandReliable | kCommandSequential);
                EraseDeadline(m);
                Unqueued(m);
                f.pieces.push_back(Piece{m.id, m.command, std::move(m.data), true, false});
                queue_.pop_front();
            }
            stats_.messages_sent += count;
        } else {
            f.command = uint8_t(front.command | kCommandNewMsg | kCommandEndMsg);
            EraseDeadline(front);
            Unqueued(front);
            f.pieces.push_back(Piece{front.id, front.command, std::move(front.data), true, false});
            queue_.pop_front();
            ++stats_.messages_sent;
        }
    }

    f.active = true;
    f.reliable = (f.command & kCommandReliable) != 0;
    f.first_sent = now;
    f.last_sent = now;
    f.attempts = 1;
    f.retry_at = now + DataRetryInterval(rtt_.smoothed(), 0, config_.retry);
    // Ask for an immediate acknowledgment when nothing more will follow soon: the queue is
    // empty or the window is about to fill.
    bool poll = always_poll || queue_.empty() || Outstanding() + 1 >= WindowLimit();
    ++next_send_;
    WriteFrame(seq, f, poll, false, out);
    CheckCloseComplete(now);
    return true;
}

bool Connection::BuildRetransmit(Millis now, Bytes& out) {
    while (!retransmit_.empty()) {
        uint8_t seq = retransmit_.front();
        retransmit_.erase(retransmit_.begin());
        SentFrame& f = sent_[seq];
        // A sequence number that has left the window names another frame in its slot now.
        if (uint8_t(seq - send_base_) >= Outstanding())
            continue;
        if (!f.active || !f.retransmit_pending || f.sacked) {
            f.retransmit_pending = false;
            continue;
        }
        f.retransmit_pending = false;
        ++f.attempts;
        ++stats_.retries;
        f.last_sent = now;
        f.retry_at = now + DataRetryInterval(rtt_.smoothed(), f.attempts - 1, config_.retry);
        WriteFrame(seq, f, true, true, out);
        CheckCloseComplete(now);
        return true;
    }
    return false;
}

void Connection::WriteFrame(uint8_t seq, SentFrame& f, bool poll, bool retry, Bytes& out) {
    DataFrameHeader h;
    h.command = uint8_t(f.command | (poll ? kCommandPoll : 0));
    h.control =
        uint8_t((f.control & (kControlCoalesce | kControlEndStream)) | (retry ? kControlRetry : 0));
    h.seq = seq;
    h.next_recv = next_recv_;
    h.sack_mask = SackMask();
    h.send_mask = SendMaskFor(seq);
    bool keepalive = (f.control & kControlKeepAliveOrCorrelate) != 0;
    if (keepalive && KeepAliveHasSession())
        h.session_id = session_id_;
    out.clear();
    EncodeDataHeader(h, out);
    if (f.coalesced) {
        std::vector<CoalescedPart> parts;
        parts.reserve(f.pieces.size());
        for (const Piece& p : f.pieces) {
            if (!p.dropped)
                parts.push_back(CoalescedPart{p.command, p.data});
        }
        EncodeCoalesced(parts, out);
    } else if (!f.pieces.empty()) {
        out.insert(out.end(), f.pieces[0].data.begin(), f.pieces[0].data.end());
    }
    // The frame carries our acknowledgment state, so no separate SACK is owed. Only a new
    // frame, the newest sequence number, can name every frame given up before it.
    ack_now_ = false;
    ack_at_ = kNever;
    if (!retry)
        send_mask_at_ = kNever;
    if (peer_end_stream_)
        peer_end_stream_acked_ = true;
}

void Connection::BuildSack(Millis now, Bytes& out) {
    SackFrame s;
    s.response = true;
    s.retry = last_was_retry_ ? 1 : 0;
    s.next_seq = next_send_;
    s.next_recv = next_recv_;
    s.timestamp = Tick(now);
    s.sack_mask = SackMask();
    s.send_mask = SendMaskFor(next_send_);
    out.clear();
    EncodeSack(s, out);
    ack_now_ = false;
    ack_at_ = kNever;
    send_mask_at_ = kNever;
    if (peer_end_stream_)
        peer_end_stream_acked_ = true;
}

uint64_t Connection::SendMaskFor(uint8_t base) const {
    // Bit i stands for sequence number base - 1 - i.
    uint64_t mask = 0;
    for (uint8_t s = send_base_; s != next_send_; ++s) {
        const SentFrame& f = sent_[s];
        if (!f.dropped || f.sacked)
            continue;
        uint8_t distance = uint8_t(base - 1 - s);
        if (distance < 64)
            mask |= uint64_t(1) << distance;
    }
    return mask;
}

void Connection::ProcessAck(uint8_t next_recv, uint64_t sack_mask, Millis now) {
    if (uint8_t(next_recv - send_base_) > Outstanding())
        return;  // not a sequence we sent
    // The round trip is measured on the newest frame this report acknowledges for the first
    // time, and only if it went out once: an older frame may have waited behind a gap.
    Millis sample = -1;
    while (send_base_ != next_recv) {
        SentFrame& f = sent_[send_base_];
        sample = (f.attempts == 1 && !f.dropped && !f.sacked) ? now - f.first_sent : -1;
        if (end_stream_sent_ && send_base_ == end_stream_seq_)
            end_stream_acked_ = true;
        if (cwnd_ < kMaxWindow && f.attempts == 1)
            ++cwnd_;
        CompleteFrame(f);
        ++send_base_;
    }
    if (sack_mask != 0 && Outstanding() != 0) {
        // Bit i stands for sequence number next_recv + 1 + i.
        for (int i = 0; i < 64; ++i) {
            if ((sack_mask >> i & 1) == 0)
                continue;
            uint8_t s = uint8_t(next_recv + 1 + i);
            if (uint8_t(s - send_base_) >= Outstanding())
                continue;
            SentFrame& f = sent_[s];
            if (!f.sacked && f.attempts == 1 && !f.dropped)
                sample = now - f.first_sent;
            f.sacked = true;
        }
        // The receiver has a gap at the front of the window: retry it soon, unless it went
        // out again within the last round trip and this report predates it.
        SentFrame& first = sent_[send_base_];
        if (first.reliable && !first.sacked && !first.retransmit_pending &&
            now - first.last_sent > rtt_.smoothed()) {
            first.retry_at = std::min(first.retry_at, now + 10);
        }
    }
    if (sample >= 0)
        rtt_.Sample(sample);
}

void Connection::CompleteFrame(SentFrame& f) {
    for (Piece& p : f.pieces) {
        if (!p.completes_message) {
            if (p.dropped)
                dropped_fragments_.insert(p.id);
            continue;
        }
        bool dropped = p.dropped && !f.sacked;
        if (dropped_fragments_.erase(p.id) > 0)
            dropped = true;
        EmitSendComplete(p.id, dropped ? SendResult::kDropped : SendResult::kDelivered);
    }
    ResetFrame(f);
}

void Connection::OnFrameTimer(uint8_t seq, Millis now) {
    SentFrame& f = sent_[seq];
    if (f.attempts > config_.retry.max_retries) {
        CancelAll(SendResult::kCancelled);
        Terminate(DisconnectReason::kConnectionLost, now);
        return;
    }
    if (f.dropped) {
        // The send mask that gave this frame up went unanswered: say it again. Until the
        // peer's next-receive passes the frame it holds a place in the window.
        ++f.attempts;
        f.retry_at = now + DataRetryInterval(rtt_.smoothed(), f.attempts - 1, config_.retry);
        ack_now_ = true;
        return;
    }
    cwnd_ = std::max<size_t>(2, cwnd_ / 2);
    if (!f.reliable) {
        // Never retried: the peer learns from a send mask that it will not come.
        f.dropped = true;
        for (Piece& p : f.pieces)
            p.dropped = true;
        ++stats_.frames_dropped;
        ++f.attempts;
        f.retry_at = now + DataRetryInterval(rtt_.smoothed(), f.attempts - 1, config_.retry);
        if (send_mask_at_ == kNever)
            send_mask_at_ = now + config_.send_mask_delay;
        return;
    }
    // Only the guaranteed parts of a coalesced frame are repeated.
    for (Piece& p : f.pieces) {
        if (!(p.command & kCommandReliable))
            p.dropped = true;
    }
    f.retransmit_pending = true;
    retransmit_.push_back(seq);
}

}  // namespace dplay8

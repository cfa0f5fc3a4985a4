// The receiving half of a connection: sequence validation, reordering, send masks,
// coalesced and fragmented payloads, delivery and the acknowledgments owed.

#include <algorithm>

#include "dplay8/connection.h"

namespace dplay8 {

namespace {

constexpr uint8_t kReceiveWindow = 64;
static_assert(kReceiveWindow <= SequenceSlots<int>::kSize, "a slot for every frame held");
constexpr uint8_t kUserFlags = kCommandUser1 | kCommandUser2;

}  // namespace

bool Connection::KeepAliveHasSession() const {
    return remote_version_ >= kCoalesceVersion && config_.protocol_version >= kCoalesceVersion;
}

void Connection::ScheduleAck(Millis at) {
    ack_at_ = std::min(ack_at_, at);
}

uint64_t Connection::SackMask() const {
    // Bit i stands for sequence number next_recv + 1 + i.
    uint64_t mask = 0;
    for (int i = 0; i < kReceiveWindow - 1; ++i) {
        if (recv_[uint8_t(next_recv_ + 1 + i)].present)
            mask |= uint64_t(1) << i;
    }
    return mask;
}

void Connection::HandleData(ByteSpan datagram, Millis now) {
    ByteSpan payload;
    auto h = DecodeDataFrame(datagram, KeepAliveHasSession(), payload);
    if (!h || (h->session_id && *h->session_id != session_id_))
        return;
    // The connector sends data only once it is connected, so its first frames (which can
    // acknowledge nothing of ours yet) prove that our CONNECTED arrived even if its
    // confirmation did not.
    if (state_ == ConnectionState::kAwaitingConfirm) {
        if (h->next_recv != 0 || h->seq >= kReceiveWindow)
            return;
        Establish(now);
    }
    if (state_ != ConnectionState::kConnected && state_ != ConnectionState::kClosing &&
        state_ != ConnectionState::kClosed) {
        return;
    }
    if (state_ == ConnectionState::kClosed) {
        // Lingering after a graceful close: acknowledge repeats so that the peer can finish.
        if (now < linger_until_)
            ack_now_ = true;
        return;
    }
    last_receive_ = now;
    last_was_retry_ = (h->control & kControlRetry) != 0;
    ProcessAck(h->next_recv, h->sack_mask, now);
    if (state_ == ConnectionState::kClosed)
        return;

    bool poll = (h->command & kCommandPoll) != 0 ||
                (!KeepAliveHasSession() && (h->control & kControlKeepAliveOrCorrelate));
    uint8_t offset = uint8_t(h->seq - next_recv_);
    bool beyond_end = peer_end_known_ && offset > uint8_t(peer_end_seq_ - next_recv_);
    if (offset >= kReceiveWindow || beyond_end) {
        // Old (already acknowledged) or impossible: tell the sender where we are.
        ++stats_.duplicates;
        if (poll) {
            ack_now_ = true;
        } else {
            ScheduleAck(now + config_.quick_ack);
        }
        return;
    }
    if (h->send_mask)
        ApplySendMask(h->seq, h->send_mask);
    RecvSlot& slot = recv_[h->seq];
    bool duplicate = slot.present;
    if (duplicate) {
        ++stats_.duplicates;
    } else if (!slot.dropped) {
        slot.present = true;
        slot.command = h->command;
        slot.control = h->control;
        slot.payload.assign(payload.begin(), payload.end());
        if (h->control & kControlEndStream) {
            peer_end_known_ = true;
            peer_end_seq_ = h->seq;
        }
        if (offset > 0 && !(h->command & kCommandSequential))
            DeliverEarly(slot);
    }
    Advance(now);
    if (state_ == ConnectionState::kClosed)
        return;
    if ((poll && config_.poll_ack_hold == 0) || (h->control & kControlEndStream)) {
        ack_now_ = true;
    } else if (poll) {
        ScheduleAck(now + config_.poll_ack_hold);
    } else if (offset > 0 || duplicate) {
        ScheduleAck(now + config_.quick_ack);
    } else {
        ScheduleAck(now + config_.delayed_ack);
    }
    CheckCloseComplete(now);
}

void Connection::ApplySendMask(uint8_t base, uint64_t mask) {
    // Bit i stands for sequence number base - 1 - i, which the sender will never repeat.
    for (int i = 0; i < 64; ++i) {
        if ((mask >> i & 1) == 0)
            continue;
        uint8_t s = uint8_t(base - 1 - i);
        if (uint8_t(s - next_recv_) >= kReceiveWindow)
            continue;
        RecvSlot& slot = recv_[s];
        if (!slot.present)
            slot.dropped = true;
    }
}

void Connection::DeliverEarly(RecvSlot& slot) {
    if (slot.control & kControlKeepAliveOrCorrelate && KeepAliveHasSession())
        return;
    if (slot.control & kControlCoalesce) {
        if (DecodeCoalesced(slot.payload, parts_scratch_)) {
            for (const auto& part : parts_scratch_) {
                Deliver(Bytes(part.data.begin(), part.data.end()), part.command);
            }
        }
        slot.delivered_early = true;
    } else if ((slot.command & kCommandNewMsg) && (slot.command & kCommandEndMsg)) {
        if (!slot.payload.empty())
            Deliver(slot.payload, slot.command);
        slot.delivered_early = true;
    }
}

void Connection::Advance(Millis now) {
    while (state_ != ConnectionState::kClosed) {
        RecvSlot& slot = recv_[next_recv_];
        if (!slot.present && !slot.dropped)
            break;
        if (slot.present) {
            ProcessInOrder(slot, now);
        } else {
            // A frame will never come: a message it began or continued is lost, and the
            // fragments after the gap are dropped until the next message starts.
            reassembling_ = false;
            reassembly_.clear();
            after_gap_ = true;
        }
        slot.present = false;
        slot.dropped = false;
        slot.delivered_early = false;
        slot.payload.clear();
        ++next_recv_;
    }
}

void Connection::ProcessInOrder(RecvSlot& slot, Millis now) {
    uint8_t command = slot.command;
    bool keepalive = (slot.control & kControlKeepAliveOrCorrelate) && KeepAliveHasSession();
    if (keepalive) {
        // Nothing to deliver.
    } else if (slot.control & kControlCoalesce) {
        if (!slot.delivered_early && DecodeCoalesced(slot.payload, parts_scratch_)) {
            for (const auto& part : parts_scratch_) {
                Deliver(Bytes(part.data.begin(), part.data.end()), part.command);
            }
        }
    } else {
        bool new_msg = command & kCommandNewMsg;
        bool end_msg = command & kCommandEndMsg;
        if (new_msg)
            after_gap_ = false;
        const bool continues = !new_msg && reassembling_;
        if (!after_gap_ &&
            slot.payload.size() + (continues ? reassembly_.size() : 0) > config_.max_message_size) {
            // Refused before a byte is copied: the message would outgrow the limit.
            CancelAll(SendResult::kCancelled);
            for (int i = 0; i < config_.hard_disconnects; ++i)
                QueueHardDisconnect(now);
            Terminate(DisconnectReason::kProtocolError, now);
            return;
        }
        if (after_gap_) {
            // The rest of a message whose earlier fragment was given up.
            if (end_msg)
                after_gap_ = false;
        } else if (new_msg || !reassembling_) {
            // A new message; an unfinished one before it is abandoned.
            reassembling_ = false;
            reassembly_.clear();
            if (end_msg) {
                if (!slot.delivered_early && !slot.payload.empty()) {
                    Deliver(std::move(slot.payload), command);
                }
            } else {
                reassembling_ = true;
                reassembly_command_ = command;
                reassembly_.swap(slot.payload);
            }
        } else {
            reassembly_.insert(reassembly_.end(), slot.payload.begin(), slot.payload.end());
            if (end_msg) {
                reassembling_ = false;
                Deliver(std::move(reassembly_), reassembly_command_);
                reassembly_.clear();
            }
        }
    }
    if (slot.control & kControlEndStream) {
        peer_end_stream_ = true;
        ack_now_ = true;
        if (state_ == ConnectionState::kConnected) {
            state_ = ConnectionState::kClosing;
            OutMessage end;
            end.kind = ItemKind::kEndStream;
            queue_.push_back(std::move(end));
        }
    }
}

void Connection::Deliver(Bytes data, uint8_t command) {
    ++stats_.messages_received;
    Event e;
    e.type = EventType::kMessage;
    e.data = std::move(data);
    e.guaranteed = (command & kCommandReliable) != 0;
    e.sequential = (command & kCommandSequential) != 0;
    e.user_flags = command & kUserFlags;
    events_.push_back(std::move(e));
}

}  // namespace dplay8

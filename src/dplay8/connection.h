#pragma once
// One transport connection to one remote endpoint ([MC-DPL8R]), without sockets, threads or
// clocks. The owner feeds it received datagrams and the current time and takes back
// datagrams to send, events and the time at which it wants to be called again:
//
//   conn.HandleDatagram(bytes, now);          // for every datagram from the peer
//   if (now >= conn.NextTimeout()) conn.HandleTimeout(now);
//   while (conn.PollTransmit(now, buf)) send(buf);
//   while (auto e = conn.PollEvent()) ...;
//
// Nothing here blocks or allocates more than the data it holds; malformed datagrams are
// dropped silently.

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <unordered_set>
#include <vector>

#include "dplay8/byte_io.h"
#include "dplay8/coalesce.h"
#include "dplay8/frames.h"
#include "dplay8/retry_policy.h"

namespace dplay8 {

inline constexpr Millis kNever = INT64_MAX;

struct ConnectionConfig {
    uint32_t protocol_version = kProtocolVersion;
    size_t max_datagram = 1400;  // UDP payload bytes per datagram
    Millis keepalive_interval = 25000;
    Millis delayed_ack = 100;
    Millis quick_ack = 20;  // acknowledging out-of-order or duplicate frames
    // How long a frame that asks for an immediate acknowledgment (POLL) may wait for data of
    // ours to carry it. A server whose handlers answer each request within this time sends no
    // acknowledgment of its own for them; 0 acknowledges at once.
    Millis poll_ack_hold = 0;
    Millis send_mask_delay = 40;
    RetryLimits retry;
    size_t max_message_size = 1 << 20;  // a larger incoming message ends the connection
    int hard_disconnects = 3;
    // What may wait in the send queue (not yet framed) for a peer that does not keep up:
    // an unguaranteed message beyond it is dropped, a guaranteed one ends the connection.
    size_t max_queued_bytes = 256 * 1024;
    size_t max_queued_messages = 4096;
    // An unguaranteed message sent without a time-out is dropped after this long unsent.
    Millis unguaranteed_timeout = 1000;
};

// The frames of one direction of a connection by their 8-bit sequence number. At most 64 are
// ever live at once (the send window and the receive window are 64 frames), so 64 slots hold
// them, a quarter of the sequence space: a connection is a few kilobytes, not tens.
template <typename T>
class SequenceSlots {
public:
    static constexpr size_t kSize = 64;
    T& operator[](uint8_t seq) { return slots_[seq & (kSize - 1)]; }
    const T& operator[](uint8_t seq) const { return slots_[seq & (kSize - 1)]; }

private:
    std::array<T, kSize> slots_{};
};

enum class ConnectionState {
    kConnecting,       // connector: CONNECT sent
    kAwaitingConfirm,  // listener: CONNECTED sent, waiting for the connector's CONNECTED
    kConnected,
    kClosing,   // graceful close under way (END_STREAM queued or sent)
    kAborting,  // HARD_DISCONNECTs being sent
    kClosed,
};

enum class DisconnectReason {
    kClosedLocally,   // our graceful close completed
    kClosedByPeer,    // the peer's graceful close completed
    kAbortedLocally,  // our hard disconnect
    kAbortedByPeer,   // the peer's HARD_DISCONNECT
    kConnectionLost,  // a frame ran out of retries
    kConnectFailed,   // the handshake ran out of retries
    kProtocolError,   // the peer broke a limit (an oversized message)
    kSendBacklog,     // the peer fell so far behind that its guaranteed data passed the bound
};

enum class SendResult { kDelivered, kDropped, kTimedOut, kCancelled };

enum class EventType { kConnected, kMessage, kSendComplete, kDisconnected };

struct Event {
    EventType type = EventType::kConnected;
    // kMessage
    Bytes data;
    bool guaranteed = false;
    bool sequential = false;
    uint8_t user_flags = 0;  // kCommandUser1 / kCommandUser2
    // kSendComplete
    uint64_t send_id = 0;
    SendResult result = SendResult::kDelivered;
    // kDisconnected
    DisconnectReason reason = DisconnectReason::kClosedLocally;
};

struct SendOptions {
    bool guaranteed = false;
    bool sequential = true;
    uint8_t user_flags = 0;
    Millis timeout = 0;  // > 0: drop the message if it has not gone out within this time
};

struct ConnectionStats {
    Millis round_trip_ms = 0;
    uint32_t throughput_bps = 0;  // bytes sent per second over the last full second
    uint64_t messages_sent = 0;
    uint64_t messages_received = 0;
    uint64_t messages_timed_out = 0;
    uint64_t bytes_sent = 0;
    uint64_t bytes_received = 0;
    uint64_t datagrams_sent = 0;
    uint64_t datagrams_received = 0;
    uint64_t retries = 0;
    uint64_t frames_dropped = 0;  // non-guaranteed frames given up and announced in send masks
    uint64_t duplicates = 0;
};

class Connection {
public:
    // Starts an outgoing connection: the first CONNECT is ready to send.
    static Connection Connect(const ConnectionConfig& config, uint32_t session_id, Millis now);
    // Answers a CONNECT received by a listener; nothing when the datagram is not an
    // acceptable CONNECT.
    static std::optional<Connection> Accept(const ConnectionConfig& config, ByteSpan connect,
                                            Millis now);

    void HandleDatagram(ByteSpan datagram, Millis now);
    void HandleTimeout(Millis now);
    Millis NextTimeout() const;
    // Writes the next datagram to send into `out` (replacing its content).
    bool PollTransmit(Millis now, Bytes& out);
    std::optional<Event> PollEvent();

    // Queues a message; nothing when the connection cannot send (not connected, closing,
    // empty or oversized message).
    std::optional<uint64_t> Send(ByteSpan data, const SendOptions& options, Millis now);
    // Graceful close: queued data goes out, then END_STREAM.
    void Close(Millis now);
    // Hard disconnect: queued data is cancelled and HARD_DISCONNECTs are sent; the
    // kDisconnected event at the end carries `reason`.
    void Abort(Millis now, DisconnectReason reason = DisconnectReason::kAbortedLocally);

    // Asks the peer for an immediate answer (a keep-alive that polls), so that whether it is
    // still there shows within a round trip or two.
    void Probe(Millis now);
    // Changes the largest message the peer may send from here on.
    void set_max_message_size(size_t size) { config_.max_message_size = size; }

    ConnectionState state() const { return state_; }
    Millis last_receive() const { return last_receive_; }
    Millis smoothed_rtt() const { return rtt_.smoothed(); }
    // When the oldest frame in flight is next repeated (kNever with none in flight): until
    // then a probe may wait behind a full window.
    Millis NextRetryAt() const;
    bool is_connected() const { return state_ == ConnectionState::kConnected; }
    // True once the connection is closed and no longer needs to answer its peer.
    bool finished(Millis now) const {
        return state_ == ConnectionState::kClosed && now >= linger_until_;
    }
    uint32_t session_id() const { return session_id_; }
    uint32_t remote_version() const { return remote_version_; }
    ConnectionStats Stats(Millis now) const;
    // Data messages queued and not yet framed, and their bytes.
    size_t queued_messages() const { return queued_messages_; }
    size_t queued_bytes() const { return queued_bytes_; }

private:
    enum class ItemKind : uint8_t { kData, kKeepAlive, kEndStream };

    struct OutMessage {
        uint64_t id = 0;
        ItemKind kind = ItemKind::kData;
        uint8_t command = 0;  // kCommandReliable | kCommandSequential | user bits
        Bytes data;
        size_t sent_offset = 0;  // progress through a fragmented message
        Millis deadline = kNever;
    };

    struct Piece {
        uint64_t id = 0;
        uint8_t command = 0;
        Bytes data;
        bool completes_message = true;  // the last (or only) fragment
        bool dropped = false;
    };

    struct SentFrame {
        bool active = false;
        uint8_t command = 0;  // DFRAME bCommand without POLL
        uint8_t control = 0;  // kControlCoalesce / kControlEndStream / keep-alive
        bool reliable = false;
        bool coalesced = false;
        std::vector<Piece> pieces;
        Millis first_sent = 0;
        Millis last_sent = 0;
        Millis retry_at = kNever;
        int attempts = 0;  // transmissions so far
        bool sacked = false;
        bool dropped = false;
        bool retransmit_pending = false;
    };

    struct RecvSlot {
        bool present = false;
        bool dropped = false;  // released by a send mask
        bool delivered_early = false;
        uint8_t command = 0;
        uint8_t control = 0;
        Bytes payload;
    };

    Connection(const ConnectionConfig& config, uint32_t session_id, bool listener, Millis now);

    // Handshake and command frames (connection.cpp).
    void HandleCommand(ByteSpan datagram, Millis now);
    void HandleConnect(const HandshakeFrame& f, Millis now);
    void HandleConnected(const HandshakeFrame& f, Millis now);
    void HandleHardDisconnect(const HandshakeFrame& f, Millis now);
    void Establish(Millis now);
    void QueueHandshake(uint8_t opcode, bool poll, uint8_t rsp_id, Millis now);
    void QueueHardDisconnect(Millis now);
    void Terminate(DisconnectReason reason, Millis now);
    void CancelAll(SendResult result);
    void CheckCloseComplete(Millis now);
    void RollThroughput(Millis now);
    void CountSent(size_t bytes, Millis now);

    // Sending (connection_send.cpp).
    bool BuildNewFrame(Millis now, Bytes& out);
    bool BuildRetransmit(Millis now, Bytes& out);
    void BuildSack(Millis now, Bytes& out);
    void WriteFrame(uint8_t seq, SentFrame& f, bool poll, bool retry, Bytes& out);
    void ProcessAck(uint8_t next_recv, uint64_t sack_mask, Millis now);
    void CompleteFrame(SentFrame& f);
    void OnFrameTimer(uint8_t seq, Millis now);
    uint64_t SendMaskFor(uint8_t base) const;
    size_t WindowLimit() const;
    size_t Outstanding() const { return uint8_t(next_send_ - send_base_); }
    size_t MaxFramePayload() const;
    void EraseDeadline(const OutMessage& m);
    void Unqueued(const OutMessage& m);  // a data message left the queue
    void ExpireQueue(Millis now);
    void EmitSendComplete(uint64_t id, SendResult result);

    // Receiving (connection_receive.cpp).
    void HandleData(ByteSpan datagram, Millis now);
    void ApplySendMask(uint8_t base, uint64_t mask);
    void DeliverEarly(RecvSlot& slot);
    void Advance(Millis now);
    void ProcessInOrder(RecvSlot& slot, Millis now);
    void Deliver(Bytes data, uint8_t command);
    uint64_t SackMask() const;
    void ScheduleAck(Millis at);
    bool KeepAliveHasSession() const;

    ConnectionConfig config_;
    ConnectionState state_;
    bool listener_;
    uint32_t session_id_;
    uint32_t remote_version_ = 0;
    uint32_t connect_timestamp_;  // our tick when the handshake began (kept on retries)

    // Handshake.
    uint8_t next_msg_id_ = 0;
    uint8_t last_peer_msg_id_ = 0;
    int handshake_attempts_ = 0;
    Millis handshake_retry_at_ = kNever;
    // When the handshake frames were sent, for the first round-trip sample: the last 16
    // message ids, more than a handshake's retries.
    struct HandshakeSent {
        uint8_t msg_id = 0;
        Millis at = kNever;
    };
    std::array<HandshakeSent, 16> handshake_sent_{};
    void SampleHandshakeRtt(uint8_t rsp_id, Millis now);

    // Control datagrams (handshake, hard disconnect) waiting to go out.
    // Vectors, not deques: they are seldom used, and an empty deque still allocates.
    std::vector<Bytes> control_out_;
    std::deque<Event> events_;

    // Send side.
    std::deque<OutMessage> queue_;
    size_t queued_messages_ = 0;  // data messages in queue_, and their bytes
    size_t queued_bytes_ = 0;
    std::multiset<Millis> queue_deadlines_;
    uint64_t next_send_id_ = 1;
    SequenceSlots<SentFrame> sent_;
    uint8_t next_send_ = 0;
    uint8_t send_base_ = 0;  // oldest unacknowledged sequence number
    std::vector<uint8_t> retransmit_;
    size_t cwnd_ = 2;
    RttEstimator rtt_;
    bool end_stream_sent_ = false;
    uint8_t end_stream_seq_ = 0;
    bool end_stream_acked_ = false;
    Millis send_mask_at_ = kNever;
    std::unordered_set<uint64_t> dropped_fragments_;

    // Receive side.
    SequenceSlots<RecvSlot> recv_;
    uint8_t next_recv_ = 0;
    bool ack_now_ = false;
    Millis ack_at_ = kNever;
    bool last_was_retry_ = false;
    bool reassembling_ = false;
    bool after_gap_ = false;  // a given-up frame cut the current message short
    Bytes reassembly_;
    uint8_t reassembly_command_ = 0;
    bool peer_end_stream_ = false;  // the peer's END_STREAM has been processed in order
    bool peer_end_stream_acked_ = false;
    bool peer_end_known_ = false;  // an END_STREAM has arrived, perhaps out of order
    uint8_t peer_end_seq_ = 0;
    std::vector<CoalescedPart> parts_scratch_;

    // Liveness and teardown.
    Millis last_receive_ = 0;
    Millis last_keepalive_ = 0;
    int hard_disconnects_sent_ = 0;
    Millis hard_disconnect_at_ = kNever;
    Millis linger_until_ = 0;
    bool close_requested_locally_ = false;
    DisconnectReason abort_reason_ = DisconnectReason::kAbortedLocally;

    ConnectionStats stats_;
    Millis throughput_window_start_ = 0;
    uint64_t throughput_window_bytes_ = 0;
};

}  // namespace dplay8

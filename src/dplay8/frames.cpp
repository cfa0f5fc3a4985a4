#include "dplay8/frames.h"

namespace dplay8 {

namespace {

constexpr size_t kMinDataFrame = 4;
constexpr size_t kMinCommandFrame = 12;
constexpr size_t kHandshakeSize = 16;
constexpr size_t kSignedConnectedSize = 48;

bool ValidCommandByte(uint8_t b) {
    return b == kCommandCFrame || b == (kCommandCFrame | kCommandPoll);
}

void WriteMasks(ByteWriter& w, uint64_t sack, uint64_t send) {
    if (uint32_t(sack))
        w.U32(uint32_t(sack));
    if (sack >> 32)
        w.U32(uint32_t(sack >> 32));
    if (uint32_t(send))
        w.U32(uint32_t(send));
    if (send >> 32)
        w.U32(uint32_t(send >> 32));
}

}  // namespace

FrameKind ClassifyFrame(ByteSpan datagram) {
    if (datagram.size() >= kMinDataFrame && (datagram[0] & kCommandData))
        return FrameKind::kData;
    if (datagram.size() >= kMinCommandFrame && ValidCommandByte(datagram[0])) {
        return FrameKind::kCommand;
    }
    return FrameKind::kInvalid;
}

uint8_t CommandOpcode(ByteSpan datagram) {
    if (ClassifyFrame(datagram) != FrameKind::kCommand)
        return 0;
    return datagram[1];
}

void EncodeHandshake(const HandshakeFrame& f, Bytes& out) {
    ByteWriter w(out);
    w.U8(kCommandCFrame | (f.poll ? kCommandPoll : 0));
    w.U8(f.opcode);
    w.U8(f.msg_id);
    w.U8(f.rsp_id);
    w.U32(f.version);
    w.U32(f.session_id);
    w.U32(f.timestamp);
}

std::optional<HandshakeFrame> DecodeHandshake(ByteSpan datagram) {
    if (datagram.size() < kHandshakeSize)
        return std::nullopt;
    ByteReader r(datagram);
    uint8_t command = r.U8();
    HandshakeFrame f;
    f.opcode = r.U8();
    if (!ValidCommandByte(command))
        return std::nullopt;
    if (f.opcode != kOpConnect && f.opcode != kOpConnected && f.opcode != kOpHardDisconnect) {
        return std::nullopt;
    }
    f.poll = (command & kCommandPoll) != 0;
    f.msg_id = r.U8();
    f.rsp_id = r.U8();
    f.version = r.U32();
    f.session_id = r.U32();
    f.timestamp = r.U32();
    if (!r.ok())
        return std::nullopt;
    return f;
}

std::optional<SignedConnectedFrame> DecodeSignedConnected(ByteSpan datagram) {
    if (datagram.size() < kSignedConnectedSize)
        return std::nullopt;
    ByteReader r(datagram);
    uint8_t command = r.U8();
    SignedConnectedFrame f;
    f.head.opcode = r.U8();
    if (!ValidCommandByte(command) || f.head.opcode != kOpConnectedSigned)
        return std::nullopt;
    f.head.poll = (command & kCommandPoll) != 0;
    f.head.msg_id = r.U8();
    f.head.rsp_id = r.U8();
    f.head.version = r.U32();
    f.head.session_id = r.U32();
    f.head.timestamp = r.U32();
    f.connect_sig = r.U64();
    f.sender_secret = r.U64();
    f.receiver_secret = r.U64();
    f.signing_opts = r.U32();
    f.echo_timestamp = r.U32();
    if (!r.ok())
        return std::nullopt;
    return f;
}

void EncodeSack(const SackFrame& f, Bytes& out) {
    ByteWriter w(out);
    uint8_t flags = f.response ? kSackFlagResponse : 0;
    if (uint32_t(f.sack_mask))
        flags |= kSackFlagSackMask1;
    if (f.sack_mask >> 32)
        flags |= kSackFlagSackMask2;
    if (uint32_t(f.send_mask))
        flags |= kSackFlagSendMask1;
    if (f.send_mask >> 32)
        flags |= kSackFlagSendMask2;
    w.U8(kCommandCFrame | (f.poll ? kCommandPoll : 0));
    w.U8(kOpSack);
    w.U8(flags);
    w.U8(f.retry);
    w.U8(f.next_seq);
    w.U8(f.next_recv);
    w.U16(0);
    w.U32(f.timestamp);
    WriteMasks(w, f.sack_mask, f.send_mask);
}

std::optional<SackFrame> DecodeSack(ByteSpan datagram) {
    ByteReader r(datagram);
    uint8_t command = r.U8();
    if (!ValidCommandByte(command) || r.U8() != kOpSack)
        return std::nullopt;
    SackFrame f;
    f.poll = (command & kCommandPoll) != 0;
    uint8_t flags = r.U8();
    if (flags & ~uint8_t(0x1F))
        return std::nullopt;
    f.response = (flags & kSackFlagResponse) != 0;
    f.retry = r.U8();
    f.next_seq = r.U8();
    f.next_recv = r.U8();
    r.U16();
    f.timestamp = r.U32();
    uint64_t lo = 0, hi = 0;
    if (flags & kSackFlagSackMask1)
        lo = r.U32();
    if (flags & kSackFlagSackMask2)
        hi = r.U32();
    f.sack_mask = lo | hi << 32;
    lo = hi = 0;
    if (flags & kSackFlagSendMask1)
        lo = r.U32();
    if (flags & kSackFlagSendMask2)
        hi = r.U32();
    f.send_mask = lo | hi << 32;
    if (!r.ok())
        return std::nullopt;
    return f;
}

void EncodeDataHeader(const DataFrameHeader& h, Bytes& out) {
    uint8_t control = h.control & uint8_t(kControlRetry | kControlKeepAliveOrCorrelate |
                                          kControlCoalesce | kControlEndStream);
    if (uint32_t(h.sack_mask))
        control |= kControlSack1;
    if (h.sack_mask >> 32)
        control |= kControlSack2;
    if (uint32_t(h.send_mask))
        control |= kControlSend1;
    if (h.send_mask >> 32)
        control |= kControlSend2;
    if (h.session_id)
        control |= kControlKeepAliveOrCorrelate;
    ByteWriter w(out);
    w.U8(h.command | kCommandData);
    w.U8(control);
    w.U8(h.seq);
    w.U8(h.next_recv);
    WriteMasks(w, h.sack_mask, h.send_mask);
    if (h.session_id)
        w.U32(*h.session_id);
}

std::optional<DataFrameHeader> DecodeDataFrame(ByteSpan datagram, bool keepalive_has_session,
                                               ByteSpan& payload) {
    payload = {};
    if (ClassifyFrame(datagram) != FrameKind::kData)
        return std::nullopt;
    ByteReader r(datagram);
    DataFrameHeader h;
    h.command = r.U8();
    h.control = r.U8();
    h.seq = r.U8();
    h.next_recv = r.U8();
    uint64_t lo = 0, hi = 0;
    if (h.control & kControlSack1)
        lo = r.U32();
    if (h.control & kControlSack2)
        hi = r.U32();
    h.sack_mask = lo | hi << 32;
    lo = hi = 0;
    if (h.control & kControlSend1)
        lo = r.U32();
    if (h.control & kControlSend2)
        hi = r.U32();
    h.send_mask = lo | hi << 32;
    if (keepalive_has_session && (h.control & kControlKeepAliveOrCorrelate)) {
        // A keep-alive carries exactly the session id and never coalesces (3.1.5.2).
        if (h.control & kControlCoalesce)
            return std::nullopt;
        h.session_id = r.U32();
        if (!r.ok() || r.remaining() != 0)
            return std::nullopt;
    }
    if (!r.ok())
        return std::nullopt;
    payload = r.Rest();
    return h;
}

}  // namespace dplay8

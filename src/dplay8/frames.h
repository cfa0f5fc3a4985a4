#pragma once
// The transport's frames ([MC-DPL8R] 2.2): command frames (CFRAMEs) for the handshake,
// hard disconnects and selective acknowledgments, and the header of data frames (DFRAMEs).
// Decoders accept only what the document allows and return nothing for anything else.

#include <cstdint>
#include <optional>

#include "dplay8/byte_io.h"

namespace dplay8 {

// bCommand of a DFRAME.
inline constexpr uint8_t kCommandData = 0x01;
inline constexpr uint8_t kCommandReliable = 0x02;
inline constexpr uint8_t kCommandSequential = 0x04;
inline constexpr uint8_t kCommandPoll = 0x08;
inline constexpr uint8_t kCommandNewMsg = 0x10;
inline constexpr uint8_t kCommandEndMsg = 0x20;
inline constexpr uint8_t kCommandUser1 = 0x40;
inline constexpr uint8_t kCommandUser2 = 0x80;
// bCommand of a CFRAME.
inline constexpr uint8_t kCommandCFrame = 0x80;

// bControl of a DFRAME.
inline constexpr uint8_t kControlRetry = 0x01;
inline constexpr uint8_t kControlKeepAliveOrCorrelate = 0x02;
inline constexpr uint8_t kControlCoalesce = 0x04;
inline constexpr uint8_t kControlEndStream = 0x08;
inline constexpr uint8_t kControlSack1 = 0x10;
inline constexpr uint8_t kControlSack2 = 0x20;
inline constexpr uint8_t kControlSend1 = 0x40;
inline constexpr uint8_t kControlSend2 = 0x80;

// bExtOpCode of a CFRAME.
inline constexpr uint8_t kOpConnect = 0x01;
inline constexpr uint8_t kOpConnected = 0x02;
inline constexpr uint8_t kOpConnectedSigned = 0x03;
inline constexpr uint8_t kOpHardDisconnect = 0x04;
inline constexpr uint8_t kOpSack = 0x06;

// bFlags of a SACK.
inline constexpr uint8_t kSackFlagResponse = 0x01;
inline constexpr uint8_t kSackFlagSackMask1 = 0x02;
inline constexpr uint8_t kSackFlagSackMask2 = 0x04;
inline constexpr uint8_t kSackFlagSendMask1 = 0x08;
inline constexpr uint8_t kSackFlagSendMask2 = 0x10;

inline constexpr uint32_t kProtocolVersion = 0x00010006;  // what we advertise
inline constexpr uint32_t kCoalesceVersion = 0x00010005;  // first version with coalescing

// CONNECT, CONNECTED and HARD_DISCONNECT share one layout (2.2.1.1, 2.2.1.2, 2.2.1.4).
struct HandshakeFrame {
    uint8_t opcode = kOpConnect;
    bool poll = false;
    uint8_t msg_id = 0;
    uint8_t rsp_id = 0;
    uint32_t version = kProtocolVersion;
    uint32_t session_id = 0;
    uint32_t timestamp = 0;
    friend bool operator==(const HandshakeFrame&, const HandshakeFrame&) = default;
};

// CONNECTED_SIGNED (2.2.1.3); decoded only so that it can be recognised and ignored.
struct SignedConnectedFrame {
    HandshakeFrame head;
    uint64_t connect_sig = 0;
    uint64_t sender_secret = 0;
    uint64_t receiver_secret = 0;
    uint32_t signing_opts = 0;
    uint32_t echo_timestamp = 0;
};

struct SackFrame {
    bool poll = false;
    bool response = true;  // SACK_FLAGS_RESPONSE: `retry` is meaningful
    uint8_t retry = 0;
    uint8_t next_seq = 0;   // bNSeq
    uint8_t next_recv = 0;  // bNRcv
    uint32_t timestamp = 0;
    uint64_t sack_mask = 0;
    uint64_t send_mask = 0;
    friend bool operator==(const SackFrame&, const SackFrame&) = default;
};

struct DataFrameHeader {
    uint8_t command = kCommandData;
    uint8_t control = 0;
    uint8_t seq = 0;
    uint8_t next_recv = 0;
    uint64_t sack_mask = 0;
    uint64_t send_mask = 0;
    std::optional<uint32_t> session_id;  // only on keep-alives of version 1.5 and later
    friend bool operator==(const DataFrameHeader&, const DataFrameHeader&) = default;
};

enum class FrameKind { kInvalid, kData, kCommand };

// Classifies a datagram whose lead byte is nonzero (3.1.5).
FrameKind ClassifyFrame(ByteSpan datagram);

// The extended opcode of a valid CFRAME (0 for anything that is not one).
uint8_t CommandOpcode(ByteSpan datagram);

void EncodeHandshake(const HandshakeFrame& f, Bytes& out);
std::optional<HandshakeFrame> DecodeHandshake(ByteSpan datagram);
std::optional<SignedConnectedFrame> DecodeSignedConnected(ByteSpan datagram);
void EncodeSack(const SackFrame& f, Bytes& out);
std::optional<SackFrame> DecodeSack(ByteSpan datagram);

// Appends the DFRAME header; the masks present are those with bits set, and the
// session id goes in when the header carries one. The SACK/SEND control bits and
// kControlKeepAliveOrCorrelate for a session id are set here from the values.
void EncodeDataHeader(const DataFrameHeader& h, Bytes& out);
// Splits a DFRAME into header and payload. `keepalive_has_session` says whether a
// keep-alive carries the 32-bit session id (both sides at version 1.5 or later).
std::optional<DataFrameHeader> DecodeDataFrame(ByteSpan datagram, bool keepalive_has_session,
                                               ByteSpan& payload);

}  // namespace dplay8

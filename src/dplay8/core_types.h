#pragma once
// Packet types, flags and result codes of the session layer ([MC-DPL8CS] 2.2). A session
// message travels in a DFRAME with PACKET_COMMAND_USER_1 and starts with its 32-bit type;
// offsets inside it count from the end of that type field.

#include <cstdint>

#include "dplay8/byte_io.h"

namespace dplay8 {

using HResult = int32_t;

inline constexpr HResult kOk = 0;
inline constexpr HResult kErrGeneric = HResult(0x80004005);
inline constexpr HResult kErrAlreadyClosing = HResult(0x80158050);
inline constexpr HResult kErrHostRejectedConnection = HResult(0x80158260);
inline constexpr HResult kErrInvalidApplication = HResult(0x80158300);
inline constexpr HResult kErrInvalidInstance = HResult(0x80158380);
inline constexpr HResult kErrInvalidInterface = HResult(0x80158390);
inline constexpr HResult kErrInvalidPassword = HResult(0x80158410);
inline constexpr HResult kErrInvalidVersion = HResult(0x80158460);
inline constexpr HResult kErrNotHost = HResult(0x80158530);

enum class CoreType : uint32_t {
    kPlayerConnectInfo = 0xC1,
    kSendConnectInfo = 0xC2,
    kAckConnectInfo = 0xC3,
    kSendPlayerDpnid = 0xC4,
    kConnectFailed = 0xC5,
    kInstructConnect = 0xC6,
    kInstructedConnectFailed = 0xC7,
    kConnectAttemptFailed = 0xC8,
    kNameTableVersion = 0xC9,
    kResyncVersion = 0xCA,
    kReqNameTableOp = 0xCB,
    kAckNameTableOp = 0xCC,
    kHostMigrate = 0xCD,
    kHostMigrateComplete = 0xCE,
    kAddPlayer = 0xD0,
    kDestroyPlayer = 0xD1,
    kReqCreateGroup = 0xD2,
    kReqAddPlayerToGroup = 0xD3,
    kReqDeletePlayerFromGroup = 0xD4,
    kReqDestroyGroup = 0xD5,
    kReqUpdateInfo = 0xD6,
    kCreateGroup = 0xD7,
    kDestroyGroup = 0xD8,
    kAddPlayerToGroup = 0xD9,
    kDeletePlayerFromGroup = 0xDA,
    kUpdateInfo = 0xDB,
    kTerminateSession = 0xDF,
    kReqProcessCompletion = 0xE0,
    kProcessCompletion = 0xE1,
    kReqIntegrityCheck = 0xE2,
    kIntegrityCheck = 0xE3,
    kIntegrityCheckResponse = 0xE4,
};

// What a client/server endpoint does with a session message type.
enum class CoreHandling {
    kClientServer,  // part of the client/server exchange
    kIgnored,       // peer-to-peer, host migration, groups: recognised and dropped
    kUnknown,       // not a session message type at all
};
CoreHandling HandlingOf(uint32_t packet_type);

// The packet type at the start of a session message, if there are four bytes.
bool PeekCoreType(ByteSpan message, uint32_t& type);
// The body after the packet type of a message of the expected type, which every offset of a
// core message is counted from; false for any other message.
bool CoreBody(ByteSpan message, CoreType expected, ByteSpan& body);

// PLAYER_CONNECT_INFO dwFlags.
inline constexpr uint32_t kConnectFlagClient = 0x02;
inline constexpr uint32_t kConnectFlagPeer = 0x04;
// dwDNETVersion at and above which PLAYER_CONNECT_INFO is the _EX form.
inline constexpr uint32_t kFirstExDnetVersion = 7;

// Application description flags (DPNSESSION_*).
inline constexpr uint32_t kSessionClientServer = 0x0001;
inline constexpr uint32_t kSessionMigrateHost = 0x0004;
inline constexpr uint32_t kSessionNoDpnSvr = 0x0040;
inline constexpr uint32_t kSessionRequirePassword = 0x0080;
inline constexpr uint32_t kSessionNoEnums = 0x0100;
inline constexpr uint32_t kSessionFastSigned = 0x0200;
inline constexpr uint32_t kSessionFullSigned = 0x0400;

// Name table entry flags (NAMETABLE_ENTRY_FLAG_*).
inline constexpr uint32_t kEntryLocal = 0x00000001;
inline constexpr uint32_t kEntryHost = 0x00000002;
inline constexpr uint32_t kEntryGroup = 0x00000010;
inline constexpr uint32_t kEntryPeer = 0x00000100;
inline constexpr uint32_t kEntryClient = 0x00000200;
inline constexpr uint32_t kEntryServer = 0x00000400;

// DESTROY_PLAYER reasons.
inline constexpr uint32_t kDestroyNormal = 1;
inline constexpr uint32_t kDestroyConnectionLost = 2;
inline constexpr uint32_t kDestroySessionTerminated = 3;
inline constexpr uint32_t kDestroyHostDestroyedPlayer = 4;

// UPDATE_INFO dwInfoFlags.
inline constexpr uint32_t kInfoName = 0x01;
inline constexpr uint32_t kInfoData = 0x02;

}  // namespace dplay8

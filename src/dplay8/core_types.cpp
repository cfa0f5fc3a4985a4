#include "dplay8/core_types.h"

namespace dplay8 {

CoreHandling HandlingOf(uint32_t packet_type) {
    switch (CoreType(packet_type)) {
        case CoreType::kPlayerConnectInfo:
        case CoreType::kSendConnectInfo:
        case CoreType::kAckConnectInfo:
        case CoreType::kConnectFailed:
        case CoreType::kDestroyPlayer:
        case CoreType::kReqUpdateInfo:
        case CoreType::kUpdateInfo:
        case CoreType::kTerminateSession:
        case CoreType::kReqProcessCompletion:
        case CoreType::kProcessCompletion:
            return CoreHandling::kClientServer;
        case CoreType::kSendPlayerDpnid:
        case CoreType::kInstructConnect:
        case CoreType::kInstructedConnectFailed:
        case CoreType::kConnectAttemptFailed:
        case CoreType::kNameTableVersion:
        case CoreType::kResyncVersion:
        case CoreType::kReqNameTableOp:
        case CoreType::kAckNameTableOp:
        case CoreType::kHostMigrate:
        case CoreType::kHostMigrateComplete:
        case CoreType::kAddPlayer:
        case CoreType::kReqCreateGroup:
        case CoreType::kReqAddPlayerToGroup:
        case CoreType::kReqDeletePlayerFromGroup:
        case CoreType::kReqDestroyGroup:
        case CoreType::kCreateGroup:
        case CoreType::kDestroyGroup:
        case CoreType::kAddPlayerToGroup:
        case CoreType::kDeletePlayerFromGroup:
        case CoreType::kReqIntegrityCheck:
        case CoreType::kIntegrityCheck:
        case CoreType::kIntegrityCheckResponse:
            return CoreHandling::kIgnored;
    }
    return CoreHandling::kUnknown;
}

bool PeekCoreType(ByteSpan message, uint32_t& type) {
    if (message.size() < 4)
        return false;
    type = LoadU32(message.data());
    return true;
}

bool CoreBody(ByteSpan message, CoreType expected, ByteSpan& body) {
    uint32_t type;
    if (!PeekCoreType(message, type) || type != uint32_t(expected))
        return false;
    body = message.subspan(4);
    return true;
}

}  // namespace dplay8

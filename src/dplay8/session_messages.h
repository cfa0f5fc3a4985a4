#pragma once
// The session messages a client/server session exchanges after the join ([MC-DPL8CS]
// 2.2.2 to 2.2.5): TERMINATE_SESSION, DESTROY_PLAYER, REQ_UPDATE_INFO and UPDATE_INFO,
// REQ_PROCESS_COMPLETION and PROCESS_COMPLETION.

#include <cstdint>
#include <optional>
#include <string>

#include "dplay8/byte_io.h"
#include "dplay8/core_types.h"

namespace dplay8 {

struct TerminateSession {
    Bytes data;  // why the client is being removed, from the host application
    friend bool operator==(const TerminateSession&, const TerminateSession&) = default;
};

struct DestroyPlayer {
    uint32_t leaving = 0;
    uint32_t version = 0;
    uint32_t version_not_used = 0;
    uint32_t reason = kDestroyNormal;
    friend bool operator==(const DestroyPlayer&, const DestroyPlayer&) = default;
};

struct ReqUpdateInfo {
    uint32_t context = 0;
    uint32_t dpnid = 0;
    uint32_t info_flags = 0;
    std::u16string name;
    Bytes data;
    friend bool operator==(const ReqUpdateInfo&, const ReqUpdateInfo&) = default;
};

struct UpdateInfo {
    uint32_t context = 0;
    uint32_t dpnid = 0;
    uint32_t version = 0;
    uint32_t version_not_used = 0;
    uint32_t info_flags = 0;
    std::u16string name;
    Bytes data;
    uint32_t requesting = 0;
    friend bool operator==(const UpdateInfo&, const UpdateInfo&) = default;
};

// Application data whose sender wants to know when it has been consumed.
struct ReqProcessCompletion {
    uint32_t context = 0;
    Bytes payload;
    friend bool operator==(const ReqProcessCompletion&, const ReqProcessCompletion&) = default;
};

struct ProcessCompletion {
    uint32_t context = 0;
    friend bool operator==(const ProcessCompletion&, const ProcessCompletion&) = default;
};

Bytes Encode(const TerminateSession& m);
Bytes Encode(const DestroyPlayer& m);
Bytes Encode(const ReqUpdateInfo& m);
Bytes Encode(const UpdateInfo& m);
Bytes Encode(const ReqProcessCompletion& m);
Bytes Encode(const ProcessCompletion& m);

std::optional<TerminateSession> DecodeTerminateSession(ByteSpan message);
std::optional<DestroyPlayer> DecodeDestroyPlayer(ByteSpan message);
std::optional<ReqUpdateInfo> DecodeReqUpdateInfo(ByteSpan message);
std::optional<UpdateInfo> DecodeUpdateInfo(ByteSpan message);
std::optional<ReqProcessCompletion> DecodeReqProcessCompletion(ByteSpan message);
std::optional<ProcessCompletion> DecodeProcessCompletion(ByteSpan message);

}  // namespace dplay8

#pragma once
// The join exchange of the session layer ([MC-DPL8CS] 2.2.1): the client's
// PLAYER_CONNECT_INFO (or its DirectPlay 9 form _EX), the host's SEND_CONNECT_INFO with the
// application description and name table, ACK_CONNECT_INFO and CONNECT_FAILED.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dplay8/byte_io.h"
#include "dplay8/core_types.h"
#include "dplay8/guid.h"

namespace dplay8 {

struct PlayerConnectInfo {
    uint32_t flags = kConnectFlagClient;
    uint32_t dnet_version = 8;  // 7 and above: the _EX form with alternate addresses
    std::u16string name;
    Bytes data;
    std::optional<std::u16string> password;
    Bytes connect_data;
    std::string url;
    Guid instance;
    Guid application;
    Bytes alternate_addresses;  // DN_ALTERNATE_ADDRESS records, _EX form only
    friend bool operator==(const PlayerConnectInfo&, const PlayerConnectInfo&) = default;
};

struct ApplicationDesc {
    uint32_t size = 0x50;  // dwSize: dwSize through guidApplication
    uint32_t flags = kSessionClientServer;
    uint32_t max_players = 0;
    uint32_t current_players = 0;
    std::u16string session_name;
    std::optional<std::u16string> password;
    Bytes reserved_data;
    Bytes application_reserved_data;
    Guid instance;
    Guid application;
    friend bool operator==(const ApplicationDesc&, const ApplicationDesc&) = default;
};

struct NameTableEntry {
    uint32_t dpnid = 0;
    uint32_t owner = 0;
    uint32_t flags = 0;
    uint32_t version = 0;
    uint32_t version_not_used = 0;
    uint32_t dnet_version = 0;
    std::u16string name;
    Bytes data;
    std::string url;
    friend bool operator==(const NameTableEntry&, const NameTableEntry&) = default;
};

struct NameTableMembership {
    uint32_t player = 0;
    uint32_t group = 0;
    uint32_t version = 0;
    uint32_t version_not_used = 0;
    friend bool operator==(const NameTableMembership&, const NameTableMembership&) = default;
};

struct SendConnectInfo {
    Bytes reply;
    ApplicationDesc desc;
    uint32_t dpnid = 0;  // the joining player's id
    uint32_t version = 0;
    uint32_t version_not_used = 0;
    std::vector<NameTableEntry> entries;
    std::vector<NameTableMembership> memberships;
    friend bool operator==(const SendConnectInfo&, const SendConnectInfo&) = default;
};

struct ConnectFailed {
    HResult result = kErrGeneric;
    Bytes reply;
    friend bool operator==(const ConnectFailed&, const ConnectFailed&) = default;
};

Bytes Encode(const PlayerConnectInfo& m);
Bytes Encode(const SendConnectInfo& m);
Bytes Encode(const ConnectFailed& m);
Bytes EncodeAckConnectInfo();

std::optional<PlayerConnectInfo> DecodePlayerConnectInfo(ByteSpan message);
std::optional<SendConnectInfo> DecodeSendConnectInfo(ByteSpan message);
std::optional<ConnectFailed> DecodeConnectFailed(ByteSpan message);
bool IsAckConnectInfo(ByteSpan message);

}  // namespace dplay8

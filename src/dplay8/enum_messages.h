#pragma once
// Host enumeration ([MC-DPLHP] 2.2): EnumQuery and EnumResponse. Both start with a zero lead
// byte, which is how a receiver tells them from transport frames ([MC-DPL8R] 2.1). Offsets
// inside an EnumResponse count from the end of the EnumPayload field, that is from byte 4.

#include <cstdint>
#include <optional>
#include <string>

#include "dplay8/byte_io.h"
#include "dplay8/guid.h"

namespace dplay8 {

inline constexpr uint8_t kEnumQueryCommand = 0x02;
inline constexpr uint8_t kEnumResponseCommand = 0x03;
inline constexpr uint8_t kEnumQueryWithGuid = 0x01;
inline constexpr uint8_t kEnumQueryWithoutGuid = 0x02;

struct EnumQuery {
    uint16_t enum_payload = 0;        // echoed by the response
    std::optional<Guid> application;  // present for query type 0x01
    Bytes application_payload;        // whatever follows
    friend bool operator==(const EnumQuery&, const EnumQuery&) = default;
};

struct EnumResponse {
    uint16_t enum_payload = 0;
    uint32_t application_desc_size = 0x50;  // dwSize of the application description
    uint32_t flags = 0;                     // DPNSESSION_* flags
    uint32_t max_players = 0;
    uint32_t current_players = 0;
    std::u16string session_name;
    std::optional<std::u16string> password;
    Bytes reserved_data;
    Bytes application_reserved_data;
    Guid instance;
    Guid application;
    Bytes reply;  // the host application's response data (ReplyOffset/ResponseSize)
    friend bool operator==(const EnumResponse&, const EnumResponse&) = default;
};

Bytes Encode(const EnumQuery& q);
Bytes Encode(const EnumResponse& r);
std::optional<EnumQuery> DecodeEnumQuery(ByteSpan datagram);
std::optional<EnumResponse> DecodeEnumResponse(ByteSpan datagram);

}  // namespace dplay8

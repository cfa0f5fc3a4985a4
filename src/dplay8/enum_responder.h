#pragma once
// How a hosting session answers host enumeration ([MC-DPLHP] 2.2.2, 3.1): a query naming
// another application, or any query while enumeration is switched off, gets no answer.

#include <optional>
#include <string>

#include "dplay8/enum_messages.h"
#include "dplay8/guid.h"

namespace dplay8 {

struct HostDescription {
    Guid application;
    Guid instance;
    uint32_t flags = 0;  // DPNSESSION_* flags of the session
    uint32_t max_players = 0;
    uint32_t current_players = 0;
    std::u16string session_name;
    bool password_required = false;  // announced by flag; the password itself never travels
    Bytes reply;                     // the host application's response data
};

std::optional<EnumResponse> AnswerEnumQuery(const EnumQuery& query, const HostDescription& host);

}  // namespace dplay8

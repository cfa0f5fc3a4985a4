#pragma once
// The checks a client/server host makes on a PLAYER_CONNECT_INFO before it lets the player
// join ([MC-DPL8CS] 2.2.1.1, 3.1.5.1). The result is kOk or the code that goes back in
// CONNECT_FAILED.

#include <optional>
#include <string>

#include "dplay8/connect_info.h"
#include "dplay8/core_types.h"
#include "dplay8/guid.h"

namespace dplay8 {

struct HostSettings {
    Guid instance;
    Guid application;
    bool closing = false;
    // When set, a client must present exactly this password.
    std::optional<std::u16string> password;
    uint32_t max_players = 0;  // 0: no limit
    uint32_t current_players = 0;
};

HResult CheckConnectRequest(const PlayerConnectInfo& request, const HostSettings& host);

}  // namespace dplay8

#include "game_session.h"

#include <algorithm>

#include "net/session_types.h"

namespace er_bot {

dplay8::Guid GameApplication() {
    dplay8::Guid g;
    g.data1 = kApplicationGuid.data1;
    g.data2 = kApplicationGuid.data2;
    g.data3 = kApplicationGuid.data3;
    std::copy(std::begin(kApplicationGuid.data4), std::end(kApplicationGuid.data4),
              g.data4.begin());
    return g;
}

dplay8::ClientConfig GameClientConfig(std::u16string name, uint32_t sessionId) {
    dplay8::ClientConfig config;
    config.application = GameApplication();
    config.name = std::move(name);
    config.session_id = sessionId;
    return config;
}

const char* ReasonText(dplay8::DisconnectReason reason) {
    switch (reason) {
        case dplay8::DisconnectReason::kClosedLocally:
            return "closed";
        case dplay8::DisconnectReason::kClosedByPeer:
            return "closed by the host";
        case dplay8::DisconnectReason::kAbortedLocally:
            return "aborted";
        case dplay8::DisconnectReason::kAbortedByPeer:
            return "aborted by the host";
        case dplay8::DisconnectReason::kConnectionLost:
            return "connection lost";
        case dplay8::DisconnectReason::kConnectFailed:
            return "no answer";
        case dplay8::DisconnectReason::kProtocolError:
            return "protocol error";
        default:  // reasons the transport may add later
            return "ended";
    }
}

}  // namespace er_bot

#pragma once
// What every er-bot client has in common: the game's application GUID, the configuration
// of a client session that joins the game, and words for how a session ended.

#include <cstdint>
#include <string>

#include "dplay8/client_session.h"

namespace er_bot {

// The application the game's sessions are hosted with, in the transport's type.
dplay8::Guid GameApplication();
dplay8::ClientConfig GameClientConfig(std::u16string name, uint32_t sessionId);
// "closed", "closed by the host", "connection lost" and so on.
const char* ReasonText(dplay8::DisconnectReason reason);

}  // namespace er_bot

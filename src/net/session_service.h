#pragma once
// The network session the server hosts, shaped like the DirectPlay 8 server calls it uses.
// Two implementations: the DirectPlay 8 transport over UDP, and an in-process fake for tests.
//
// Threads: the handler is called on the session's own threads, possibly several at once, but
// one player's notifications arrive in order and one at a time. SendTo may be called from any
// thread and never waits for the network: the data is copied.

#include <cstdint>
#include <functional>

#include "net/session_types.h"

class SessionService {
public:
    using MessageHandler = std::function<HRESULT(uint32_t messageId, void* message)>;

    virtual ~SessionService() = default;

    virtual HRESULT Initialize(MessageHandler handler) = 0;
    // Starts hosting on the port (0: one the system chooses).
    virtual HRESULT Host(const ApplicationDesc& desc, uint32_t port) = 0;
    virtual HRESULT SendTo(DPNID target, const uint8_t* data, uint32_t size, uint32_t timeoutMs,
                           uint32_t flags) = 0;
    // DPNERR_INVALIDPLAYER for the server's own player and for unknown ids.
    virtual HRESULT GetClientInfo(DPNID player, PlayerInfo& info) = 0;
    // Writes at most *count ids; DPNERR_BUFFERTOOSMALL with the needed count in *count when
    // the buffer is too small (ids may be null with *count 0).
    virtual HRESULT EnumPlayersAndGroups(DPNID* ids, uint32_t* count, uint32_t flags) = 0;
    virtual HRESULT GetPlayerContext(DPNID player, void** context, uint32_t flags) = 0;
    virtual HRESULT GetConnectionInfo(DPNID player, ConnectionInfo& info) = 0;
    // Ends the session; returns only after every remaining player's DESTROY_PLAYER has been
    // delivered and no handler call is running.
    virtual HRESULT Close(uint32_t flags) = 0;
    // Not a DirectPlay call: the transport's running totals, for the server's statistics;
    // false when the session keeps none.
    virtual bool GetTraffic(SessionTraffic& traffic) {
        (void)traffic;
        return false;
    }
};

#pragma once
// One connected client, attached to it as its player context. Every access after creation
// holds playerLock.

#include <cstdint>

#include "net/session_types.h"

constexpr int kPlayerNameLength = 13;  // characters kept of a client's name

struct PlayerRecord {
    int32_t refCount = 1;
    DPNID dpnid = 0;
    char name[16] = {};  // at most 13 characters and the terminator
    // The last reported state. Before a client reports, it stands at the origin, not moving,
    // with zero client values and tag.
    float posX = 0.0f;
    float posY = 0.0f;
    uint8_t clientByte = 0;
    uint32_t clientWord = 0;
    uint32_t moving = 0;
    uint32_t clientTag = 0;
    // Connection statistics, refreshed by the player info dialog.
    uint32_t throughput = 0;
    uint32_t latency = 0;
    uint32_t msgsSent = 0;
    uint32_t msgsReceived = 0;
    uint32_t msgsTimedOut = 0;
    // Where the session's roster keeps it.
    uint32_t rosterIndex = UINT32_MAX;
};

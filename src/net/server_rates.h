#pragma once
// The network rates the console applies: read by the send paths, the NPC broadcast and the
// RateSettings message. Set on the window thread; read by network threads as single words.

#include <atomic>
#include <cstdint>

struct ServerRates {
    // Values before the console first applies its fields (which it does at once).
    std::atomic<float> updateRate{30.0f};
    std::atomic<int32_t> reliableRate{15};    // percent of sends made guaranteed
    std::atomic<int32_t> npcUpdateRate{30};   // ms between NPC broadcasts
    std::atomic<float> messageTimeout{30.0f};  // ms
};

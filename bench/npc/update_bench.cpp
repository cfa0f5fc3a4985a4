// What the NPC set's update costs a game tick: fifty NPCs walking at once, each moved one
// 50 ms step. A tick has 50 ms for everything it does, so the time per iteration should stay
// far below 500 us (1 % of a tick).

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "npc/npc_codes.h"
#include "npc/server_npc.h"

namespace {

constexpr int kNpcs = 50;
constexpr float kTick = 0.05f;
constexpr int32_t kHomeX = 100;

// Fifty NPCs spread over a few screens, each pacing between x = 100 and x = 700, so nearly
// every update is a full walking step and arrivals (which turn the NPC round) are rare.
std::array<CServerNPC, kNpcs> PacingNpcs() {
    std::array<CServerNPC, kNpcs> npcs;
    for (int i = 0; i < kNpcs; ++i) {
        CServerNPC& npc = npcs[i];
        npc.posX = static_cast<float>(kHomeX + 11 * i);
        npc.posY = 80.0f + 23.0f * (i % 9);
        npc.targetX = kHomeX + 600;
        npc.targetY = static_cast<int32_t>(npc.posY) + 13 * (i % 7);
        npc.speed = 35.0f + i;
        npc.action = kActionWalking;
    }
    return npcs;
}

void BM_UpdateFiftyWalkingNpcs(benchmark::State& state) {
    std::array<CServerNPC, kNpcs> npcs = PacingNpcs();
    for (auto _ : state) {
        for (CServerNPC& npc : npcs) {
            npc.Update(kTick);
            if (npc.posX == static_cast<float>(npc.targetX) &&
                npc.posY == static_cast<float>(npc.targetY)) {
                npc.targetX = npc.targetX == kHomeX ? kHomeX + 600 : kHomeX;  // turn round
            }
        }
        benchmark::DoNotOptimize(npcs.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kNpcs);
}
BENCHMARK(BM_UpdateFiftyWalkingNpcs);

}  // namespace

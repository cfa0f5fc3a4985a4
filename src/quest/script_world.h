#pragma once
// What the server script reads and drives outside itself: the NPCs, the clock, the rain, the
// table of script globals and the frame time of the running tick. The quest loader fills it
// in; a missing piece reads as zero and is never written.

#include <cstdint>
#include <functional>

class CMainObjectSet;
class NightDay;
class GameWeather;

constexpr int32_t kGlobalCount = 500;       // entries of the global table
constexpr int32_t kScriptGlobalCount = 99;  // GLOBAL[1]..GLOBAL[99] are reachable from scripts

struct ScriptWorld {
    CMainObjectSet* npcs = nullptr;
    const NightDay* clock = nullptr;
    const GameWeather* weather = nullptr;
    int32_t* globals = nullptr;  // kGlobalCount entries
    // Seconds since the previous game tick, at most 1.0.
    std::function<float()> frameTime;
};

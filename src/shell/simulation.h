#pragma once
// The deterministic simulation's output: after chosen ticks, the state of the clock, the rain,
// the script globals and every placed NPC as one block of lines. The format is a stable
// contract for world authors' tools and tests; docs/simulate.md describes it.

#include <cstdint>
#include <cstdio>

class NightDay;
class GameWeather;
class CMainObjectSet;
class CServerQuestLoader;

// The simulated clock's reading at start-up and its step before each tick, in milliseconds.
constexpr uint64_t kSimulationStartMs = 1000;
constexpr uint64_t kSimulationStepMs = 50;

// Whether the state is printed after tick `tick` (counting from 1) of `ticks`.
bool SimulationDumpDue(int64_t tick, int64_t ticks, int64_t dumpEvery);

void PrintStateBlock(std::FILE* out, int64_t tick, const NightDay& clock,
                     const GameWeather& weather, const CServerQuestLoader* quest,
                     const CMainObjectSet& npcs);

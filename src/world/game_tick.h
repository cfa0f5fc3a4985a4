#pragma once
// The one loop of the game: run every 50 ms on the window thread. Each tick measures the
// time since the previous one, runs the server script, the XScript program and the NPCs, and
// every fifth tick steps the clock, refreshes the console's status fields and may start rain.

#include <cstdint>
#include <functional>

#include "world/time_source.h"

class NightDay;
class GameWeather;

// Seconds since the previous tick from the millisecond counter, at most 1.0; stores `now` in
// `lastTickTime`. The difference is taken as unsigned, so a reading earlier than the stored
// one (the counter wrapping, or the float storage rounding a large reading up) gives 1.0.
float AdvanceFrameTime(uint32_t now, float& lastTickTime);

// The console fields the tick refreshes.
enum class TickField { TimeDelta, GameTime, DaysRunning, RainDuration, RainVolume, RainProgress, IsItRaining };

// The parts of a tick that belong to other subsystems; an empty step is skipped.
struct GameTickSteps {
    std::function<void()> runServerScript;
    // Runs the XScript program once; the caller's wiring holds playerLock around it.
    std::function<void()> runXScript;
    std::function<void(float frameTime)> tickObjectSet;
    std::function<void(TickField field, const char* text)> setField;
};

class GameTick {
public:
    static constexpr uint32_t kIntervalMs = 50;
    static constexpr int32_t kTicksPerRefresh = 5;

    GameTick(const TimeSource& time, NightDay& clock, GameWeather& weather, GameTickSteps steps);

    // The first tick time, taken at start-up.
    void TakeFirstTickTime();
    // One game tick.
    void Run();

    float frameTime() const { return frameTime_; }
    float lastTickTime() const { return lastTickTime_; }
    int32_t tickCounter() const { return tickCounter_; }
    uint64_t ticksRun() const { return ticksRun_; }

private:
    void RefreshConsole();
    void SetField(TickField field, const char* text) const;

    const TimeSource& time_;
    NightDay& clock_;
    GameWeather& weather_;
    GameTickSteps steps_;
    float lastTickTime_ = 0.0f;
    float frameTime_ = 0.0f;
    int32_t tickCounter_ = 0;
    uint64_t ticksRun_ = 0;
};

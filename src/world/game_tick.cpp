#include "world/game_tick.h"

#include <cstdio>
#include <utility>

#include "base/debug_log.h"
#include "world/game_weather.h"
#include "world/night_day.h"

float AdvanceFrameTime(uint32_t now, float& lastTickTime) {
    // The reading itself is exact; only the stored previous reading has float precision.
    const double difference = static_cast<double>(now) - static_cast<double>(lastTickTime);
    // Truncated to a signed 32-bit integer, then taken as unsigned. A difference outside the
    // signed range becomes INT32_MIN, as the x86 conversion does, which is a huge delta too.
    int32_t truncated = INT32_MIN;
    if (difference > -2147483649.0 && difference < 2147483648.0) {
        truncated = static_cast<int32_t>(difference);
    }
    const auto delta = static_cast<uint32_t>(truncated);
    lastTickTime = static_cast<float>(now);

    const auto frameTime = static_cast<float>(static_cast<double>(delta) * 0.001);
    return frameTime > 1.0f ? 1.0f : frameTime;
}

GameTick::GameTick(const TimeSource& time, NightDay& clock, GameWeather& weather,
                   GameTickSteps steps)
    : time_(time), clock_(clock), weather_(weather), steps_(std::move(steps)) {}

void GameTick::TakeFirstTickTime() { lastTickTime_ = static_cast<float>(time_.Milliseconds()); }

void GameTick::Run() {
    HeapCheck();
    frameTime_ = AdvanceFrameTime(time_.Milliseconds(), lastTickTime_);
    tickCounter_ += 1;
    ticksRun_ += 1;

    if (steps_.runServerScript) {
        steps_.runServerScript();
    }
    if (steps_.runXScript) {
        steps_.runXScript();
    }
    if (steps_.tickObjectSet) {
        steps_.tickObjectSet(frameTime_);
    }

    if (tickCounter_ >= kTicksPerRefresh) {
        RefreshConsole();
    }
}

void GameTick::RefreshConsole() {
    char frameText[20] = {};
    std::snprintf(frameText, sizeof frameText, "%f", static_cast<double>(frameTime_));
    SetField(TickField::TimeDelta, frameText);
    tickCounter_ = 0;

    clock_.UpdateNightDay(weather_);

    char number[20] = {};
    SetField(TickField::GameTime, clock_.clockText);
    std::snprintf(number, sizeof number, "%d", clock_.dayCount);
    SetField(TickField::DaysRunning, number);
    std::snprintf(number, sizeof number, "%d", weather_.publishedDuration);
    SetField(TickField::RainDuration, number);
    std::snprintf(number, sizeof number, "%.3f", static_cast<double>(weather_.publishedVolume.load()));
    SetField(TickField::RainVolume, number);
    std::snprintf(number, sizeof number, "%d", weather_.publishedProgress);
    SetField(TickField::RainProgress, number);
    SetField(TickField::IsItRaining, weather_.raining != 0 ? "Yes" : "No");

    weather_.TryRandomRain(clock_);
}

void GameTick::SetField(TickField field, const char* text) const {
    if (steps_.setField) {
        steps_.setField(field, text);
    }
}

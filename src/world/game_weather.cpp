#include "world/game_weather.h"

#include <algorithm>

#include "base/debug_log.h"
#include "world/night_day.h"

namespace {

// Channel arithmetic is done in 16 bits, as the sky colour's channels always were: a channel
// that goes below zero wraps above 256 and is caught by the same test as a dark one.
uint16_t Darken(uint16_t channel, int32_t amount, uint16_t floor) {
    const auto darker = static_cast<uint16_t>(channel - amount);
    return (darker < floor || darker > 256) ? floor : darker;
}

}  // namespace

void GameWeather::InitWeather() {
    rising = 1;
    targetVolume = 0;
    holdDuration = 0;
    holdProgress = 0;
    step = 0.0f;
    volume = 0.0f;
}

void GameWeather::TryRandomRain(const NightDay& clock) {
    if (raining != 0) {
        return;
    }
    if (random_.Draw() % 9893 != 1) {
        return;
    }
    if (random_.Draw() % 10 != 1) {
        return;
    }
    targetVolume = random_.Draw() % 50 + 10;
    holdProgress = 0;
    holdDuration = random_.Draw() % 35000;
    step = static_cast<float>((random_.Draw() % 5 + 1) * 0.01);
    volume = 0.0f;
    raining = 1;
    rising = 1;
    LogRainStart(clock);
}

void GameWeather::BeginRain(int32_t target, const NightDay& clock) {
    targetVolume = std::max(std::min(target, 60), 0);
    holdDuration = random_.Draw() % 35000;
    holdProgress = 0;
    step = 0.1f;
    volume = 0.0f;
    raining = 1;
    rising = 1;
    LogRainStart(clock);
}

void GameWeather::UpdateRain(uint32_t& skyColour) {
    const bool heavy = volume > kHeavyRain;

    if (rising != 0) {
        if (static_cast<float>(targetVolume) > volume) {
            volume += step;
        } else if (holdProgress < holdDuration) {
            holdProgress += 1;
        } else {
            rising = 0;
        }
    }
    if (rising == 0) {
        if (volume > 0.0f) {
            volume -= step;
        } else {
            raining = 0;
        }
    }

    publishedDuration = holdDuration;
    publishedProgress = holdProgress;

    const auto darkness = static_cast<int32_t>(volume);
    const uint16_t red = Darken(skyColour & 0xFF, darkness, kRedFloor);
    const uint16_t green = Darken((skyColour >> 8) & 0xFF, darkness, kGreenFloor);
    const uint16_t blue = Darken((skyColour >> 16) & 0xFF, darkness, kBlueFloor);

    lightning = heavy ? (random_.Draw() % 10 == 1 ? 1 : 0) : 0;
    publishedVolume = volume;
    skyColour = (static_cast<uint32_t>(blue) << 16) | (static_cast<uint32_t>(green) << 8) | red;
}

void GameWeather::LogRainStart(const NightDay& clock) const {
    LogLine("It Rained at:");
    LogLine(clock.clockText);
    LogLine("On Day:");
    LogInt(clock.dayCount);
    LogLine(" ");
}

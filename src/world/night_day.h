#pragma once
// The world clock: days, hours and minutes of game time and the sky colour blended hour by
// hour through a table of 24 colours. One clock tick happens on every fifth game tick.

#include <atomic>
#include <cstdint>
#include <functional>

#include "world/time_source.h"

class GameWeather;

// Colours are packed 0x00BBGGRR, red in the low byte.
constexpr uint32_t PackSky(uint32_t red, uint32_t green, uint32_t blue) {
    return (blue << 16) | (green << 8) | red;
}

class NightDay {
public:
    static constexpr int kHourColourCount = 25;  // entry 24 repeats midnight for hour 23's blend

    // Sends the sky colour, the published rain volume and the lightning flag to all players.
    using SkySender = std::function<void(uint32_t skyColour, float rainVolume, uint32_t lightning)>;

    explicit NightDay(const TimeSource& time) : time_(time) {}

    // Fills the colour table and sets the start values: noon of day 0.
    void InitNightDay();
    // One clock tick; runs the rain update while it rains and sends the sky about once a second.
    void UpdateNightDay(GameWeather& weather);
    // True, and restarts the interval, when more than a second has passed since the last sky send.
    bool SkyUpdateDue();
    void SetDayLength(int64_t dayLength);

    // The sky message goes out through this; while it is empty (no session) nothing is sent.
    SkySender sendSkyWeather;

    uint32_t hourColours[kHourColourCount] = {};
    float dayLength = 1000.0f;
    float ticksPerHour = 41.666668f;
    int32_t hour = 12;
    int32_t tickInHour = 0;
    int32_t dayCount = 0;
    int32_t shownHour = 0;
    int32_t shownMinute = 0;
    float red = 247.0f, green = 248.0f, blue = 236.0f;
    float redStep = 0.0f, greenStep = 0.0f, blueStep = 0.0f;
    // Read without a lock by the network threads when a player joins.
    std::atomic<uint32_t> skyColour{PackSky(247, 248, 236)};
    char clockText[256] = {};
    float lastSkySend = 0.0f;

private:
    void PackSkyColour();

    const TimeSource& time_;
};

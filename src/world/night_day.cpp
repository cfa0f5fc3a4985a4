#include "world/night_day.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "world/game_weather.h"

namespace {

constexpr uint32_t kHourColours[NightDay::kHourColourCount] = {
    0x00AF5C4E,  //  0 midnight
    0x00A96459,  //  1
    0x00AE6B60,  //  2
    0x00BA766A,  //  3
    0x00BA766A,  //  4
    0x00C68378,  //  5
    0x00E8A398,  //  6
    0x00EEBEB6,  //  7
    0x00F3DAD6,  //  8
    0x00FBF5F4,  //  9
    0x00FFFFFF,  // 10
    0x00FFFFFF,  // 11
    0x00ECF8F7,  // 12 noon, the start colour
    0x00E7F8F7,  // 13
    0x00D5F2EF,  // 14
    0x00C7EDED,  // 15
    0x00BEECE8,  // 16
    0x00BEE1EC,  // 17
    0x007EC4E4,  // 18
    0x0068A6E5,  // 19
    0x00439EEB,  // 20
    0x00E87C83,  // 21
    0x00D86F76,  // 22
    0x00BE5C62,  // 23
    0x00AF5C4E,  // 24 midnight again, so hour 23 blends towards it
};

int32_t RedOf(uint32_t colour) { return static_cast<int32_t>(colour & 0xFF); }
int32_t GreenOf(uint32_t colour) { return static_cast<int32_t>((colour >> 8) & 0xFF); }
int32_t BlueOf(uint32_t colour) { return static_cast<int32_t>((colour >> 16) & 0xFF); }

// The low byte of |channel| truncated toward zero. Channels stay near 0..255 in practice; the
// clamp only keeps the conversion defined for any float.
uint32_t ChannelByte(float channel) {
    const float magnitude = std::fabs(channel);
    if (!(magnitude < 2147483648.0f)) {
        return 0;
    }
    return static_cast<uint32_t>(static_cast<int32_t>(magnitude)) & 0xFF;
}

}  // namespace

void NightDay::InitNightDay() {
    std::memcpy(hourColours, kHourColours, sizeof hourColours);
    dayLength = 1000.0f;
    ticksPerHour = 41.666668f;
    hour = 12;
    tickInHour = 0;
    dayCount = 0;
    shownHour = 0;
    shownMinute = 0;
    red = 247.0f;
    green = 248.0f;
    blue = 236.0f;
    redStep = greenStep = blueStep = 0.0f;
    std::memset(clockText, 0, sizeof clockText);
    lastSkySend = 0.0f;
    PackSkyColour();
}

void NightDay::UpdateNightDay(GameWeather& weather) {
    const uint32_t current = hourColours[hour];
    const uint32_t next = hourColours[hour + 1];

    tickInHour += 1;

    // A day length of zero or less would divide by zero; such a clock ends the hour on every
    // tick, exactly like a clock of one tick per hour.
    const float perHour = ticksPerHour > 0.0f ? ticksPerHour : 1.0f;
    redStep = static_cast<float>(RedOf(next) - RedOf(current)) / perHour;
    greenStep = static_cast<float>(GreenOf(next) - GreenOf(current)) / perHour;
    blueStep = static_cast<float>(BlueOf(next) - BlueOf(current)) / perHour;
    red += redStep;
    green += greenStep;
    blue += blueStep;

    // Computed in double precision and kept as a 32-bit float: the 25th tick of a default hour
    // makes 35.999999, which the float rounds to 36.0.
    const auto minute = static_cast<float>(static_cast<double>(tickInHour) /
                                           static_cast<double>(perHour) * 60.0);

    // The minute is published before the hour rolls over, so the last tick of an hour reads
    // 60 (or more) with the old hour.
    std::memset(clockText, 0, sizeof clockText);
    std::snprintf(clockText, sizeof clockText, "%d : %2.0f", hour, static_cast<double>(minute));
    shownMinute = static_cast<int32_t>(minute);
    shownHour = hour;

    if (static_cast<float>(tickInHour) >= ticksPerHour) {
        tickInHour = 0;
        hour += 1;
        if (hour >= 24) {
            hour = 0;
            dayCount += 1;
        }
        red = static_cast<float>(RedOf(hourColours[hour]));
        green = static_cast<float>(GreenOf(hourColours[hour]));
        blue = static_cast<float>(BlueOf(hourColours[hour]));
    }

    PackSkyColour();

    if (weather.raining != 0) {
        uint32_t sky = skyColour;
        weather.UpdateRain(sky);
        skyColour = sky;
    }

    if (SkyUpdateDue() && sendSkyWeather) {
        sendSkyWeather(skyColour, weather.publishedVolume, static_cast<uint32_t>(weather.lightning.load()));
    }
}

bool NightDay::SkyUpdateDue() {
    const float now = static_cast<float>(time_.AppTime());
    if (static_cast<double>(now - lastSkySend) * 1000.0 > 1000.0) {
        lastSkySend = now;
        return true;
    }
    return false;
}

void NightDay::SetDayLength(int64_t length) {
    dayLength = static_cast<float>(length);
    ticksPerHour = dayLength * 0.041666668f;
}

void NightDay::PackSkyColour() {
    skyColour = PackSky(ChannelByte(red), ChannelByte(green), ChannelByte(blue));
}

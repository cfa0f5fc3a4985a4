#pragma once
// Rain: it starts rarely by chance or when the operator asks, ramps up to a target volume,
// holds there for a random number of clock ticks and fades back to zero. While it rains the
// sky is darkened by the volume, and heavy rain draws lightning.

#include <atomic>
#include <cstdint>

#include "world/random.h"

class NightDay;

class GameWeather {
public:
    static constexpr float kHeavyRain = 50.0f;
    // Rain never darkens the sky below the midnight colour.
    static constexpr uint16_t kRedFloor = 78, kGreenFloor = 92, kBlueFloor = 175;

    explicit GameWeather(RuntimeRandom& random) : random_(random) {}

    void InitWeather();
    // Every fifth game tick: a dry sky starts a random rain with a small chance.
    void TryRandomRain(const NightDay& clock);
    // The operator's rain: restarts from volume 0 towards the target, limited to 0..60.
    void BeginRain(int32_t targetVolume, const NightDay& clock);
    // One clock tick of rain; darkens the given sky colour.
    void UpdateRain(uint32_t& skyColour);

    int32_t raining = 0;
    int32_t rising = 1;
    int32_t targetVolume = 0;
    int32_t holdDuration = 0;
    int32_t holdProgress = 0;
    float step = 0.0f;
    float volume = 0.0f;
    // The two values a joining player is sent, read without a lock by the network threads.
    std::atomic<int32_t> lightning{0};
    std::atomic<float> publishedVolume{0.0f};
    int32_t publishedDuration = 0;
    int32_t publishedProgress = 0;

private:
    void LogRainStart(const NightDay& clock) const;

    RuntimeRandom& random_;
};

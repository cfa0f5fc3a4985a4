#include "world/game_weather.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "base/debug_log.h"
#include "support/temp_dir.h"
#include "world/night_day.h"

namespace {

class GameWeatherTest : public ::testing::Test {
protected:
    GameWeatherTest() {
        clock.InitNightDay();
        weather.InitWeather();
    }

    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
    ManualTimeSource time{0};
    RuntimeRandom random;
    NightDay clock{time};
    GameWeather weather{random};
};

TEST_F(GameWeatherTest, ConsoleRainClampsItsTargetAndAlwaysStepsByATenth) {
    const struct {
        int32_t asked, target;
    } cases[] = {{75, 60}, {99, 60}, {60, 60}, {30, 30}, {0, 0}, {-5, 0}};
    for (const auto& c : cases) {
        weather.BeginRain(c.asked, clock);
        EXPECT_EQ(weather.targetVolume, c.target) << c.asked;
        EXPECT_FLOAT_EQ(weather.step, 0.1f);
        EXPECT_EQ(weather.raining, 1);
        EXPECT_EQ(weather.rising, 1);
        EXPECT_GE(weather.holdDuration, 0);
        EXPECT_LT(weather.holdDuration, 35000);
    }
}

TEST_F(GameWeatherTest, ConsoleRainRestartsARainFromVolumeZero) {
    weather.BeginRain(40, clock);
    uint32_t sky = clock.skyColour;
    for (int i = 0; i < 100; ++i) {
        weather.UpdateRain(sky);
    }
    EXPECT_GT(weather.volume, 9.0f);
    weather.BeginRain(20, clock);
    EXPECT_EQ(weather.volume, 0.0f);
    EXPECT_EQ(weather.holdProgress, 0);
    EXPECT_EQ(weather.targetVolume, 20);
}

TEST_F(GameWeatherTest, RainStartWritesFiveLogLines) {
    LogOpen();
    clock.SetDayLength(24);
    clock.UpdateNightDay(weather);  // clock text "12 : 60"
    clock.dayCount = 3;
    weather.BeginRain(10, clock);
    EXPECT_EQ(dir.Read("ErrorChk.txt"),
              "EmberRealms error checking file initialised...\n"
              "\nIt Rained at:\n12 : 60\nOn Day:\n3\n ");
}

TEST_F(GameWeatherTest, RainRisesHoldsFadesAndLeavesRainAmountAtZero) {
    weather.BeginRain(5, clock);
    weather.holdDuration = 3;
    uint32_t sky = clock.skyColour;
    int ticks = 0;
    while (weather.raining != 0 && ticks < 1000) {
        weather.UpdateRain(sky);
        ++ticks;
        ASSERT_EQ(weather.lightning, 0);  // never above 50
    }
    // about 50 ticks up, 3 held, one to turn, about 50 down, one to notice the end
    EXPECT_NEAR(ticks, 105, 2);
    EXPECT_EQ(weather.publishedProgress, 3);
    EXPECT_EQ(weather.publishedDuration, 3);
    EXPECT_LE(weather.publishedVolume, 0.0f);
    EXPECT_GT(weather.publishedVolume, -0.1f);
    EXPECT_EQ(static_cast<int32_t>(weather.publishedVolume.load()), 0);  // what scripts read
}

TEST_F(GameWeatherTest, DarkeningNeverGoesBelowMidnightAndRaisesChannelsUnderTheFloor) {
    weather.raining = 1;
    weather.targetVolume = 60;
    weather.step = 0.0f;

    weather.volume = 0.0f;  // hour 0 with volume 0: the midnight colour itself
    uint32_t sky = clock.hourColours[0];
    weather.UpdateRain(sky);
    EXPECT_EQ(sky, 0x00AF5C4Eu);

    sky = clock.hourColours[1];  // blue 169 is under the floor of 175
    weather.UpdateRain(sky);
    EXPECT_EQ(sky, PackSky(89, 100, 175));

    weather.volume = 30.9f;  // darkens by 30
    sky = clock.hourColours[12];
    weather.UpdateRain(sky);
    EXPECT_EQ(sky, PackSky(217, 218, 206));

    weather.volume = 250.0f;  // more than a channel holds: wraps in 16 bits, still the floor
    sky = clock.hourColours[10];
    weather.UpdateRain(sky);
    EXPECT_EQ(sky, PackSky(78, 92, 175));
}

TEST_F(GameWeatherTest, LightningFlashesOnlyWhenTheVolumeWasAboveFifty) {
    weather.raining = 1;
    weather.step = 0.0f;  // hold the volume where it is
    weather.targetVolume = 60;
    for (float volume : {50.0f, 49.9f, 0.0f}) {
        weather.volume = volume;
        for (int i = 0; i < 500; ++i) {
            uint32_t sky = clock.skyColour;
            weather.UpdateRain(sky);
            ASSERT_EQ(weather.lightning, 0) << volume;
        }
    }
    weather.volume = 50.1f;
    int flashes = 0;
    for (int i = 0; i < 1000; ++i) {
        uint32_t sky = clock.skyColour;
        weather.UpdateRain(sky);
        flashes += weather.lightning;
    }
    EXPECT_GT(flashes, 50);  // one in ten
    EXPECT_LT(flashes, 150);
}

TEST_F(GameWeatherTest, RandomRainIsRareAndStaysWithinItsRanges) {
    std::set<float> steps;
    int rains = 0;
    for (uint32_t seed = 0; seed < 20000; ++seed) {
        random.Seed(seed * 7919u);
        weather.InitWeather();
        weather.raining = 0;
        for (int i = 0; i < 100; ++i) {
            weather.TryRandomRain(clock);
            if (weather.raining != 0) {
                ++rains;
                EXPECT_GE(weather.targetVolume, 10);
                EXPECT_LE(weather.targetVolume, 59);
                EXPECT_GE(weather.holdDuration, 0);
                EXPECT_LE(weather.holdDuration, 34999);
                steps.insert(weather.step);
                break;
            }
        }
    }
    // 2,000,000 tries at 4/32768 * 3277/32768 each: about 24 rains.
    EXPECT_GT(rains, 5);
    EXPECT_LT(rains, 80);
    for (float step : steps) {
        const float hundredths = step * 100.0f;
        EXPECT_NEAR(hundredths, std::round(hundredths), 1e-4);
        EXPECT_GE(step, 0.0099f);
        EXPECT_LE(step, 0.0501f);
    }
}

TEST_F(GameWeatherTest, RandomRainDoesNothingWhileItRains) {
    weather.BeginRain(20, clock);
    weather.volume = 3.0f;
    for (int i = 0; i < 100000; ++i) {
        weather.TryRandomRain(clock);
    }
    EXPECT_EQ(weather.targetVolume, 20);
    EXPECT_EQ(weather.volume, 3.0f);
}

}  // namespace

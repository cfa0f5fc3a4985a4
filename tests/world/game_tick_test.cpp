#include "world/game_tick.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "support/temp_dir.h"
#include "world/game_weather.h"
#include "world/night_day.h"

namespace {

TEST(FrameTimeTest, SecondsSinceTheStoredFloatReadingAtMostOne) {
    const struct {
        float last;
        uint32_t now;
        float frame, stored;
    } cases[] = {{1000, 1050, 0.05f, 1050},
                 {1000, 1999, 0.999f, 1999},
                 {1999, 8999, 1.0f, 8999},
                 {5000, 4990, 1.0f, 4990},                // a reading earlier than the last
                 {4294967000.0f, 20, 1.0f, 20},           // the counter wraps
                 {0, 16777217, 1.0f, 16777216},           // 2^24 + 1 is no float
                 {16777216, 16777267, 0.051f, 16777268},  // the lost millisecond shows
                 {3000000256.0f, 3000000220u, 1.0f, 3000000256.0f}};  // stored rounded up
    for (const auto& c : cases) {
        float last = c.last;
        EXPECT_FLOAT_EQ(AdvanceFrameTime(c.now, last), c.frame) << c.last << " -> " << c.now;
        EXPECT_EQ(last, c.stored) << c.last << " -> " << c.now;
    }
}

class WorldTest : public ::testing::Test {
protected:
    WorldTest() {
        clock.InitNightDay();
        weather.InitWeather();
        tick.TakeFirstTickTime();
    }
    // Clock ticks 250 ms apart, as on every fifth 50 ms game tick.
    void ClockTicks(int count) {
        for (int i = 0; i < count; ++i) {
            time.Advance(250);
            clock.UpdateNightDay(weather);
        }
    }
    void GameTicks(int count, uint64_t ms = 50) {
        for (int i = 0; i < count; ++i) {
            time.Advance(ms);
            tick.Run();
        }
    }

    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
    ManualTimeSource time{1000};
    RuntimeRandom random;  // seed 1
    NightDay clock{time};
    GameWeather weather{random};
    std::string calls;  // s, x, n: server script, XScript, NPCs; then the console fields' texts
    std::vector<float> frameTimes;
    GameTick tick{
        time, clock, weather,
        GameTickSteps{[this] { calls += 's'; }, [this] { calls += 'x'; },
                      [this](float frameTime) {
                          calls += 'n';
                          frameTimes.push_back(frameTime);
                      },
                      [this](TickField, const char* text) { calls += text + std::string("|"); }}};
};

TEST_F(WorldTest, ADefaultHourPublishesItsMinutesAndBlendsTowardsTheNextHour) {
    EXPECT_EQ(clock.skyColour, 0x00ECF8F7u);  // noon of day 0
    ClockTicks(1);  // noon towards 13:00 moves only blue, by -5 / 41.666668
    EXPECT_FLOAT_EQ(clock.blue, 236.0f - 5.0f / 41.666668f);
    EXPECT_EQ(clock.skyColour, PackSky(247, 248, 235));
    ClockTicks(1);
    EXPECT_STREQ(clock.clockText, "12 :  3");  // 2.88: the text rounds, the minute not
    std::vector<int> minutes = {clock.shownMinute};
    for (int i = 3; i <= 42; ++i) {
        ClockTicks(1);
        ASSERT_EQ(clock.shownHour, 12);
        minutes.push_back(clock.shownMinute);
    }
    // 36 comes from a double rounded to float; float arithmetic would give 35.
    EXPECT_EQ(minutes, (std::vector<int>{2,  4,  5,  7,  8,  10, 11, 12, 14, 15, 17, 18, 20, 21,
                                         23, 24, 25, 27, 28, 30, 31, 33, 34, 36, 37, 38, 40, 41,
                                         43, 44, 46, 47, 48, 50, 51, 53, 54, 56, 57, 59, 60}));
    EXPECT_STREQ(clock.clockText, "12 : 60");
    EXPECT_EQ(clock.skyColour, clock.hourColours[13]);
    ClockTicks(1);
    EXPECT_STREQ(clock.clockText, "13 :  1");
}

TEST_F(WorldTest, AtOneTickAnHourADayShowsEveryHoursColourAndCountsAtMidnight) {
    clock.SetDayLength(24);
    std::string skies;
    for (int i = 0; i < 24; ++i) {
        ClockTicks(1);
        ASSERT_EQ(clock.shownMinute, 60);
        char sky[8];
        std::snprintf(sky, sizeof sky, "%06X ", clock.skyColour.load());
        skies += sky;
        if (clock.hour == 0) {
            EXPECT_STREQ(clock.clockText, "23 : 60");
            EXPECT_EQ(clock.dayCount, 1);
            EXPECT_FLOAT_EQ(clock.redStep, 78.0f - 98.0f);  // hour 23 blends towards midnight
        }
    }
    EXPECT_EQ(
        skies,
        "E7F8F7 D5F2EF C7EDED BEECE8 BEE1EC 7EC4E4 68A6E5 439EEB E87C83 D86F76 BE5C62 AF5C4E "
        "A96459 AE6B60 BA766A BA766A C68378 E8A398 EEBEB6 F3DAD6 FBF5F4 FFFFFF FFFFFF ECF8F7 ");
    EXPECT_EQ(clock.dayCount, 1);
}

TEST_F(WorldTest, ADayLengthOfZeroOrLessEndsTheHourOnEveryTick) {
    for (int64_t length : {0LL, -5LL, -1000000LL}) {
        clock.InitNightDay();
        clock.SetDayLength(length);
        ClockTicks(1);
        EXPECT_STREQ(clock.clockText, "12 : 60") << length;
        EXPECT_EQ(clock.skyColour, clock.hourColours[13]) << length;
    }
}

TEST_F(WorldTest, TheSkyIsSentWhenMoreThanASecondHasPassed) {
    ClockTicks(1);  // no sender: nothing is sent, but the interval restarts
    EXPECT_EQ(clock.lastSkySend, 1.25f);
    std::vector<int> sentAt;
    int tick = 1;
    clock.sendSkyWeather = [&](uint32_t sky, float volume, uint32_t lightning) {
        EXPECT_TRUE(sky == clock.skyColour && volume == weather.publishedVolume && lightning == 0);
        sentAt.push_back(tick);
    };
    for (tick = 2; tick <= 21; ++tick) {
        ClockTicks(1);
    }
    EXPECT_EQ(sentAt, (std::vector<int>{6, 11, 16, 21}));
}

TEST_F(WorldTest, ConsoleRainIsClampedLoggedAndRisesHoldsAndFadesFromZero) {
    LogOpen();
    clock.SetDayLength(24);
    ClockTicks(1);  // "12 : 60"
    clock.dayCount = 3;
    std::string log = "EmberRealms error checking file initialised...\n";
    for (auto [asked, target] : std::vector<std::pair<int, int>>{{75, 60}, {-5, 0}, {5, 5}}) {
        weather.volume = 9.0f;
        weather.holdProgress = 4;
        weather.BeginRain(asked, clock);
        log += "\nIt Rained at:\n12 : 60\nOn Day:\n3\n ";
        EXPECT_EQ(weather.targetVolume, target);
        EXPECT_TRUE(weather.step == 0.1f && weather.volume == 0.0f && weather.holdProgress == 0 &&
                    weather.raining == 1 && weather.rising == 1 && weather.holdDuration >= 0);
    }
    EXPECT_EQ(dir.Read("ErrorChk.txt"), log);
    weather.holdDuration = 3;
    uint32_t sky = clock.skyColour;
    int updates = 0;
    for (; weather.raining != 0 && updates < 1000; ++updates) {
        weather.UpdateRain(sky);
        ASSERT_EQ(weather.lightning, 0);  // never above 50
    }
    EXPECT_EQ(updates, 107);  // 51 steps of 0.1 up, 3 held, then down and one to see the end
    EXPECT_TRUE(weather.publishedProgress == 3 && weather.publishedDuration == 3);
    EXPECT_TRUE(weather.publishedVolume <= 0.0f && weather.publishedVolume > -0.1f);
}

// Rain darkens by its whole volume in 16-bit channels, never below the midnight colour.
TEST_F(WorldTest, DarkeningNeverGoesBelowMidnightAndLightningNeedsMoreThanFifty) {
    weather.raining = 1;
    weather.targetVolume = 60;
    weather.step = 0.0f;  // the volume stays
    const struct {
        float volume;
        int hour;
        uint32_t sky;
    } cases[] = {{0.0f, 0, 0x00AF5C4Eu},
                 {0.0f, 1, PackSky(89, 100, 175)},
                 {30.9f, 12, PackSky(217, 218, 206)},
                 {250.0f, 10, PackSky(78, 92, 175)}};
    for (const auto& c : cases) {
        weather.volume = c.volume;
        uint32_t sky = clock.hourColours[c.hour];
        weather.UpdateRain(sky);
        EXPECT_EQ(sky, c.sky) << c.volume << " at hour " << c.hour;
    }
    for (float volume : {50.0f, 50.1f}) {
        weather.volume = volume;
        int flashes = 0;
        for (int i = 0; i < 1000; ++i) {
            uint32_t sky = clock.skyColour;
            weather.UpdateRain(sky);
            flashes += weather.lightning;
        }
        EXPECT_EQ(flashes, volume > 50.0f ? 100 : 0) << volume;  // one in ten draws
    }
}

TEST_F(WorldTest, StepsRunInOrderAndEveryFifthTickStepsTheClockAndRefreshesTheConsole) {
    GameTicks(4);
    EXPECT_EQ(clock.tickInHour, 0);
    GameTicks(1);
    EXPECT_EQ(calls, "sxnsxnsxnsxnsxn0.050000|12 :  1|0|0|0.000|0|No|");
    EXPECT_EQ(frameTimes, std::vector<float>(5, 0.05f));
    calls.clear();
    GameTicks(1, 3000);  // capped at 1.0 but not shown: only every fifth tick's time is
    GameTicks(3);
    GameTicks(1, 20);
    EXPECT_EQ(frameTimes[5], 1.0f);
    EXPECT_EQ(calls, "sxnsxnsxnsxnsxn0.020000|12 :  3|0|0|0.000|0|No|");
    weather.BeginRain(30, clock);
    GameTicks(10);
    EXPECT_EQ(calls.substr(calls.size() - 28),
              "|12 :  6|0|" + std::to_string(weather.holdDuration) + "|0.200|0|Yes|");
}

// With nothing to run, the clock still steps and every fifth tick tries random rain: with seed
// 1 the 8072nd try starts one, with the target, hold and step it draws. While it rains a try
// draws nothing.
TEST_F(WorldTest, AGameTickWithEmptyStepsStepsTheClockAndTriesRandomRain) {
    GameTick bare{time, clock, weather, GameTickSteps{}};
    bare.TakeFirstTickTime();
    for (int i = 0; i < 5 * 8072 - 1; ++i) {
        time.Advance(50);
        bare.Run();
    }
    EXPECT_EQ(clock.tickInHour, 8071 % 42);
    EXPECT_EQ(weather.raining, 0);
    bare.Run();
    EXPECT_TRUE(weather.raining == 1 && weather.targetVolume == 37 &&
                weather.holdDuration == 11430 && weather.step == 0.03f && weather.rising == 1 &&
                weather.volume == 0.0f);
    const RuntimeRandom before = random;
    weather.TryRandomRain(clock);
    EXPECT_EQ(random.Draw(), RuntimeRandom(before).Draw());
}

}  // namespace

#include "world/game_tick.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "world/game_weather.h"
#include "world/night_day.h"
#include "world/random.h"

namespace {

// RuntimeRandom follows the Windows runtime within fifteen bits; a zero CRandom modulus means 2^32.
TEST(CRandomTest, BothGeneratorsGiveTheirFixedSequences) {
    RuntimeRandom runtime;  // unseeded behaves as seed 1
    EXPECT_EQ((std::vector{runtime.Draw(), runtime.Draw(), runtime.Draw()}),
              (std::vector{41, 18467, 6334}));
    runtime.Seed(0);
    EXPECT_EQ(runtime.Draw(), 38);
    CRandom random;
    EXPECT_EQ(random.Next(), 86594u);
    EXPECT_EQ(random.Next(), (8121u * 86594u + 28411u) % 134456u);
    EXPECT_EQ(CRandom(3, 1, 0, 0x80000000u).Next(), 0x80000001u);
}

TEST(CRandomTest, ConcurrentDrawsNeitherLoseNorRepeatAValue) {
    CRandom shared, sequential;
    std::vector<uint32_t> together(80000), expected(80000);
    std::vector<std::jthread> threads;
    for (auto p = together.begin(); p != together.end(); p += 20000)
        threads.emplace_back([&, p] { std::generate_n(p, 20000, [&] { return shared.Next(); }); });
    threads.clear();  // joins
    std::ranges::generate(expected, [&] { return sequential.Next(); });
    std::ranges::sort(together);
    std::ranges::sort(expected);
    EXPECT_EQ(together, expected);
    EXPECT_EQ(shared.state.load(), sequential.state.load());
}

TEST(FrameTimeTest, SecondsSinceTheStoredFloatReadingAtMostOne) {
    // clang-format off
    const struct { float last; uint32_t now; float frame, stored; } cases[] = {
        {1000, 1050, 0.05f, 1050}, {1000, 1999, 0.999f, 1999}, {1999, 8999, 1.0f, 8999}, {5000, 4990, 1.0f, 4990},
        {4294967000.0f, 20, 1.0f, 20}, {0, 16777217, 1.0f, 16777216}, {16777216, 16777267, 0.051f, 16777268},
        {3000000256.0f, 3000000220u, 1.0f, 3000000256.0f}};  // earlier, wrapped, 2^24 + 1, rounded up
    // clang-format on
    for (const auto& c : cases) {
        float last = c.last;
        EXPECT_FLOAT_EQ(AdvanceFrameTime(c.now, last), c.frame) << c.last << " -> " << c.now;
        EXPECT_EQ(last, c.stored) << c.now;
    }
}

class WorldTest : public ::testing::Test {
protected:
    WorldTest() { clock.InitNightDay(), weather.InitWeather(); }
    void ClockTicks(int count) {
        for (int i = 0; i < count; ++i)
            time.Advance(250), clock.UpdateNightDay(weather);
    }
    void GameTicks(GameTick& tick, int count, uint64_t ms = 50) {
        for (int i = 0; i < count; ++i)
            time.Advance(ms), tick.Run();
    }

    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
    ManualTimeSource time{1000};
    RuntimeRandom random;  // seed 1
    NightDay clock{time};
    GameWeather weather{random};
};

TEST_F(WorldTest, ADefaultHourPublishesItsMinutesBlendsTowardsTheNextAndSendsTheSkyEachSecond) {
    EXPECT_EQ(clock.skyColour, 0x00ECF8F7u);  // noon of day 0
    ClockTicks(1);  // noon towards 13:00 moves only blue, by -5 / 41.666668
    EXPECT_FLOAT_EQ(clock.blue, 236.0f - 5.0f / 41.666668f);
    EXPECT_EQ(clock.skyColour, PackSky(247, 248, 235));
    EXPECT_EQ(clock.lastSkySend, 1.25f);  // no sender: nothing is sent, but the interval restarts
    std::string sent;                     // the ticks that send
    clock.sendSkyWeather = [&](uint32_t sky, float volume, uint32_t lightning) {
        const bool now = sky == clock.skyColour && volume == weather.publishedVolume;
        sent += now && lightning == 0 ? std::to_string(clock.tickInHour) + " " : "? ";
    };
    ClockTicks(1);
    EXPECT_STREQ(clock.clockText, "12 :  3");  // 2.88: the text rounds, the minute not
    EXPECT_EQ(clock.shownMinute, 2);
    ClockTicks(23);
    EXPECT_EQ(clock.shownMinute, 36);  // a double rounded to float; float arithmetic gives 35
    ClockTicks(16);
    EXPECT_TRUE(clock.shownHour == 12 && clock.tickInHour == 41);
    ClockTicks(1);
    EXPECT_STREQ(clock.clockText, "12 : 60");
    EXPECT_EQ(clock.skyColour, clock.hourColours[13]);
    ClockTicks(1);
    EXPECT_STREQ(clock.clockText, "13 :  1");
    EXPECT_EQ(sent, "6 11 16 21 26 31 36 41 ");
}

// A day length of zero or less ends the hour on every tick, as a length of 24 does.
TEST_F(WorldTest, AtOneTickAnHourADayShowsEveryHoursColourAndCountsAtMidnight) {
    // clang-format off
    const std::vector<uint32_t> day = {0xE7F8F7, 0xD5F2EF, 0xC7EDED, 0xBEECE8, 0xBEE1EC, 0x7EC4E4, 0x68A6E5, 0x439EEB, 0xE87C83, 0xD86F76, 0xBE5C62, 0xAF5C4E,
        0xA96459, 0xAE6B60, 0xBA766A, 0xBA766A, 0xC68378, 0xE8A398, 0xEEBEB6, 0xF3DAD6, 0xFBF5F4, 0xFFFFFF, 0xFFFFFF, 0xECF8F7};
    // clang-format on
    for (int64_t length : {24LL, 0LL, -5LL, -1000000LL}) {
        clock.InitNightDay();
        clock.SetDayLength(length);
        std::vector<uint32_t> skies;
        for (int i = 0; i < 24; ++i) {
            ClockTicks(1);
            ASSERT_EQ(clock.shownMinute, 60) << length;
            skies.push_back(clock.skyColour);
            if (clock.hour == 0) {  // hour 23 blends towards midnight: red 98 to 78
                EXPECT_TRUE(std::string(clock.clockText) == "23 : 60" && clock.dayCount == 1 &&
                            clock.redStep == -20.0f);
            }
        }
        EXPECT_EQ(skies, day) << length;
    }
}

TEST_F(WorldTest, ConsoleRainIsClampedLoggedRisesHoldsFadesAndDarkensAndHeavyRainFlashes) {
    clock.SetDayLength(24);
    ClockTicks(1);  // "12 : 60"
    clock.dayCount = 3;
    std::string log;
    for (auto [asked, target] : std::vector<std::pair<int, int>>{{75, 60}, {-5, 0}, {5, 5}}) {
        weather.volume = 9.0f, weather.holdProgress = 4;
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
    EXPECT_TRUE(weather.publishedProgress == 3 && weather.publishedDuration == 3 &&
                weather.publishedVolume <= 0.0f && weather.publishedVolume > -0.1f);
    weather.step = 0.0f;  // darkens by the whole volume in 16-bit channels, not below midnight's
    // clang-format off
    const struct { float volume; int hour; uint32_t sky; } cases[] = {{0.0f, 0, 0x00AF5C4Eu},
        {0.0f, 1, PackSky(89, 100, 175)}, {30.9f, 12, PackSky(217, 218, 206)}, {250.0f, 10, PackSky(78, 92, 175)}};
    for (const auto& c : cases) {
        weather.volume = c.volume, sky = clock.hourColours[c.hour];
        weather.UpdateRain(sky);
        EXPECT_EQ(sky, c.sky) << c.volume << " at hour " << c.hour;
    }
    // clang-format on
    for (float volume : {50.0f, 50.1f}) {
        weather.volume = volume;
        int flashes = 0;
        for (int i = 0; i < 1000; ++i)
            weather.UpdateRain(sky), flashes += weather.lightning;
        EXPECT_EQ(flashes, volume > 50.0f ? 100 : 0) << volume;  // one in ten draws
    }
}

TEST_F(WorldTest, StepsRunInOrderAndEveryFifthTickStepsTheClockAndRefreshesTheConsole) {
    std::string calls;  // server script, XScript, NPCs (N: not given the tick's time), fields
    GameTick tick{
        time, clock, weather,
        GameTickSteps{[&] { calls += 's'; }, [&] { calls += 'x'; },
                      [&](float frame) { calls += frame == tick.frameTime() ? 'n' : 'N'; },
                      [&](TickField, const char* text) { calls += text + std::string("|"); }}};
    tick.TakeFirstTickTime();
    GameTicks(tick, 5);
    EXPECT_EQ(calls, "sxnsxnsxnsxnsxn0.050000|12 :  1|0|0|0.000|0|No|");
    calls.clear();
    GameTicks(tick, 1, 3000);  // capped at 1.0 but not shown: only every fifth tick's time is
    EXPECT_EQ(tick.frameTime(), 1.0f);
    GameTicks(tick, 3);
    GameTicks(tick, 1, 20);
    EXPECT_EQ(calls, "sxnsxnsxnsxnsxn0.020000|12 :  3|0|0|0.000|0|No|");
    weather.BeginRain(30, clock);
    GameTicks(tick, 10);
    EXPECT_EQ(calls.substr(calls.size() - 28),
              "|12 :  6|0|" + std::to_string(weather.holdDuration) + "|0.200|0|Yes|");
}

// Every fifth bare tick steps the clock and tries rain: seed 1's 8072nd try starts one.
TEST_F(WorldTest, AGameTickWithEmptyStepsStepsTheClockAndTriesRandomRain) {
    GameTick bare{time, clock, weather, GameTickSteps{}};
    bare.TakeFirstTickTime();
    GameTicks(bare, 5 * 8072 - 1);
    EXPECT_TRUE(clock.tickInHour == 8071 % 42 && weather.raining == 0);
    GameTicks(bare, 1);
    EXPECT_TRUE(weather.raining == 1 && weather.targetVolume == 37 &&
                weather.holdDuration == 11430 && weather.step == 0.03f && weather.rising == 1 &&
                weather.volume == 0.0f);
    const RuntimeRandom before = random;
    weather.TryRandomRain(clock);
    EXPECT_EQ(random.Draw(), RuntimeRandom(before).Draw());
}

}  // namespace

#include "world/game_tick.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "world/game_weather.h"
#include "world/night_day.h"

namespace {

TEST(FrameTimeTest, FiftyMillisecondsIsFiveHundredths) {
    float last = 1000.0f;
    EXPECT_FLOAT_EQ(AdvanceFrameTime(1050, last), 0.05f);
    EXPECT_EQ(last, 1050.0f);
}

TEST(FrameTimeTest, ALongPauseIsCappedAtOneSecond) {
    float last = 1000.0f;
    EXPECT_EQ(AdvanceFrameTime(1999, last), 0.999f);
    EXPECT_EQ(AdvanceFrameTime(1999 + 7000, last), 1.0f);
}

TEST(FrameTimeTest, AReadingEarlierThanTheLastGivesExactlyOneSecond) {
    float last = 5000.0f;
    EXPECT_EQ(AdvanceFrameTime(4990, last), 1.0f);
    EXPECT_EQ(last, 4990.0f);
    last = 4294967000.0f;  // the counter wraps
    EXPECT_EQ(AdvanceFrameTime(20, last), 1.0f);
}

TEST(FrameTimeTest, LastTickTimeIsStoredAsAFloat) {
    float last = 0.0f;
    AdvanceFrameTime(16777217, last);  // 2^24 + 1 is not a float
    EXPECT_EQ(last, 16777216.0f);
    // The stored reading lost a millisecond: the measured gap is 51 ms, not 50.
    EXPECT_FLOAT_EQ(AdvanceFrameTime(16777267, last), 0.051f);
    // At a large uptime a reading stored rounded up is above the next true reading.
    last = 0.0f;
    AdvanceFrameTime(3000000200u, last);  // stored as 3000000256
    EXPECT_EQ(last, 3000000256.0f);
    EXPECT_EQ(AdvanceFrameTime(3000000220u, last), 1.0f);
}

class GameTickTest : public ::testing::Test {
protected:
    GameTickTest() {
        clock.InitNightDay();
        weather.InitWeather();
        tick.TakeFirstTickTime();
    }

    void RunTicks(int count) {
        for (int i = 0; i < count; ++i) {
            time.Advance(50);
            tick.Run();
        }
    }

    GameTickSteps Steps() {
        GameTickSteps steps;
        steps.runServerScript = [this] { calls.push_back("script"); };
        steps.runXScript = [this] { calls.push_back("xscript"); };
        steps.tickObjectSet = [this](float frameTime) {
            calls.push_back("npcs");
            frameTimes.push_back(frameTime);
        };
        steps.setField = [this](TickField field, const char* text) {
            calls.push_back("field");
            fields[field] = text;
        };
        return steps;
    }

    ManualTimeSource time{10000};
    RuntimeRandom random;
    NightDay clock{time};
    GameWeather weather{random};
    std::vector<std::string> calls;
    std::vector<float> frameTimes;
    std::map<TickField, std::string> fields;
    GameTick tick{time, clock, weather, Steps()};
};

TEST_F(GameTickTest, StepsRunInOrderAndTheConsoleRefreshesEveryFifthTick) {
    RunTicks(4);
    EXPECT_EQ(calls.size(), 12u);
    EXPECT_TRUE(fields.empty());
    EXPECT_EQ(clock.tickInHour, 0);
    RunTicks(1);
    ASSERT_EQ(calls.size(), 15u + 7u);
    EXPECT_EQ(calls[12], "script");
    EXPECT_EQ(calls[13], "xscript");
    EXPECT_EQ(calls[14], "npcs");
    EXPECT_EQ(clock.tickInHour, 1);
    EXPECT_EQ(tick.tickCounter(), 0);
    RunTicks(5);
    EXPECT_EQ(clock.tickInHour, 2);  // clock steps on ticks 5, 10, 15, ...
}

TEST_F(GameTickTest, RefreshWritesTheStatusFieldsTexts) {
    RunTicks(5);
    EXPECT_EQ(fields[TickField::TimeDelta], "0.050000");
    EXPECT_EQ(fields[TickField::GameTime], "12 :  1");
    EXPECT_EQ(fields[TickField::DaysRunning], "0");
    EXPECT_EQ(fields[TickField::RainDuration], "0");
    EXPECT_EQ(fields[TickField::RainVolume], "0.000");
    EXPECT_EQ(fields[TickField::RainProgress], "0");
    EXPECT_EQ(fields[TickField::IsItRaining], "No");
    for (float frameTime : frameTimes) {
        EXPECT_FLOAT_EQ(frameTime, 0.05f);
    }
}

TEST_F(GameTickTest, TimeDeltaShowsTheFifthTicksFrameTimeOnly) {
    time.Advance(50);
    tick.Run();
    time.Advance(3000);
    tick.Run();  // capped at 1.0 but not shown
    RunTicks(2);
    time.Advance(20);
    tick.Run();
    EXPECT_EQ(fields[TickField::TimeDelta], "0.020000");
    EXPECT_EQ(frameTimes[1], 1.0f);
}

TEST_F(GameTickTest, RainShowsOnTheConsoleWhileItFalls) {
    weather.BeginRain(30, clock);
    RunTicks(10);
    EXPECT_EQ(fields[TickField::IsItRaining], "Yes");
    EXPECT_EQ(fields[TickField::RainVolume], "0.200");
}

TEST_F(GameTickTest, EmptyStepsAreSkipped) {
    GameTick bare{time, clock, weather, GameTickSteps{}};
    bare.TakeFirstTickTime();
    for (int i = 0; i < 10; ++i) {
        time.Advance(50);
        bare.Run();
    }
    EXPECT_EQ(bare.ticksRun(), 10u);
    EXPECT_EQ(clock.tickInHour, 2);
}

}  // namespace

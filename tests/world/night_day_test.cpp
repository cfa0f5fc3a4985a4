#include "world/night_day.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "world/game_weather.h"
#include "world/random.h"

namespace {

class NightDayTest : public ::testing::Test {
protected:
    NightDayTest() {
        clock.InitNightDay();
        weather.InitWeather();
    }

    // One clock tick, 250 ms after the previous one as with the 50 ms game timer.
    void Tick() {
        time.Advance(250);
        clock.UpdateNightDay(weather);
    }

    ManualTimeSource time{1000};
    RuntimeRandom random;
    NightDay clock{time};
    GameWeather weather{random};
};

TEST_F(NightDayTest, StartsAtNoonOfDayZeroWithTheNoonSky) {
    EXPECT_EQ(clock.hour, 12);
    EXPECT_EQ(clock.dayCount, 0);
    EXPECT_EQ(clock.skyColour, 0x00ECF8F7u);
    EXPECT_STREQ(clock.clockText, "");
    EXPECT_EQ(clock.hourColours[24], clock.hourColours[0]);
    EXPECT_EQ(clock.hourColours[21], 0x00E87C83u);
}

TEST_F(NightDayTest, DefaultHourPublishesTheSkippingMinutesUpToSixtyThenRollsOver) {
    const std::vector<int> expected = {1,  2,  4,  5,  7,  8,  10, 11, 12, 14, 15, 17, 18, 20,
                                       21, 23, 24, 25, 27, 28, 30, 31, 33, 34, 36, 37, 38, 40,
                                       41, 43, 44, 46, 47, 48, 50, 51, 53, 54, 56, 57, 59, 60};
    std::vector<int> published;
    for (int i = 0; i < 42; ++i) {
        Tick();
        EXPECT_EQ(clock.shownHour, 12) << "tick " << i + 1;
        published.push_back(clock.shownMinute);
    }
    EXPECT_EQ(published, expected);  // 36 is published where double precision would give 35
    EXPECT_STREQ(clock.clockText, "12 : 60");
    EXPECT_EQ(clock.hour, 13);
    EXPECT_EQ(clock.skyColour, clock.hourColours[13]);  // exact table colour on the roll-over

    Tick();
    EXPECT_EQ(clock.shownHour, 13);
    EXPECT_EQ(clock.shownMinute, 1);
    EXPECT_STREQ(clock.clockText, "13 :  1");
}

TEST_F(NightDayTest, TheMinuteTextRoundsWhileTheShownMinuteTruncates) {
    Tick();  // 1/41.666668*60 = 1.44
    EXPECT_STREQ(clock.clockText, "12 :  1");
    Tick();  // 2.88
    EXPECT_STREQ(clock.clockText, "12 :  3");
    EXPECT_EQ(clock.shownMinute, 2);
}

TEST_F(NightDayTest, ChannelsBlendTowardsTheNextHour) {
    Tick();
    // Noon 247,248,236 towards 13:00 247,248,231: only blue moves, by -5/41.666668.
    EXPECT_FLOAT_EQ(clock.blue, 236.0f - 5.0f / 41.666668f);
    EXPECT_FLOAT_EQ(clock.red, 247.0f);
    EXPECT_EQ(clock.skyColour, PackSky(247, 248, 235));  // 235.88 truncates to 235
}

TEST_F(NightDayTest, MidnightRollOverCountsADayAndHour23BlendsTowardsMidnight) {
    clock.SetDayLength(24);  // one clock tick an hour
    clock.hour = 22;
    Tick();
    EXPECT_EQ(clock.hour, 23);
    EXPECT_EQ(clock.dayCount, 0);
    Tick();
    EXPECT_STREQ(clock.clockText, "23 : 60");
    EXPECT_EQ(clock.shownHour, 23);
    EXPECT_EQ(clock.hour, 0);
    EXPECT_EQ(clock.dayCount, 1);
    EXPECT_EQ(clock.skyColour, 0x00AF5C4Eu);
    EXPECT_FLOAT_EQ(clock.redStep, 78.0f - 98.0f);  // towards entry 24, the midnight colour
}

TEST_F(NightDayTest, DayLengthsOf24And1440) {
    clock.SetDayLength(1440);
    EXPECT_FLOAT_EQ(clock.ticksPerHour, 60.0f);
    for (int i = 1; i <= 60; ++i) {
        Tick();
        ASSERT_EQ(clock.shownMinute, i);
    }
    EXPECT_EQ(clock.hour, 13);

    clock.SetDayLength(24);
    EXPECT_FLOAT_EQ(clock.ticksPerHour, 1.0f);
    for (int i = 0; i < 24; ++i) {
        Tick();
        ASSERT_EQ(clock.shownMinute, 60);
    }
    EXPECT_EQ(clock.hour, 13);
    EXPECT_EQ(clock.dayCount, 1);
}

TEST_F(NightDayTest, DayLengthChangeMidHourKeepsTheHourAndChannels) {
    for (int i = 0; i < 10; ++i) {
        Tick();
    }
    const float blue = clock.blue;
    clock.SetDayLength(100);
    EXPECT_EQ(clock.hour, 12);
    EXPECT_EQ(clock.tickInHour, 10);
    EXPECT_EQ(clock.blue, blue);
    Tick();  // tick 11 of an hour now 4.1666 ticks long: rolls over at once
    EXPECT_EQ(clock.shownMinute, 158);  // 11 / 4.1666668 * 60
    EXPECT_EQ(clock.hour, 13);
}

TEST_F(NightDayTest, DayLengthOfZeroOrLessEndsTheHourOnEveryTickWithMinuteSixty) {
    for (int64_t length : {0LL, -5LL, -1000000LL}) {
        clock.InitNightDay();
        clock.SetDayLength(length);
        Tick();
        EXPECT_STREQ(clock.clockText, "12 : 60") << length;
        EXPECT_EQ(clock.shownMinute, 60);
        EXPECT_EQ(clock.hour, 13);
        EXPECT_EQ(clock.skyColour, clock.hourColours[13]);
    }
}

TEST_F(NightDayTest, SkyIsSentOnTheFirstClockTickThenAboutEverySecond) {
    std::vector<uint64_t> sentAtTick;
    uint64_t tick = 0;
    clock.sendSkyWeather = [&](uint32_t sky, float volume, uint32_t lightning) {
        EXPECT_EQ(sky, clock.skyColour);
        EXPECT_EQ(volume, weather.publishedVolume);
        EXPECT_EQ(lightning, 0u);
        sentAtTick.push_back(tick);
    };
    for (tick = 1; tick <= 21; ++tick) {
        Tick();
    }
    // Clock ticks every 250 ms: strictly more than a second must pass, so every fifth tick.
    EXPECT_EQ(sentAtTick, (std::vector<uint64_t>{1, 6, 11, 16, 21}));
}

TEST_F(NightDayTest, NoSenderMeansNoSkyMessageButTheClockRuns) {
    Tick();
    EXPECT_EQ(clock.shownMinute, 1);
    EXPECT_TRUE(clock.lastSkySend > 0.0f);  // the gate still opened
}

}  // namespace

// Percentiles, the latency histogram and the printed summary of a load run.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "load_stats.h"

namespace er_bot {
namespace {

TEST(ErBotLoadStats, PercentilesAreTheNearestRank) {
    struct Case {
        std::vector<int64_t> values;
        double percent;
        std::optional<int64_t> expected;
    };
    const Case cases[] = {
        {{}, 50, std::nullopt},
        {{7}, 0, 7},
        {{7}, 50, 7},
        {{7}, 100, 7},
        {{5, 1, 4, 2, 3}, 50, 3},
        {{5, 1, 4, 2, 3}, 20, 1},
        {{5, 1, 4, 2, 3}, 21, 2},
        {{5, 1, 4, 2, 3}, 99, 5},
        {{5, 1, 4, 2, 3}, 100, 5},
        {{5, 1, 4, 2, 3}, 0, 1},
        {{5, 1, 4, 2, 3}, 150, 5},  // clamped
        {{10, 20, 30, 40}, 50, 20},
        {{10, 20, 30, 40}, 75, 30},
        {{10, 20, 30, 40}, 76, 40},
    };
    for (const Case& c : cases) {
        std::vector<int64_t> values = c.values;
        EXPECT_EQ(Percentile(values, c.percent), c.expected)
            << c.values.size() << " values at " << c.percent;
    }
    std::vector<int64_t> hundred(100);
    for (int i = 0; i < 100; ++i)
        hundred[size_t(i)] = 100 - i;  // 100 down to 1
    EXPECT_EQ(Percentile(hundred, 99), 99);
    EXPECT_EQ(Percentile(hundred, 50), 50);
}

TEST(ErBotLoadStats, SmallLatenciesAreExact) {
    LatencyHistogram h;
    EXPECT_EQ(h.Percentile(50), std::nullopt);
    for (uint64_t v : {0, 1, 2, 63, 40})
        h.Add(v);
    EXPECT_EQ(h.count(), 5u);
    EXPECT_EQ(h.Percentile(0), 0u);
    EXPECT_EQ(h.Percentile(40), 1u);
    EXPECT_EQ(h.Percentile(60), 2u);
    EXPECT_EQ(h.Percentile(80), 40u);
    EXPECT_EQ(h.Percentile(100), 63u);
    EXPECT_EQ(h.max(), 63u);
}

// Seeded samples from very different ranges: the histogram's percentile is never below the
// exact one and at most 1/32 above it, and the maximum is exact.
TEST(ErBotLoadStats, HistogramPercentilesStayWithinOneBucketOfTheExactOnes) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        std::mt19937_64 random(seed);
        const int count = 1 + int(random() % 3000);
        const uint64_t scale = uint64_t(1) << (random() % 40);
        LatencyHistogram h, first, second;
        std::vector<int64_t> exact;
        for (int i = 0; i < count; ++i) {
            const uint64_t v = random() % scale + (random() % 4 == 0 ? random() % 100 : 0);
            h.Add(v);
            (i % 2 == 0 ? first : second).Add(v);
            exact.push_back(int64_t(v));
        }
        first.Merge(second);
        for (double p : {0.0, 1.0, 50.0, 90.0, 99.0, 99.9, 100.0}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " p" + std::to_string(p));
            const auto truth = uint64_t(*Percentile(exact, p));
            const uint64_t got = *h.Percentile(p);
            EXPECT_GE(got, truth);
            EXPECT_LE(got, truth + truth / 32);
            EXPECT_EQ(first.Percentile(p), got);
        }
        EXPECT_EQ(h.max(), uint64_t(*std::max_element(exact.begin(), exact.end())));
        EXPECT_EQ(h.Percentile(100), h.max());
        EXPECT_EQ(first.count(), uint64_t(count));
    }
    LatencyHistogram huge;
    huge.Add(UINT64_MAX);
    EXPECT_EQ(huge.Percentile(50), UINT64_MAX);
}

LoadSummary Sample() {
    LoadSummary s;
    s.players = 20, s.joined = 19, s.failed = 1;
    s.joinP50Ms = 1.5, s.joinP99Ms = 4.25, s.joinMaxMs = 4.25;
    s.measuredSeconds = 2, s.elapsedSeconds = 4;
    s.messagesSent = 800, s.messagesReceived = 900, s.datagramsSent = 1601,
    s.datagramsReceived = 1700;
    s.nearbyReplies = 790, s.nearbyP50Ms = 0.3, s.nearbyP99Ms = 1.25, s.nearbyMaxMs = 2;
    s.reportsUnanswered = 10, s.npcUpdates = 40, s.skyMessages = 38, s.dropped = 2;
    s.guaranteedSent = 19, s.guaranteedLost = 2, s.cpuSeconds = 0.5;
    s.windowCpuSeconds = 0.25;
    return s;
}

TEST(ErBotLoadStats, TheSummaryNamesEveryFigure) {
    EXPECT_EQ(
        FormatSummary(Sample()),
        "players        19 of 20 joined, 1 failed\n"
        "join time      p50 1.50 ms, p99 4.25 ms, max 4.25 ms\n"
        "measured over  2.00 s with every join done (run 4.00 s)\n"
        "messages       sent 800 (400.0/s), received 900 (450.0/s)\n"
        "datagrams      sent 1601 (800.5/s), received 1700 (850.0/s)\n"
        "NearbyPlayers  790 replies, round trip p50 0.30 ms, p99 1.25 ms, max 2.00 ms; 10 "
        "reports unanswered\n"
        "NPC updates    40 received\n"
        "sky messages   38 received\n"
        "dropped        2 players dropped by the server\n"
        "guaranteed     19 sent, 2 lost or unconfirmed\n"
        "er-bot CPU     0.50 s over the run (12.5 % of one core), 0.25 s measured (12.5 %)\n");
    LoadSummary none;
    none.players = 3, none.failed = 3;
    const std::string empty = FormatSummary(none);
    EXPECT_NE(empty.find("join time      p50 -, p99 -, max -\n"), std::string::npos) << empty;
    EXPECT_NE(empty.find("sent 0 (0.0/s)"), std::string::npos) << empty;
}

TEST(ErBotLoadStats, TheResultLineIsKeyValuePairsWithNanForMissingSamples) {
    EXPECT_EQ(FormatResultLine(Sample()),
              "RESULT players=20 joined=19 failed=1 join_p50_ms=1.500 join_p99_ms=4.250 "
              "join_max_ms=4.250 measured_s=2.000 msgs_sent_per_s=400.0 msgs_recv_per_s=450.0 "
              "dgrams_sent_per_s=800.5 dgrams_recv_per_s=850.0 nearby_replies=790 "
              "nearby_p50_ms=0.300 nearby_p99_ms=1.250 nearby_max_ms=2.000 reports_unanswered=10 "
              "npc_updates=40 sky_messages=38 dropped=2 guaranteed_sent=19 guaranteed_lost=2 "
              "cpu_s=0.500 cpu_measured_s=0.250 elapsed_s=4.000");
    LoadSummary none;
    const std::string line = FormatResultLine(none);
    EXPECT_NE(line.find(" join_p50_ms=nan "), std::string::npos) << line;
    EXPECT_NE(line.find(" nearby_max_ms=nan "), std::string::npos) << line;
    EXPECT_NE(line.find(" msgs_sent_per_s=0.0 "), std::string::npos) << line;
}

}  // namespace
}  // namespace er_bot

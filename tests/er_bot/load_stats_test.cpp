// Percentiles, the latency histogram and the printed summary of a load run.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "load_stats.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace er_bot {
namespace {

TEST(ErBotLoadStats, PercentilesAreTheNearestRankAndSmallLatenciesAreExact) {
    const std::vector<int64_t> five = {5, 1, 4, 2, 3}, four = {10, 20, 30, 40};
    // clang-format off
    const std::tuple<std::vector<int64_t>, double, std::optional<int64_t>> cases[] = {
        {{}, 50, std::nullopt}, {{7}, 0, 7}, {{7}, 50, 7}, {{7}, 100, 7}, {five, 50, 3}, {five, 20, 1}, {five, 21, 2},
        {five, 99, 5}, {five, 100, 5}, {five, 0, 1}, {five, 150, 5} /* clamped */, {four, 50, 20}, {four, 75, 30}, {four, 76, 40}};
    // clang-format on
    for (auto [values, percent, expected] : cases)
        EXPECT_EQ(Percentile(values, percent), expected) << values.size() << " at " << percent;
    std::vector<int64_t> hundred(100);
    for (int i = 0; i < 100; ++i)
        hundred[size_t(i)] = 100 - i;  // 100 down to 1
    EXPECT_EQ(Percentile(hundred, 99), 99);
    EXPECT_EQ(Percentile(hundred, 50), 50);
    LatencyHistogram h;
    EXPECT_EQ(h.Percentile(50), std::nullopt);
    for (uint64_t v : {0, 1, 2, 63, 40})
        h.Add(v);
    EXPECT_EQ(std::vector({h.Percentile(0), h.Percentile(40), h.Percentile(60), h.Percentile(80),
                           h.Percentile(100), std::optional(h.max()), std::optional(h.count())}),
              (std::vector<std::optional<uint64_t>>{0, 1, 2, 40, 63, 63, 5}));
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

TEST(ErBotLoadStats, TheSummaryAndTheResultLineNameEveryFigure) {
    // clang-format off
    const LoadSummary sample{20, 19, 1, 1.5, 4.25, 4.25, 2, 800, 900, 1601, 1700, 790, 0.3, 1.25, 2, 10, 40, 38, 2, 19, 2, 0.5, 0.25, 4};
    // clang-format on
    EXPECT_EQ(
        FormatSummary(sample),
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
    EXPECT_EQ(FormatResultLine(sample),
              "RESULT players=20 joined=19 failed=1 join_p50_ms=1.500 join_p99_ms=4.250 "
              "join_max_ms=4.250 measured_s=2.000 msgs_sent_per_s=400.0 msgs_recv_per_s=450.0 "
              "dgrams_sent_per_s=800.5 dgrams_recv_per_s=850.0 nearby_replies=790 "
              "nearby_p50_ms=0.300 nearby_p99_ms=1.250 nearby_max_ms=2.000 reports_unanswered=10 "
              "npc_updates=40 sky_messages=38 dropped=2 guaranteed_sent=19 guaranteed_lost=2 "
              "cpu_s=0.500 cpu_measured_s=0.250 elapsed_s=4.000");
    // No samples: dashes for people, nan for scripts, and no rate from a window of nothing.
    const std::string empty = FormatSummary({.players = 3, .failed = 3}),
                      line = FormatResultLine({});
    const std::pair<std::string, const char*> parts[] = {
        {empty, "join time      p50 -, p99 -, max -\n"},
        {empty, "sent 0 (0.0/s)"},
        {line, " join_p50_ms=nan "},
        {line, " nearby_max_ms=nan "},
        {line, " msgs_sent_per_s=0.0 "}};
    for (const auto& [text, part] : parts)
        EXPECT_NE(text.find(part), std::string::npos) << text;
}

}  // namespace
}  // namespace er_bot

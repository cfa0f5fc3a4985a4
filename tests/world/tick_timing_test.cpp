// The game tick's timing figures: lateness against the 50 ms period and CPU time, over the
// last minute of ticks.

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "world/tick_timing.h"

namespace {

using Summary = TickTiming::Summary;

Summary Of(const std::vector<double>& starts, double cpu = 0.5) {
    TickTiming timing;
    for (double start : starts)
        timing.Record(start, cpu);
    return timing.Summarize();
}

TEST(TickTiming, LatenessIsWhatAGapExceedsThePeriodByAndOnlyTheLastMinuteCounts) {
    // clang-format off
    const std::tuple<const char*, std::vector<double>, Summary> cases[] = {{"none", {}, {}},
        {"the first has nothing to be late against", {1000}, {1, 0, 0, 0, 0.5, 0.5}},
        {"on time, and early counts as on time", {0, 50, 100, 140}, {4, 0, 0, 0, 0.5, 0.5}},
        // One tick delayed by 30 ms among four: it is the top percent and the maximum.
        {"one delayed tick", {0, 50, 130, 180}, {4, 0, 30, 30, 0.5, 0.5}}, {"delayed twice", {0, 62.5, 112.5, 175}, {4, 0, 12.5, 12.5, 0.5, 0.5}}};
    // clang-format on
    for (const auto& [what, starts, want] : cases)
        EXPECT_EQ(Of(starts), want) << what;

    // A late tick more than a minute ago has left the window.
    std::vector<double> starts{0, 500};
    for (size_t i = 1; i <= TickTiming::kWindow; ++i)
        starts.push_back(500 + 50.0 * double(i));
    EXPECT_EQ(Of(starts), (Summary{TickTiming::kWindow, 0, 0, 0, 0.5, 0.5}));
}

TEST(TickTiming, PercentilesAndCpuFiguresMatchASortedMinute) {
    std::mt19937 random(11);
    TickTiming timing;
    std::vector<double> late, cpu;
    double start = 0;
    for (int i = 0; i < 3000; ++i) {
        const double delay = random() % 10 == 0 ? double(random() % 40) : 0;
        const double spent = double(random() % 1000) / 100;
        start += 50 + delay;
        timing.Record(start, spent);
        if (i > 0)
            late.push_back(delay), cpu.push_back(spent);
    }
    late.erase(late.begin(), late.end() - TickTiming::kWindow);
    cpu.erase(cpu.begin(), cpu.end() - TickTiming::kWindow);
    std::sort(late.begin(), late.end());
    const Summary got = timing.Summarize();
    EXPECT_EQ((std::tuple(got.ticks, got.lateP50Ms, got.lateP99Ms, got.lateMaxMs, got.cpuMaxMs)),
              (std::tuple(TickTiming::kWindow, late[599], late[1187], late.back(),
                          *std::ranges::max_element(cpu))));
    EXPECT_NEAR(got.cpuMeanMs, std::accumulate(cpu.begin(), cpu.end(), 0.0) / double(cpu.size()),
                1e-9);
}

}  // namespace

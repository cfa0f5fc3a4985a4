#pragma once
// The figures of a load run and how they are printed: percentiles by nearest rank (the
// smallest sample that at least p % of the samples do not exceed), a histogram that keeps
// latencies without holding every sample, and the summary with its RESULT line.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace er_bot {

// Nearest-rank percentile of the values (which it sorts); nothing when there are none.
std::optional<int64_t> Percentile(std::vector<int64_t>& values, double percent);

// Latencies in microseconds: exact below 64 us, then 32 buckets to each power of two, so a
// percentile is at most 1/32 (3.1 %) above the true sample and never below it. The maximum
// is exact. Fixed size: adding a sample never allocates.
class LatencyHistogram {
public:
    void Add(uint64_t micros);
    uint64_t count() const { return count_; }
    uint64_t max() const { return max_; }
    std::optional<uint64_t> Percentile(double percent) const;
    void Merge(const LatencyHistogram& other);

private:
    static constexpr int kExact = 64;
    static constexpr int kSubBuckets = 32;
    static constexpr int kBuckets = kExact + (64 - 6) * kSubBuckets;
    static int BucketOf(uint64_t micros);
    static uint64_t HighestIn(int bucket);

    std::array<uint64_t, kBuckets> buckets_{};
    uint64_t count_ = 0;
    uint64_t max_ = 0;
};

struct LoadSummary {
    int players = 0;
    int joined = 0;
    int failed = 0;
    std::optional<double> joinP50Ms, joinP99Ms, joinMaxMs;
    double measuredSeconds = 0;  // the window the rates are counted over
    uint64_t messagesSent = 0, messagesReceived = 0;
    uint64_t datagramsSent = 0, datagramsReceived = 0;
    uint64_t nearbyReplies = 0;
    std::optional<double> nearbyP50Ms, nearbyP99Ms, nearbyMaxMs;
    uint64_t reportsUnanswered = 0;
    uint64_t npcUpdates = 0;
    uint64_t skyMessages = 0;
    int dropped = 0;
    uint64_t guaranteedSent = 0;
    uint64_t guaranteedLost = 0;
    double cpuSeconds = 0;        // er-bot's own, user and system, over the whole run
    double windowCpuSeconds = 0;  // the same over the measured window
    double elapsedSeconds = 0;    // the whole run, joins and leaves included
};

// The summary for people, several lines, each ending in a line break.
std::string FormatSummary(const LoadSummary& s);
// One line "RESULT key=value ..." (no line break) for scripts; "nan" where there was no sample.
std::string FormatResultLine(const LoadSummary& s);

}  // namespace er_bot

#pragma once
// How late the game tick runs and what it costs, over the last minute of ticks. The window
// thread records each tick; the figures are read on demand (the console's statistics).

#include <cstddef>
#include <vector>

class TickTiming {
public:
    static constexpr double kPeriodMs = 50.0;
    static constexpr size_t kWindow = 1200;  // a minute of ticks

    struct Summary {
        size_t ticks = 0;  // in the window
        // Lateness: how much longer than the period a tick came after the one before.
        double lateP50Ms = 0, lateP99Ms = 0, lateMaxMs = 0;
        // The tick's own CPU time.
        double cpuMeanMs = 0, cpuMaxMs = 0;
        bool operator==(const Summary&) const = default;
    };

    // A tick that began at `startMs` (a monotonic clock) and took `cpuMs` of CPU time.
    void Record(double startMs, double cpuMs);
    Summary Summarize() const;

private:
    std::vector<double> late_, cpu_;  // ring buffers of kWindow entries
    size_t next_ = 0;
    double lastStartMs_ = 0;
    bool started_ = false;
};

// CPU time the calling thread has used, in milliseconds.
double ThreadCpuMilliseconds();

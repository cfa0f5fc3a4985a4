#include "world/tick_timing.h"

#include <algorithm>
#include <ctime>
#include <numeric>

namespace {

// Nearest rank: the smallest value with at least `fraction` of the values at or below it.
double Percentile(std::vector<double> values, double fraction) {
    const size_t rank = std::max<size_t>(1, size_t(fraction * double(values.size()) + 0.999999));
    std::nth_element(values.begin(), values.begin() + (rank - 1), values.end());
    return values[rank - 1];
}

}  // namespace

void TickTiming::Record(double startMs, double cpuMs) {
    // The first tick has nothing to be late against.
    const double late = started_ ? std::max(0.0, startMs - lastStartMs_ - kPeriodMs) : 0.0;
    started_ = true;
    lastStartMs_ = startMs;
    if (late_.size() < kWindow) {
        late_.push_back(late);
        cpu_.push_back(cpuMs);
    } else {
        late_[next_] = late;
        cpu_[next_] = cpuMs;
        next_ = (next_ + 1) % kWindow;
    }
}

TickTiming::Summary TickTiming::Summarize() const {
    Summary s;
    s.ticks = late_.size();
    if (late_.empty())
        return s;
    s.lateP50Ms = Percentile(late_, 0.50);
    s.lateP99Ms = Percentile(late_, 0.99);
    s.lateMaxMs = *std::max_element(late_.begin(), late_.end());
    s.cpuMeanMs = std::accumulate(cpu_.begin(), cpu_.end(), 0.0) / double(cpu_.size());
    s.cpuMaxMs = *std::max_element(cpu_.begin(), cpu_.end());
    return s;
}

double ThreadCpuMilliseconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

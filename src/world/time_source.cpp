#include "world/time_source.h"

#include <ctime>

namespace {

timespec MonotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

}  // namespace

uint32_t MonotonicTimeSource::Milliseconds() const {
    const timespec now = MonotonicNow();
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                        static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

double MonotonicTimeSource::AppTime() const {
    const timespec now = MonotonicNow();
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

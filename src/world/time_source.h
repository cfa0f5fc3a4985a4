#pragma once
// The two clocks the game reads: a 32-bit millisecond counter that wraps like the Windows
// tick count, and the application time in seconds used for interval tests. Both come from
// one source so that a simulation or a test can drive them together.

#include <cstdint>

class TimeSource {
public:
    virtual ~TimeSource() = default;
    // Milliseconds of a monotonic clock, wrapping at 2^32.
    virtual uint32_t Milliseconds() const = 0;
    // Seconds of the same clock; only differences of two readings mean anything.
    virtual double AppTime() const = 0;
};

// CLOCK_MONOTONIC.
class MonotonicTimeSource final : public TimeSource {
public:
    uint32_t Milliseconds() const override;
    double AppTime() const override;
};

// A clock that moves only when told to: tests and the deterministic simulation.
class ManualTimeSource final : public TimeSource {
public:
    explicit ManualTimeSource(uint64_t startMilliseconds = 0) : now_(startMilliseconds) {}
    void Advance(uint64_t milliseconds) { now_ += milliseconds; }
    void Set(uint64_t milliseconds) { now_ = milliseconds; }

    uint32_t Milliseconds() const override { return static_cast<uint32_t>(now_); }
    double AppTime() const override { return static_cast<double>(now_) / 1000.0; }

private:
    uint64_t now_;
};

#pragma once
// Timer periods of the transport ([MC-DPL8R] 3.1.2) and the round-trip estimate they use.

#include <cstdint>

namespace dplay8 {

using Millis = int64_t;  // a monotonic clock in milliseconds, supplied by the caller

struct RetryLimits {
    Millis connect_first = 200;  // CONNECT / CONNECTED: 200 ms, doubling, at most 5 s
    Millis connect_cap = 5000;
    int connect_retries = 14;
    Millis delayed_ack = 100;  // added to 2.5 RTT for the first data retry
    Millis retry_cap = 5000;
    int max_retries = 10;
};

// A smoothed round-trip time (7/8 of the old value plus 1/8 of each new sample).
class RttEstimator {
public:
    void Sample(Millis rtt);
    bool has_sample() const { return has_sample_; }
    Millis smoothed() const { return has_sample_ ? smoothed_ : kInitial; }
    Millis latest() const { return latest_; }

    static constexpr Millis kInitial = 200;

private:
    bool has_sample_ = false;
    Millis smoothed_ = kInitial;
    Millis latest_ = 0;
};

// How long to wait after the `attempt`-th transmission of a data frame (0 = the original)
// before the next: 2.5 RTT plus the delayed-ack time, then linear growth for the second and
// third retries and doubling for the fourth to the eighth, never more than the cap.
Millis DataRetryInterval(Millis rtt, int attempt, const RetryLimits& limits);
// The wait after the `attempt`-th CONNECT or CONNECTED (0 = the original).
Millis ConnectRetryInterval(int attempt, const RetryLimits& limits);
// Spacing of HARD_DISCONNECT frames: half the RTT, between 10 and 500 ms.
Millis HardDisconnectInterval(Millis rtt);

}  // namespace dplay8

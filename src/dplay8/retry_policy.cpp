#include "dplay8/retry_policy.h"

#include <algorithm>

namespace dplay8 {

void RttEstimator::Sample(Millis rtt) {
    rtt = std::max<Millis>(rtt, 0);
    latest_ = rtt;
    if (!has_sample_) {
        smoothed_ = rtt;
        has_sample_ = true;
    } else {
        smoothed_ = (smoothed_ * 7 + rtt) / 8;
    }
}

Millis DataRetryInterval(Millis rtt, int attempt, const RetryLimits& limits) {
    Millis base = rtt * 5 / 2 + limits.delayed_ack;
    Millis factor;
    if (attempt <= 2) {
        factor = attempt + 1;  // 1, 2, 3: the first wait, then linear
    } else {
        factor = Millis(3) << std::min(attempt - 2, 5);  // 6, 12, ... up to the eighth retry
    }
    // Large factors saturate at the cap before they can overflow.
    if (base > limits.retry_cap / factor)
        return limits.retry_cap;
    return std::min(base * factor, limits.retry_cap);
}

Millis ConnectRetryInterval(int attempt, const RetryLimits& limits) {
    Millis interval = limits.connect_first;
    for (int i = 0; i < attempt && interval < limits.connect_cap; ++i)
        interval *= 2;
    return std::min(interval, limits.connect_cap);
}

Millis HardDisconnectInterval(Millis rtt) {
    return std::clamp<Millis>(rtt / 2, 10, 500);
}

}  // namespace dplay8

#include "dplay8/token_bucket.h"

#include <algorithm>

namespace dplay8 {

bool TokenBucket::Take(double rate, double burst, Millis now) {
    if (!started_) {
        started_ = true;
        tokens_ = burst;
    } else if (now > last_) {
        tokens_ = std::min(burst, tokens_ + rate * double(now - last_) / 1000.0);
    }
    last_ = std::max(last_, now);
    if (tokens_ < 1.0)
        return false;
    tokens_ -= 1.0;
    return true;
}

bool SourceRateLimiter::Allow(uint32_t address, Millis now) {
    // A burst of twice the rate lets a client's first queries and their repeats through.
    if (per_source_rate_ != 0) {
        const uint32_t slot = (address * 2654435761u) >> 20;  // 12 bits: kSlots
        if (!sources_[slot].Take(per_source_rate_, 2.0 * per_source_rate_, now))
            return false;
    }
    return total_rate_ == 0 || total_.Take(total_rate_, 2.0 * total_rate_, now);
}

}  // namespace dplay8

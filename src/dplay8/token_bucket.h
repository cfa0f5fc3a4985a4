#pragma once
// Rate limits of the host: a token bucket, and a fixed table of them by source address for
// replies that must not turn the host into a reflector for spoofed sources.

#include <array>
#include <cstddef>
#include <cstdint>

#include "dplay8/retry_policy.h"

namespace dplay8 {

// Holds up to `burst` tokens and gains `rate` a second; it starts full.
class TokenBucket {
public:
    // Takes one token if there is one.
    bool Take(double rate, double burst, Millis now);

private:
    bool started_ = false;
    double tokens_ = 0;
    Millis last_ = 0;
};

// One bucket a source address, and one for all of them together. Addresses share a fixed
// table by hash, so that spoofed sources cannot make it grow; two that collide share a
// bucket, which errs towards answering less.
class SourceRateLimiter {
public:
    SourceRateLimiter(uint32_t per_source_rate, uint32_t total_rate)
        : per_source_rate_(per_source_rate), total_rate_(total_rate) {}
    // True when a reply to `address` is allowed now; a rate of 0 lifts that limit.
    bool Allow(uint32_t address, Millis now);

private:
    static constexpr size_t kSlots = 4096;
    uint32_t per_source_rate_;
    uint32_t total_rate_;
    std::array<TokenBucket, kSlots> sources_{};
    TokenBucket total_;
};

}  // namespace dplay8

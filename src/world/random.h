#pragma once
// The server's two random sources.

#include <atomic>
#include <cstdint>

// The 15-bit generator of the Windows C runtime (srand/rand), reproduced exactly so that the
// weather draws the same values from the same seed. Used on the window thread only.
class RuntimeRandom {
public:
    void Seed(uint32_t seed) { seed_ = seed; }
    // A value in 0..32767.
    int32_t Draw() {
        seed_ = seed_ * 214013u + 2531011u;
        return static_cast<int32_t>((seed_ >> 16) & 0x7FFFu);
    }

private:
    uint32_t seed_ = 1;
};

// A fixed-seed linear congruential generator behind the guaranteed-send decisions. Because its
// seed never changes, the same sequence of sends makes the same choices on every run.
// `Next` is called from the window thread and the network threads at once; the
// read-modify-write of `state` is one atomic step, so no draw is lost or repeated.
class CRandom {
public:
    static constexpr uint32_t kMultiplier = 8121;
    static constexpr uint32_t kIncrement = 28411;
    static constexpr uint32_t kModulus = 134456;
    static constexpr uint32_t kSeed = 31415;

    CRandom(uint32_t multiplier = kMultiplier, uint32_t increment = kIncrement,
            uint32_t modulus = kModulus, uint32_t seed = kSeed)
        : multiplier(multiplier), increment(increment), modulus(modulus), state(seed) {}

    // Advances the generator and returns the new state.
    uint32_t Next() {
        uint32_t current = state.load(std::memory_order_relaxed);
        uint32_t next;
        do {
            next = Advance(current);
        } while (!state.compare_exchange_weak(current, next, std::memory_order_relaxed));
        return next;
    }

    const uint32_t multiplier;
    const uint32_t increment;
    const uint32_t modulus;
    std::atomic<uint32_t> state;

private:
    uint32_t Advance(uint32_t value) const {
        const uint32_t product = multiplier * value + increment;
        return modulus != 0 ? product % modulus : product;  // a zero modulus means 2^32
    }
};

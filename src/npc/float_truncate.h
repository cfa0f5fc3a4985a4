#pragma once
// Positions are floats but are compared, sent and turned into headings as whole units,
// truncated toward zero.

#include <cstdint>

// The float truncated toward zero. A value outside the 32-bit range, or not a number, gives
// INT32_MIN, as the processor's own truncating conversion does, instead of undefined
// behaviour.
inline int32_t TruncateToInt32(float value) {
    // Both bounds are exact floats, and no float lies between -2^31 - 1 and -2^31.
    if (value >= -2147483648.0f && value < 2147483648.0f) {
        return static_cast<int32_t>(value);
    }
    return INT32_MIN;
}

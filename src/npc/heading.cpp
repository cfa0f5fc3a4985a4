#include "npc/heading.h"

#include <cmath>

#include "npc/npc_codes.h"

namespace {

// Pi to six decimals, as headings have always been measured: angles below the line through
// the target (target further south than the NPC) come out a hair smaller than with exact pi.
constexpr float kHeadingPi = 3.141592f;

constexpr float kNorthFrom = 0.785398f;
constexpr float kEastFrom = 2.356194f;
constexpr float kSouthFrom = 3.92699f;
constexpr float kWestFrom = 5.497786f;

}  // namespace

float HeadingAngle(int32_t x, int32_t y, int32_t tx, int32_t ty) {
    // Differences of any two 32-bit values fit 64 bits; squares go through double, which is
    // exact for every distance a world can hold, before the sum becomes a float.
    const int64_t dx = static_cast<int64_t>(x) - tx;
    const int64_t dy = static_cast<int64_t>(y) - ty;
    const double dx2 = static_cast<double>(dx) * static_cast<double>(dx);
    const double dy2 = static_cast<double>(dy) * static_cast<double>(dy);
    const float d = std::sqrt(static_cast<float>(dx2 + dy2));
    const float a = std::acos(static_cast<float>(dx) / d);
    if (ty <= y) {
        return a;
    }
    return 2.0f * kHeadingPi - a;
}

int32_t FacingFromAngle(float a) {
    int32_t facing = kFacingWest;  // what an undefined angle shows
    if (a >= kNorthFrom && a <= kEastFrom) {
        facing = kFacingNorth;
    }
    if (a >= kEastFrom && a <= kSouthFrom) {
        facing = kFacingEast;
    }
    if (a >= kSouthFrom && a <= kWestFrom) {
        facing = kFacingSouth;
    }
    if (a >= kWestFrom || a < kNorthFrom) {
        facing = kFacingWest;
    }
    return facing;
}

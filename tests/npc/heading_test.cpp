#include "npc/heading.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "npc/npc_codes.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(HeadingAngle, PointsFromTheTargetToTheNpcForTheFourCompassDirections) {
    const struct {
        int32_t tx, ty;
        double expected;
        const char* where;
    } cases[] = {
        {200, 100, kPi, "target east: the NPC stands west of it"},
        {100, 0, kPi / 2, "target north: the NPC stands south of it"},
        {100, 200, 2 * 3.141592 - kPi / 2, "target south, with the heading's own pi"},
        {0, 100, 0.0, "target west: the NPC stands east of it"},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(HeadingAngle(100, 100, c.tx, c.ty), c.expected, 1e-6) << c.where;
    }
}

TEST(HeadingAngle, IsUndefinedWhenNpcAndTargetCoincide) {
    EXPECT_TRUE(std::isnan(HeadingAngle(100, 50, 100, 50)));
    EXPECT_TRUE(std::isnan(HeadingAngle(0, 0, 0, 0)));
    EXPECT_TRUE(std::isnan(HeadingAngle(INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX)));
}

TEST(HeadingAngle, HandlesTheWholeIntegerRangeWithoutOverflow) {
    EXPECT_NEAR(HeadingAngle(INT32_MAX, 0, INT32_MIN, 0), 0.0, 1e-6);
    EXPECT_NEAR(HeadingAngle(INT32_MIN, 0, INT32_MAX, 0), kPi, 1e-6);
    EXPECT_NEAR(HeadingAngle(0, INT32_MAX, 0, INT32_MIN), kPi / 2, 1e-6);
    EXPECT_NEAR(HeadingAngle(0, INT32_MIN, 0, INT32_MAX), 2 * 3.141592 - kPi / 2, 1e-6);
}

// For any two distinct points the angle's cosine and sine are the unit vector from the
// target to the NPC, and the angle lies in [0, 2 pi). The arc cosine of a float ratio near
// +-1 is coarse, so headings close to east or west are only good to a few 1e-4 radians.
TEST(HeadingAngle, MatchesTheDirectionVectorForRandomPoints) {
    std::mt19937 random(20261205);
    std::uniform_int_distribution<int32_t> coordinate(-5000, 5000);
    for (int i = 0; i < 20000; ++i) {
        const int32_t x = coordinate(random), y = coordinate(random);
        const int32_t tx = coordinate(random), ty = coordinate(random);
        if (x == tx && y == ty) {
            continue;
        }
        const double dx = x - tx, dy = y - ty, d = std::hypot(dx, dy);
        const float a = HeadingAngle(x, y, tx, ty);
        ASSERT_GE(a, 0.0f);
        ASSERT_LT(a, 2 * kPi);
        ASSERT_NEAR(std::cos(a), dx / d, 1e-3) << x << "," << y << " -> " << tx << "," << ty;
        ASSERT_NEAR(std::sin(a), dy / d, 1e-3) << x << "," << y << " -> " << tx << "," << ty;
    }
}

TEST(FacingFromAngle, EachRangeGivesItsDirectionAndTheLaterRangeWinsASharedBound) {
    const float below = -std::numeric_limits<float>::infinity();
    const auto justBelow = [below](float bound) { return std::nextafter(bound, below); };
    const struct {
        float a;
        int32_t expected;
        const char* what;
    } cases[] = {
        {0.0f, kFacingWest, "due west"},
        {-0.5f, kFacingWest, "negative angle"},
        {justBelow(0.785398f), kFacingWest, "just below the north bound"},
        {0.785398f, kFacingNorth, "on the north bound"},
        {1.5707964f, kFacingNorth, "due north"},
        {justBelow(2.356194f), kFacingNorth, "just below the east bound"},
        {2.356194f, kFacingEast, "on the shared north/east bound"},
        {3.1415927f, kFacingEast, "due east"},
        {justBelow(3.92699f), kFacingEast, "just below the south bound"},
        {3.92699f, kFacingSouth, "on the shared east/south bound"},
        {4.712389f, kFacingSouth, "due south"},
        {justBelow(5.497786f), kFacingSouth, "just below the west bound"},
        {5.497786f, kFacingWest, "on the shared south/west bound"},
        {6.283184f, kFacingWest, "a full turn"},
        {100.0f, kFacingWest, "far beyond a turn"},
        {std::numeric_limits<float>::quiet_NaN(), kFacingWest, "undefined angle"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FacingFromAngle(c.a), c.expected) << c.what << " (a = " << c.a << ")";
    }
}

}  // namespace

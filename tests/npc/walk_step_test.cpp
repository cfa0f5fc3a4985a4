#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "npc/heading.h"
#include "npc/npc_codes.h"
#include "npc/server_npc.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSouthPi = 2 * 3.141592 - kPi / 2;  // headings measure with pi to six places
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr int32_t N = kFacingNorth, E = kFacingEast, S = kFacingSouth, W = kFacingWest;
constexpr int32_t kUnturned = -7;  // a facing no step produces, to see "did not turn"

TEST(HeadingAngle, PointsFromTheTargetToTheNpcOverTheWholeIntegerRange) {
    const struct {
        int32_t x, y, tx, ty;
        double a;
    } cases[] = {{100, 100, 200, 100, kPi},
                 {100, 100, 100, 0, kPi / 2},
                 {INT32_MAX, 0, INT32_MIN, 0, 0.0},
                 {0, INT32_MIN, 0, INT32_MAX, kSouthPi},
                 {INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, kNaN}};
    for (const auto& c : cases) {
        const float a = HeadingAngle(c.x, c.y, c.tx, c.ty);
        EXPECT_TRUE(std::isnan(c.a) ? std::isnan(a) : std::fabs(a - c.a) < 1e-6)
            << c.x << "," << c.y << " -> " << c.tx << "," << c.ty << ": " << a;
    }
}

// Ranges share their bounds and the later range wins a bound.
TEST(FacingFromAngle, EachRangeGivesItsDirection) {
    const auto below = [](float bound) { return std::nextafter(bound, -1.0f); };
    const struct {
        float a;
        int32_t facing;
    } cases[] = {{-0.5f, W},     {below(0.785398f), W}, {0.785398f, N}, {below(2.356194f), N},
                 {2.356194f, E}, {below(3.92699f), E},  {3.92699f, S},  {below(5.497786f), S},
                 {5.497786f, W}, {6.283184f, W},        {kNaN, W}};
    for (const auto& c : cases) {
        EXPECT_EQ(FacingFromAngle(c.a), c.facing) << "a = " << c.a;
    }
}

CServerNPC WalkingNpc(float x, float y, int32_t tx, int32_t ty, float speed) {
    CServerNPC npc;
    npc.posX = x;
    npc.posY = y;
    npc.targetX = tx;
    npc.targetY = ty;
    npc.speed = speed;
    npc.action = kActionWalking;
    npc.facing = npc.headFacing = kUnturned;
    return npc;
}

// Speed 35 over a 50 ms tick is a step of 1.75. A step greater than the distance lands
// without turning; a step equal to it walks. The heading comes from the whole units the NPC
// stands on; where those equal the target it is undefined and the NPC lands facing west. A
// step to a negative coordinate lands.
TEST(WalkStep, OneUpdateMovesAndTurnsOnlyTheWalkingNpc) {
    const struct {
        float x, y;
        int32_t tx, ty;
        float speed, frame, endX, endY;
        int32_t facing;
    } cases[] = {{101.5f, 100, 100, 100, 35, 0.05f, 100, 100, kUnturned},
                 {101.75f, 100, 100, 100, 35, 0.05f, 100, 100, W},
                 {101.75f, 100.5f, 100, 100, 35, 0.05f, 100, 100.5f, W},
                 {100, 100, 200, 100, 35, 0.05f, 101.75f, 100, E},
                 {100, 100, 100, 0, 35, 0.05f, 100, 98.25f, N},
                 {100, 100, 100, 200, 35, 1.0f, 100, 135, S},
                 {1, 100, -50, 100, 35, 0.05f, -50, 100, W},
                 {100, 1, 100, -30, 35, 0.05f, 100, -30, N},
                 {1.75f, 100, -10, 100, 35, 0.05f, 0, 100, W},
                 {100.4f, 50, 100, 50, 4, 0.05f, 100, 50, W},
                 {100, 50, 100, 50, 0, 0.05f, 100, 50, W},
                 {300.5f, 120.25f, 500, 120, 0, 0.05f, 300.5f, 120.25f, E}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " speed " << c.speed);
        CServerNPC npc = WalkingNpc(c.x, c.y, c.tx, c.ty, c.speed);
        npc.Update(c.frame);
        EXPECT_NEAR(npc.posX, c.endX, 1e-4);
        EXPECT_NEAR(npc.posY, c.endY, 1e-4);
        EXPECT_EQ(npc.facing, c.facing);
        EXPECT_EQ(npc.headFacing, c.facing);
        EXPECT_EQ(npc.action, kActionWalking) << "arrival is decided by the script";
    }
    for (int32_t action : {kActionIdle, 1, 2, kActionWaiting, 5, -1, 99}) {
        CServerNPC npc = WalkingNpc(100, 100, 200, 100, 35);
        npc.action = action;
        const CServerNPC before = npc;
        npc.Update(0.05f);
        EXPECT_TRUE(npc == before) << "action " << action;
    }
}

// Steps of at least 1.5 units: the NPC never leaves the non-negative quarter, arrives exactly
// within a bounded number of ticks, and then stays without turning. Values from anywhere in
// their types' ranges never leave an invalid facing (nor, in the sanitizer build, undefined
// arithmetic).
TEST(WalkStep, RandomWalksArriveExactlyAndExtremeValuesStayDefined) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> position(0.0f, 3000.0f), speed(30.0f, 300.0f);
    std::uniform_real_distribution<float> frame(0.05f, 1.0f);
    std::uniform_int_distribution<int32_t> target(0, 3000);
    const auto validFacing = [](int32_t f) { return f == kUnturned || (f >= N && f <= W); };
    for (int walk = 0; walk < 2000; ++walk) {
        CServerNPC npc = WalkingNpc(position(random), position(random), target(random),
                                    target(random), speed(random));
        const float frameTime = frame(random);
        const double start = std::hypot(npc.posX - npc.targetX, npc.posY - npc.targetY);
        const int limit = static_cast<int>(start / (npc.speed * frameTime)) + 5;
        for (int tick = 0; npc.posX != npc.targetX || npc.posY != npc.targetY; ++tick) {
            ASSERT_LT(tick, limit) << "walk " << walk << " did not arrive";
            npc.WalkStep(frameTime);
            ASSERT_TRUE(npc.posX >= 0.0f && npc.posY >= 0.0f && validFacing(npc.facing)) << walk;
        }
        const CServerNPC arrived = npc;
        for (int more = 0; more < 3; ++more) {
            npc.WalkStep(frameTime);
        }
        EXPECT_TRUE(npc == arrived) << "walk " << walk;
    }
    const float extremes[] = {0.0f,  -0.0f,         1e-30f,
                              -1.0f, 2147483648.0f, -2147483648.0f,
                              3e38f, -3e38f,        std::numeric_limits<float>::infinity(),
                              kNaN};
    std::uniform_int_distribution<size_t> pick(0, std::size(extremes) - 1);
    std::uniform_int_distribution<int32_t> anyInt(INT32_MIN, INT32_MAX);
    for (int i = 0; i < 20000; ++i) {
        CServerNPC npc = WalkingNpc(extremes[pick(random)], extremes[pick(random)], anyInt(random),
                                    anyInt(random), extremes[pick(random)]);
        npc.WalkStep(extremes[pick(random)]);
        ASSERT_TRUE(validFacing(npc.facing) && npc.headFacing == npc.facing) << i;
    }
}

}  // namespace

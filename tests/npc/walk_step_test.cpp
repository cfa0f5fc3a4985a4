#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "npc/npc_codes.h"
#include "npc/server_npc.h"

namespace {

constexpr float kTick = 0.05f;  // a 50 ms game tick

CServerNPC WalkingNpc(float x, float y, int32_t tx, int32_t ty, float speed = 35.0f) {
    CServerNPC npc;
    npc.posX = x;
    npc.posY = y;
    npc.targetX = tx;
    npc.targetY = ty;
    npc.speed = speed;
    npc.action = kActionWalking;
    // Facings that no step in these tests produces by accident.
    npc.facing = -7;
    npc.headFacing = -8;
    return npc;
}

// Speed 35 over a 50 ms tick is a step of 1.75 units. A step greater than the distance
// lands without turning; a step equal to it walks, turning toward the target.
TEST(WalkStep, LandsOnlyWhenTheStepIsGreaterThanTheDistance) {
    const struct {
        float x, y;
        bool lands;
        int32_t facingAfterWalk;
        const char* what;
    } cases[] = {
        {101.5f, 100.0f, true, 0, "1.5 east of the target"},
        {100.0f, 101.5f, true, 0, "1.5 south of the target"},
        {100.0f, 100.25f, true, 0, "a quarter unit away"},
        {101.75f, 100.0f, false, kFacingWest, "1.75 east: walks west onto the target"},
        {100.0f, 98.25f, false, kFacingSouth, "1.75 north: walks south onto the target"},
    };
    for (const auto& c : cases) {
        CServerNPC npc = WalkingNpc(c.x, c.y, 100, 100);
        npc.WalkStep(kTick);
        EXPECT_FLOAT_EQ(npc.posX, 100.0f) << c.what;
        EXPECT_FLOAT_EQ(npc.posY, 100.0f) << c.what;
        EXPECT_EQ(npc.action, kActionWalking) << c.what << ": arrival is decided by the script";
        if (c.lands) {
            EXPECT_EQ(npc.posX, 100.0f) << c.what << ": lands exactly";
            EXPECT_EQ(npc.posY, 100.0f) << c.what << ": lands exactly";
            EXPECT_EQ(npc.facing, -7) << c.what << ": landing does not turn";
            EXPECT_EQ(npc.headFacing, -8) << c.what << ": landing does not turn the head";
        } else {
            EXPECT_EQ(npc.facing, c.facingAfterWalk) << c.what;
            EXPECT_EQ(npc.headFacing, c.facingAfterWalk) << c.what;
        }
    }
}

TEST(WalkStep, StepOfExactlyTheDistanceStillWalksFromTheWholeUnitsItStandsOn) {
    // 1.75 away along x, half a unit off along y: the heading comes from (101, 100), so
    // the NPC moves 1.75 straight west and keeps its half unit.
    CServerNPC npc = WalkingNpc(101.75f, 100.5f, 100, 100);
    npc.WalkStep(kTick);
    EXPECT_FLOAT_EQ(npc.posX, 100.0f);
    EXPECT_FLOAT_EQ(npc.posY, 100.5f);
    EXPECT_EQ(npc.facing, kFacingWest);
}

TEST(WalkStep, FacesTheWayItWalksAndTheHeadFollows) {
    const struct {
        int32_t tx, ty;
        float x, y;
        int32_t facing;
        const char* what;
    } cases[] = {
        {200, 100, 101.75f, 100.0f, kFacingEast, "toward (200, 100)"},
        {100, 0, 100.0f, 98.25f, kFacingNorth, "toward (100, 0)"},
        {100, 200, 100.0f, 101.75f, kFacingSouth, "toward (100, 200)"},
        {0, 100, 98.25f, 100.0f, kFacingWest, "toward (0, 100)"},
    };
    for (const auto& c : cases) {
        CServerNPC npc = WalkingNpc(100.0f, 100.0f, c.tx, c.ty);
        npc.WalkStep(kTick);
        EXPECT_NEAR(npc.posX, c.x, 1e-4) << c.what;
        EXPECT_NEAR(npc.posY, c.y, 1e-4) << c.what;
        EXPECT_EQ(npc.facing, c.facing) << c.what;
        EXPECT_EQ(npc.headFacing, c.facing) << c.what;
    }
}

TEST(WalkStep, AStepToANegativeCoordinateLandsOnTheTarget) {
    const struct {
        float x, y;
        int32_t tx, ty;
        int32_t facing;
        const char* what;
    } cases[] = {
        {1.0f, 100.0f, -50, 100, kFacingWest, "walking west past x = 0"},
        {100.0f, 1.0f, 100, -30, kFacingNorth, "walking north past y = 0"},
        {-10.0f, 50.0f, 100, 50, kFacingEast, "standing at negative x, walking east"},
        {60.0f, -20.0f, 60, 200, kFacingSouth, "standing at negative y, walking south"},
    };
    for (const auto& c : cases) {
        CServerNPC npc = WalkingNpc(c.x, c.y, c.tx, c.ty);
        npc.WalkStep(kTick);
        EXPECT_EQ(npc.posX, static_cast<float>(c.tx)) << c.what;
        EXPECT_EQ(npc.posY, static_cast<float>(c.ty)) << c.what;
        EXPECT_EQ(npc.facing, c.facing) << c.what;
        EXPECT_EQ(npc.headFacing, c.facing) << c.what;
    }
}

TEST(WalkStep, ReachingExactlyZeroIsNotNegative) {
    CServerNPC npc = WalkingNpc(1.75f, 100.0f, -10, 100);
    npc.WalkStep(kTick);
    EXPECT_EQ(npc.posX, 0.0f);
    EXPECT_EQ(npc.posY, 100.0f);
    EXPECT_EQ(npc.facing, kFacingWest);
}

// When the whole units the NPC stands on equal the target but the fraction does not, the
// heading is undefined: the NPC lands and faces WEST, whatever way it was going.
TEST(WalkStep, UndefinedHeadingLandsFacingWest) {
    const struct {
        float x, y;
        float speed;
        const char* what;
    } cases[] = {
        {100.4f, 50.0f, 4.0f, "0.4 east, step 0.2"},
        {100.4f, 50.0f, 8.0f, "0.4 east, step 0.4"},
        {100.0f, 50.9f, 8.0f, "0.9 south, step 0.4"},
        {100.7f, 50.7f, 1.0f, "diagonal fraction, step 0.05"},
        {100.0f, 50.0f, 0.0f, "standing on the target with speed 0"},
    };
    for (const auto& c : cases) {
        CServerNPC npc = WalkingNpc(c.x, c.y, 100, 50, c.speed);
        npc.facing = kFacingEast;
        npc.headFacing = kFacingNorth;
        npc.WalkStep(kTick);
        EXPECT_EQ(npc.posX, 100.0f) << c.what;
        EXPECT_EQ(npc.posY, 50.0f) << c.what;
        EXPECT_EQ(npc.facing, kFacingWest) << c.what;
        EXPECT_EQ(npc.headFacing, kFacingWest) << c.what;
    }
}

TEST(WalkStep, SpeedZeroNeverMovesButTurnsTowardTheTarget) {
    CServerNPC npc = WalkingNpc(300.5f, 120.25f, 500, 120, 0.0f);
    for (int tick = 0; tick < 200; ++tick) {
        npc.WalkStep(kTick);
        ASSERT_EQ(npc.posX, 300.5f) << "tick " << tick;
        ASSERT_EQ(npc.posY, 120.25f) << "tick " << tick;
    }
    EXPECT_EQ(npc.facing, kFacingEast);
    EXPECT_EQ(npc.headFacing, kFacingEast);
}

// Many random walks with steps of at least 1.5 units: the NPC never leaves the
// non-negative quarter, arrives exactly on its target within a bounded number of ticks,
// and then stays there.
TEST(WalkStep, RandomWalksArriveExactlyAndStay) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> position(0.0f, 3000.0f);
    std::uniform_int_distribution<int32_t> target(0, 3000);
    std::uniform_real_distribution<float> speed(30.0f, 300.0f);
    std::uniform_real_distribution<float> frame(0.05f, 1.0f);
    for (int walk = 0; walk < 2000; ++walk) {
        CServerNPC npc = WalkingNpc(position(random), position(random), target(random),
                                    target(random), speed(random));
        const float frameTime = frame(random);
        const float step = npc.speed * frameTime;
        const double start = std::hypot(npc.posX - npc.targetX, npc.posY - npc.targetY);
        const int limit = static_cast<int>(start / step) + 5;
        int tick = 0;
        while (npc.posX != static_cast<float>(npc.targetX) ||
               npc.posY != static_cast<float>(npc.targetY)) {
            ASSERT_LT(tick, limit) << "walk " << walk << " did not arrive";
            npc.WalkStep(frameTime);
            ASSERT_GE(npc.posX, 0.0f) << "walk " << walk;
            ASSERT_GE(npc.posY, 0.0f) << "walk " << walk;
            // Untouched (-7) when the first step lands, else a compass facing.
            ASSERT_TRUE(npc.facing == -7 ||
                        (npc.facing >= kFacingNorth && npc.facing <= kFacingWest));
            ++tick;
        }
        const int32_t facing = npc.facing;
        for (int more = 0; more < 3; ++more) {
            npc.WalkStep(frameTime);
        }
        EXPECT_EQ(npc.posX, static_cast<float>(npc.targetX)) << "walk " << walk;
        EXPECT_EQ(npc.posY, static_cast<float>(npc.targetY)) << "walk " << walk;
        EXPECT_EQ(npc.facing, facing) << "walk " << walk << ": standing still does not turn";
    }
}

// Positions, targets, speeds and frame times from anywhere in their types' ranges, as a
// broken script or tick might produce: the step finishes with defined arithmetic only
// (the sanitizer build checks that) and leaves a valid facing.
TEST(WalkStep, ExtremeValuesNeverLeaveAnInvalidFacing) {
    std::mt19937 random(77);
    const float extremes[] = {0.0f,
                              -0.0f,
                              1e-30f,
                              -1.0f,
                              2147483648.0f,
                              -2147483648.0f,
                              3e38f,
                              -3e38f,
                              std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN()};
    std::uniform_int_distribution<size_t> pick(0, std::size(extremes) - 1);
    std::uniform_int_distribution<int32_t> anyInt(INT32_MIN, INT32_MAX);
    for (int i = 0; i < 20000; ++i) {
        CServerNPC npc = WalkingNpc(extremes[pick(random)], extremes[pick(random)], anyInt(random),
                                    anyInt(random), extremes[pick(random)]);
        npc.WalkStep(extremes[pick(random)]);
        EXPECT_TRUE(npc.facing == -7 || (npc.facing >= kFacingNorth && npc.facing <= kFacingWest))
            << "case " << i;
        EXPECT_EQ(npc.headFacing == -8, npc.facing == -7) << "case " << i;
    }
}

}  // namespace

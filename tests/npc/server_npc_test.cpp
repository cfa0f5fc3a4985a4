#include "npc/server_npc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "npc/heading.h"
#include "npc/npc_codes.h"
#include "npc/npc_definition.h"
#include "npc/text_line_reader.h"
#include "support/temp_dir.h"

namespace {

constexpr int32_t U = 7;  // a type no definition gives, to see "left unchanged"
constexpr int32_t kStill = kTypeStill, kHead = kTypeHeadturn, kPerson = kTypePersonscript;

// clang-format off
TEST(SpeedFromText, ReadsADecimalIntegerTheWayAtoiDoes) {
    const std::pair<const char*, float> cases[] = {{"  42\n", 42}, {"\t-12abc\n", -12}, {"+7", 7}, {"3.9", 3}, {"- 5", 0},
        {"0x1F", 0}, {"99999999999999999999", 2147483648.0f}, {"-99999999999999999999", -2147483648.0f}};
    for (const auto& [line, speed] : cases) EXPECT_EQ(SpeedFromText(line), speed) << '"' << line << '"';
}
// clang-format on

class LoadDefinitionTest : public ::testing::Test {
protected:
    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
};

CServerNPC Filled(int byte) {
    CServerNPC npc;
    std::memset(static_cast<void*>(&npc), byte, sizeof npc);
    return npc;
}

// Reset keeps type, slot, target, say text and entries 6-10; Place also moves and loads.
TEST_F(LoadDefinitionTest, ANewNpcStartsInTheStartStateAndResetAndPlaceKeepOnlySomeFields) {
    CServerNPC expected = Filled(0);
    expected.facing = expected.headFacing = kFacingSouth;
    expected.posX = expected.posY = 150.0f, expected.speed = 35.0f;
    expected.visible = 1, expected.instructionCount = -1;
    for (MessageMapEntry& entry : expected.messageMap)
        std::strcpy(entry.text, "... `");
    EXPECT_TRUE(CServerNPC() == expected);
    const CServerNPC scribbled = Filled('A');
    expected.type = scribbled.type, expected.slot = scribbled.slot;
    expected.targetX = scribbled.targetX, expected.targetY = scribbled.targetY;
    std::memcpy(expected.sayText, scribbled.sayText, sizeof expected.sayText);
    std::copy(scribbled.messageMap + 5, scribbled.messageMap + 10, expected.messageMap + 5);
    CServerNPC npc = scribbled;
    npc.Reset();
    EXPECT_TRUE(npc == expected);
    dir.Write("npc/chars.npc", "[NAME]\nsmith\n[SPEED]\n60\n[TYPE]\nheadturn\n");
    expected.posX = 10.0f, expected.posY = -7.0f, expected.speed = 60.0f, expected.type = kHead;
    npc = scribbled;
    npc.Place(10, -7, "smith");
    EXPECT_TRUE(npc == expected);
}

// A key's value is the next line; lines are pieces of at most 49 bytes; only type and speed change.
TEST_F(LoadDefinitionTest, AppliesTheKeysOfTheFirstMatchingDefinitionAndLogsAMissingFile) {
    CServerNPC missing;
    missing.LoadDefinition("guard");
    missing.LoadDefinition("smith");
    EXPECT_TRUE(missing == CServerNPC());
    const std::string twoGuards = "[NAME]\nguard\n[SPEED]\n10\n[NAME]\nguard2\n[SPEED]\n20\n";
    const std::string pad45(45, ' ');
    // clang-format off
    const struct { std::string file; const char* name; int32_t type; float speed; } cases[] = {
        {"[NAME]\nguard\n[TYPE]\nstill\n[SPEED]\n60\n", "guard", kStill, 60}, {"[NAME]\nguard\n[TYPE]\npersonscript still\n", "guard", kPerson, 35},
        {"[NAME]\nguard\n[TYPE]\nheadturn still\n", "guard", kHead, 35}, {"[NAME]\nguard\n[TYPE]\nStill HEADTURN walker\n[SPEED]\nquick\n", "guard", U, 0},
        {"[NAME]\nguard\nx[TYPE]x\nstill\n  [SPEED]:\n 9\n[SPEED]\n25\n", "guard", kStill, 25}, {"[NAME]\nguard\n[SPEED]\n15\n", "smith", U, 35},
        {"", "guard", U, 35}, {twoGuards, "guard", U, 10}, {twoGuards, nullptr, U, 10}, {"[NAME]\nguard2\n[SPEED]\n20\n[NAME]\nguard\n[SPEED]\n10\n", "guard", U, 20},
        {"[NAME]\nguard\n[SPEED]\n[TYPE]\nstill\n", "guard", U, 0}, {"[NAME]\nguard\n[TYPE]\n[NAME] still\n[SPEED]\n12\n", "guard", kStill, 12},
        {"[NAME]\nguard\n[TYPE]\nheadturn [SPEED]\n70\n", "guard", kHead, 70}, {"[NAME]\nguard\n[TYPE][SPEED]\nstill\n33\n", "guard", kStill, 35},
        {"[NAME]\n[NAME]\nguard\n[SPEED]\n9\n", "guard", U, 35}, {"[NAME]\nbob\n[NAME]\nguard\n[SPEED]\n9\n", "guard", U, 9},
        {"[NAME]\nguard\n[TYPE]\nstill\n[SPEED]", "guard", kStill, 35},  // keys without a value
        {"[NAME]\nguard" + pad45 + "[SPEED]\n75\n", "guard", U, 75},      // a name line's 2nd piece
        {"[NAME]\nguard\n[SPEED]\n" + pad45 + "1234567\n[TYPE]\nstill\n", "guard", kStill, 1234}};
    // clang-format on
    for (const auto& c : cases) {
        dir.Write("npc/chars.npc", c.file);
        CServerNPC npc, expected;
        npc.type = U;
        npc.LoadDefinition(c.name);
        expected.type = c.type, expected.speed = c.speed;
        EXPECT_TRUE(npc == expected) << testing::PrintToString(c.file) << c.name;
    }
    EXPECT_EQ(dir.Read("ErrorChk.txt"),  // on every lookup while missing, never once present
              "\nCServerNPC: NPC definition file not found!"
              "\nCServerNPC: NPC definition file not found!");
}

// Reads of size bytes split lines into pieces of at most size - 1 bytes; CR LF reads as LF.
TEST(ReadTextLine, SplitsLinesIntoPiecesAndReadsCrLfAsLf) {
    const std::string a49(49, 'a'), b48(48, 'b');
    // clang-format off
    const struct { std::string content; int size; std::vector<std::string> pieces; } cases[] = {
        {"one\nlast", 50, {"one\n", "last"}}, {a49 + "aa\n", 50, {a49, "aa\n"}}, {b48 + "\n", 50, {b48 + "\n"}},
        {a49 + "\n", 50, {a49, "\n"}}, {"", 50, {}}, {"a\r\nb\r\n", 50, {"a\n", "b\n"}}, {b48 + "\r\n", 50, {b48 + "\n"}},
        {"a\rb\xff\x80\n", 50, {"a\rb\xff\x80\n"}}, {"end\r", 50, {"end\r"}}, {"ab\n", 2, {"a", "b", "\n"}}, {"ab\n", 1, {}}};
    // clang-format on
    for (const auto& c : cases) {
        std::FILE* file = fmemopen(const_cast<char*>(c.content.data()), c.content.size(), "r");
        std::vector<std::string> pieces;
        std::vector<char> buffer(c.size, 'z');
        while (ReadTextLine(file, buffer.data(), c.size))
            pieces.emplace_back(buffer.data());
        EXPECT_EQ(pieces, c.pieces) << testing::PrintToString(c.content);
        EXPECT_EQ(buffer[0], '\0') << "a read at end of file leaves an empty buffer";
        EXPECT_FALSE(ReadTextLine(file, nullptr, 50));
        std::fclose(file);
    }
}

constexpr double kPi = 3.14159265358979323846;
constexpr double kSouthPi = 2 * 3.141592 - kPi / 2;  // headings measure with pi to six places
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr int32_t N = kFacingNorth, E = kFacingEast, S = kFacingSouth, W = kFacingWest;
constexpr int32_t kUnturned = -7;  // a facing no step produces, to see "did not turn"

CServerNPC WalkingNpc(float x, float y, int32_t tx, int32_t ty, float speed,
                      int32_t action = kActionWalking, int32_t facing = kUnturned) {
    CServerNPC npc;
    npc.posX = x, npc.posY = y, npc.targetX = tx, npc.targetY = ty, npc.speed = speed;
    npc.action = action, npc.facing = npc.headFacing = facing;
    return npc;
}

// clang-format off
constexpr float extremes[] = {0.0f, -0.0f, 1e-30f, -1.0f, 2147483648.0f, -2147483648.0f, 3e38f, -3e38f,
                              std::numeric_limits<float>::infinity(), kNaN};

TEST(HeadingAngle, PointsFromTheTargetToTheNpcAndItsRangeGivesTheFacing) {
    const struct { int32_t x, y, tx, ty; double a; } cases[] = {
        {100, 100, 200, 100, kPi}, {100, 100, 100, 0, kPi / 2}, {INT32_MAX, 0, INT32_MIN, 0, 0.0},
        {0, INT32_MIN, 0, INT32_MAX, kSouthPi}, {INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, kNaN}};
    for (const auto& c : cases) {
        const float a = HeadingAngle(c.x, c.y, c.tx, c.ty);
        EXPECT_TRUE(std::isnan(c.a) ? std::isnan(a) : std::fabs(a - c.a) < 1e-6) << c.x << "," << c.y << ": " << a;
    }
    // Facing ranges share their bounds and the later range wins a bound.
    const auto below = [](float bound) { return std::nextafter(bound, -1.0f); };
    const std::pair<float, int32_t> ranges[] = {
        {-0.5f, W}, {below(0.785398f), W}, {0.785398f, N}, {below(2.356194f), N}, {2.356194f, E}, {below(3.92699f), E},
        {3.92699f, S}, {below(5.497786f), S}, {5.497786f, W}, {6.283184f, W}, {kNaN, W}};
    for (const auto& [a, facing] : ranges) EXPECT_EQ(FacingFromAngle(a), facing) << "a = " << a;
}

// Steps landing on the target turn by the whole units stood on (none: west); others stay unturned.
TEST(WalkStep, OneUpdateMovesAndTurnsOnlyTheWalkingNpc) {
    const struct { float x, y; int32_t tx, ty; float speed, frame, endX, endY; int32_t facing; } cases[] = {
        {101.5f, 100, 100, 100, 35, 0.05f, 100, 100, kUnturned}, {101.75f, 100, 100, 100, 35, 0.05f, 100, 100, W},
        {101.75f, 100.5f, 100, 100, 35, 0.05f, 100, 100.5f, W},  {100, 100, 200, 100, 35, 0.05f, 101.75f, 100, E},
        {100, 100, 100, 0, 35, 0.05f, 100, 98.25f, N},           {100, 100, 100, 200, 35, 1.0f, 100.0000534f, 135, S},
        {1, 100, -50, 100, 35, 0.05f, -50, 100, W},              {100, 1, 100, -30, 35, 0.05f, 100, -30, N},
        {1.75f, 100, -10, 100, 35, 0.05f, 0, 100, W},            {100.4f, 50, 100, 50, 4, 0.05f, 100, 50, W},
        {100, 50, 100, 50, 0, 0.05f, 100, 50, W},                {300.5f, 120.25f, 500, 120, 0, 0.05f, 300.5f, 120.25f, E}};
    for (const auto& c : cases) {
        CServerNPC npc = WalkingNpc(c.x, c.y, c.tx, c.ty, c.speed);
        npc.Update(c.frame);
        EXPECT_TRUE(npc == WalkingNpc(c.endX, c.endY, c.tx, c.ty, c.speed, kActionWalking, c.facing)) << c.x << "," << c.y << ": " << npc.posX << "," << npc.posY;
    }
    for (int32_t action : {kActionIdle, 1, 2, kActionWaiting, 5, -1, 99}) {
        const CServerNPC before = WalkingNpc(100, 100, 200, 100, 35, action);
        CServerNPC npc = before;
        npc.Update(0.05f);
        EXPECT_TRUE(npc == before) << "action " << action;
    }
}
// clang-format on

// Walks arrive exactly in bounded ticks and stay; extreme values leave a valid facing.
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
        npc.WalkStep(frameTime), npc.WalkStep(frameTime);
        EXPECT_TRUE(npc == arrived) << "walk " << walk;
    }
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

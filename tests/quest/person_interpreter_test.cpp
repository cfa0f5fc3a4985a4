// NPC lines as the server script runs them: direct lines, person-script blocks stepping one
// instruction at a time, and the commands that act so far.

#include <gtest/gtest.h>

#include <string>

#include "npc/npc_codes.h"
#include "quest/server_script.h"
#include "quest_world.h"

namespace {

using quest_test::QuestWorld;

class PersonInterpreterTest : public ::testing::Test {
protected:
    void SetUp() override {
        world.npcs.npcCount = 3;
        for (int slot = 0; slot < 3; ++slot) {
            world.npcs.Npc(slot).Place(100, 100, "nobody");
            world.npcs.Npc(slot).slot = slot;
            world.npcs.Npc(slot).type = kTypePersonscript;
        }
    }
    // One game tick's script work and NPC movement.
    void Tick() {
        world.Script().RunMainPass();
        world.npcs.Tick(world.frameTime);
    }
    CServerNPC& Npc(int slot) { return world.npcs.Npc(slot); }
    QuestWorld world;
};

TEST_F(PersonInterpreterTest, DirectLinesActOnEveryPassWithoutAdvancing) {
    world.LoadScript(
        "NPC[01]>WALKTO(110,100)\n"
        " NPC[2]>SET_POSITION(7 + 1, GLOBAL[1])\n"
        "  NPC[03]>SET_POSITION(1,1)\n"  // "NPC" at the third character: no direct line
        "NPC[02]>SET_FACING($WEST$)\n"
        "NPC[02]>SET_HEAD_FACING($NORTH$)\n"
        "NPC[02]>SET_SPEED(12)\n"
        "NPC[02]>SET_MESSAGE(3)\n"
        "NPC[02]>SET_FACING($UP$)\n");
    world.Loader().globals[0] = 42;
    Tick();
    EXPECT_EQ(Npc(0).action, kActionWalking);
    EXPECT_EQ(Npc(0).targetX, 110);
    EXPECT_GT(Npc(0).posX, 100.0f);  // the walk started and moved in the same tick
    EXPECT_EQ(Npc(1).posX, 8.0f);
    EXPECT_EQ(Npc(1).posY, 42.0f);
    EXPECT_EQ(Npc(2).posX, 100.0f);
    EXPECT_EQ(Npc(1).facing, kFacingWest);
    EXPECT_EQ(Npc(1).headFacing, kFacingWest);  // SET_FACING($UP$) copies the body facing
    EXPECT_EQ(Npc(1).speed, 12.0f);
    EXPECT_EQ(Npc(1).currentMessage, 2);
    EXPECT_EQ(Npc(1).instruction, 0);
    EXPECT_EQ(world.Script().QueryNpc("NPC[02]>MESSAGE"), 2);

    for (int i = 0; i < 40 && Npc(0).action == kActionWalking; ++i) {
        Tick();
    }
    EXPECT_EQ(Npc(0).posX, 110.0f);
    Tick();  // standing on the target: the walk completes at once
    EXPECT_EQ(Npc(0).action, kActionIdle);
}

TEST_F(PersonInterpreterTest, ABlockStepsItsNpcAndMarksTheScriptEndedOnALaterPass) {
    world.LoadScript(
        "IF NPC[01]>ENDED[2] = 1\n"
        " SET_GLOBAL(GLOBAL[1], GLOBAL[1] + 1)\n"
        "ENDIF\n"
        "RUN_PERSON_SCRIPT[2]\n"
        "BEGIN_PERSON_SCRIPT[2]\n"
        "PERSON_BEGIN[01]\n"
        "NPC[01]>SET_POSITION(150,100)\n"
        "NPC[01]>WALKTO(160,100)\n"
        "NPC[01]>SET_FACING($NORTH$)\n"
        "PERSON_END[01]\n"
        "END_PERSON_SCRIPT\n");
    Tick();
    // SET_POSITION completed, WALKTO began; the block's three lines are counted.
    EXPECT_EQ(Npc(0).instruction, 1);
    EXPECT_EQ(Npc(0).instructionCount, 3);
    EXPECT_EQ(Npc(0).action, kActionWalking);
    EXPECT_EQ(world.Script().QueryNpc("NPC[01]>INSTRUCTION"), 2);

    int ticks = 1;
    while (Npc(0).scriptEnded[1] == 0 && ticks < 100) {
        Tick();
        ++ticks;
    }
    ASSERT_EQ(Npc(0).scriptEnded[1], 1);
    EXPECT_EQ(Npc(0).posX, 160.0f);
    EXPECT_EQ(Npc(0).facing, kFacingNorth);
    EXPECT_EQ(Npc(0).instruction, 0);
    EXPECT_EQ(Npc(0).action, kActionIdle);
    EXPECT_EQ(Npc(0).instructionCount, 3);  // PERSON_END of the same pass counted again
    Tick();
    EXPECT_EQ(world.Script().Global(1), 1);
    EXPECT_EQ(Npc(0).instructionCount, 0);  // a finished NPC's lines are no longer counted
}

TEST_F(PersonInterpreterTest, ResetScriptLetsTheBlockRunAgain) {
    world.LoadScript(
        "IF NPC[01]>ENDED[1] = 1\n"
        " NPC[01]>RESET_SCRIPT(1)\n"
        " SET_GLOBAL(GLOBAL[1], GLOBAL[1] + 1)\n"
        "ENDIF\n"
        "RUN_PERSON_SCRIPT[1]\n"
        "BEGIN_PERSON_SCRIPT[1]\n"
        "PERSON_BEGIN[01]\n"
        "NPC[01]>WALKTO(104,100)\n"
        "NPC[01]>WALKTO(100,100)\n"
        "PERSON_END[01]\n");
    for (int i = 0; i < 200; ++i) {
        Tick();
    }
    EXPECT_GE(world.Script().Global(1), 3);  // several rounds
}

TEST_F(PersonInterpreterTest, ABlockOfAnNpcThatIsNoPersonscriptStopsAtItsFirstLine) {
    Npc(0).type = kTypeHeadturn;
    world.LoadScript(
        "RUN_PERSON_SCRIPT[1]\n"
        "BEGIN_PERSON_SCRIPT[1]\n"
        "PERSON_BEGIN[01]\n"
        "NPC[02]>SET_SPEED(99)\n"  // then runs as a direct line of the section
        " NPC[01]>SET_SPEED(77)\n"
        "PERSON_END[01]\n");
    Tick();
    Tick();
    EXPECT_EQ(Npc(1).speed, 99.0f);
    EXPECT_EQ(Npc(0).speed, 77.0f);
    EXPECT_EQ(Npc(1).instruction, 0);
    EXPECT_EQ(Npc(0).instructionCount, -1);
}

TEST_F(PersonInterpreterTest, LinesNamingNoNpcAreIgnored) {
    world.LoadScript(
        "NPC[51]>SET_SPEED(5)\n"
        "NPC[00]>SET_SPEED(5)\n"
        "NPC>SET_SPEED(5)\n"
        "NPC[01] SET_SPEED(5)\n");
    Tick();
    for (int slot = 0; slot < 3; ++slot) {
        EXPECT_EQ(Npc(slot).speed, 35.0f) << slot;
    }
    EXPECT_EQ(world.Script().QueryNpc("NPC[51]>XPOS"), -100);
    EXPECT_EQ(world.Script().QueryNpc("NPC[01] XPOS"), -100);
}

}  // namespace

// NPC lines as the server script runs them: direct lines, person-script blocks stepping one
// instruction at a time, the commands and their completion, and the waits.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "npc/npc_codes.h"
#include "quest/server_script.h"
#include "quest_world.h"

namespace {

using quest_test::QuestWorld;

// Records every say the NPC set hands to the players, with the text at that moment.
class RecordingAudience : public NpcAudience {
public:
    struct Said {
        int32_t slot;
        int32_t x;
        int32_t y;
        std::string text;
    };
    void Broadcast(const CMainObjectSet&) override {}
    void SayToNearbyPlayers(const CMainObjectSet& set, int32_t slot, int32_t x,
                            int32_t y) override {
        said.push_back({slot, x, y, set.Npc(slot).sayText});
    }
    std::vector<Said> said;
};

// A person-script section 1 run from the main section on every tick, holding one block of
// NPC 1 with these lines.
std::string SectionWithBlock(const std::string& lines) {
    return "RUN_PERSON_SCRIPT[1]\n"
           "BEGIN_PERSON_SCRIPT[1]\n"
           "PERSON_BEGIN[01]\n" +
           lines + "PERSON_END[01]\nEND_PERSON_SCRIPT\n";
}

class PersonInterpreterTest : public ::testing::Test {
protected:
    void SetUp() override {
        world.npcs.SetAudience(&audience);
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
    // Ticks until the condition holds, at most `limit` ticks; the number of ticks taken, or
    // -1 when it never held.
    template <typename Condition>
    int TicksUntil(Condition condition, int limit = 1000) {
        for (int tick = 1; tick <= limit; ++tick) {
            Tick();
            if (condition()) {
                return tick;
            }
        }
        return -1;
    }
    QuestWorld world;
    RecordingAudience audience;
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

TEST_F(PersonInterpreterTest, ABlockWalksSaysWaitsAndThenEnds) {
    world.LoadScript(
        SectionWithBlock("NPC[01]>WALKTO(110,100)\n"
                         "NPC[01]>SAY ($Hello$)\n"
                         "NPC[01]>WAIT (20)\n"));
    // 10 units at 1.75 a tick: the walk lands on tick 6, and tick 7's pass completes it.
    const int arrived = TicksUntil([&] { return Npc(0).posX == 110.0f; });
    ASSERT_EQ(arrived, 6);
    EXPECT_EQ(Npc(0).action, kActionWalking);
    EXPECT_TRUE(audience.said.empty());
    Tick();
    ASSERT_EQ(audience.said.size(), 1u);
    EXPECT_EQ(audience.said[0].slot, 0);
    EXPECT_EQ(audience.said[0].x, 110);
    EXPECT_EQ(audience.said[0].y, 100);
    EXPECT_EQ(audience.said[0].text, "Hello");
    EXPECT_STREQ(Npc(0).sayText, "Hello");
    // The wait began in the same pass and counted its first increment.
    EXPECT_EQ(Npc(0).instruction, 2);
    EXPECT_EQ(Npc(0).action, kActionWaiting);
    EXPECT_EQ(Npc(0).waitTimer, 0.5f);
    EXPECT_EQ(Npc(0).scriptEnded[0], 0);

    // WAIT (20) completes on its 42nd pass, when the timer reads 20.5 before the increment.
    const int waited = TicksUntil([&] { return Npc(0).scriptEnded[0] == 1; });
    EXPECT_EQ(waited, 41);
    EXPECT_EQ(Npc(0).instruction, 0);
    EXPECT_EQ(Npc(0).action, kActionIdle);
    EXPECT_EQ(Npc(0).waitTimer, 0.5f);
    EXPECT_EQ(Npc(0).instructionCount, 3);
    for (int i = 0; i < 10; ++i) {
        Tick();
    }
    EXPECT_EQ(audience.said.size(), 1u);  // a finished block says nothing more
    EXPECT_EQ(Npc(0).instructionCount, 0);
}

TEST_F(PersonInterpreterTest, WaitCompletesOnThePassWhoseTimerAlreadyExceedsItsTenths) {
    struct Case {
        const char* tenths;
        float frameTime;
        int pass;  // the pass on which the wait completes and the next line runs
    };
    const Case cases[] = {
        {"10", 0.05f, 22}, {"0", 0.05f, 2}, {"-1", 0.05f, 1},
        {"10", 1.0f, 3},   {"3", 0.25f, 3}, {"GLOBAL[3] * 2", 0.05f, 22},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.tenths) + " at " + std::to_string(c.frameTime));
        QuestWorld fresh;
        fresh.frameTime = c.frameTime;
        fresh.npcs.npcCount = 1;
        fresh.npcs.Npc(0).Place(100, 100, "nobody");
        fresh.npcs.Npc(0).type = kTypePersonscript;
        fresh.Loader().globals[2] = 5;
        fresh.LoadScript(SectionWithBlock(std::string("NPC[01]>WAIT(") + c.tenths +
                                          ")\n"
                                          "NPC[01]>SET_FACING($WEST$)\n"
                                          "NPC[01]>WAIT(1000)\n"));
        CServerNPC& npc = fresh.npcs.Npc(0);
        int pass = 0;
        while (npc.facing != kFacingWest && pass < 100) {
            fresh.Script().RunMainPass();
            ++pass;
        }
        EXPECT_EQ(pass, c.pass);
        // The completing wait left one increment, and the next wait added its own.
        EXPECT_EQ(npc.instruction, 2);
        EXPECT_EQ(npc.waitTimer, 2.0f * (c.frameTime * 10.0f));
        EXPECT_EQ(npc.action, kActionWaiting);
    }
}

TEST_F(PersonInterpreterTest, SetMessageInABlockHoldsTheNpcOnThatInstruction) {
    world.LoadScript(
        SectionWithBlock("NPC[01]>SET_POSITION(1,2)\n"
                         "NPC[01]>SET_MESSAGE(2)\n"
                         "NPC[01]>SET_FACING($WEST$)\n"));
    for (int i = 0; i < 20; ++i) {
        Tick();
    }
    EXPECT_EQ(Npc(0).posX, 1.0f);
    EXPECT_EQ(Npc(0).currentMessage, 1);
    EXPECT_EQ(Npc(0).instruction, 1);
    EXPECT_EQ(Npc(0).facing, kFacingSouth);
    EXPECT_EQ(Npc(0).scriptEnded[0], 0);
}

TEST_F(PersonInterpreterTest, ABlockOfImmediateInstructionsNeverSetsEnded) {
    world.LoadScript(
        SectionWithBlock("NPC[01]>SET_POSITION(5,6)\n"
                         "NPC[01]>SET_FACING($EAST$)\n"
                         "NPC[01]>DISAPPEAR\n"
                         "NPC[01]>APPEAR\n"));
    Npc(0).visible = 0;
    Tick();
    EXPECT_EQ(Npc(0).instruction, 4);
    EXPECT_EQ(Npc(0).instructionCount, 4);
    for (int i = 0; i < 20; ++i) {
        Npc(0).visible = 0;
        Tick();
    }
    // Past its last instruction, the NPC runs none of its lines again and never ends.
    EXPECT_EQ(Npc(0).visible, 0);
    EXPECT_EQ(Npc(0).instruction, 4);
    EXPECT_EQ(Npc(0).scriptEnded[0], 0);
    EXPECT_EQ(Npc(0).posX, 5.0f);
    EXPECT_EQ(Npc(0).facing, kFacingEast);
}

// Main section: GLOBAL[1] = 1 resets NPC 1's person script 1 once; section 1 runs every tick.
// The block waits 5 tenths, then turns the NPC west.
constexpr const char* kResetScript =
    "IF GLOBAL[1] = 1\n"
    " NPC[01]>RESET_SCRIPT(1)\n"
    " SET_GLOBAL(GLOBAL[1], 0)\n"
    "ENDIF\n"
    "RUN_PERSON_SCRIPT[1]\n"
    "BEGIN_PERSON_SCRIPT[1]\n"
    "PERSON_BEGIN[01]\n"
    "NPC[01]>WAIT(5)\n"
    "NPC[01]>SET_FACING($WEST$)\n"
    "PERSON_END[01]\n"
    "END_PERSON_SCRIPT\n";

TEST_F(PersonInterpreterTest, ResetBeforeTheSectionRunsAgainRerunsTheBlockInFull) {
    world.LoadScript(kResetScript);
    ASSERT_EQ(TicksUntil([&] { return Npc(0).scriptEnded[0] == 1; }), 12);
    EXPECT_EQ(Npc(0).instructionCount, 2);
    Npc(0).facing = kFacingSouth;
    world.Loader().globals[0] = 1;
    Tick();
    EXPECT_EQ(Npc(0).scriptEnded[0], 0);
    EXPECT_EQ(Npc(0).instruction, 0);
    EXPECT_EQ(Npc(0).action, kActionWaiting);
    // The wait starts from the increment its last completion left: 0.5, then 10 more passes.
    EXPECT_EQ(TicksUntil([&] { return Npc(0).scriptEnded[0] == 1; }), 10);
    EXPECT_EQ(Npc(0).facing, kFacingWest);
}

TEST_F(PersonInterpreterTest, ResetAfterTheSectionRanOnceMoreEndsAgainAtOnce) {
    world.LoadScript(kResetScript);
    ASSERT_EQ(TicksUntil([&] { return Npc(0).scriptEnded[0] == 1; }), 12);
    Tick();  // the finished NPC's lines are not counted: its count becomes 0
    EXPECT_EQ(Npc(0).instructionCount, 0);
    Npc(0).facing = kFacingSouth;
    world.Loader().globals[0] = 1;
    Tick();
    // The first instruction ran and did not complete; the end test found 0 == 0.
    EXPECT_EQ(Npc(0).scriptEnded[0], 1);
    EXPECT_EQ(Npc(0).instruction, 0);
    EXPECT_EQ(Npc(0).action, kActionIdle);
    EXPECT_EQ(Npc(0).waitTimer, 1.0f);
    EXPECT_EQ(Npc(0).instructionCount, 1);  // the second line came after the end: not counted
    EXPECT_EQ(Npc(0).facing, kFacingSouth);
}

TEST_F(PersonInterpreterTest, WalkToAnotherNpcsPositionFollowsIt) {
    world.LoadScript("NPC[02]>WALKTO(200,160)\n" +
                     SectionWithBlock("NPC[01]>WALKTO(NPC[02]>XPOS, NPC[02]>YPOS)\n"
                                      "NPC[01]>SAY ($Caught you$)\n"));
    Npc(0).speed = 20.0f;
    Npc(1).posX = 140.0f;
    std::vector<int32_t> targets;
    for (int i = 0; i < 40; ++i) {
        const int32_t x = static_cast<int32_t>(Npc(1).posX);
        const int32_t y = static_cast<int32_t>(Npc(1).posY);
        Tick();
        EXPECT_EQ(Npc(0).targetX, x);
        EXPECT_EQ(Npc(0).targetY, y);
        if (targets.empty() || targets.back() != x) {
            targets.push_back(x);
        }
    }
    EXPECT_GE(targets.size(), 30u);
    EXPECT_EQ(Npc(0).action, kActionWalking);
    EXPECT_TRUE(audience.said.empty());
}

TEST_F(PersonInterpreterTest, MessageMapLinesFillTheNamedEntry) {
    struct Case {
        const char* line;
        int entry;  // 0-based
        std::vector<int8_t> links;
        uint8_t flagBefore;
        uint8_t flag;
        const char* text;
    };
    const Case cases[] = {
        {"NPC[01]>MESSAGE_MAP[02](3,4,TRUE)$Where to?$", 1, {2, 3}, 0, 1, "Where to?"},
        {"NPC[1]>MESSAGE_MAP[2](1,FALSE)$Bye$", 1, {0}, 1, 0, "Bye"},
        {"NPC[01]>MESSAGE_MAP[03](1,2,3,4,5,6)$Six$", 2, {0, 1, 2, 3, 4}, 1, 1, "Six"},
        {"NPC[01]>MESSAGE_MAP[10](GLOBAL[1] + 1, 0 - 3, TRUE)", 9, {4, -4}, 0, 1, ""},
        {"NPC[01]>MESSAGE_MAP[01](TRUE)$x$", 0, {}, 0, 1, "x"},
        {"NPC[01]>MESSAGE_MAP[07](129,TRUE)$wraps$", 6, {-128}, 0, 1, "wraps"},
        {"NPC[01]>XMESSAGE_MAP[4]( 2, TRUE)$Contains$", 3, {1}, 0, 1, "Contains"},
        // Without TRUE or FALSE five arguments are read; the text and the missing ones are 0.
        {"NPC[01]>MESSAGE_MAP[05](2)$Hi$", 4, {1, -1, -1, -1, -1}, 1, 1, "Hi"},
        // "TRUE " is no flag but an expression with a trailing blank, which reads -100.
        {"NPC[01]>MESSAGE_MAP[06](3, TRUE )$Hi$", 5, {2, -101, -1, -1, -1}, 0, 0, "Hi"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        QuestWorld fresh;
        fresh.npcs.npcCount = 1;
        fresh.npcs.Npc(0).Place(100, 100, "nobody");
        fresh.Loader().globals[0] = 4;
        fresh.npcs.Npc(0).messageMap[c.entry].flag = c.flagBefore;
        fresh.LoadScript(std::string(c.line) + "\n");
        fresh.Script().RunMainPass();
        const MessageMapEntry& entry = fresh.npcs.Npc(0).messageMap[c.entry];
        ASSERT_EQ(entry.linkCount, static_cast<int8_t>(c.links.size()));
        for (size_t i = 0; i < c.links.size(); ++i) {
            EXPECT_EQ(entry.links[i], c.links[i]) << i;
        }
        EXPECT_EQ(entry.flag, c.flag);
        EXPECT_STREQ(entry.text, c.text);
        EXPECT_EQ(fresh.npcs.Npc(0).instruction, 0);  // a direct line never advances
    }
}

TEST_F(PersonInterpreterTest, MessageMapEntriesOutsideOneToTenChangeNothing) {
    world.LoadScript(
        "NPC[01]>MESSAGE_MAP[11](2,TRUE)$No$\n"
        "NPC[01]>MESSAGE_MAP[00](2,TRUE)$No$\n"
        "NPC[01]>MESSAGE_MAP(2,TRUE)$No$\n");
    MessageMapEntry before[kNpcMessageMapSize];
    std::memcpy(before, Npc(0).messageMap, sizeof before);
    Tick();
    EXPECT_EQ(std::memcmp(before, Npc(0).messageMap, sizeof before), 0);
}

TEST_F(PersonInterpreterTest, SayHandsItsTextToThePlayersNearTheNpc) {
    struct Case {
        const char* line;
        float x;
        float y;
        int said;  // calls in two passes
        const char* text;
    };
    const Case cases[] = {
        {"NPC[02]>SAY ($Hi$)", 100.9f, 50.2f, 2, "Hi"},
        {"NPC[02]>SAY($Hi, there (you)$)", -3.5f, 7.0f, 2, "Hi, there (you)"},
        {"NPC[02]>SAY ($Open", 1.0f, 2.0f, 2, "Open\n"},  // up to the end of the line
        {"NPC[02]>SAY ()", 1.0f, 2.0f, 2, ""},
        {"NPC[02]>SAY$Hello$", 1.0f, 2.0f, 0, ""},  // the word runs to the end of the line
        {"NPC[02]>SAYS ($Hello$)", 1.0f, 2.0f, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        QuestWorld fresh;
        RecordingAudience heard;
        fresh.npcs.SetAudience(&heard);
        fresh.npcs.npcCount = 2;
        fresh.npcs.Npc(1).Place(0, 0, "nobody");
        fresh.npcs.Npc(1).slot = 1;
        fresh.npcs.Npc(1).posX = c.x;
        fresh.npcs.Npc(1).posY = c.y;
        fresh.LoadScript(std::string(c.line) + "\n");
        fresh.Script().RunMainPass();
        fresh.Script().RunMainPass();
        ASSERT_EQ(static_cast<int>(heard.said.size()), c.said);
        for (const RecordingAudience::Said& said : heard.said) {
            EXPECT_EQ(said.slot, 1);
            EXPECT_EQ(said.x, static_cast<int32_t>(c.x));
            EXPECT_EQ(said.y, static_cast<int32_t>(c.y));
            EXPECT_EQ(said.text, c.text);
        }
        EXPECT_STREQ(fresh.npcs.Npc(1).sayText, c.text);
    }
}

TEST_F(PersonInterpreterTest, WaitsForClockAndNpcsCompleteOnlyWhenTheirConditionHolds) {
    struct Case {
        const char* wait;
        int day;
        int hour;
        int minute;
        int otherInstruction;  // NPC 2's 0-based instruction
        bool completes;
        float timer;  // after the pass: what the wait left, plus WAIT(1000)'s increment
    };
    // WAIT_FOR_TIME and WAIT_FOR_DAY leave the timer at 0; WAIT_FOR adds an increment.
    const Case cases[] = {
        {"WAIT_FOR_TIME(12, 30)", 0, 12, 30, 0, true, 0.5f},
        {"WAIT_FOR_TIME(12, 30)", 0, 12, 29, 0, false, 0.0f},
        {"WAIT_FOR_TIME(12, 30)", 0, 11, 30, 0, false, 0.0f},
        {"WAIT_FOR_TIME(GLOBAL[2], 30)", 0, 12, 30, 0, true, 0.5f},
        {"WAIT_FOR_DAY(3)", 3, 0, 0, 0, true, 0.5f},
        {"WAIT_FOR_DAY(3)", 2, 0, 0, 0, false, 0.0f},
        {"WAIT_FOR(2, 3)", 0, 0, 0, 3, true, 1.0f},
        {"WAIT_FOR(2, 3)", 0, 0, 0, 2, false, 0.5f},
        {"WAIT_FOR(02, GLOBAL[2] - 9)", 0, 0, 0, 3, true, 1.0f},
        {"WAIT_FOR(2, 0)", 0, 0, 0, 0, true, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.wait) + " day " + std::to_string(c.day) + " " +
                     std::to_string(c.hour) + ":" + std::to_string(c.minute) + " other at " +
                     std::to_string(c.otherInstruction));
        QuestWorld fresh;
        fresh.npcs.npcCount = 2;
        for (int slot = 0; slot < 2; ++slot) {
            fresh.npcs.Npc(slot).Place(100, 100, "nobody");
            fresh.npcs.Npc(slot).type = kTypePersonscript;
        }
        fresh.Loader().globals[1] = 12;
        fresh.clock.dayCount = c.day;
        fresh.clock.shownHour = c.hour;
        fresh.clock.shownMinute = c.minute;
        fresh.npcs.Npc(1).instruction = c.otherInstruction;
        fresh.LoadScript(SectionWithBlock(std::string("NPC[01]>") + c.wait +
                                          "\n"
                                          "NPC[01]>SET_FACING($WEST$)\n"
                                          "NPC[01]>SET_POSITION(1,1)\n"
                                          "NPC[01]>WAIT(1000)\n"));
        CServerNPC& npc = fresh.npcs.Npc(0);
        fresh.Script().RunMainPass();
        if (c.completes) {
            // The following instructions ran in the same pass, up to the next wait.
            EXPECT_EQ(npc.facing, kFacingWest);
            EXPECT_EQ(npc.posX, 1.0f);
            EXPECT_EQ(npc.instruction, 3);
        } else {
            EXPECT_EQ(npc.facing, kFacingSouth);
            EXPECT_EQ(npc.instruction, 0);
        }
        EXPECT_EQ(npc.waitTimer, c.timer);
        EXPECT_EQ(npc.action, kActionWaiting);
    }
}

TEST_F(PersonInterpreterTest, WaitForAnNpcOutsideOneToFiftyChangesNothing) {
    for (const char* other : {"51", "0", "-3", "GLOBAL[1]"}) {
        SCOPED_TRACE(other);
        world.Loader().globals[0] = 99;
        world.LoadScript(SectionWithBlock(std::string("NPC[01]>WAIT_FOR(") + other +
                                          ", 0)\n"
                                          "NPC[01]>SET_FACING($WEST$)\n"));
        for (int i = 0; i < 5; ++i) {
            Tick();
        }
        EXPECT_EQ(Npc(0).action, kActionIdle);
        EXPECT_EQ(Npc(0).waitTimer, 0.0f);
        EXPECT_EQ(Npc(0).instruction, 0);
        EXPECT_EQ(Npc(0).facing, kFacingSouth);
        EXPECT_EQ(Npc(0).scriptEnded[0], 0);
    }
}

TEST_F(PersonInterpreterTest, AppearAndDisappearAreFoundAnywhereInTheWord) {
    struct Case {
        const char* word;
        uint8_t visibleBefore;
        uint8_t visible;
    };
    const Case cases[] = {
        {"DISAPPEAR", 1, 0},        {"APPEAR", 0, 1},  {"REAPPEAR", 0, 1}, {"DISAPPEAR(5)", 1, 0},
        {"NOW_DISAPPEARING", 1, 0}, {"APPEARS", 0, 1}, {"APPEA", 0, 0},    {"disappear", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        Npc(0).visible = c.visibleBefore;
        world.LoadScript(std::string("NPC[01]>") + c.word + "\n");
        Tick();
        EXPECT_EQ(Npc(0).visible, c.visible);
    }
}

TEST_F(PersonInterpreterTest, QueriesMatchPropertyWordsBySubstring) {
    Npc(1).posX = 123.9f;
    Npc(1).posY = -4.5f;
    Npc(1).instruction = 2;
    Npc(1).currentMessage = 7;
    Npc(1).scriptEnded[2] = 1;
    const struct {
        const char* term;
        int32_t value;
    } cases[] = {
        {"NPC[02]>XPOS", 123},      {"NPC[02]>XPOSITION", 123}, {"NPC[02]>YPOS", -4},
        {"NPC[02]>INSTRUCTION", 3}, {"NPC[02]>MESSAGE", 7},     {"NPC[02]>ENDED[3]", 1},
        {"NPC[02]>ENDED[2]", 0},    {"NPC[02]>ENDED[11]", 0},   {"NPC[02]>POSX", -100},
        {"NPC[02]>MESSAGE_MAP", 7}, {"NPC[2]>XPOS", 123},       {"NPC[02]>", -100},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(world.Script().QueryNpc(c.term), c.value) << c.term;
    }
}

}  // namespace

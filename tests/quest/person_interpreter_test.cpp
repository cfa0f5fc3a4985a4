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

using quest_test::Doing;
using quest_test::QuestWorld;

// Records every say the NPC set hands to the players as "slot@x,y:text".
class RecordingAudience : public NpcAudience {
public:
    void Broadcast(const CMainObjectSet&) override {}
    void SayToNearbyPlayers(const CMainObjectSet& set, int32_t slot, int32_t x,
                            int32_t y) override {
        said.push_back(std::to_string(slot) + "@" + std::to_string(x) + "," + std::to_string(y) +
                       ":" + set.Npc(slot).sayText);
    }
    std::vector<std::string> said;
};

// A person-script section 1 run from the main section on every tick, holding one block of
// NPC 1 with these lines.
std::string SectionWithBlock(const std::string& lines) {
    return "RUN_PERSON_SCRIPT[1]\nBEGIN_PERSON_SCRIPT[1]\nPERSON_BEGIN[01]\n" + lines +
           "PERSON_END[01]\nEND_PERSON_SCRIPT\n";
}

class PersonInterpreterTest : public ::testing::Test {
protected:
    void SetUp() override { world.npcs.SetAudience(&audience); }
    // One game tick's script work and NPC movement, `count` times.
    void Tick(int count = 1) {
        for (int i = 0; i < count; ++i) {
            world.Script().RunMainPass();
            world.npcs.Tick(world.frameTime);
        }
    }
    CServerNPC& Npc(int slot) { return world.npcs.Npc(slot); }
    // Ticks until NPC 1 has ended person script 1, at most 1000 ticks; the ticks taken.
    int TicksUntilEnded() {
        for (int tick = 1; tick <= 1000; ++tick) {
            Tick();
            if (Npc(0).scriptEnded[0] == 1) {
                return tick;
            }
        }
        return -1;
    }
    QuestWorld world{3};
    RecordingAudience audience;
};

TEST_F(PersonInterpreterTest, DirectLinesActOnEveryPassWithoutAdvancing) {
    world.LoadScript(
        "NPC[01]>WALKTO(110,100)\n NPC[2]>SET_POSITION(7 + 1, GLOBAL[1])\n"
        "  NPC[03]>SET_POSITION(1,1)\n"  // "NPC" at the third character: no direct line
        "NPC[02]>SET_FACING($WEST$)\nNPC[02]>SET_HEAD_FACING($NORTH$)\nNPC[02]>SET_SPEED(12)\n"
        "NPC[02]>SET_MESSAGE(3)\nNPC[02]>SET_FACING($UP$)\n"  // $UP$ copies the body facing
        "NPC[51]>SET_SPEED(5)\nNPC[00]>SET_SPEED(5)\nNPC>SET_SPEED(5)\nNPC[01] SET_SPEED(5)\n");
    world.Loader().globals[0] = 42;
    Tick();
    EXPECT_EQ(Doing(Npc(0)), "101.75,100 a3 i0/-1 f1 h1 s35 m0 w0 e0000000000");  // moved at once
    EXPECT_EQ(Npc(0).targetX, 110);
    EXPECT_EQ(Doing(Npc(1)), "8,42 a0 i0/-1 f3 h3 s12 m2 w0 e0000000000");
    EXPECT_EQ(Doing(Npc(2)), "100,100 a0 i0/-1 f2 h2 s35 m0 w0 e0000000000");
    Tick(5);
    EXPECT_EQ(Doing(Npc(0)), "110,100 a3 i0/-1 f1 h1 s35 m0 w0 e0000000000");
    Tick();  // standing on the target: the walk completes at once
    EXPECT_EQ(Doing(Npc(0)), "110,100 a0 i0/-1 f1 h1 s35 m0 w0 e0000000000");
}

TEST_F(PersonInterpreterTest, ABlockStepsItsNpcAndMarksTheScriptEndedOnALaterPass) {
    world.LoadScript(
        "IF NPC[01]>ENDED[2] = 1\n SET_GLOBAL(GLOBAL[1], GLOBAL[1] + 1)\nENDIF\n"
        "RUN_PERSON_SCRIPT[2]\nBEGIN_PERSON_SCRIPT[2]\nPERSON_BEGIN[01]\n"
        "NPC[01]>SET_POSITION(150,100)\nNPC[01]>WALKTO(160,100)\nNPC[01]>SET_FACING($NORTH$)\n"
        "PERSON_END[01]\nEND_PERSON_SCRIPT\n");
    Tick();  // SET_POSITION completed, WALKTO began; the block's three lines are counted
    EXPECT_EQ(Doing(Npc(0)), "151.75,100 a3 i1/3 f1 h1 s35 m0 w0 e0000000000");
    EXPECT_EQ(world.Script().QueryNpc("NPC[01]>INSTRUCTION"), 2);
    int ticks = 1;
    for (; Npc(0).scriptEnded[1] == 0 && ticks < 100; ++ticks) {
        Tick();
    }
    EXPECT_EQ(Doing(Npc(0)), "160,100 a0 i0/3 f0 h0 s35 m0 w0 e0100000000");  // PERSON_END counted
    Tick();
    EXPECT_EQ(world.Globals(), "G1=1");
    EXPECT_EQ(Npc(0).instructionCount, 0);  // a finished NPC's lines are no longer counted
}

TEST_F(PersonInterpreterTest, ResetScriptLetsTheBlockRunAgain) {
    world.LoadScript(
        "IF NPC[01]>ENDED[1] = 1\n NPC[01]>RESET_SCRIPT(1)\n SET_GLOBAL(GLOBAL[1], GLOBAL[1] + 1)\n"
        "ENDIF\n" +
        SectionWithBlock("NPC[01]>WALKTO(104,100)\nNPC[01]>WALKTO(100,100)\n"));
    Tick(200);
    EXPECT_GE(world.Script().Global(1), 3);  // several rounds
}

TEST_F(PersonInterpreterTest, ABlockOfAnNpcThatIsNoPersonscriptStopsAtItsFirstLine) {
    Npc(0).type = kTypeHeadturn;
    world.LoadScript(SectionWithBlock("NPC[02]>SET_SPEED(99)\n NPC[01]>SET_SPEED(77)\n"));
    Tick(2);  // the lines then run as direct lines of the section
    EXPECT_EQ(Doing(Npc(1)), "100,100 a0 i0/-1 f2 h2 s99 m0 w0 e0000000000");
    EXPECT_EQ(Doing(Npc(0)), "100,100 a0 i0/-1 f2 h2 s77 m0 w0 e0000000000");
}

TEST_F(PersonInterpreterTest, ABlockWalksSaysWaitsAndThenEnds) {
    world.LoadScript(
        SectionWithBlock("NPC[01]>WALKTO(110,100)\nNPC[01]>SAY ($Hello$)\nNPC[01]>WAIT (20)\n"));
    // 10 units at 1.75 a tick: the walk lands on tick 6, and tick 7's pass completes it.
    Tick(6);
    EXPECT_EQ(Doing(Npc(0)), "110,100 a3 i0/3 f1 h1 s35 m0 w0 e0000000000");
    EXPECT_TRUE(audience.said.empty());
    Tick();
    EXPECT_EQ(audience.said, std::vector<std::string>{"0@110,100:Hello"});
    EXPECT_EQ(Doing(Npc(0)),
              "110,100 a4 i2/3 f1 h1 s35 m0 w0.5 e0000000000");  // the wait began in the same pass,
                                                                 // counting once
    // WAIT (20) completes on its 42nd pass, when the timer reads 20.5 before the increment.
    EXPECT_EQ(TicksUntilEnded(), 41);
    EXPECT_EQ(Doing(Npc(0)), "110,100 a0 i0/3 f1 h1 s35 m0 w0.5 e1000000000");
    Tick(10);
    EXPECT_EQ(audience.said.size(), 1u);  // a finished block says nothing more
    EXPECT_EQ(Npc(0).instructionCount, 0);
}

TEST_F(PersonInterpreterTest, ABlockHeldBySetMessageOrPastItsEndNeverEnds) {
    world.LoadScript(
        "RUN_PERSON_SCRIPT[1]\nRUN_PERSON_SCRIPT[2]\nBEGIN_PERSON_SCRIPT[1]\nPERSON_BEGIN[01]\n"
        "NPC[01]>SET_POSITION(1,2)\nNPC[01]>SET_MESSAGE(2)\nNPC[01]>SET_FACING($WEST$)\n"
        "PERSON_END[01]\nEND_PERSON_SCRIPT\nBEGIN_PERSON_SCRIPT[2]\nPERSON_BEGIN[02]\n"
        "NPC[02]>SET_POSITION(5,6)\nNPC[02]>SET_FACING($EAST$)\nNPC[02]>DISAPPEAR\n"
        "NPC[02]>APPEAR\nPERSON_END[02]\nEND_PERSON_SCRIPT\n");
    Npc(1).visible = 0;
    Tick();
    EXPECT_EQ(Doing(Npc(1)), "5,6 a0 i4/4 f1 h1 s35 m0 w0 e0000000000");
    for (int i = 0; i < 20; ++i) {
        Npc(1).visible = 0;
        Tick();
    }
    EXPECT_EQ(Npc(1).visible, 0);  // past its last instruction, none of its lines run again
    EXPECT_EQ(Doing(Npc(0)), "1,2 a0 i1/3 f2 h2 s35 m1 w0 e0000000000");
    EXPECT_EQ(Doing(Npc(1)), "5,6 a0 i4/4 f1 h1 s35 m0 w0 e0000000000");
}

// Main section: GLOBAL[1] = 1 resets NPC 1's person script 1 once; section 1 runs every tick.
// The block waits 5 tenths, then turns the NPC west.
constexpr const char* kResetScript =
    "IF GLOBAL[1] = 1\n NPC[01]>RESET_SCRIPT(1)\n SET_GLOBAL(GLOBAL[1], 0)\nENDIF\n"
    "RUN_PERSON_SCRIPT[1]\nBEGIN_PERSON_SCRIPT[1]\nPERSON_BEGIN[01]\nNPC[01]>WAIT(5)\n"
    "NPC[01]>SET_FACING($WEST$)\nPERSON_END[01]\nEND_PERSON_SCRIPT\n";

TEST_F(PersonInterpreterTest, ResetBeforeTheSectionRunsAgainRerunsTheBlockInFull) {
    world.LoadScript(kResetScript);
    ASSERT_EQ(TicksUntilEnded(), 12);
    Npc(0).facing = kFacingSouth;
    world.Loader().globals[0] = 1;
    Tick();
    EXPECT_EQ(Doing(Npc(0)), "100,100 a4 i0/2 f2 h3 s35 m0 w1 e0000000000");
    // The wait starts from the increment its last completion left: 0.5, then 10 more passes.
    EXPECT_EQ(TicksUntilEnded(), 10);
    EXPECT_EQ(Npc(0).facing, kFacingWest);
}

TEST_F(PersonInterpreterTest, ResetAfterTheSectionRanOnceMoreEndsAgainAtOnce) {
    world.LoadScript(kResetScript);
    ASSERT_EQ(TicksUntilEnded(), 12);
    Tick();  // the finished NPC's lines are not counted: its count becomes 0
    Npc(0).facing = kFacingSouth;
    world.Loader().globals[0] = 1;
    Tick();
    // The first instruction ran and did not complete; the end test found 0 == 0; the second
    // line came after the end and is not counted.
    EXPECT_EQ(Doing(Npc(0)), "100,100 a0 i0/1 f2 h3 s35 m0 w1 e1000000000");
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

TEST(PersonInterpreterLines, MessageMapLinesFillTheNamedEntry) {
    const struct {
        const char* line;
        int entry;           // 0-based
        const char* filled;  // "links flag text", the flag from 0 and from 1 before
    } cases[] = {
        {"NPC[01]>MESSAGE_MAP[02](3,4,TRUE)$Where to?$", 1, "2,3, 11 Where to?"},
        {"NPC[1]>MESSAGE_MAP[2](1,FALSE)$Bye$", 1, "0, 00 Bye"},
        {"NPC[01]>MESSAGE_MAP[03](1,2,3,4,5,6)$Six$", 2, "0,1,2,3,4, 01 Six"},
        {"NPC[01]>MESSAGE_MAP[10](GLOBAL[1] + 1, 0 - 3, TRUE)", 9, "4,-4, 11 "},
        {"NPC[01]>MESSAGE_MAP[01](TRUE)$x$", 0, " 11 x"},
        {"NPC[01]>MESSAGE_MAP[07](129,TRUE)$wraps$", 6, "-128, 11 wraps"},
        {"NPC[01]>XMESSAGE_MAP[4]( 2, TRUE)$Contains$", 3, "1, 11 Contains"},
        // Without TRUE or FALSE five arguments are read; the text and the missing ones are 0.
        {"NPC[01]>MESSAGE_MAP[05](2)$Hi$", 4, "1,-1,-1,-1,-1, 01 Hi"},
        // "TRUE " is no flag but an expression with a trailing blank, which reads -100.
        {"NPC[01]>MESSAGE_MAP[06](3, TRUE )$Hi$", 5, "2,-101,-1,-1,-1, 01 Hi"},
        {"NPC[01]>MESSAGE_MAP[11](2,TRUE)$No$", -1, ""},  // entries outside 1 to 10
        {"NPC[01]>MESSAGE_MAP[00](2,TRUE)$No$", -1, ""},
        {"NPC[01]>MESSAGE_MAP(2,TRUE)$No$", -1, ""},
    };
    for (const auto& c : cases) {
        std::string links, flags, text;
        for (const uint8_t flagBefore : {0, 1}) {
            QuestWorld world(1);
            world.Loader().globals[0] = 4;
            for (MessageMapEntry& entry : world.npcs.Npc(0).messageMap) {
                entry.flag = flagBefore;
            }
            MessageMapEntry before[kNpcMessageMapSize];
            std::memcpy(before, world.npcs.Npc(0).messageMap, sizeof before);
            world.LoadScript(std::string(c.line) + "\n");
            world.Passes(1);
            links.clear();
            for (int i = 0; i < kNpcMessageMapSize; ++i) {
                const MessageMapEntry& entry = world.npcs.Npc(0).messageMap[i];
                if (std::memcmp(&entry, &before[i], sizeof entry) != 0 || i == c.entry) {
                    EXPECT_EQ(i, c.entry) << c.line;
                    for (int link = 0; link < entry.linkCount; ++link) {
                        links += std::to_string(entry.links[link]) + ",";
                    }
                    flags += std::to_string(entry.flag);
                    text = entry.text;
                }
            }
            EXPECT_EQ(world.npcs.Npc(0).instruction, 0);  // a direct line never advances
        }
        EXPECT_EQ(flags.empty() ? "" : links + " " + flags + " " + text, c.filled) << c.line;
    }
}

TEST(PersonInterpreterLines, SayHandsItsTextToThePlayersNearTheNpc) {
    const struct {
        const char* line;
        float x, y;
        const char* said;  // what each of two passes said
    } cases[] = {
        {"NPC[02]>SAY ($Hi$)", 100.9f, 50.2f, "1@100,50:Hi"},
        {"NPC[02]>SAY($Hi, there (you)$)", -3.5f, 7.0f, "1@-3,7:Hi, there (you)"},
        {"NPC[02]>SAY ($Open", 1.0f, 2.0f, "1@1,2:Open\n"},  // up to the end of the line
        {"NPC[02]>SAY ()", 1.0f, 2.0f, "1@1,2:"},
        {"NPC[02]>SAY$Hello$", 1.0f, 2.0f, nullptr},  // the word runs to the end of the line
        {"NPC[02]>SAYS ($Hello$)", 1.0f, 2.0f, nullptr},
    };
    for (const auto& c : cases) {
        QuestWorld world(2);
        RecordingAudience heard;
        world.npcs.SetAudience(&heard);
        world.npcs.Npc(1).posX = c.x;
        world.npcs.Npc(1).posY = c.y;
        world.LoadScript(std::string(c.line) + "\n");
        world.Passes(2);
        EXPECT_EQ(heard.said,
                  c.said ? std::vector<std::string>(2, c.said) : std::vector<std::string>())
            << c.line;
    }
}

TEST(PersonInterpreterLines, WaitsCompleteOnlyWhenTheirConditionHolds) {
    const struct {
        const char* wait;
        int day, hour, minute, otherInstruction;  // NPC 2's 0-based instruction
        float frameTime;
        int passes;
        const char* doing;  // NPC 1 after the passes
    } cases[] = {
        // WAIT completes on the pass whose timer already exceeds its tenths.
        {"WAIT(10)", 0, 0, 0, 0, 0.05f, 22, "1,1 a4 i3/4 f3 h3 s35 m0 w1 e0000000000"},
        {"WAIT(10)", 0, 0, 0, 0, 0.05f, 21, "100,100 a4 i0/4 f2 h2 s35 m0 w10.5 e0000000000"},
        {"WAIT(0)", 0, 0, 0, 0, 0.05f, 2, "1,1 a4 i3/4 f3 h3 s35 m0 w1 e0000000000"},
        {"WAIT(-1)", 0, 0, 0, 0, 0.05f, 1, "1,1 a4 i3/4 f3 h3 s35 m0 w1 e0000000000"},
        {"WAIT(10)", 0, 0, 0, 0, 1.0f, 3, "1,1 a4 i3/4 f3 h3 s35 m0 w20 e0000000000"},
        {"WAIT(3)", 0, 0, 0, 0, 0.25f, 3, "1,1 a4 i3/4 f3 h3 s35 m0 w5 e0000000000"},
        {"WAIT(GLOBAL[3] * 2)", 0, 0, 0, 0, 0.05f, 22, "1,1 a4 i3/4 f3 h3 s35 m0 w1 e0000000000"},
        // WAIT_FOR_TIME and WAIT_FOR_DAY leave the timer at 0; WAIT_FOR adds an increment.
        {"WAIT_FOR_TIME(12, 30)", 0, 12, 30, 0, 0.05f, 1,
         "1,1 a4 i3/4 f3 h3 s35 m0 w0.5 e0000000000"},
        {"WAIT_FOR_TIME(12, 30)", 0, 12, 29, 0, 0.05f, 1,
         "100,100 a4 i0/4 f2 h2 s35 m0 w0 e0000000000"},
        {"WAIT_FOR_TIME(12, 30)", 0, 11, 30, 0, 0.05f, 1,
         "100,100 a4 i0/4 f2 h2 s35 m0 w0 e0000000000"},
        {"WAIT_FOR_TIME(GLOBAL[2], 30)", 0, 12, 30, 0, 0.05f, 1,
         "1,1 a4 i3/4 f3 h3 s35 m0 w0.5 e0000000000"},
        {"WAIT_FOR_DAY(3)", 3, 0, 0, 0, 0.05f, 1, "1,1 a4 i3/4 f3 h3 s35 m0 w0.5 e0000000000"},
        {"WAIT_FOR_DAY(3)", 2, 0, 0, 0, 0.05f, 1, "100,100 a4 i0/4 f2 h2 s35 m0 w0 e0000000000"},
        {"WAIT_FOR(2, 3)", 0, 0, 0, 3, 0.05f, 1, "1,1 a4 i3/4 f3 h3 s35 m0 w1 e0000000000"},
        {"WAIT_FOR(2, 3)", 0, 0, 0, 2, 0.05f, 1, "100,100 a4 i0/4 f2 h2 s35 m0 w0.5 e0000000000"},
        {"WAIT_FOR(02, GLOBAL[2] - 9)", 0, 0, 0, 3, 0.05f, 1,
         "1,1 a4 i3/4 f3 h3 s35 m0 w1 e0000000000"},
        {"WAIT_FOR(2, 0)", 0, 0, 0, 0, 0.05f, 1, "1,1 a4 i3/4 f3 h3 s35 m0 w1 e0000000000"},
        // An NPC outside 1 to 50 changes nothing.
        {"WAIT_FOR(51, 0)", 0, 0, 0, 0, 0.05f, 5, "100,100 a0 i0/4 f2 h2 s35 m0 w0 e0000000000"},
        {"WAIT_FOR(0, 0)", 0, 0, 0, 0, 0.05f, 5, "100,100 a0 i0/4 f2 h2 s35 m0 w0 e0000000000"},
        {"WAIT_FOR(-3, 0)", 0, 0, 0, 0, 0.05f, 5, "100,100 a0 i0/4 f2 h2 s35 m0 w0 e0000000000"},
        {"WAIT_FOR(GLOBAL[1], 0)", 0, 0, 0, 0, 0.05f, 5,
         "100,100 a0 i0/4 f2 h2 s35 m0 w0 e0000000000"},
    };
    for (const auto& c : cases) {
        QuestWorld world(2);
        world.frameTime = c.frameTime;
        world.Loader().globals[0] = 99;
        world.Loader().globals[1] = 12;
        world.Loader().globals[2] = 5;
        world.clock.dayCount = c.day;
        world.clock.shownHour = c.hour;
        world.clock.shownMinute = c.minute;
        world.npcs.Npc(1).instruction = c.otherInstruction;
        world.LoadScript(SectionWithBlock(std::string("NPC[01]>") + c.wait +
                                          "\nNPC[01]>SET_FACING($WEST$)\n"
                                          "NPC[01]>SET_POSITION(1,1)\nNPC[01]>WAIT(1000)\n"));
        world.Passes(c.passes);
        EXPECT_EQ(Doing(world.npcs.Npc(0)), c.doing) << c.wait << " after " << c.passes;
    }
}

TEST_F(PersonInterpreterTest, AppearAndDisappearAreFoundAnywhereInTheWord) {
    const struct {
        const char* word;
        uint8_t visibleBefore, visible;
    } cases[] = {
        {"DISAPPEAR", 1, 0},        {"APPEAR", 0, 1},  {"REAPPEAR", 0, 1}, {"DISAPPEAR(5)", 1, 0},
        {"NOW_DISAPPEARING", 1, 0}, {"APPEARS", 0, 1}, {"APPEA", 0, 0},    {"disappear", 1, 1},
    };
    for (const auto& c : cases) {
        Npc(0).visible = c.visibleBefore;
        world.LoadScript(std::string("NPC[01]>") + c.word + "\n");
        Tick();
        EXPECT_EQ(Npc(0).visible, c.visible) << c.word;
    }
}

}  // namespace

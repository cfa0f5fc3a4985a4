// Loading the server script and running its main pass: conditions, IF blocks, sections,
// globals, and the clock terms over real game time.

#include "quest/server_script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quest_world.h"

namespace {

using quest_test::QuestWorld;

class ServerScriptTest : public ::testing::Test {
protected:
    CServerScript& Load(const std::string& text) { return world.LoadScript(text); }
    int32_t Global(int32_t n) { return world.Script().Global(n); }
    void Pass() { world.Script().RunMainPass(); }
    QuestWorld world;
};

TEST_F(ServerScriptTest, LoadingDropsShortLinesAndStopsAtEof) {
    struct Case {
        std::string file;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"LINE ONE\nab\nLINE TWO\n", {"LINE ONE\n", "LINE TWO\n"}},
        {"ab\nabcd", {"abcd"}},  // 3 characters with the line end: dropped; 4 without: kept
        {"abc\nxyz", {"abc\n"}},
        {"FIRST\nEOF\nAFTER\n", {"FIRST\n"}},
        {"FIRST\nxxEOFxx\nAFTER\n", {"FIRST\n"}},  // "EOF" anywhere ends loading
        {"FIRST\nDUDIDOVI\nAFTER\n", {"FIRST\n", "DUDIDOVI\n", "AFTER\n"}},
        {"a\r\nbcdef\r\n", {"bcdef\n"}},
        {"", {}},
    };
    for (const Case& c : cases) {
        QuestWorld fresh;
        CServerScript& script = fresh.LoadScript(c.file);
        std::vector<std::string> lines;
        std::string echo;
        for (int32_t i = 0; i < script.lineCount; ++i) {
            lines.push_back(script.lines[i]);
            echo += script.lines[i];
        }
        EXPECT_EQ(lines, c.lines) << c.file;
        EXPECT_EQ(fresh.dir.Read("scriptput.txt"), echo) << c.file;
    }
}

TEST_F(ServerScriptTest, ALongLineIsStoredAsPiecesOf299Characters) {
    const std::string line(650, 'x');
    CServerScript& script = Load(line + "\n");
    ASSERT_EQ(script.lineCount, 3);
    EXPECT_EQ(std::string(script.lines[0]), std::string(299, 'x'));
    EXPECT_EQ(std::string(script.lines[1]), std::string(299, 'x'));
    EXPECT_EQ(std::string(script.lines[2]), std::string(52, 'x') + "\n");
}

TEST_F(ServerScriptTest, AMissingScriptIsLoggedAndWritesNoEcho) {
    world.Script().Load("script\\ERtest2.ers");
    EXPECT_EQ(world.Script().lineCount, 0);
    EXPECT_NE(world.Log().find("\nCServerScript: Could not open script file!"), std::string::npos);
    EXPECT_EQ(world.dir.Read("scriptput.txt"), "");
    Pass();  // runs nothing and does not fail
}

TEST_F(ServerScriptTest, OnlyScriptsOfOneTo500LinesRun) {
    for (const int lines : {500, 501}) {
        QuestWorld fresh;
        std::string text;
        for (int i = 0; i < lines; ++i) {
            text += "SET_GLOBAL(GLOBAL[1], GLOBAL[1] + 1)\n";
        }
        fresh.LoadScript(text);
        fresh.Script().RunMainPass();
        EXPECT_EQ(fresh.Script().lineCount, lines);
        EXPECT_EQ(fresh.Script().Global(1), lines == 500 ? 500 : 0);
    }
}

TEST_F(ServerScriptTest, SetGlobalUsesTheFirstBracketOfTheLine) {
    Load(
        "SET_GLOBAL(GLOBAL[3], 7)\n"
        "SET_GLOBAL(GLOBAL[3], GLOBAL[3] + 1)\n"
        "SET_GLOBAL(GLOBAL[04], GLOBAL[3] * 2)\n"
        "  SET_GLOBAL(GLOBAL[99], 0 - 3)\n"
        "SET_GLOBAL(GLOBAL[0], 55)\n");
    world.clock.shownHour = 14;
    world.clock.shownMinute = 36;
    Pass();
    EXPECT_EQ(Global(3), 8);
    EXPECT_EQ(Global(4), 16);
    EXPECT_EQ(Global(99), -3);
    Load("SET_GLOBAL(GLOBAL[5], HOUR_COUNT * 60 + MINUTE_COUNT)\n");
    Pass();
    EXPECT_EQ(Global(5), 14 * 60 + 36);
}

TEST_F(ServerScriptTest, ConditionsCompareByTheOperatorsFirstCharacter) {
    struct Case {
        const char* condition;
        bool holds;
    };
    const std::vector<Case> cases = {
        {"GLOBAL[1] = 5", true},
        {"GLOBAL[1] == 5", true},
        {"GLOBAL[1] = 6", false},
        {"GLOBAL[1] <= 5", false},  // strict
        {"GLOBAL[1] < 6", true},
        {"GLOBAL[1] >= 5", false},
        {"GLOBAL[1] > 4", true},
        {"GLOBAL[1] != 5", false},
        {"GLOBAL[1] ! 4", true},
        {"GLOBAL[1] = (4 + 1)", true},
        // Three words "0", "-", "1": no operator, so the block's lines run as ordinary lines.
        {"0 - 1 < 0", true},
        {"-1 < 0", true},
    };
    for (const Case& c : cases) {
        Load(std::string("SET_GLOBAL(GLOBAL[1], 5)\nSET_GLOBAL(GLOBAL[2], 0)\nIF ") + c.condition +
             "\n SET_GLOBAL(GLOBAL[2], 1)\nENDIF\n");
        Pass();
        EXPECT_EQ(Global(2), c.holds ? 1 : 0) << c.condition;
    }
}

TEST_F(ServerScriptTest, AndChainsNeedEveryConditionAndOtherWordsAreIgnored) {
    struct Case {
        const char* line;
        int32_t a, b;
        bool runs;
    };
    const std::vector<Case> cases = {
        {"IF GLOBAL[1] = 1 AND GLOBAL[2] = 2", 1, 2, true},
        {"IF GLOBAL[1] = 1 AND GLOBAL[2] = 2", 1, 3, false},
        {"IF GLOBAL[1] = 1 AND GLOBAL[2] = 2", 0, 2, false},
        {"IF GLOBAL[1] = 1 THEN", 1, 0, true},
        {"IF GLOBAL[1] = 1 and GLOBAL[2] = 2", 1, 3, true},  // only AND chains
    };
    for (const Case& c : cases) {
        Load(std::string("SET_GLOBAL(GLOBAL[3], 0)\n") + c.line +
             "\n SET_GLOBAL(GLOBAL[3], 1)\nENDIF\n");
        world.Loader().globals[0] = c.a;
        world.Loader().globals[1] = c.b;
        Pass();
        EXPECT_EQ(Global(3), c.runs ? 1 : 0) << c.line << " " << c.a << " " << c.b;
    }
}

TEST_F(ServerScriptTest, AFalseIfSkipsNestedBlocksWhole) {
    Load(
        "IF GLOBAL[1] = 1\n"
        " IF GLOBAL[2] = 0\n"
        "  SET_GLOBAL(GLOBAL[3], 1)\n"
        " ENDIF\n"
        " SET_GLOBAL(GLOBAL[4], 1)\n"
        "ENDIF\n"
        "SET_GLOBAL(GLOBAL[5], 1)\n");
    Pass();
    EXPECT_EQ(Global(3), 0);
    EXPECT_EQ(Global(4), 0);
    EXPECT_EQ(Global(5), 1);

    world.Loader().globals[0] = 1;
    Pass();
    EXPECT_EQ(Global(3), 1);
    EXPECT_EQ(Global(4), 1);
}

TEST_F(ServerScriptTest, AnEndifWithATrailingBlankDoesNotCloseASkippedBlock) {
    Load(
        "IF GLOBAL[1] = 1\n"
        " SET_GLOBAL(GLOBAL[2], 1)\n"
        "ENDIF \n"
        "SET_GLOBAL(GLOBAL[3], 1)\n"
        "ENDIF\n"
        "SET_GLOBAL(GLOBAL[4], 1)\n");
    Pass();
    EXPECT_EQ(Global(2), 0);
    EXPECT_EQ(Global(3), 0);  // still inside the skipped block
    EXPECT_EQ(Global(4), 1);
}

TEST_F(ServerScriptTest, AnIfWithoutEndifSkipsOrRunsTheRestOfTheScript) {
    Load(
        "SET_GLOBAL(GLOBAL[1], GLOBAL[1] + 1)\n"
        "IF GLOBAL[9] = 1\n"
        "SET_GLOBAL(GLOBAL[2], GLOBAL[2] + 1)\n"
        "RUN_PERSON_SCRIPT[1]\n"
        "BEGIN_PERSON_SCRIPT[1]\n"
        "SET_GLOBAL(GLOBAL[3], GLOBAL[3] + 1)\n");
    Pass();
    EXPECT_EQ(Global(1), 1);
    EXPECT_EQ(Global(2), 0);
    world.Loader().globals[8] = 1;
    Pass();
    EXPECT_EQ(Global(2), 1);
    // The block runs every line, the section header included, so section 1 runs twice:
    // once through RUN_PERSON_SCRIPT and once as lines of the block.
    EXPECT_EQ(Global(3), 2);
}

TEST_F(ServerScriptTest, LinesWithoutAnOperatorAreNoConditions) {
    Load(
        "IF GLOBAL[1]\n"
        "SET_GLOBAL(GLOBAL[2], 1)\n"
        "ENDIF\n"
        "SET_GLOBAL(GLOBAL[3], $GIFT$)\n");  // "IF" inside a text is looked at too
    Pass();
    EXPECT_EQ(Global(2), 1);
}

TEST_F(ServerScriptTest, SectionsRunOnlyWhenCalledAndReturnToTheLineAfterTheCall) {
    Load(
        "SET_GLOBAL(GLOBAL[1], GLOBAL[1] + 1)\n"
        "RUN_PERSON_SCRIPT[2]\n"
        "SET_GLOBAL(GLOBAL[2], GLOBAL[7])\n"
        "RUN_PERSON_SCRIPT[9]\n"
        "BEGIN_PERSON_SCRIPT[1]\n"
        "SET_GLOBAL(GLOBAL[5], 1)\n"
        "END_PERSON_SCRIPT\n"
        "BEGIN_PERSON_SCRIPT[2]\n"
        "SET_GLOBAL(GLOBAL[7], GLOBAL[7] + 10)\n"
        "END_PERSON_SCRIPT\n");
    Pass();
    Pass();
    EXPECT_EQ(Global(1), 2);
    EXPECT_EQ(Global(5), 0);
    EXPECT_EQ(Global(7), 20);
    EXPECT_EQ(Global(2), 20);  // the line after the call saw the section's work
    EXPECT_EQ(world.Script().currentPersonScriptNumber, 1);
}

TEST_F(ServerScriptTest, ASectionRunFromASectionLeavesTheCursorInTheOuterSection) {
    Load(
        "RUN_PERSON_SCRIPT[1]\n"
        "SET_GLOBAL(GLOBAL[9], GLOBAL[9] + 1)\n"
        "BEGIN_PERSON_SCRIPT[1]\n"
        "SET_GLOBAL(GLOBAL[1], GLOBAL[1] + 1)\n"
        "RUN_PERSON_SCRIPT[2]\n"
        "SET_GLOBAL(GLOBAL[3], GLOBAL[3] + 1)\n"
        "END_PERSON_SCRIPT\n"
        "BEGIN_PERSON_SCRIPT[2]\n"
        "SET_GLOBAL(GLOBAL[2], GLOBAL[2] + 1)\n"
        "END_PERSON_SCRIPT\n"
        "BEGIN_PERSON_SCRIPT[3]\n"
        "SET_GLOBAL(GLOBAL[4], GLOBAL[4] + 1)\n");
    Pass();
    EXPECT_EQ(Global(1), 1);
    EXPECT_EQ(Global(2), 1);
    // After section 1 ends the cursor is back on the inner RUN line, so the main pass runs the
    // rest of section 1 as main-section lines up to the next section header.
    EXPECT_EQ(Global(3), 2);
    EXPECT_EQ(Global(9), 0);
    EXPECT_EQ(Global(4), 0);
}

TEST_F(ServerScriptTest, AScriptStartingWithASectionDoesNothingOnItsOwn) {
    Load("BEGIN_PERSON_SCRIPT[1]\nSET_GLOBAL(GLOBAL[1], 1)\n");
    Pass();
    EXPECT_EQ(Global(1), 0);
}

TEST_F(ServerScriptTest, SectionsCalledFromOneLevelRunInFullAtTheLargestSizes) {
    // 260 calls of a 238-line section: 61,880 increments, the most one level can ask for.
    std::string text;
    for (int i = 0; i < 260; ++i) {
        text += "RUN_PERSON_SCRIPT[1]\n";
    }
    text += "BEGIN_PERSON_SCRIPT[1]\n";
    for (int i = 0; i < 238; ++i) {
        text += "SET_GLOBAL(GLOBAL[1], GLOBAL[1] + 1)\n";
    }
    Load(text);
    Pass();
    EXPECT_FALSE(world.Script().BudgetExhausted());
    EXPECT_EQ(Global(1), 260 * 238);
}

TEST_F(ServerScriptTest, APassEndsWhenItsLineBudgetIsUsedUp) {
    // 30 calls of a 99-line section would take 3,000 line executions.
    std::string text;
    for (int i = 0; i < 30; ++i) {
        text += "RUN_PERSON_SCRIPT[1]\n";
    }
    text += "BEGIN_PERSON_SCRIPT[1]\n";
    for (int i = 0; i < 99; ++i) {
        text += "SET_GLOBAL(GLOBAL[1], GLOBAL[1] + 1)\n";
    }
    Load(text);
    world.Script().SetPassBudget(1000);
    Pass();
    EXPECT_TRUE(world.Script().BudgetExhausted());
    // Each call costs its RUN line and the section's 99 lines.
    EXPECT_EQ(Global(1), 10 * 99);
    Pass();  // the next pass has its own budget
    EXPECT_EQ(Global(1), 2 * 10 * 99);

    Load("RUN_PERSON_SCRIPT[1]\nBEGIN_PERSON_SCRIPT[1]\nSET_GLOBAL(GLOBAL[2], 1)\n");
    Pass();
    EXPECT_FALSE(world.Script().BudgetExhausted());
}

// The clock advances one clock tick every fifth game tick; at the default day length minute
// 30 is published for one clock tick and minute 35 never.
TEST_F(ServerScriptTest, MinuteThirtyHoldsForFiveGameTicksAndThirtyFiveNever) {
    Load(
        "IF MINUTE_COUNT = 30\n"
        " SET_GLOBAL(GLOBAL[1], GLOBAL[1] + 1)\n"
        "ENDIF\n"
        "IF MINUTE_COUNT = 35\n"
        " SET_GLOBAL(GLOBAL[2], GLOBAL[2] + 1)\n"
        "ENDIF\n");
    world.clock.SetDayLength(1000);
    std::vector<int> ticksHolding;
    for (int tick = 1; tick <= 5 * 1008; ++tick) {  // one game day
        const int32_t before = Global(1);
        Pass();
        if (Global(1) != before) {
            ticksHolding.push_back(tick);
        }
        if (tick % 5 == 0) {
            world.clock.UpdateNightDay(world.weather);
        }
    }
    // Minute 30 is the 21st clock tick of each of the 24 hours: 5 game ticks in a row each.
    ASSERT_EQ(ticksHolding.size(), 24u * 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(ticksHolding[i], ticksHolding[0] + static_cast<int>(i));
    }
    EXPECT_EQ(Global(2), 0);
}

}  // namespace

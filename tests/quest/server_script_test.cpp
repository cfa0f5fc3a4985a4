// Loading the server script and running its main pass: conditions, IF blocks, sections,
// globals, the line budget and the clock terms over real game time.

#include "quest/server_script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quest_world.h"

namespace {

using quest_test::QuestWorld;

std::string Set(int n, const std::string& value) {
    return "SET_GLOBAL(GLOBAL[" + std::to_string(n) + "], " + value + ")\n";
}
std::string Inc(int n) {
    return Set(n, "GLOBAL[" + std::to_string(n) + "] + 1");
}
std::string Repeat(const std::string& line, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += line;
    }
    return text;
}

TEST(ServerScriptTest, LoadingDropsShortLinesCutsLongOnesAndStopsAtEof) {
    const struct {
        std::string file;
        std::vector<std::string> lines;
    } cases[] = {
        {"LINE ONE\nab\nLINE TWO\n", {"LINE ONE\n", "LINE TWO\n"}},
        {"ab\nabcd", {"abcd"}},  // 3 characters with the line end: dropped; 4 without: kept
        {"abc\nxyz", {"abc\n"}},
        {"FIRST\nxxEOFxx\nAFTER\n", {"FIRST\n"}},  // "EOF" anywhere ends loading
        {"FIRST\nDUDIDOVI\nAFTER\n", {"FIRST\n", "DUDIDOVI\n", "AFTER\n"}},
        {"a\r\nbcdef\r\n", {"bcdef\n"}},
        {"", {}},
        {std::string(650, 'x') + "\n",
         {std::string(299, 'x'), std::string(299, 'x'), std::string(52, 'x') + "\n"}},
    };
    for (const auto& c : cases) {
        QuestWorld world;
        CServerScript& script = world.LoadScript(c.file);
        const std::vector<std::string> lines(script.lines, script.lines + script.lineCount);
        EXPECT_EQ(lines, c.lines) << c.file;
        std::string echo;
        for (const std::string& line : lines) {
            echo += line;
        }
        EXPECT_EQ(world.dir.Read("scriptput.txt"), echo) << c.file;
    }
    QuestWorld world;
    world.Script().Load("script\\ERtest2.ers");
    EXPECT_EQ(world.Script().lineCount, 0);
    EXPECT_NE(world.Log().find("\nCServerScript: Could not open script file!"), std::string::npos);
    EXPECT_EQ(world.dir.Read("scriptput.txt"), "");
    world.Passes(1);  // runs nothing and does not fail
}

TEST(ServerScriptTest, ConditionsCompareByTheOperatorsFirstCharacterAndChainWithAnd) {
    const std::pair<const char*, bool> cases[] = {
        // clang-format off
        {"GLOBAL[1] = 5", true}, {"GLOBAL[1] == 5", true}, {"GLOBAL[1] = 6", false},
        {"GLOBAL[1] <= 5", false} /* strict */, {"GLOBAL[1] < 6", true}, {"GLOBAL[1] >= 5", false},
        {"GLOBAL[1] > 4", true}, {"GLOBAL[1] != 5", false}, {"GLOBAL[1] ! 4", true},
        {"GLOBAL[1] = (4 + 1)", true}, {"GLOBAL[1]", true} /* no operator: no condition */,
        // Three words "0", "-", "1": no operator, so the block's lines run as ordinary lines.
        {"0 - 1 < 0", true}, {"-1 < 0", true},
        {"GLOBAL[1] = 5 AND GLOBAL[3] = 2", true}, {"GLOBAL[1] = 5 AND GLOBAL[3] = 3", false},
        {"GLOBAL[1] = 4 AND GLOBAL[3] = 2", false}, {"GLOBAL[1] = 5 THEN", true},
        {"GLOBAL[1] = 5 and GLOBAL[3] = 3", true},  // only AND chains
        // clang-format on
    };
    for (const auto& [condition, holds] : cases) {
        QuestWorld world;
        world.LoadScript(Set(1, "5") + Set(3, "2") + "IF " + condition + "\n " + Set(2, "1") +
                         "ENDIF\n");
        world.Passes(1);
        EXPECT_EQ(world.Script().Global(2), holds ? 1 : 0) << condition;
    }
}

TEST(ServerScriptTest, BlocksAndSectionsRunTheseLines) {
    const std::string noEndif = Inc(1) + "IF GLOBAL[9] = 1\n" + Inc(2) +
                                "RUN_PERSON_SCRIPT[1]\nBEGIN_PERSON_SCRIPT[1]\n" + Inc(3);
    const std::string nested = "IF GLOBAL[1] = 1\n IF GLOBAL[2] = 0\n  " + Set(3, "1") +
                               " ENDIF\n " + Set(4, "1") + "ENDIF\n" + Set(5, "1") + Set(1, "1");
    const struct {
        std::string script;
        int passes;
        const char* globals;
    } cases[] = {
        {Set(3, "7") + Inc(3) + Set(4, "GLOBAL[3] * 2") + "  " + Set(99, "0 - 3") + Set(0, "55"), 1,
         "G3=8 G4=16 G99=-3"},     // the first bracket of the line names the global
        {nested, 1, "G1=1 G5=1"},  // a false IF skips nested blocks whole
        {nested, 2, "G1=1 G3=1 G4=1 G5=1"},
        // An ENDIF with a trailing blank does not close a skipped block.
        {"IF GLOBAL[1] = 1\n" + Set(2, "1") + "ENDIF \n" + Set(3, "1") + "ENDIF\n" + Set(4, "1"), 1,
         "G4=1"},
        // An IF without ENDIF skips the rest, or runs every line, section header included.
        {noEndif, 1, "G1=1"},
        {Set(9, "1") + noEndif, 1, "G1=1 G2=1 G3=2 G9=1"},
        // Sections run only when called and return to the line after the call.
        {Inc(1) + "RUN_PERSON_SCRIPT[2]\n" + Set(2, "GLOBAL[7]") +
             "RUN_PERSON_SCRIPT[9]\nBEGIN_PERSON_SCRIPT[1]\n" + Set(5, "1") +
             "END_PERSON_SCRIPT\nBEGIN_PERSON_SCRIPT[2]\n" + Set(7, "GLOBAL[7] + 10") +
             "END_PERSON_SCRIPT\n",
         2, "G1=2 G2=20 G7=20"},
        // A section run from a section leaves the cursor on the inner RUN line, so the main
        // pass runs the rest of the outer section as main-section lines.
        {"RUN_PERSON_SCRIPT[1]\n" + Inc(9) + "BEGIN_PERSON_SCRIPT[1]\n" + Inc(1) +
             "RUN_PERSON_SCRIPT[2]\n" + Inc(3) + "END_PERSON_SCRIPT\nBEGIN_PERSON_SCRIPT[2]\n" +
             Inc(2) + "END_PERSON_SCRIPT\nBEGIN_PERSON_SCRIPT[3]\n" + Inc(4),
         1, "G1=1 G2=1 G3=2"},
        {"BEGIN_PERSON_SCRIPT[1]\n" + Set(1, "1"), 1, ""},
        // Only scripts of one to 500 lines run.
        {Repeat(Inc(1), 500), 1, "G1=500"},
        {Repeat(Inc(1), 501), 1, ""},
        // 260 calls of a 238-line section: the most one level can ask for runs in full.
        {Repeat("RUN_PERSON_SCRIPT[1]\n", 260) + "BEGIN_PERSON_SCRIPT[1]\n" + Repeat(Inc(1), 238),
         1, "G1=61880"},
    };
    for (const auto& c : cases) {
        QuestWorld world;
        world.LoadScript(c.script);
        world.Passes(c.passes);
        EXPECT_EQ(world.Globals(), c.globals) << c.script;
        EXPECT_FALSE(world.Script().BudgetExhausted());
    }
}

TEST(ServerScriptTest, APassEndsWhenItsLineBudgetIsUsedUp) {
    QuestWorld world;  // each call costs its RUN line and the section's 99 lines
    world.LoadScript(Repeat("RUN_PERSON_SCRIPT[1]\n", 30) + "BEGIN_PERSON_SCRIPT[1]\n" +
                     Repeat(Inc(1), 99));
    world.Script().SetPassBudget(1000);
    world.Passes(1);
    EXPECT_TRUE(world.Script().BudgetExhausted());
    EXPECT_EQ(world.Globals(), "G1=990");
    world.Passes(1);  // the next pass has its own budget
    EXPECT_EQ(world.Globals(), "G1=1980");
    world.LoadScript("RUN_PERSON_SCRIPT[1]\nBEGIN_PERSON_SCRIPT[1]\n" + Set(2, "1"));
    world.Passes(1);
    EXPECT_FALSE(world.Script().BudgetExhausted());
}

// The clock advances one clock tick every fifth game tick; at the default day length minute
// 30 is published for one clock tick (the 21st of each hour) and minute 35 never.
TEST(ServerScriptTest, MinuteThirtyHoldsForFiveGameTicksAndThirtyFiveNever) {
    QuestWorld world;
    world.LoadScript("IF MINUTE_COUNT = 30\n " + Inc(1) + "ENDIF\nIF MINUTE_COUNT = 35\n " +
                     Inc(2) + "ENDIF\n");
    world.clock.SetDayLength(1000);
    std::vector<int> ticksHolding;
    for (int tick = 1; tick <= 5 * 1008; ++tick) {  // one game day
        const int32_t before = world.Script().Global(1);
        world.Passes(1);
        if (world.Script().Global(1) != before) {
            ticksHolding.push_back(tick);
        }
        if (tick % 5 == 0) {
            world.clock.UpdateNightDay(world.weather);
        }
    }
    ASSERT_EQ(ticksHolding.size(), 24u * 5u);
    EXPECT_EQ(ticksHolding[4], ticksHolding[0] + 4);
    EXPECT_EQ(world.Script().Global(2), 0);
}

}  // namespace

// The evaluator, its terms and the readers of the server script.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quest/server_script.h"
#include "quest_world.h"

namespace {

using quest_test::QuestWorld;

TEST(ScriptExpressionTest, EvaluatesStrictlyFromLeftToRight) {
    QuestWorld world;
    world.Loader().globals[1] = 1234;  // GLOBAL[2]
    const std::pair<const char*, int32_t> cases[] = {
        // clang-format off
        {"5", 5}, {"10 - 4 * 2", 12}, {"0 - 3", -3}, {"0 * 7", 0}, {"-7", -7}, {"17 / 5", 3},
        {"2 + 3 * 4 - 1", 19}, {"-17 / 5", -3}, {"-17 % 5", -2}, {"GLOBAL[2] % 10", 4},
        {"TRUE + TRUE", 2}, {"FALSE", 0}, {"abc", 0}, {"", 0}, {"7 / 0", 0}, {"7 % 0", 0},
        {"7\n", 7},  // the line end rides on the last term
        {"3 + 4 ", -100}, {"5 ", -100},  // a trailing blank steps past the end
        {"3 +4", -100}, {"3 +", -100},  // the operator takes its blank on trust
        {"2147483647 + 1", INT32_MIN}, {"-2147483648 / -1", INT32_MIN},  // wraps
        // clang-format on
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(world.Script().Evaluate(text), value) << '"' << text << '"';
    }
}

TEST(ScriptExpressionTest, TermsReadTheClockTheRainTheGlobalsAndTheNpcs) {
    QuestWorld world(2);
    world.clock.dayCount = 3;
    world.clock.shownHour = 14;
    world.clock.shownMinute = 36;
    world.weather.publishedVolume = 42.9f;
    world.Loader().globals[0] = 11;
    world.Loader().globals[11] = 12;
    CServerNPC& npc = world.npcs.Npc(1);
    npc.posX = 123.75f;
    npc.posY = -4.5f;
    npc.currentMessage = 2;
    npc.instruction = 3;
    npc.scriptEnded[1] = 1;
    const std::pair<const char*, int32_t> cases[] = {
        // clang-format off
        {"DAY_COUNT", 3}, {"HOUR_COUNT", 14}, {"MINUTE_COUNT", 36}, {"RAIN_AMOUNT", 42},
        {"GLOBAL[1]", 11}, {"GLOBAL[01]", 11}, {"GLOBAL[12]", 12}, {"GLOBAL[123]", 12},
        {"GLOBAL[0]", 0}, {"GLOBAL", 0}, {"TRUE_DAY_COUNT", 1} /* the first matching test */,
        {"  42abc", 42}, {"NPC[02]>XPOS", 123}, {"NPC[2]>YPOS", -4}, {"NPC[02]>MESSAGE", 2},
        {"NPC[02]>INSTRUCTION", 4}, {"NPC[02]>ENDED[2]", 1}, {"NPC[02]>ENDED[1]", 0},
        {"NPC[02]>ENDED[11]", 0}, {"NPC[02]>XPOSITION", 123}, {"NPC[02]>MESSAGE_MAP", 2},
        {"NPC[02]>COLOUR", -100}, {"NPC[02]>POSX", -100}, {"NPC[02]>", -100},
        {"NPC[77]>XPOS", -100}, {"NPC[51]>XPOS", -100}, {"NPC[02] XPOS", -100},
        // clang-format on
    };
    for (const auto& [term, value] : cases) {
        EXPECT_EQ(world.Script().TermValue(term), value) << term;
    }
    world.weather.publishedVolume = -0.03f;
    EXPECT_EQ(world.Script().TermValue("RAIN_AMOUNT"), 0);
    world.LoadScript("SET_GLOBAL(GLOBAL[5], HOUR_COUNT * 60 + MINUTE_COUNT)\n");
    world.Passes(1);
    EXPECT_EQ(world.Script().Global(5), 14 * 60 + 36);
}

TEST(ScriptExpressionTest, BracketIndexReadsTwoCharactersAfterTheFirstBracket) {
    const std::pair<const char*, int32_t> cases[] = {
        {"[7]", 6},       {"[07]", 6}, {"[12]", 11},       {"[123]", 11}, {"NPC[1]>X", 0},
        {"A[3] B[9]", 2}, {"[", -1},   {"no bracket", -1}, {"[x]", -1},   {"[-5]", -6},
    };
    for (const auto& [text, index] : cases) {
        EXPECT_EQ(BracketIndex(text), index) << text;
    }
}

class ScriptReaderTest : public ::testing::Test {
protected:
    // Makes `text` the current line with the cursor at `position`.
    void On(const std::string& text, int32_t position = 0) {
        script.lineCount = 1;
        std::snprintf(script.lines[0], kScriptLineSize, "%s", text.c_str());
        script.currentLine = 0;
        script.currentPosition = position;
    }
    // The next `count` words or arguments, each followed by "|".
    std::string Read(int count, bool arguments = false) {
        std::string read;
        for (int i = 0; i < count; ++i) {
            arguments ? script.NextArgument() : script.NextWord();
            read += script.tokenBuffer + std::string("|");
        }
        return read;
    }
    QuestWorld world;
    CServerScript& script = world.Script();
};

TEST_F(ScriptReaderTest, FindKeywordPlacesTheCursorAfterTheFirstOccurrence) {
    On("  IF GLOBAL[1] = 1 ENDIF\n");
    EXPECT_TRUE(script.FindKeyword("IF"));
    EXPECT_EQ(script.currentPosition, 4);
    script.currentPosition = 17;
    EXPECT_FALSE(script.FindKeyword("ELSE"));
    EXPECT_EQ(script.currentPosition, 17);
    EXPECT_TRUE(script.FindKeyword("ENDIF"));
    EXPECT_EQ(script.currentPosition, 24);
}

TEST_F(ScriptReaderTest, WordsSplitAtBlanksArgumentsAtSeparatorsAndBothTakeAtMostFifty) {
    On("IF GLOBAL[1]  = (GLOBAL[2] + 1) AND x\n", 2);
    EXPECT_EQ(Read(6), "GLOBAL[1]|=|GLOBAL[2] + 1|)|AND|x\n|");  // parentheses read whole
    On("(unclosed words");
    EXPECT_EQ(Read(1), "unclosed words|");
    On(std::string(60, 'w') + " next");
    EXPECT_EQ(Read(1), std::string(50, 'w') + "|");
    EXPECT_EQ(script.currentPosition, 0);  // stays on the word's first character
    On(std::string(60, ' ') + "far");
    EXPECT_EQ(Read(1), "|");  // more than 49 blanks: no word
    On("NPC[01]>WALKTO( 10 + 2 ,NPC[02]>XPOS)\n", 3);
    EXPECT_EQ(Read(4, true), "[01]>WALKTO|10 + 2 |NPC[02]>XPOS|\n|");
}

TEST_F(ScriptReaderTest, QuotedTextIsBetweenTheFirstTwoDollars) {
    const std::pair<std::string, std::string> cases[] = {
        {"SAY ($Where to?$)", "Where to?"},
        {"$open to the end", "open to the end"},
        {"no dollar", ""},
        {"$$", ""},
        {std::string(290, 'a') + "$" + std::string(20, 'b'), std::string(9, 'b')},
    };
    for (const auto& [text, quoted] : cases) {
        script.QuotedText(text.c_str());
        EXPECT_EQ(std::string(script.tokenBuffer), quoted) << text;
    }
}

}  // namespace

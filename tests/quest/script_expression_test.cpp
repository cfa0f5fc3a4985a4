// The evaluator, its terms and the readers of the server script.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quest/server_script.h"
#include "quest_world.h"

namespace {

using quest_test::QuestWorld;

class ScriptExpressionTest : public ::testing::Test {
protected:
    QuestWorld world;
    CServerScript& script = world.Script();
};

TEST_F(ScriptExpressionTest, EvaluatesStrictlyFromLeftToRight) {
    struct Case {
        const char* text;
        int32_t value;
    };
    world.Loader().globals[1] = 1234;  // GLOBAL[2]
    const std::vector<Case> cases = {
        {"5", 5},
        {"10 - 4 * 2", 12},
        {"0 - 3", -3},
        {"0 * 7", 0},
        {"-7", -7},
        {"2 + 3 * 4 - 1", 19},
        {"17 / 5", 3},
        {"-17 / 5", -3},
        {"-17 % 5", -2},
        {"GLOBAL[2] % 10", 4},
        {"TRUE + TRUE", 2},
        {"FALSE", 0},
        {"abc", 0},
        {"7\n", 7},        // the line end rides on the last term
        {"3 + 4 ", -100},  // a trailing blank steps past the end
        {"5 ", -100},
        {"3 +4", -100},  // the operator takes its blank on trust
        {"3 +", -100},
        {"", 0},
        {"2147483647 + 1", INT32_MIN},  // wraps
        {"7 / 0", 0},
        {"7 % 0", 0},
        {"-2147483648 / -1", INT32_MIN},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(script.Evaluate(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST_F(ScriptExpressionTest, TermsReadTheClockTheRainTheGlobalsAndTheNpcs) {
    world.clock.dayCount = 3;
    world.clock.shownHour = 14;
    world.clock.shownMinute = 36;
    world.weather.publishedVolume = 42.9f;
    world.Loader().globals[0] = 11;
    world.Loader().globals[11] = 12;
    world.npcs.npcCount = 2;
    world.npcs.Npc(1).posX = 123.75f;
    world.npcs.Npc(1).posY = -4.5f;
    world.npcs.Npc(1).currentMessage = 2;
    world.npcs.Npc(1).instruction = 3;
    world.npcs.Npc(1).scriptEnded[1] = 1;

    struct Case {
        const char* term;
        int32_t value;
    };
    const std::vector<Case> cases = {
        {"DAY_COUNT", 3},           {"HOUR_COUNT", 14},
        {"MINUTE_COUNT", 36},       {"RAIN_AMOUNT", 42},
        {"GLOBAL[1]", 11},          {"GLOBAL[01]", 11},
        {"GLOBAL[12]", 12},         {"GLOBAL[123]", 12},  // two digits only
        {"GLOBAL[0]", 0},           {"GLOBAL", 0},
        {"TRUE_DAY_COUNT", 1},  // the first matching test decides
        {"NPC[02]>XPOS", 123},      {"NPC[2]>YPOS", -4},
        {"NPC[02]>MESSAGE", 2},     {"NPC[02]>INSTRUCTION", 4},
        {"NPC[02]>ENDED[2]", 1},    {"NPC[02]>ENDED[1]", 0},
        {"NPC[02]>XPOSITION", 123}, {"NPC[02]>COLOUR", -100},
        {"NPC[77]>XPOS", -100},     {"  42abc", 42},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(script.TermValue(c.term), c.value) << c.term;
    }
    world.weather.publishedVolume = -0.03f;
    EXPECT_EQ(script.TermValue("RAIN_AMOUNT"), 0);
}

TEST(BracketIndex, ReadsTwoCharactersAfterTheFirstBracket) {
    struct Case {
        const char* text;
        int32_t index;
    };
    const std::vector<Case> cases = {
        {"[7]", 6},       {"[07]", 6}, {"[12]", 11},       {"[123]", 11}, {"NPC[1]>X", 0},
        {"A[3] B[9]", 2}, {"[", -1},   {"no bracket", -1}, {"[x]", -1},   {"[-5]", -6},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BracketIndex(c.text), c.index) << c.text;
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
    std::vector<std::string> Words(int count) {
        std::vector<std::string> words;
        for (int i = 0; i < count; ++i) {
            script.NextWord();
            words.push_back(script.tokenBuffer);
        }
        return words;
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

TEST_F(ScriptReaderTest, NextWordSplitsAtBlanksAndReadsParenthesesWhole) {
    On("IF GLOBAL[1]  = (GLOBAL[2] + 1) AND x\n", 2);
    EXPECT_EQ(Words(6),
              (std::vector<std::string>{"GLOBAL[1]", "=", "GLOBAL[2] + 1", ")", "AND", "x\n"}));
    On("(unclosed words", 0);
    EXPECT_EQ(Words(1), std::vector<std::string>{"unclosed words"});
}

TEST_F(ScriptReaderTest, NextWordTakesAtMostFiftyCharacters) {
    const std::string longWord(60, 'w');
    On(longWord + " next");
    EXPECT_EQ(Words(1)[0], std::string(50, 'w'));
    EXPECT_EQ(script.currentPosition, 0);  // stays on the word's first character
    On(std::string(60, ' ') + "far");
    EXPECT_EQ(Words(1)[0], "");  // more than 49 blanks: no word
}

TEST_F(ScriptReaderTest, NextArgumentSkipsSeparatorsAndKeepsInnerBlanks) {
    On("NPC[01]>WALKTO( 10 + 2 ,NPC[02]>XPOS)\n", 3);
    std::vector<std::string> arguments;
    for (int i = 0; i < 4; ++i) {
        script.NextArgument();
        arguments.push_back(script.tokenBuffer);
    }
    EXPECT_EQ(arguments,
              (std::vector<std::string>{"[01]>WALKTO", "10 + 2 ", "NPC[02]>XPOS", "\n"}));
}

TEST_F(ScriptReaderTest, QuotedTextIsBetweenTheFirstTwoDollars) {
    struct Case {
        std::string text;
        std::string quoted;
    };
    const std::vector<Case> cases = {
        {"SAY ($Where to?$)", "Where to?"},
        {"$open to the end", "open to the end"},
        {"no dollar", ""},
        {"$$", ""},
        {std::string(290, 'a') + "$" + std::string(20, 'b'), std::string(9, 'b')},
    };
    for (const Case& c : cases) {
        script.QuotedText(c.text.c_str());
        EXPECT_EQ(std::string(script.tokenBuffer), c.quoted) << c.text;
    }
}

}  // namespace

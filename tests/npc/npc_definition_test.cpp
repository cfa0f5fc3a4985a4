#include "npc/npc_definition.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "npc/npc_codes.h"
#include "npc/server_npc.h"
#include "support/temp_dir.h"

namespace {

constexpr int32_t kUntyped = 7;  // a type no definition gives, to see "left unchanged"

TEST(TypeFromWords, LaterWordsWinAndNoWordKeepsTheType) {
    const struct {
        const char* line;
        int32_t expected;
    } cases[] = {
        {"still\n", kTypeStill},
        {"headturn\n", kTypeHeadturn},
        {"personscript\n", kTypePersonscript},
        {"still personscript\n", kTypePersonscript},
        {"personscript still\n", kTypePersonscript},
        {"still headturn\n", kTypeHeadturn},
        {"headturn still\n", kTypeHeadturn},
        {"stillheadturnpersonscript", kTypePersonscript},
        {"standstill", kTypeStill},
        {"Still\n", kUntyped},
        {"HEADTURN\n", kUntyped},
        {"walker\n", kUntyped},
        {"", kUntyped},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TypeFromWords(c.line, kUntyped), c.expected) << '"' << c.line << '"';
    }
}

TEST(SpeedFromText, ReadsADecimalIntegerTheWayAtoiDoes) {
    const struct {
        const char* line;
        float expected;
    } cases[] = {
        {"60\n", 60.0f},
        {"  42\n", 42.0f},
        {"\t-12abc\n", -12.0f},
        {"+7\n", 7.0f},
        {"3.9\n", 3.0f},
        {"fast\n", 0.0f},
        {"\n", 0.0f},
        {"", 0.0f},
        {"- 5", 0.0f},
        {"0x1F", 0.0f},
        {"99999999999999999999", 2147483648.0f},
        {"-99999999999999999999", -2147483648.0f},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SpeedFromText(c.line), c.expected) << '"' << c.line << '"';
    }
}

class LoadDefinitionTest : public ::testing::Test {
protected:
    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};

    void WriteDefinitions(const std::string& content) const { dir.Write("npc/chars.npc", content); }
    // A freshly reset NPC with a type no definition gives, after loading name.
    CServerNPC Load(const char* name) const {
        CServerNPC npc;
        npc.type = kUntyped;
        npc.LoadDefinition(name);
        return npc;
    }
};

struct DefinitionCase {
    const char* what;
    std::string file;
    const char* name;
    int32_t type;
    float speed;
};

TEST_F(LoadDefinitionTest, AppliesTheKeysOfTheMatchingDefinition) {
    const DefinitionCase cases[] = {
        {"type and speed", "[NAME]\nguard\n[TYPE]\nstill\n[SPEED]\n60\n", "guard", kTypeStill,
         60.0f},
        {"keys in the other order", "[NAME]\nguard\n[SPEED]\n20\n[TYPE]\nheadturn\n", "guard",
         kTypeHeadturn, 20.0f},
        {"no speed keeps 35", "[NAME]\nguard\n[TYPE]\npersonscript\n", "guard", kTypePersonscript,
         35.0f},
        {"no type keeps the type", "[NAME]\nguard\n[SPEED]\n50\n", "guard", kUntyped, 50.0f},
        {"still and personscript", "[NAME]\nguard\n[TYPE]\nstill personscript\n", "guard",
         kTypePersonscript, 35.0f},
        {"unknown type words", "[NAME]\nguard\n[TYPE]\nwanderer\n", "guard", kUntyped, 35.0f},
        {"speed without digits", "[NAME]\nguard\n[SPEED]\nquick\n", "guard", kUntyped, 0.0f},
        {"speed 0", "[NAME]\nguard\n[SPEED]\n0\n", "guard", kUntyped, 0.0f},
        {"keys found anywhere in a line", "[NAME]\nguard\nx[TYPE]x\nstill\n  [SPEED]:\n 9\n",
         "guard", kTypeStill, 9.0f},
        {"other lines ignored", "[NAME]\nguard\n# gate\n[COLOUR]\nred\n[SPEED]\n15\n", "guard",
         kUntyped, 15.0f},
        {"a later key wins", "[NAME]\nguard\n[SPEED]\n15\n[SPEED]\n25\n", "guard", kUntyped, 25.0f},
        {"no definition matches", "[NAME]\nguard\n[SPEED]\n15\n", "smith", kUntyped, 35.0f},
        {"empty file", "", "guard", kUntyped, 35.0f},
        {"keys are case-sensitive", "[name]\nguard\n[SPEED]\n15\n", "guard", kUntyped, 35.0f},
        {"the name is a substring of the name line", "[NAME]\nold guard\n[SPEED]\n15\n", "guard",
         kUntyped, 15.0f},
        {"lines before the first definition", "[SPEED]\n90\n[NAME]\nguard\n[TYPE]\nstill\n",
         "guard", kTypeStill, 35.0f},
        {"CR LF line ends", "[NAME]\r\nguard\r\n[TYPE]\r\nstill\r\n[SPEED]\r\n45\r\n", "guard",
         kTypeStill, 45.0f},
    };
    for (const auto& c : cases) {
        WriteDefinitions(c.file);
        const CServerNPC npc = Load(c.name);
        EXPECT_EQ(npc.type, c.type) << c.what;
        EXPECT_EQ(npc.speed, c.speed) << c.what;
    }
    EXPECT_EQ(dir.Read("ErrorChk.txt"), "") << "a present file logs nothing";
}

TEST_F(LoadDefinitionTest, TheFirstNameLineContainingTheNameWins) {
    const std::string guardFirst = "[NAME]\nguard\n[SPEED]\n10\n[NAME]\nguard2\n[SPEED]\n20\n";
    const std::string guard2First = "[NAME]\nguard2\n[SPEED]\n20\n[NAME]\nguard\n[SPEED]\n10\n";
    const struct {
        const std::string& file;
        const char* name;
        float speed;
        const char* what;
    } cases[] = {
        {guardFirst, "guard", 10.0f, "guard before guard2: guard"},
        {guardFirst, "guard2", 20.0f, "guard before guard2: guard2"},
        {guard2First, "guard", 20.0f, "guard2 first also answers guard"},
        {guard2First, "guard2", 20.0f, "guard2 first: guard2"},
        {guardFirst, "uard", 10.0f, "any part of a name line matches"},
        {guardFirst, "", 10.0f, "an empty name matches the first definition"},
    };
    for (const auto& c : cases) {
        WriteDefinitions(c.file);
        EXPECT_EQ(Load(c.name).speed, c.speed) << c.what;
    }
}

TEST_F(LoadDefinitionTest, ABodyEndsAtTheNextNameLine) {
    WriteDefinitions(
        "[NAME]\nguard\n[TYPE]\nstill\n"
        "[NAME]\nsmith\n[SPEED]\n80\n");
    const CServerNPC guard = Load("guard");
    EXPECT_EQ(guard.type, kTypeStill);
    EXPECT_EQ(guard.speed, 35.0f) << "the next definition's speed does not apply";
    const CServerNPC smith = Load("smith");
    EXPECT_EQ(smith.type, kUntyped);
    EXPECT_EQ(smith.speed, 80.0f);
}

TEST_F(LoadDefinitionTest, ValueLinesAreConsumedByTheirKeys) {
    const DefinitionCase cases[] = {
        {"a speed value reading [TYPE] is no key", "[NAME]\nguard\n[SPEED]\n[TYPE]\nstill\n",
         "guard", kUntyped, 0.0f},
        {"a type value reading [NAME] does not end the body",
         "[NAME]\nguard\n[TYPE]\n[NAME] still\n[SPEED]\n12\n", "guard", kTypeStill, 12.0f},
        {"a type value is still looked at for [SPEED]",
         "[NAME]\nguard\n[TYPE]\nheadturn [SPEED]\n70\n", "guard", kTypeHeadturn, 70.0f},
        {"a key line with both keys reads one value, for the type",
         "[NAME]\nguard\n[TYPE][SPEED]\nstill\n33\n", "guard", kTypeStill, 35.0f},
        {"a name line is not looked at for [NAME]", "[NAME]\n[NAME]\nguard\n[SPEED]\n9\n", "guard",
         kUntyped, 35.0f},
        {"the line after a non-matching name line can start the next definition",
         "[NAME]\nbob\n[NAME]\nguard\n[SPEED]\n9\n", "guard", kUntyped, 9.0f},
        {"a name line that reads [NAME] can itself be asked for",
         "[NAME]\n[NAME]\nguard\n[SPEED]\n9\n", "NAME", kUntyped, 9.0f},
    };
    for (const auto& c : cases) {
        WriteDefinitions(c.file);
        const CServerNPC npc = Load(c.name);
        EXPECT_EQ(npc.type, c.type) << c.what;
        EXPECT_EQ(npc.speed, c.speed) << c.what;
    }
}

TEST_F(LoadDefinitionTest, AKeyWithoutAValueLineAtTheEndOfTheFileHasNoEffect) {
    const DefinitionCase cases[] = {
        {"speed key last, no end-of-line", "[NAME]\nguard\n[TYPE]\nstill\n[SPEED]", "guard",
         kTypeStill, 35.0f},
        {"speed key last, with end-of-line", "[NAME]\nguard\n[SPEED]\n", "guard", kUntyped, 35.0f},
        {"type key last", "[NAME]\nguard\n[SPEED]\n40\n[TYPE]\n", "guard", kUntyped, 40.0f},
        {"type value holding [SPEED] last", "[NAME]\nguard\n[TYPE]\nstill [SPEED]\n", "guard",
         kTypeStill, 35.0f},
        {"name key last", "[NAME]\nguard\n[SPEED]\n40\n[NAME]", "guard", kUntyped, 40.0f},
        {"nothing after the name key", "[NAME]\n", "", kUntyped, 35.0f},
        {"a last value without end-of-line", "[NAME]\nguard\n[SPEED]\n41", "guard", kUntyped,
         41.0f},
    };
    for (const auto& c : cases) {
        WriteDefinitions(c.file);
        const CServerNPC npc = Load(c.name);
        EXPECT_EQ(npc.type, c.type) << c.what;
        EXPECT_EQ(npc.speed, c.speed) << c.what;
    }
}

TEST_F(LoadDefinitionTest, LinesLongerThan49BytesAreReadInPieces) {
    const std::string filler47(47, '.');
    // 60 bytes: "guard" and padding fill the first read of 49; "xxx[SPEED]\n" is the second
    // read, so the key is found in the second piece of the name line.
    const std::string nameLine = "guard" + std::string(44, ' ') + "xxx[SPEED]\n";
    ASSERT_EQ(nameLine.size(), 60u);
    // A key split by the 49-byte boundary is found in neither piece.
    const std::string splitKey = filler47 + "[SPE" + "ED]\n";
    const DefinitionCase cases[] = {
        {"second piece of a 60-byte name line is a body line", "[NAME]\n" + nameLine + "75\n",
         "guard", kUntyped, 75.0f},
        {"a key across the boundary is no key", "[NAME]\nguard\n" + splitKey + "75\n", "guard",
         kUntyped, 35.0f},
        {"a name beyond the first 49 bytes never matches",
         "[NAME]\n" + std::string(49, '-') + "guard\n[SPEED]\n75\n", "guard", kUntyped, 35.0f},
        {"a speed value split after its digits",
         "[NAME]\nguard\n[SPEED]\n" + std::string(45, ' ') + "1234567\n[TYPE]\nstill\n", "guard",
         kTypeStill, 1234.0f},
    };
    for (const auto& c : cases) {
        WriteDefinitions(c.file);
        const CServerNPC npc = Load(c.name);
        EXPECT_EQ(npc.type, c.type) << c.what;
        EXPECT_EQ(npc.speed, c.speed) << c.what;
    }
}

TEST_F(LoadDefinitionTest, AMissingFileLogsOnceAndChangesNothing) {
    const CServerNPC npc = Load("guard");
    EXPECT_EQ(npc.type, kUntyped);
    EXPECT_EQ(npc.speed, 35.0f);
    EXPECT_EQ(dir.Read("ErrorChk.txt"), "\nCServerNPC: NPC definition file not found!");
    Load("smith");
    EXPECT_EQ(dir.Read("ErrorChk.txt"),
              "\nCServerNPC: NPC definition file not found!"
              "\nCServerNPC: NPC definition file not found!")
        << "every lookup opens the file afresh";
}

TEST_F(LoadDefinitionTest, TheFileIsReadAfreshOnEveryLookup) {
    WriteDefinitions("[NAME]\nguard\n[SPEED]\n10\n");
    EXPECT_EQ(Load("guard").speed, 10.0f);
    WriteDefinitions("[NAME]\nguard\n[SPEED]\n90\n");
    EXPECT_EQ(Load("guard").speed, 90.0f);
}

TEST_F(LoadDefinitionTest, OnlyTypeAndSpeedChange) {
    WriteDefinitions("[NAME]\nguard\n[TYPE]\nstill\n[SPEED]\n60\n");
    CServerNPC npc;
    npc.posX = 12.0f;
    npc.facing = kFacingEast;
    npc.slot = 4;
    npc.targetX = 99;
    CServerNPC expected;
    std::memcpy(&expected, &npc, sizeof npc);  // padding included, for the comparison
    expected.type = kTypeStill;
    expected.speed = 60.0f;
    npc.LoadDefinition("guard");
    EXPECT_EQ(std::memcmp(&npc, &expected, sizeof npc), 0);
}

// Whatever bytes the file holds, a lookup finishes and leaves a speed that an integer gave
// and a type that is one of the codes (or the one it had).
TEST_F(LoadDefinitionTest, RandomBytesNeverBreakALookup) {
    std::mt19937 random(1205);
    const std::string pieces[] = {"[NAME]", "[TYPE]",   "[SPEED]",      "guard",
                                  "still",  "headturn", "personscript", "\n",
                                  "\r\n",   "-",        "12",           std::string(1, '\0'),
                                  "\xff",   " "};
    std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1);
    std::uniform_int_distribution<int> length(0, 80);
    std::uniform_int_distribution<int> anyByte(0, 255);
    for (int i = 0; i < 300; ++i) {
        std::string content;
        const int parts = length(random);
        for (int p = 0; p < parts; ++p) {
            content += (p % 5 == 4) ? std::string(1, static_cast<char>(anyByte(random)))
                                    : pieces[pick(random)];
        }
        WriteDefinitions(content);
        const CServerNPC npc = Load("guard");
        EXPECT_TRUE(npc.type == kUntyped || npc.type == kTypeStill || npc.type == kTypeHeadturn ||
                    npc.type == kTypePersonscript)
            << "case " << i;
        EXPECT_EQ(npc.speed, std::trunc(npc.speed)) << "case " << i;
    }
}

}  // namespace

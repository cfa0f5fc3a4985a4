#include "quest/server_quest_loader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "npc/npc_codes.h"
#include "quest/quest_field.h"
#include "quest/text_escape.h"
#include "quest_world.h"

namespace {

using quest_test::QuestBytes;
using quest_test::QuestWorld;

constexpr const char* kDefinitions =
    "[NAME]\nGuard\n[TYPE]\npersonscript\n[SPEED]\n40\n"
    "[NAME]\nOld Guard\n[TYPE]\nheadturn\n[SPEED]\n20\n";

// A quest with one screen at (column, row) holding the given placements (x, y, name).
std::vector<std::string> OneScreen(const std::string& column, const std::string& row,
                                   const std::vector<std::vector<std::string>>& placements) {
    std::vector<std::string> fields = {"7", "1", column, row, "a", "b", "c", "d"};
    fields.push_back(std::to_string(placements.size()));
    for (const auto& p : placements) {
        fields.insert(fields.end(), p.begin(), p.end());
    }
    fields.push_back("0");
    return fields;
}

std::string ReadFieldOf(const std::string& bytes, std::vector<std::string>* all = nullptr) {
    QuestWorld world;
    world.dir.Write("f.bin", bytes);
    std::FILE* file = std::fopen("f.bin", "rb");
    char buffer[kQuestFieldSize];
    ReadField(file, buffer);
    const std::string first = buffer;
    if (all != nullptr) {
        all->push_back(first);
        while (ReadField(file, buffer)) {
            all->push_back(buffer);
        }
    }
    std::fclose(file);
    return first;
}

TEST(ReadField, FlipsTheTopBitAndStopsAtEitherTerminator) {
    struct Case {
        std::string bytes;
        std::vector<std::string> fields;
    };
    const std::vector<Case> cases = {
        {"\xB1\xB2~", {"12"}},
        {std::string("\xB1\0\xB2~", 4), {"1", "2"}},
        {"\xB1~~\xB2", {"1", "", "2"}},        // an empty field, then one cut by the end
        {"\xC1\x20", {std::string("A\xA0")}},  // 0x20 stored is 0xA0 read
        {"", {""}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> fields;
        ReadFieldOf(c.bytes, &fields);
        EXPECT_EQ(fields, c.fields) << EscapeText(c.bytes);
    }
}

TEST(ReadField, KeepsTheFirst499BytesOfALongFieldAndReadsPastTheRest) {
    std::string bytes(700, static_cast<char>('x' ^ 0x80));
    bytes += "~" + std::string(1, static_cast<char>('5' ^ 0x80)) + "~";
    std::vector<std::string> fields;
    ReadFieldOf(bytes, &fields);
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields[0], std::string(499, 'x'));
    EXPECT_EQ(fields[1], "5");
}

TEST(PlacementWorld, ShiftsHalfTheOffsetFromHundredRoundingDown) {
    struct Case {
        int32_t cell, offset, x, y;
    };
    const std::vector<Case> cases = {
        {2, 100, 640, 480},  // y uses the row: row 2 * 240
        {2, 99, 639, 479},   // one unit left of (above) the screen edge
        {0, 101, 0, 0},     {0, 102, 1, 1},        {0, 98, -1, -1},
        {1, 740, 640, 560}, {-1, 100, -320, -240},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PlacementWorldX(c.cell, c.offset), c.x) << c.cell << " " << c.offset;
        EXPECT_EQ(PlacementWorldY(c.cell, c.offset), c.y) << c.cell << " " << c.offset;
    }
}

class QuestLoaderTest : public ::testing::Test {
protected:
    void WriteWorld(const std::vector<std::string>& questFields, const std::string& list) {
        world.dir.Write("screens/ERtest2.qst", QuestBytes(questFields));
        world.dir.Write("npc/clist.nst", list);
        world.dir.Write("npc/chars.npc", kDefinitions);
    }
    QuestWorld world;
};

TEST_F(QuestLoaderTest, ReadsScreensAndPlacesAtFlooredWorldPositions) {
    world.dir.Write(
        "screens/ERtest2.qst",
        QuestBytes({"42", "2",   "2",   "1",     "0",  "3",  "u",     "u", "u", "u",  //
                    "2",  "100", "100", "Guard", "99", "99", "Guard", "0",            //
                    "1",  "740", "340", "Guard", "1",  "o",  "o",     "o", "o", "o", "o"}));
    world.dir.Write("npc/clist.nst", "Guard\n");
    world.dir.Write("npc/chars.npc", kDefinitions);
    CServerQuestLoader& loader = world.Loader();
    ASSERT_TRUE(loader.LoadQuest(kQuestFile));

    EXPECT_EQ(loader.headerNumber, 42);
    ASSERT_EQ(loader.screenCount, 2);
    EXPECT_EQ(loader.screens[0].column, 2);
    EXPECT_EQ(loader.screens[0].row, 1);
    EXPECT_EQ(loader.screens[1].column, 0);
    EXPECT_EQ(loader.screens[1].row, 3);

    ASSERT_EQ(world.npcs.npcCount, 3);
    const struct { float x, y; } expected[] = {{640, 240}, {639, 239}, {320, 840}};
    for (int slot = 0; slot < 3; ++slot) {
        const CServerNPC& npc = world.npcs.Npc(slot);
        EXPECT_EQ(npc.posX, expected[slot].x) << slot;
        EXPECT_EQ(npc.posY, expected[slot].y) << slot;
        EXPECT_EQ(npc.slot, slot);
        EXPECT_EQ(npc.type, kTypePersonscript);
        EXPECT_EQ(npc.speed, 40.0f);
    }
}

TEST_F(QuestLoaderTest, EveryListLineHoldingTheNameCreatesAnNpcNamedByTheWholeLine) {
    WriteWorld(OneScreen("0", "0", {{"100", "100", "Guard"}}),
               "Guard\nGuard2\nMiller\nOld Guard\n");
    std::vector<std::string> names;
    world.Loader().onPlaced = [&](int32_t slot, int32_t, int32_t, const char* name) {
        names.push_back(std::to_string(slot) + ":" + name);
    };
    ASSERT_TRUE(world.Loader().LoadQuest(kQuestFile));
    EXPECT_EQ(names, (std::vector<std::string>{"0:Guard", "1:Guard2", "2:Old Guard"}));
    EXPECT_EQ(world.npcs.npcCount, 3);
    EXPECT_EQ(world.npcs.Npc(2).type, kTypeHeadturn);  // "Old Guard" is its own definition
    EXPECT_EQ(world.npcs.Npc(2).speed, 20.0f);
    for (int slot = 0; slot < 3; ++slot) {
        EXPECT_EQ(world.npcs.Npc(slot).posX, 0.0f);
    }
}

TEST_F(QuestLoaderTest, ListLinesLoseTheirLastCharacterAndShortOnesAreIgnored) {
    struct Case {
        const char* list;
        const char* name;
        int placed;
    };
    const std::vector<Case> cases = {
        {"Bobby\n", "Bobby", 1},
        {"Bobby", "Bobby", 0},  // unterminated last line: cut to "Bobb"
        {"Bobby", "Bobb", 1},
        {"Bob\n", "Bob", 0},  // "Bob" is 3 characters: ignored
        {"Bob", "Bo", 0},     // unterminated: cut to "Bo", 2 characters
        {"Bobo\n", "Bob", 1},
        {"Bobo\r\n", "Bobo", 1},  // a CR LF line end counts as one character
        {"guard\n", "Guard", 0},  // case-sensitive
        {"Tiny\nTin\nTinker\n", "Tin", 2},
    };
    for (const Case& c : cases) {
        QuestWorld fresh;
        fresh.dir.Write("screens/ERtest2.qst",
                        QuestBytes(OneScreen("0", "0", {{"100", "100", c.name}})));
        fresh.dir.Write("npc/clist.nst", c.list);
        fresh.Loader().LoadQuest(kQuestFile);
        EXPECT_EQ(fresh.npcs.npcCount, c.placed) << c.list << " / " << c.name;
    }
}

TEST_F(QuestLoaderTest, AListLineLongerThan49CharactersIsReadAsSeveralLines) {
    // 60 letters and the line end: the first read takes 49 characters and loses the last, the
    // second takes the other 11 letters and the line end.
    const std::string longName = std::string(48, 'A') + std::string(12, 'B');
    WriteWorld(OneScreen("0", "0", {{"100", "100", "A"}, {"100", "100", "BBBB"}}), longName + "\n");
    std::vector<std::string> names;
    world.Loader().onPlaced = [&](int32_t, int32_t, int32_t, const char* name) {
        names.push_back(name);
    };
    world.Loader().LoadQuest(kQuestFile);
    EXPECT_EQ(names, (std::vector<std::string>{std::string(48, 'A'), std::string(11, 'B')}));
}

TEST_F(QuestLoaderTest, NoScreensPlacesNothingButStillLoadsTheServerScript) {
    WriteWorld({"1", "0", "u", "u", "u", "u"}, "Guard\n");
    world.dir.Write("script/ERtest2.ers", "SET_GLOBAL(GLOBAL[1], 5)\n");
    ASSERT_TRUE(world.Loader().LoadQuest(kQuestFile));
    EXPECT_EQ(world.Loader().screenCount, 0);
    EXPECT_EQ(world.npcs.npcCount, 0);
    EXPECT_EQ(world.Script().lineCount, 1);
    EXPECT_EQ(world.dir.Read("scriptput.txt"), "SET_GLOBAL(GLOBAL[1], 5)\n");
}

TEST_F(QuestLoaderTest, MissingFilesAreLoggedAndLoadNothing) {
    world.dir.Write("script/ERtest2.ers", "SET_GLOBAL(GLOBAL[1], 5)\n");
    EXPECT_FALSE(world.Loader().LoadQuest(kQuestFile));
    EXPECT_NE(world.Log().find("LoadQuest: QST file not found!\n"), std::string::npos);
    EXPECT_EQ(world.Script().lineCount, 0);

    QuestWorld noList;
    noList.dir.Write("screens/ERtest2.qst",
                     QuestBytes(OneScreen("0", "0", {{"1", "1", "A"}, {"1", "1", "B"}})));
    ASSERT_TRUE(noList.Loader().LoadQuest(kQuestFile));
    EXPECT_EQ(noList.npcs.npcCount, 0);
    const std::string log = noList.Log();
    const std::string line = "\nCServerQuestLoader: Could not load NPC list!";
    const size_t first = log.find(line);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find(line, first + 1), std::string::npos);  // once per placement
}

TEST_F(QuestLoaderTest, TheFiftyFirstNpcIsNotPlacedAndTheSetStaysWhole) {
    std::vector<std::vector<std::string>> placements(60, {"100", "100", "Guard"});
    WriteWorld(OneScreen("0", "0", placements), "Guard\n");
    ASSERT_TRUE(world.Loader().LoadQuest(kQuestFile));
    EXPECT_EQ(world.npcs.npcCount, CMainObjectSet::kSlotCount);
    EXPECT_EQ(world.npcs.Npc(49).slot, 49);
    const std::string log = world.Log();
    const std::string full = "CServerQuestLoader: NPC set is full, further NPCs are not placed!";
    ASSERT_NE(log.find(full), std::string::npos);
    EXPECT_EQ(log.find(full), log.rfind(full));  // told once
}

TEST_F(QuestLoaderTest, ScreensBeyondTheTableAreReadPastAndNotKept) {
    std::vector<std::string> fields = {"1", "1002"};
    for (int i = 0; i < 1002; ++i) {
        fields.push_back(std::to_string(i));
        fields.push_back("0");
    }
    fields.insert(fields.end(), {"u", "u", "u", "u"});
    for (int i = 0; i < 1002; ++i) {
        fields.insert(fields.end(), {"1", "100", "100", "Guard", "0"});
    }
    WriteWorld(fields, "Guard\n");
    ASSERT_TRUE(world.Loader().LoadQuest(kQuestFile));
    EXPECT_EQ(world.Loader().screenCount, kQuestScreenSlots);
    EXPECT_EQ(world.Loader().screens[999].column, 999);
    EXPECT_EQ(world.npcs.npcCount, 50);
    EXPECT_EQ(world.npcs.Npc(49).posX, 49.0f * 320.0f);
    EXPECT_NE(world.Log().find("LoadQuest: More than 1000 screens"), std::string::npos);
}

TEST_F(QuestLoaderTest, TruncatedAndHostileFilesLoadWhatTheyHold) {
    const std::vector<std::vector<std::string>> files = {
        {"1"},
        {"1", "2147483647"},  // a huge screen count and no screens
        {"1", "-5", "u"},
        {"1", "1", "0", "0", "u", "u", "u", "u", "999999999"},        // placements that never come
        {"1", "1", "0", "0", "u", "u", "u", "u", "2", "100", "100"},  // cut inside a placement
        {"1", "1", "2147483647", "2147483647", "u", "u", "u", "u", "1", "-2147483648", "2147483647",
         "Guard"},
    };
    for (const auto& fields : files) {
        QuestWorld fresh;
        fresh.dir.Write("screens/ERtest2.qst", QuestBytes(fields));
        fresh.dir.Write("npc/clist.nst", "Guard\n");
        EXPECT_TRUE(fresh.Loader().LoadQuest(kQuestFile));
        EXPECT_LE(fresh.npcs.npcCount, 1);
    }
}

}  // namespace

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

// A quest with one screen at (0, 0) holding these placements (x, y, name).
std::vector<std::string> OneScreen(const std::vector<std::vector<std::string>>& placements) {
    std::vector<std::string> fields = {"7", "1", "0", "0", "a", "b", "c", "d"};
    fields.push_back(std::to_string(placements.size()));
    for (const auto& p : placements) {
        fields.insert(fields.end(), p.begin(), p.end());
    }
    fields.push_back("0");
    return fields;
}

// Loads the quest with this NPC list; the placed NPCs as "slot:name@x,y type speed".
std::string Placed(QuestWorld& world, const std::vector<std::string>& quest,
                   const std::string& list) {
    world.dir.Write("screens/ERtest2.qst", QuestBytes(quest));
    world.dir.Write("npc/clist.nst", list);
    world.dir.Write("npc/chars.npc",
                    "[NAME]\nGuard\n[TYPE]\npersonscript\n[SPEED]\n40\n"
                    "[NAME]\nOld Guard\n[TYPE]\nheadturn\n[SPEED]\n20\n");
    std::string placed;
    world.Loader().onPlaced = [&](int32_t slot, int32_t, int32_t, const char* name) {
        const CServerNPC& npc = world.npcs.Npc(slot);
        placed += std::to_string(npc.slot) + ":" + name + "@" + std::to_string(int(npc.posX)) +
                  "," + std::to_string(int(npc.posY)) + " " + std::to_string(npc.type) + " " +
                  std::to_string(int(npc.speed)) + " ";
    };
    EXPECT_TRUE(world.Loader().LoadQuest(kQuestFile));
    EXPECT_EQ(world.npcs.npcCount, std::count(placed.begin(), placed.end(), ':'));
    return placed;
}

TEST(ReadField, FlipsTheTopBitStopsAtEitherTerminatorAndKeeps499Bytes) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"\xB1\xB2~", {"12"}},
        {std::string("\xB1\0\xB2~", 4), {"1", "2"}},
        {"\xB1~~\xB2", {"1", "", "2"}},        // an empty field, then one cut by the end
        {"\xC1\x20", {std::string("A\xA0")}},  // 0x20 stored is 0xA0 read
        {"", {""}},
        {std::string(700, 'x' ^ 0x80) + "~\xB5~", {std::string(499, 'x'), "5"}},
    };
    for (const auto& [bytes, expected] : cases) {
        QuestWorld world;
        world.dir.Write("f.bin", bytes);
        std::FILE* file = std::fopen("f.bin", "rb");
        char buffer[kQuestFieldSize];
        ReadField(file, buffer);
        std::vector<std::string> fields = {buffer};
        while (ReadField(file, buffer)) {
            fields.push_back(buffer);
        }
        std::fclose(file);
        EXPECT_EQ(fields, expected) << EscapeText(bytes);
    }
}

TEST(PlacementWorld, ShiftsHalfTheOffsetFromHundredRoundingDown) {
    const struct {
        int32_t cell, offset, x, y;
    } cases[] = {
        {2, 100, 640, 480},  // y uses the row: row 2 * 240
        {2, 99, 639, 479},   // one unit left of (above) the screen edge
        {0, 101, 0, 0},     {0, 102, 1, 1},        {0, 98, -1, -1},
        {1, 740, 640, 560}, {-1, 100, -320, -240},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PlacementWorldX(c.cell, c.offset), c.x) << c.cell << " " << c.offset;
        EXPECT_EQ(PlacementWorldY(c.cell, c.offset), c.y) << c.cell << " " << c.offset;
    }
}

TEST(QuestLoaderTest, ReadsScreensAndPlacesEveryListLineHoldingTheName) {
    QuestWorld world;
    EXPECT_EQ(Placed(world, {"42",  "2",     "2",   "1",     "0",  "3",  "u",     "u", "u", "u",  //
                             "2",   "100",   "100", "Guard", "99", "99", "Guard", "0", "1", "740",
                             "340", "Guard", "1",   "o",     "o",  "o",  "o",     "o", "o"},
                     "Guard\n"),
              "0:Guard@640,240 2 40 1:Guard@639,239 2 40 2:Guard@320,840 2 40 ");
    EXPECT_EQ(world.Loader().headerNumber, 42);
    ASSERT_EQ(world.Loader().screenCount, 2);
    EXPECT_EQ(world.Loader().screens[1].column * 10 + world.Loader().screens[1].row, 3);
    EXPECT_EQ(world.Loader().screens[0].column * 10 + world.Loader().screens[0].row, 21);
    // Every list line holding the name creates an NPC named by the whole line.
    QuestWorld list;
    EXPECT_EQ(
        Placed(list, OneScreen({{"100", "100", "Guard"}}), "Guard\nGuard2\nMiller\nOld Guard\n"),
        "0:Guard@0,0 2 40 1:Guard2@0,0 0 35 2:Old Guard@0,0 1 20 ");
}

TEST(QuestLoaderTest, ListLinesLoseTheirLastCharacterAndShortOnesAreIgnored) {
    const struct {
        const char* list;
        const char* name;
        int placed;
    } cases[] = {
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
    for (const auto& c : cases) {
        QuestWorld world;
        Placed(world, OneScreen({{"100", "100", c.name}}), c.list);
        EXPECT_EQ(world.npcs.npcCount, c.placed) << c.list << " / " << c.name;
    }
    // 60 letters and the line end: the first read takes 49 characters and loses the last, the
    // second takes the other 11 letters and the line end.
    QuestWorld world;
    EXPECT_EQ(Placed(world, OneScreen({{"100", "100", "A"}, {"100", "100", "BBBB"}}),
                     std::string(48, 'A') + std::string(12, 'B') + "\n"),
              "0:" + std::string(48, 'A') + "@0,0 0 35 1:" + std::string(11, 'B') + "@0,0 0 35 ");
}

TEST(QuestLoaderTest, NoScreensStillLoadTheServerScriptAndMissingFilesAreLogged) {
    QuestWorld world;
    world.dir.Write("script/ERtest2.ers", "SET_GLOBAL(GLOBAL[1], 5)\n");
    EXPECT_FALSE(world.Loader().LoadQuest(kQuestFile));
    EXPECT_NE(world.Log().find("LoadQuest: QST file not found!\n"), std::string::npos);
    EXPECT_EQ(world.Script().lineCount, 0);
    EXPECT_EQ(Placed(world, {"1", "0", "u", "u", "u", "u"}, "Guard\n"), "");
    EXPECT_EQ(world.Loader().screenCount, 0);
    EXPECT_EQ(world.Script().lineCount, 1);
    EXPECT_EQ(world.dir.Read("scriptput.txt"), "SET_GLOBAL(GLOBAL[1], 5)\n");

    QuestWorld noList;
    noList.dir.Write("screens/ERtest2.qst",
                     QuestBytes(OneScreen({{"1", "1", "A"}, {"1", "1", "B"}})));
    ASSERT_TRUE(noList.Loader().LoadQuest(kQuestFile));
    EXPECT_EQ(noList.npcs.npcCount, 0);
    const std::string log = noList.Log();
    const std::string line = "\nCServerQuestLoader: Could not load NPC list!";
    ASSERT_NE(log.find(line), std::string::npos);
    EXPECT_NE(log.find(line, log.find(line) + 1), std::string::npos);  // once per placement
}

TEST(QuestLoaderTest, TheFiftyFirstNpcAndScreensBeyondTheTableAreNotKept) {
    QuestWorld world;
    Placed(world, OneScreen(std::vector<std::vector<std::string>>(60, {"100", "100", "Guard"})),
           "Guard\n");
    EXPECT_EQ(world.npcs.npcCount, CMainObjectSet::kSlotCount);
    EXPECT_EQ(world.npcs.Npc(49).slot, 49);
    const std::string log = world.Log();
    const std::string full = "CServerQuestLoader: NPC set is full, further NPCs are not placed!";
    ASSERT_NE(log.find(full), std::string::npos);
    EXPECT_EQ(log.find(full), log.rfind(full));  // told once

    std::vector<std::string> fields = {"1", "1002"};
    for (int i = 0; i < 1002; ++i) {
        fields.insert(fields.end(), {std::to_string(i), "0"});
    }
    fields.insert(fields.end(), {"u", "u", "u", "u"});
    for (int i = 0; i < 1002; ++i) {
        fields.insert(fields.end(), {"1", "100", "100", "Guard", "0"});
    }
    QuestWorld many;
    Placed(many, fields, "Guard\n");
    EXPECT_EQ(many.Loader().screenCount, kQuestScreenSlots);
    EXPECT_EQ(many.Loader().screens[999].column, 999);
    EXPECT_EQ(many.npcs.npcCount, 50);
    EXPECT_EQ(many.npcs.Npc(49).posX, 49.0f * 320.0f);
    EXPECT_NE(many.Log().find("LoadQuest: More than 1000 screens"), std::string::npos);
}

TEST(QuestLoaderTest, TruncatedAndHostileFilesLoadWhatTheyHold) {
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
        QuestWorld world;
        Placed(world, fields, "Guard\n");
        EXPECT_LE(world.npcs.npcCount, 1);
    }
}

}  // namespace

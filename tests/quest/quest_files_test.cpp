// The quest file: its fields, the loader that places the NPCs, and its text form.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "quest/quest_field.h"
#include "quest/quest_text_form.h"
#include "quest/server_quest_loader.h"
#include "quest/text_escape.h"
#include "quest_world.h"

namespace {

using namespace quest_test;

// The bytes of a quest file holding these fields, each ended by '~'.
std::string QuestBytes(const std::vector<std::string>& fields) {
    std::string bytes;
    for (const std::string& field : fields) {
        for (const char c : field)
            bytes += static_cast<char>(c ^ 0x80);
        bytes += '~';
    }
    return bytes;
}

// A quest with one screen at (0, 0) holding these placements (x, y, name).
std::vector<std::string> OneScreen(const std::vector<std::vector<std::string>>& placements) {
    std::vector<std::string> fields = {"7", "1", "0", "0", "a", "b", "c", "d"};
    fields.push_back(std::to_string(placements.size()));
    for (const auto& p : placements)
        fields.insert(fields.end(), p.begin(), p.end());
    fields.push_back("0");
    return fields;
}

// Loads the quest: NPCs as "slot:name@x,y type speed", unlisted "?name@x,y", refused "!name".
std::string Placed(QuestWorld& world, const std::vector<std::string>& quest,
                   const std::string& list) {
    world.dir.Write("screens/ERtest2.qst", QuestBytes(quest));
    world.dir.Write("npc/clist.nst", list);
    world.dir.Write("npc/chars.npc",
                    "[NAME]\nGuard\n[TYPE]\npersonscript\n[SPEED]\n40\n"
                    "[NAME]\nOld Guard\n[TYPE]\nheadturn\n[SPEED]\n20\n");
    std::string placed;
    // clang-format off
    world.Loader().onPlaced = [&](int32_t slot, int32_t, int32_t, const char* name) {
        const CServerNPC& npc = world.npcs.Npc(slot);
        placed += std::to_string(npc.slot) + ":" + name + "@" + std::to_string(int(npc.posX)) + "," + std::to_string(int(npc.posY)) + " " + std::to_string(npc.type) + " " + std::to_string(int(npc.speed)) + " ";
    };
    world.Loader().onUnmatched = [&](int32_t x, int32_t y, const char* name) { placed += "?" + std::string(name) + "@" + std::to_string(x) + "," + std::to_string(y) + " "; };
    world.Loader().onRefused = [&](int32_t, int32_t, const char* name) { placed += "!" + std::string(name) + " "; };
    // clang-format on
    EXPECT_TRUE(world.Loader().LoadQuest(kQuestFile));
    EXPECT_EQ(world.npcs.npcCount, std::count(placed.begin(), placed.end(), ':'));
    return placed;
}

TEST(ReadField, FlipsTheTopBitStopsAtEitherTerminatorAndKeeps499Bytes) {
    // clang-format off
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"\xB1\xB2~", {"12"}}, {std::string("\xB1\0\xB2~", 4), {"1", "2"}}, {"", {""}},
        {"\xB1~~\xB2", {"1", "", "2"}},  // an empty field, then one cut by the end
        {"\xC1\x20", {std::string("A\xA0")}},  // 0x20 stored is 0xA0 read
        {std::string(700, 'x' ^ 0x80) + "~\xB5~", {std::string(499, 'x'), "5"}},
    };
    // clang-format on
    for (const auto& [bytes, expected] : cases) {
        QuestWorld world;
        world.dir.Write("f.bin", bytes);
        std::FILE* file = std::fopen("f.bin", "rb");
        char buffer[kQuestFieldSize];
        ReadField(file, buffer);
        std::vector<std::string> fields = {buffer};
        while (ReadField(file, buffer))
            fields.push_back(buffer);
        std::fclose(file);
        EXPECT_EQ(fields, expected) << EscapeText(bytes);
    }
}

TEST(PlacementWorld, ShiftsHalfTheOffsetFromHundredRoundingDown) {
    // clang-format off
    const struct { int32_t cell, offset, x, y; } cases[] = {  // y uses the row: row 2 * 240
        {2, 100, 640, 480}, {2, 99, 639, 479}, {0, 101, 0, 0}, {0, 102, 1, 1}, {0, 98, -1, -1}, {1, 740, 640, 560}, {-1, 100, -320, -240},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(PlacementWorldX(c.cell, c.offset), c.x) << c.cell << " " << c.offset;
        EXPECT_EQ(PlacementWorldY(c.cell, c.offset), c.y) << c.cell << " " << c.offset;
    }
}

TEST(QuestLoaderTest, ReadsScreensAndPlacesEveryListLineHoldingTheName) {
    QuestWorld world;
    // clang-format off
    EXPECT_EQ(Placed(world, {"42", "2", "2", "1", "0", "3", "u", "u", "u", "u", "2", "100", "100", "Guard", "99", "99", "Guard",
                             "0", "1", "740", "340", "Guard", "1", "o", "o", "o", "o", "o", "o"}, "Guard\n"),
              "0:Guard@640,240 2 40 1:Guard@639,239 2 40 2:Guard@320,840 2 40 ");
    EXPECT_EQ(world.Loader().headerNumber, 42);
    ASSERT_EQ(world.Loader().screenCount, 2);
    EXPECT_EQ(world.Loader().screens[1].column * 10 + world.Loader().screens[1].row, 3);
    EXPECT_EQ(world.Loader().screens[0].column * 10 + world.Loader().screens[0].row, 21);
    // List lines lose their last character, and short ones are ignored.
    const struct { std::string list; const char* name; const char* placed; } cases[] = {
        {"Guard\nGuard2\nMiller\nOld Guard\n", "Guard", "0:Guard@0,0 2 40 1:Guard2@0,0 0 35 2:Old Guard@0,0 1 20 "},
        {"Bobby\n", "Bobby", "0:Bobby@0,0 0 35 "}, {"Bobby", "Bobby", "?Bobby@0,0 "}, {"Bobby", "Bobb", "0:Bobb@0,0 0 35 "},
        {"Bob\n", "Bob", "?Bob@0,0 "}, {"Bob", "Bo", "?Bo@0,0 "}, {"Bobo\n", "Bob", "0:Bobo@0,0 0 35 "},  // 3 characters: ignored
        {"Bobo\r\n", "Bobo", "0:Bobo@0,0 0 35 "}, {"guard\n", "Guard", "?Guard@0,0 "},  // CR LF is one character
        {"Tiny\nTin\nTinker\n", "Tin", "0:Tiny@0,0 0 35 1:Tinker@0,0 0 35 "},
        // A read takes 49 characters and loses the last; the next takes the other 11 letters and the line end.
        {std::string(48, 'A') + std::string(12, 'B') + "\n", "BBBB", "0:BBBBBBBBBBB@0,0 0 35 "},
    };
    // clang-format on
    for (const auto& c : cases) {
        QuestWorld one;
        EXPECT_EQ(Placed(one, OneScreen({{"100", "100", c.name}}), c.list), c.placed) << c.list;
    }
}

TEST(QuestLoaderTest, MissingTruncatedAndHostileFilesLoadWhatTheyHold) {
    QuestWorld world;
    world.dir.Write("script/ERtest2.ers", "SET_GLOBAL(GLOBAL[1], 5)\n");
    EXPECT_FALSE(world.Loader().LoadQuest(kQuestFile));
    EXPECT_EQ(Count(world.Log(), "LoadQuest: QST file not found!\n"), 1);
    EXPECT_EQ(world.Script().lineCount, 0);
    EXPECT_EQ(Placed(world, {"1", "0", "u", "u", "u", "u"}, "Guard\n"), "");
    EXPECT_EQ(world.Loader().screenCount, 0);
    EXPECT_EQ(world.Script().lineCount, 1);

    QuestWorld noList;  // no NPC list: logged once per placement
    noList.dir.Write("screens/ERtest2.qst",
                     QuestBytes(OneScreen({{"1", "1", "A"}, {"1", "1", "B"}})));
    ASSERT_TRUE(noList.Loader().LoadQuest(kQuestFile));
    EXPECT_EQ(noList.npcs.npcCount, 0);
    EXPECT_EQ(Count(noList.Log(), "\nCServerQuestLoader: Could not load NPC list!"), 2);

    const std::vector<std::vector<std::string>> files = {
        // clang-format off
        {"1"}, {"1", "2147483647"} /* a huge screen count and no screens */, {"1", "-5", "u"},
        {"1", "1", "0", "0", "u", "u", "u", "u", "999999999"},        // placements that never come
        {"1", "1", "0", "0", "u", "u", "u", "u", "2", "100", "100"},  // cut inside a placement
        {"1", "1", "2147483647", "2147483647", "u", "u", "u", "u", "1", "-2147483648", "2147483647", "Guard"},
        // clang-format on
    };
    for (const auto& fields : files) {
        QuestWorld hostile;
        Placed(hostile, fields, "Guard\n");
        EXPECT_LE(hostile.npcs.npcCount, 1);
    }
}

TEST(QuestLoaderTest, TheFiftyFirstNpcAndScreensBeyondTheTableAreNotKept) {
    std::vector<std::string> fields = {"1", "1002"};
    // clang-format off
    for (int i = 0; i < 1002; ++i) { fields.insert(fields.end(), {std::to_string(i), "0"}); }
    fields.insert(fields.end(), {"u", "u", "u", "u"});
    for (int i = 0; i < 1002; ++i) { fields.insert(fields.end(), {"1", "100", "100", "Guard", "0"}); }
    // clang-format on
    QuestWorld world;
    EXPECT_EQ(Count(Placed(world, fields, "Guard\n"), "!Guard "), 1000 - 50);
    EXPECT_EQ(world.Loader().screenCount, kQuestScreenSlots);
    EXPECT_EQ(world.Loader().screens[999].column, 999);
    EXPECT_EQ(world.npcs.npcCount, CMainObjectSet::kSlotCount);
    EXPECT_EQ(world.npcs.Npc(49).slot, 49);
    EXPECT_EQ(world.npcs.Npc(49).posX, 49.0f * 320.0f);
    EXPECT_EQ(Count(world.Log(), "LoadQuest: More than 1000 screens, the rest are ignored!"), 1);
    EXPECT_EQ(Count(world.Log(), "NPC set is full, further NPCs are not placed!"), 1);  // told once
}

TEST(TextEscape, EscapesBackslashQuoteAndBytesOutsidePrintableAscii) {
    const std::string text("plain ~ a\\b \"hi\"\0\x1F\x20\x7E\x7F\xFF\n", 23);
    const std::string escaped = "plain ~ a\\\\b \\\"hi\\\"\\x00\\x1F ~\\x7F\\xFF\\x0A";
    std::string back;
    EXPECT_EQ(EscapeText(text), escaped);
    EXPECT_TRUE(UnescapeText(escaped, back) && back == text);
    EXPECT_TRUE(UnescapeText("\\xab", back) && back == "\xAB");
    for (const char* bad : {"\\", "\\q", "\\x1", "\\xG0", "end\\x"})
        EXPECT_FALSE(UnescapeText(bad, back)) << bad;
}

TEST(QuestTextForm, DecodeNamesEveryItemOfTheLayout) {
    const std::string head = "# EmberRealms quest file, er-quest text form 1\nheader value=\"1\"";
    // clang-format off
    EXPECT_EQ(DecodeQuest(QuestBytes({"1", "2", "0", "0", "2", "1", "u", "", "u", "u", "1", "99", "100", "Guard", "0",
                                      "0", "1", "a", "b", "c", "d", "e", "f", "tail"})),
              head + "\nscreens count=\"2\"\nscreen column=\"0\" row=\"0\"  # screen 0\nscreen column=\"2\" row=\"1\"  # screen 1\n"
              "unused a=\"u\" b=\"\" c=\"u\" d=\"u\"\nblock placements=\"1\"  # screen 0: column 0, row 0\n"
              "place x=\"99\" y=\"100\" name=\"Guard\"  # world -1,0\nobjects count=\"0\"\n"
              "block placements=\"0\"  # screen 1: column 2, row 1\nobjects count=\"1\"\n"
              "object a=\"a\" b=\"b\" c=\"c\" d=\"d\" e=\"e\" f=\"f\"\nextra value=\"tail\"  # not read by the server\n");
    EXPECT_EQ(DecodeQuest(std::string("\xB1\0\xB3~\xB1", 5)),  // "1" ended by a zero, "3", "1" cut by the end
              head + "!nul\nscreens count=\"3\"\nscreen column=\"1\"!eof  # screen 0\n");
    // clang-format on
}

TEST(QuestTextForm, EveryByteSequenceRoundTrips) {
    // clang-format off
    std::vector<std::string> files = {"", "~", std::string(1, '\0'), "~~~", std::string("\xB1\0\xB3~\xB1", 5),
        std::string(600, '\xB5') + "~", QuestBytes({"1", "2147483647", "0"}), QuestBytes({"1", "1", "0", "0", "u", "u", "u", "u", "-3", "x"})};
    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i) {
        std::string bytes(random() % 200, '\0');
        for (char& c : bytes) {  // mostly terminators and digits, so the layout's counts take effect
            const unsigned pick = random() % 8;
            c = pick == 0 ? '~' : pick == 1 ? '\0' : static_cast<char>(pick < 5 ? 0xB0 + random() % 3 : random());
        }
        // clang-format on
        files.push_back(bytes);
    }
    for (const std::string& bytes : files) {
        std::string again, error;
        EXPECT_TRUE(EncodeQuest(DecodeQuest(bytes), again, error)) << error;
        EXPECT_EQ(again, bytes) << EscapeText(bytes);
    }
}

TEST(QuestTextForm, EncodeReadsEditedTextAndRefusesTextOutsideTheForm) {
    std::string bytes, error;
    // clang-format off
    const std::string bad = "line 1: a field cannot hold the bytes 0x80 or 0xFE (they would end it)";
    ASSERT_TRUE(EncodeQuest("# a comment\n\n  header \"7\"  # note\r\nplace x=\"1\" \"#\" z=\"\\x41\"!nul\n", bytes, error)) << error;
    EXPECT_EQ(bytes, std::string("\xB7~\xB1~\xA3~\xC1\0", 8));
    const std::pair<const char*, std::string> cases[] = {
        {"header value=\"1\"\n\"2\"\n", "line 2: a line must start with a keyword"}, {"header value=1\n", "line 1: expected a quoted field"},
        {"header value \"1\"\n", "line 1: a label must be followed by '='"}, {"header \"open\n", "line 1: a quoted field is not closed"},
        {"header \"\\q\"\n", "line 1: a bad escape in a quoted field"}, {"header \"\\xFE\"\n", bad}, {"header \"\\x80\"\n", bad},
        {"header \"1\"!eof\nscreens \"2\"\n", "line 2: no field can follow one marked !eof"},
    };
    // clang-format on
    for (const auto& [text, why] : cases) {
        EXPECT_FALSE(EncodeQuest(text, bytes, error)) << text;
        EXPECT_EQ(error, why);
    }
}

}  // namespace

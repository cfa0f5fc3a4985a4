#include "npc/npc_definition.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "npc/npc_codes.h"
#include "npc/server_npc.h"
#include "npc/text_line_reader.h"
#include "support/temp_dir.h"

namespace {

constexpr int32_t U = 7;  // a type no definition gives, to see "left unchanged"
constexpr int32_t kStill = kTypeStill, kHead = kTypeHeadturn, kPerson = kTypePersonscript;

TEST(SpeedFromText, ReadsADecimalIntegerTheWayAtoiDoes) {
    const std::pair<const char*, float> cases[] = {{"  42\n", 42},
                                                   {"\t-12abc\n", -12},
                                                   {"+7", 7},
                                                   {"3.9", 3},
                                                   {"- 5", 0},
                                                   {"0x1F", 0},
                                                   {"99999999999999999999", 2147483648.0f},
                                                   {"-99999999999999999999", -2147483648.0f}};
    for (const auto& [line, speed] : cases) {
        EXPECT_EQ(SpeedFromText(line), speed) << '"' << line << '"';
    }
}

class LoadDefinitionTest : public ::testing::Test {
protected:
    // A new NPC of a type no definition gives, after loading name from a file holding file.
    CServerNPC Load(const std::string& file, const char* name) const {
        dir.Write("npc/chars.npc", file);
        CServerNPC npc;
        npc.type = U;
        npc.LoadDefinition(name);
        return npc;
    }

    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
};

// Each key consumes the line after it as its value, a [TYPE] value is still looked at for
// [SPEED]; a body ends at the next [NAME] line; lines are read in pieces of at most 49 bytes.
// Only type and speed ever change.
TEST_F(LoadDefinitionTest, AppliesTheKeysOfTheFirstMatchingDefinition) {
    const std::string twoGuards = "[NAME]\nguard\n[SPEED]\n10\n[NAME]\nguard2\n[SPEED]\n20\n";
    const std::string pad45(45, ' ');
    const struct {
        std::string file;
        const char* name;
        int32_t type;
        float speed;
    } cases[] = {
        {"[NAME]\nguard\n[TYPE]\nstill\n[SPEED]\n60\n", "guard", kStill, 60},
        {"[NAME]\nguard\n[TYPE]\npersonscript still\n", "guard", kPerson, 35},
        {"[NAME]\nguard\n[TYPE]\nheadturn still\n", "guard", kHead, 35},
        {"[NAME]\nguard\n[TYPE]\nStill HEADTURN walker\n[SPEED]\nquick\n", "guard", U, 0},
        {"[NAME]\nguard\nx[TYPE]x\nstill\n  [SPEED]:\n 9\n[SPEED]\n25\n", "guard", kStill, 25},
        {"[NAME]\nguard\n[SPEED]\n15\n", "smith", U, 35},
        {"", "guard", U, 35},
        {"[SPEED]\n90\n[NAME]\nguard\n[TYPE]\nstill\n", "guard", kStill, 35},
        {twoGuards, "guard", U, 10},
        {twoGuards, nullptr, U, 10},
        {"[NAME]\nguard2\n[SPEED]\n20\n[NAME]\nguard\n[SPEED]\n10\n", "guard", U, 20},
        {"[NAME]\nguard\n[SPEED]\n[TYPE]\nstill\n", "guard", U, 0},
        {"[NAME]\nguard\n[TYPE]\n[NAME] still\n[SPEED]\n12\n", "guard", kStill, 12},
        {"[NAME]\nguard\n[TYPE]\nheadturn [SPEED]\n70\n", "guard", kHead, 70},
        {"[NAME]\nguard\n[TYPE][SPEED]\nstill\n33\n", "guard", kStill, 35},
        {"[NAME]\n[NAME]\nguard\n[SPEED]\n9\n", "guard", U, 35},
        {"[NAME]\nbob\n[NAME]\nguard\n[SPEED]\n9\n", "guard", U, 9},
        {"[NAME]\n[NAME]\nguard\n[SPEED]\n9\n", "NAME", U, 9},
        {"[NAME]\nguard\n[TYPE]\nstill\n[SPEED]", "guard", kStill, 35},  // keys without a value
        {"[NAME]\nguard\n[TYPE]\nstill [SPEED]\n", "guard", kStill, 35},
        {"[NAME]\n", "", U, 35},
        {"[NAME]\nguard\n[SPEED]\n41", "guard", U, 41},
        {"[NAME]\nguard" + pad45 + "[SPEED]\n75\n", "guard", U, 75},      // a name line's 2nd piece
        {"[NAME]\nguard\n" + pad45 + "xx[SPEED]\n75\n", "guard", U, 35},  // a key across pieces
        {"[NAME]\n" + pad45 + "----guard\n[SPEED]\n75\n", "guard", U, 35},
        {"[NAME]\nguard\n[SPEED]\n" + pad45 + "1234567\n[TYPE]\nstill\n", "guard", kStill, 1234}};
    for (const auto& c : cases) {
        CServerNPC expected;
        expected.type = c.type;
        expected.speed = c.speed;
        EXPECT_TRUE(Load(c.file, c.name) == expected) << testing::PrintToString(c.file) << c.name;
    }
    EXPECT_EQ(dir.Read("ErrorChk.txt"), "") << "a present file logs nothing";
}

TEST_F(LoadDefinitionTest, AMissingFileLogsOnEveryLookupAndChangesNothing) {
    CServerNPC npc;
    npc.LoadDefinition("guard");
    npc.LoadDefinition("smith");
    EXPECT_TRUE(npc == CServerNPC());
    EXPECT_EQ(dir.Read("ErrorChk.txt"),
              "\nCServerNPC: NPC definition file not found!"
              "\nCServerNPC: NPC definition file not found!");
}

// Reads of size bytes split lines into pieces of at most size - 1 bytes; CR LF reads as LF.
TEST(ReadTextLine, SplitsLinesIntoPiecesAndReadsCrLfAsLf) {
    const std::string a49(49, 'a'), b48(48, 'b');
    const struct {
        std::string content;
        int size;
        std::vector<std::string> pieces;
    } cases[] = {{"one\nlast", 50, {"one\n", "last"}},
                 {a49 + "aa\n", 50, {a49, "aa\n"}},
                 {b48 + "\n", 50, {b48 + "\n"}},
                 {a49 + "\n", 50, {a49, "\n"}},
                 {"", 50, {}},
                 {"a\r\nb\r\n", 50, {"a\n", "b\n"}},
                 {b48 + "\r\n", 50, {b48 + "\n"}},
                 {"a\rb\xff\x80\n", 50, {"a\rb\xff\x80\n"}},
                 {"end\r", 50, {"end\r"}},
                 {"ab\n", 2, {"a", "b", "\n"}},
                 {"ab\n", 1, {}}};
    for (const auto& c : cases) {
        std::FILE* file = std::tmpfile();
        std::fputs(c.content.c_str(), file);
        std::rewind(file);
        std::vector<std::string> pieces;
        std::vector<char> buffer(c.size, 'z');
        while (ReadTextLine(file, buffer.data(), c.size)) {
            pieces.emplace_back(buffer.data());
        }
        EXPECT_EQ(pieces, c.pieces) << testing::PrintToString(c.content);
        EXPECT_EQ(buffer[0], '\0') << "a read at end of file leaves an empty buffer";
        EXPECT_FALSE(ReadTextLine(file, nullptr, 50));
        std::fclose(file);
    }
}

}  // namespace

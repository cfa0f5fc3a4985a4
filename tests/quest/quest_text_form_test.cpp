// The quest text form and the text escapes it shares with the simulation's output.

#include "quest/quest_text_form.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "quest/text_escape.h"
#include "quest_world.h"

namespace {

using quest_test::QuestBytes;

std::string RoundTrip(const std::string& bytes) {
    std::string again;
    std::string error;
    EXPECT_TRUE(EncodeQuest(DecodeQuest(bytes), again, error)) << error;
    return again;
}

TEST(TextEscape, EscapesBackslashQuoteAndBytesOutsidePrintableAscii) {
    struct Case {
        std::string text;
        std::string escaped;
    };
    const std::vector<Case> cases = {
        {"plain ~ text!", "plain ~ text!"},
        {"a\\b", "a\\\\b"},
        {"say \"hi\"", "say \\\"hi\\\""},
        {std::string("\0\x1F\x20\x7E\x7F\xFF", 6), "\\x00\\x1F ~\\x7F\\xFF"},
        {"\n", "\\x0A"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EscapeText(c.text), c.escaped);
        std::string back;
        ASSERT_TRUE(UnescapeText(c.escaped, back));
        EXPECT_EQ(back, c.text);
    }
    std::string back;
    EXPECT_TRUE(UnescapeText("\\xab", back));
    EXPECT_EQ(back, "\xAB");
    for (const char* bad : {"\\", "\\q", "\\x1", "\\xG0", "end\\x"}) {
        EXPECT_FALSE(UnescapeText(bad, back)) << bad;
    }
}

TEST(QuestTextForm, DecodeNamesEveryItemOfTheLayout) {
    const std::string bytes =
        QuestBytes({"1", "2",  "0",   "0",     "2", "1", "u", "",  "u",   "u",  //
                    "1", "99", "100", "Guard", "0",                             //
                    "0", "1",  "a",   "b",     "c", "d", "e", "f", "tail"});
    EXPECT_EQ(DecodeQuest(bytes),
              "# EmberRealms quest file, er-quest text form 1\n"
              "header value=\"1\"\n"
              "screens count=\"2\"\n"
              "screen column=\"0\" row=\"0\"  # screen 0\n"
              "screen column=\"2\" row=\"1\"  # screen 1\n"
              "unused a=\"u\" b=\"\" c=\"u\" d=\"u\"\n"
              "block placements=\"1\"  # screen 0: column 0, row 0\n"
              "place x=\"99\" y=\"100\" name=\"Guard\"  # world -1,0\n"
              "objects count=\"0\"\n"
              "block placements=\"0\"  # screen 1: column 2, row 1\n"
              "objects count=\"1\"\n"
              "object a=\"a\" b=\"b\" c=\"c\" d=\"d\" e=\"e\" f=\"f\"\n"
              "extra value=\"tail\"  # not read by the server\n");
}

TEST(QuestTextForm, TerminatorsAndCutFilesAreKept) {
    const std::string bytes = std::string("\xB1\0\xB3~\xB1", 5);  // "1" by zero, "3", "1" cut
    EXPECT_EQ(DecodeQuest(bytes),
              "# EmberRealms quest file, er-quest text form 1\n"
              "header value=\"1\"!nul\n"
              "screens count=\"3\"\n"
              "screen column=\"1\"!eof  # screen 0\n");
    EXPECT_EQ(RoundTrip(bytes), bytes);
}

TEST(QuestTextForm, EveryByteSequenceRoundTrips) {
    std::vector<std::string> files = {
        "",
        "~",
        std::string(1, '\0'),
        "~~~",
        QuestBytes({"1", "2147483647", "0"}),  // a count far beyond the fields
        QuestBytes({"1", "1", "0", "0", "u", "u", "u", "u", "-3", "x"}),
        std::string(600, '\xB5') + "~",  // a field longer than the server keeps
    };
    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i) {
        std::string bytes(random() % 200, '\0');
        for (char& c : bytes) {
            // Mostly terminators and digits, so the layout's counts take effect.
            const unsigned pick = random() % 8;
            c = pick == 0   ? '~'
                : pick == 1 ? '\0'
                            : static_cast<char>(pick < 5 ? 0xB0 + random() % 3 : random());
        }
        files.push_back(bytes);
    }
    for (const std::string& bytes : files) {
        EXPECT_EQ(RoundTrip(bytes), bytes) << EscapeText(bytes);
    }
}

TEST(QuestTextForm, EditedTextEncodesItsFieldsInOrder) {
    std::string bytes;
    std::string error;
    ASSERT_TRUE(EncodeQuest(
        "# a comment\n\n  header \"7\"  # note\r\nplace x=\"1\" \"#\" z=\"\\x41\"!nul\n", bytes,
        error))
        << error;
    EXPECT_EQ(bytes, std::string("\xB7~\xB1~\xA3~\xC1\0", 8));
}

TEST(QuestTextForm, EncodeRefusesTextOutsideTheForm) {
    struct Case {
        const char* text;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"header value=\"1\"\n\"2\"\n", "line 2: a line must start with a keyword"},
        {"header value=1\n", "line 1: expected a quoted field"},
        {"header value \"1\"\n", "line 1: a label must be followed by '='"},
        {"header \"open\n", "line 1: a quoted field is not closed"},
        {"header \"\\q\"\n", "line 1: a bad escape in a quoted field"},
        {"header \"\\xFE\"\n",
         "line 1: a field cannot hold the bytes 0x80 or 0xFE (they would end it)"},
        {"header \"\\x80\"\n",
         "line 1: a field cannot hold the bytes 0x80 or 0xFE (they would end it)"},
        {"header \"1\"!eof\nscreens \"2\"\n", "line 2: no field can follow one marked !eof"},
    };
    for (const Case& c : cases) {
        std::string bytes;
        std::string error;
        EXPECT_FALSE(EncodeQuest(c.text, bytes, error)) << c.text;
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace

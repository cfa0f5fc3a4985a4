// What of a player's name reaches the operator: control characters made visible, and the
// terminal console's UTF-8 that never lets two printable bytes form a control.

#include "console/visible_text.h"

#include <gtest/gtest.h>

#include <QString>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>

#include "console/terminal_console.h"

namespace {

using namespace std::string_literals;  // names may hold NUL bytes

TEST(VisibleTextTest, ControlCharactersAndBackslashesAreWrittenAsEscapes) {
    // clang-format off
    const struct { std::string name, shown; const char* label; } cases[] = {{"", "", "empty"}, {"Ann", "Ann", "plain"},
        {"\x1B[2J\x1B[H", "\\x1B[2J\\x1B[H", "clear screen, cursor home"}, {"\x1B]0;pwned\x07", "\\x1B]0;pwned\\x07", "OSC window title ended by BEL"},
        {"Bob\r\nZed", "Bob\\x0D\\x0AZed", "CR LF"}, {"a\tb\bc\x7F", "a\\x09b\\x08c\\x7F", "tab, backspace, DEL"},
        {"\0x\x1F"s, "\\x00x\\x1F", "NUL and the last C0 byte"}, {"\x81\x8D\x8F\x90\x9D", "\\x81\\x8D\\x8F\\x90\\x9D", "the five undefined bytes become C1 controls"},
        {"\x80\x8A\x9B\x9F", "\x80\x8A\x9B\x9F", "euro, S caron, single guillemet, Y diaeresis stay"},
        {"Jos\xE9 M\xFCller \xC6\xF8\xDF", "Jos\xE9 M\xFCller \xC6\xF8\xDF", "accented letters stay"},
        {"\xA0\xFF~ ", "\xA0\xFF~ ", "no-break space, y diaeresis, tilde, space stay"}, {"C:\\dir", "C:\\\\dir", "a backslash is doubled"},
        {"\\x1B", "\\\\x1B", "typed \\x1B differs from ESC"}};
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(VisibleText(c.name), c.shown) << c.label;
}

TEST(VisibleTextTest, EveryByteIsEscapedExactlyWhenItIsAControl) {
    std::string all, expected;
    for (int b = 0; b < 256; ++b) {
        all += char(b);
        const bool control =
            b < 0x20 || b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
        char escape[5];
        std::snprintf(escape, sizeof escape, "\\x%02X", b);
        expected += control ? escape : b == '\\' ? "\\\\" : std::string(1, char(b));
    }
    EXPECT_EQ(VisibleText(all), expected);
}

TEST(TerminalTextTest, TheTerminalReadsAndWritesUtf8) {
    // clang-format off
    const struct { std::string text, utf8; const char* label; } cases[] = {{"", "", "empty"}, {"players\n", "players\n", "ASCII as it is"},
        {"Caf\xE9 \xDF", "Caf\xC3\xA9 \xC3\x9F", "Latin-1 letters"}, {"\x80\x9C\x9F", "\xE2\x82\xAC\xC5\x93\xC5\xB8", "the code page's 0x80-0x9F characters"},
        {"\xC2\x9B[2J", "\xC3\x82\xE2\x80\xBA[2J", "A circumflex and a guillemet stay two letters, not CSI"}};
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(TextToTerminal(c.text), c.utf8) << c.label;
        EXPECT_EQ(TerminalLineToText(c.utf8), c.text) << c.label;
    }
    EXPECT_EQ(TerminalLineToText("set session \xE9t\xE9 \xE4\xB8\xAD"), "set session ?t? ?")
        << "bytes that are not UTF-8 and characters the code page lacks";
}

// Reads a shown name back: "\\" is a backslash, "\xHH" a byte.
std::string Unescape(const std::string& shown) {
    std::string name;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] == '\\' && shown.at(i + 1) == 'x')
            name += char(std::stoi(shown.substr(i + 2, 2), nullptr, 16)), i += 3;
        else
            name += shown[i], i += shown[i] == '\\';
    }
    return name;
}

// Random names shown on the terminal never hold a control character, read back as the name
// they came from (no two names look alike), and the terminal's conversion loses nothing.
TEST(TerminalTextTest, NoNameReachesTheTerminalWithAControlCharacter) {
    std::mt19937 random(20240611);
    int c0 = 0, c1 = 0;  // how many controls of each kind the names held
    for (int round = 0; round < 2000; ++round) {
        std::string name(random() % 14, '\0');
        for (char& c : name)
            c = char(random() % 4 == 0   ? 0x80 + random() % 32
                     : random() % 4 == 0 ? std::string_view("\\x1B").at(random() % 4)
                                         : random() % 256);
        for (unsigned char b : name) {
            c0 += b < 0x20 || b == 0x7F;
            c1 += b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
        }
        const std::string visible = VisibleText(name), shown = TextToTerminal(visible);
        for (QChar ch : QString::fromUtf8(shown.data(), qsizetype(shown.size())))
            ASSERT_FALSE(ch.unicode() < 0x20 || (ch.unicode() >= 0x7F && ch.unicode() <= 0x9F))
                << "round " << round << ": U+" << std::hex << int(ch.unicode());
        ASSERT_EQ(Unescape(visible), name) << "round " << round;
        ASSERT_EQ(TerminalLineToText(TextToTerminal(name)), name) << "round " << round;
    }
    EXPECT_GT(std::min(c0, c1), 300);  // the names did hold both kinds
}

}  // namespace

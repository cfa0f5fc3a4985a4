// Texts between the terminal's UTF-8, DirectPlay's UTF-16 and the game's Windows-1252.

#include <gtest/gtest.h>

#include <random>

#include "visible_text.h"

namespace er_bot {
namespace {

TEST(ErBotVisibleText, Utf8AndUtf16ConvertBothWaysAndMalformedInputBecomesReplacement) {
    // clang-format off
    const std::pair<std::string, std::u16string> valid[] = {{"", u""}, {"Ann", u"Ann"}, {"Zoë", u"Zo\u00EB"}, {"€", u"\u20AC"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"}, {std::string("a\0b", 3), std::u16string(u"a\0b", 3)}};
    // clang-format on
    for (const auto& [utf8, utf16] : valid) {
        EXPECT_EQ(Utf8ToUtf16(utf8), utf16) << utf8;
        EXPECT_EQ(Utf16ToUtf8(utf16), utf8) << utf8;
    }
    // clang-format off
    const std::pair<std::string, std::u16string> malformed[] = {{"\xFF", u"\uFFFD"}, {"\x80x", u"\uFFFDx"},
        {"\xC3", u"\uFFFD"} /* cut short */, {"\xC0\xAF", u"\uFFFD\uFFFD"}, {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"} /* overlong */,
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"} /* a surrogate */, {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"} /* past U+10FFFF */,
        {"\xF5\x80", u"\uFFFD\uFFFD"}};
    // clang-format on
    for (const auto& [utf8, utf16] : malformed)
        EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(u"\xDC00x"), "\xEF\xBF\xBDx");
}

TEST(ErBotVisibleText, ControlsQuotesAndBackslashesAreSpelledOut) {
    // clang-format off
    const std::pair<std::u16string, std::string> cases[] = {{u"plain", "plain"}, {u"a\nb\tc\x1B[31m", "a\\x0Ab\\x09c\\x1B[31m"},
        {u"\x7F\x80\x9F\xA0", "\\x7F\\x80\\x9F\u00A0"}, {u"say \"hi\" \\o/", "say \\\"hi\\\" \\\\o/"}, {u"Zo\u00EB \u20AC", "Zoë €"}};
    // clang-format on
    for (const auto& [text, shown] : cases)
        EXPECT_EQ(Visible(text), shown);
    EXPECT_EQ(VisibleCp1252("\x80\xE9\x01\x81"), "€é\\x01\\x81");
    EXPECT_EQ(Utf8ToCp1252("Grüße €"),
              "Gr\xFC\xDF"
              "e \x80");
    EXPECT_EQ(Utf8ToCp1252("日本"), "??");
}

// Whatever bytes arrive, the shown text holds no control character and survives a round
// trip through UTF-16.
TEST(ErBotVisibleText, NoByteSequenceShowsAControlCharacter) {
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(random() % 40, '\0');
        for (char& c : bytes)
            c = char(random());
        const std::string shown = VisibleCp1252(bytes);
        for (unsigned char c : shown)
            EXPECT_TRUE(c >= 0x20 && c != 0x7F) << int(c);
        EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(shown)), shown);
        EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(Utf8ToUtf16(bytes))), Utf8ToUtf16(bytes));
    }
}

}  // namespace
}  // namespace er_bot

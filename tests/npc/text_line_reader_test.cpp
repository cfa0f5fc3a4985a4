#include "npc/text_line_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Every piece that reads of size bytes yield from content.
std::vector<std::string> Pieces(const std::string& content, int size) {
    std::FILE* file = std::tmpfile();
    std::fwrite(content.data(), 1, content.size(), file);
    std::rewind(file);
    std::vector<std::string> pieces;
    std::vector<char> buffer(static_cast<size_t>(size), 'z');
    while (ReadTextLine(file, buffer.data(), size)) {
        pieces.emplace_back(buffer.data());
    }
    EXPECT_EQ(buffer[0], '\0') << "a read at end of file leaves an empty buffer";
    std::fclose(file);
    return pieces;
}

TEST(ReadTextLine, SplitsLinesIntoPiecesOfAtMost49Bytes) {
    const std::string sixty = std::string(59, 'a') + "\n";
    const std::string fortyNine = std::string(48, 'b') + "\n";
    const std::string fifty = std::string(49, 'c') + "\n";
    const struct {
        std::string content;
        std::vector<std::string> pieces;
        const char* what;
    } cases[] = {
        {"one\ntwo\n", {"one\n", "two\n"}, "short lines keep their end-of-line"},
        {sixty, {std::string(49, 'a'), std::string(10, 'a') + "\n"}, "a 60-byte line"},
        {fortyNine, {fortyNine}, "48 characters and the end-of-line fit one read"},
        {fifty, {std::string(49, 'c'), "\n"}, "49 characters leave the end-of-line alone"},
        {"last", {"last"}, "a last line without end-of-line"},
        {"\n\n", {"\n", "\n"}, "empty lines"},
        {"", {}, "an empty file"},
        {"a\r\nb\r\n", {"a\n", "b\n"}, "CR LF reads as LF"},
        {std::string(48, 'd') + "\r\n", {std::string(48, 'd') + "\n"}, "CR LF counts once"},
        {"a\rb\n", {"a\rb\n"}, "a lone CR stays"},
        {"end\r", {"end\r"}, "a CR at the end of the file stays"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Pieces(c.content, 50), c.pieces) << c.what;
    }
}

TEST(ReadTextLine, KeepsBytesOfEveryValueIncludingZero) {
    std::string content = "x";
    content += '\0';
    content += "\xff\x80y\n";
    std::FILE* file = std::tmpfile();
    std::fwrite(content.data(), 1, content.size(), file);
    std::rewind(file);
    char buffer[50];
    ASSERT_TRUE(ReadTextLine(file, buffer, sizeof buffer));
    EXPECT_EQ(std::string(buffer, content.size()), content);
    EXPECT_EQ(buffer[content.size()], '\0');
    EXPECT_FALSE(ReadTextLine(file, buffer, sizeof buffer));
    std::fclose(file);
}

TEST(ReadTextLine, SmallestBuffersStillTerminate) {
    EXPECT_EQ(Pieces("ab\n", 2), (std::vector<std::string>{"a", "b", "\n"}));
    std::FILE* file = std::tmpfile();
    std::fputs("abc", file);
    std::rewind(file);
    char one[1] = {'z'};
    EXPECT_FALSE(ReadTextLine(file, one, 1));
    EXPECT_EQ(one[0], '\0');
    EXPECT_FALSE(ReadTextLine(file, nullptr, 50));
    std::fclose(file);
}

}  // namespace

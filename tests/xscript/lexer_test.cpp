// Tokenizer and loader.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"
#include "xscript/xscript.h"

namespace {

using namespace xscript;
using Tokens = std::vector<std::pair<std::string, int32_t>>;

// Every token Tokenize gives for one line, comment markers included.
Tokens TokenizeLine(const CXScript& engine, std::string_view line, int32_t bufferSize = 1024) {
    Tokens tokens;
    std::vector<char> buffer(static_cast<size_t>(bufferSize));
    int32_t start = 0;
    int32_t code = -1;
    while ((start = engine.Tokenize(line, start, buffer.data(), bufferSize, code)) != 0) {
        tokens.emplace_back(buffer.data(), code);
        if (tokens.size() > 1000) {
            ADD_FAILURE() << "no progress";
            break;
        }
    }
    return tokens;
}

Tokens Loaded(const CXScript& engine) {
    Tokens tokens;
    for (const CXToken& token : engine.Tokens()) {
        tokens.emplace_back(token.text, token.code);
    }
    return tokens;
}

std::vector<int32_t> Lines(const CXScript& engine) {
    std::vector<int32_t> lines;
    for (const CXToken& token : engine.Tokens()) {
        lines.push_back(token.line);
    }
    return lines;
}

TEST(XScriptTokenize, SplitsLinesIntoSymbolsWordsAndLiterals) {
    CXScript engine;
    engine.RegisterFunction("print");
    engine.RegisterFunction("GetVar");
    engine.RegisterFunction("GetVarEx");
    const struct {
        std::string line;
        Tokens tokens;
    } cases[] = {
        {"x = 5;", {{"x", kWord}, {"=", kAssign}, {"5", kLiteral}, {";", kSemicolon}}},
        {"x-1", {{"x", kWord}, {"-", kSubtract}, {"1", kLiteral}}},
        {"-1", {{"-", kSubtract}, {"1", kLiteral}}},
        {"a+=b<=c==d",
         {{"a", kWord},
          {"+=", kAddAssign},
          {"b", kWord},
          {"<=", kLessEqual},
          {"c", kWord},
          {"==", kEqual},
          {"d", kWord}}},
        {"!a||b&&c",
         {{"!", kNot},
          {"a", kWord},
          {"||", kLogicalOr},
          {"b", kWord},
          {"&&", kLogicalAnd},
          {"c", kWord}}},
        {"a|b", {{"a|b", kWord}}},  // "|" alone is no symbol
        {"iffy", {{"if", kIf}, {"fy", kWord}}},
        {"shift", {{"sh", kWord}, {"if", kIf}, {"t", kWord}}},
        {"elsewhere{", {{"else", kElse}, {"where", kWord}, {"{", kOpenBrace}}},
        {"x1 a.b\tc", {{"x1", kWord}, {"a.b", kWord}, {"c", kWord}}},
        {"GetVarEx(GetVar(",
         {{"GetVarEx", kHostCall}, {"(", kOpenParen}, {"GetVar", kHostCall}, {"(", kOpenParen}}},
        {"sprint", {{"s", kWord}, {"print", kHostCall}}},
        {"1.2.3", {{"1.2", kLiteral}, {".3", kLiteral}}},
        {"12ab", {{"12", kLiteral}, {"ab", kWord}}},
        {"x\"y\"", {{"x", kWord}, {"y", kLiteral}}},
        {"\"unterminated", {{"\"unterminated", kWord}}},
        {"\"ends in backslash\\", {{"\"ends", kWord}, {"in", kWord}, {"backslash\\", kWord}}},
        {"x = 1;  ",
         {{"x", kWord}, {"=", kAssign}, {"1", kLiteral}, {";", kSemicolon}, {"", kWord}}},
        {"   ", {{"", kWord}}},
        {"", {}},
        {"a // b", {{"a", kWord}, {"//", kLineComment}, {"b", kWord}}},
        {"/**/", {{"/*", kCommentStart}, {"*/", kCommentEnd}}},
        {"a/=b", {{"a", kWord}, {"/=", kDivideAssign}, {"b", kWord}}},
        {"\xe9t\xe9", {{"\xe9t\xe9", kWord}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TokenizeLine(engine, c.line), c.tokens) << "line: " << c.line;
    }
}

TEST(XScriptTokenize, StringLiteralsReplaceTheirFiveEscapes) {
    CXScript engine;
    const struct {
        std::string line;
        std::string text;
    } cases[] = {
        {R"("a\"b")", "a\"b"}, {R"("\\")", "\\"}, {R"("\r\n\b")", "\r\n\b"},
        {R"("a\tb")", "atb"},  // any other escape gives the escaped byte itself
        {R"("")", ""},         {R"("{")", "{"},   {R"("7")", "7"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TokenizeLine(engine, c.line), (Tokens{{c.text, kLiteral}})) << c.line;
    }
}

TEST(XScriptTokenize, TokensMustFitTheBuffer) {
    CXScript engine;
    char buffer[4];
    int32_t code = -1;
    // "+=" does not fit in two bytes, so the shorter "+" is taken.
    char small[2];
    EXPECT_EQ(engine.Tokenize("+=", 0, small, 2, code), 1);
    EXPECT_EQ(std::string(small), "+");
    EXPECT_EQ(code, kAdd);
    // A literal whose text would not fit is read as a word; words are consumed whole and
    // stored cut short.
    EXPECT_EQ(engine.Tokenize("\"abcdef\" x", 0, buffer, 4, code), 8);
    EXPECT_EQ(std::string(buffer), "\"ab");
    EXPECT_EQ(code, kWord);
    EXPECT_EQ(engine.Tokenize("123456", 0, buffer, 4, code), 6);
    EXPECT_EQ(std::string(buffer), "123");
    // Out-of-range starts and unusable buffers give no token.
    EXPECT_EQ(engine.Tokenize("abc", 3, buffer, 4, code), 0);
    EXPECT_EQ(engine.Tokenize("abc", 99, buffer, 4, code), 0);
    EXPECT_EQ(engine.Tokenize("abc", -1, buffer, 4, code), 0);
    EXPECT_EQ(engine.Tokenize("abc", 0, buffer, 0, code), 0);
    EXPECT_EQ(engine.Tokenize("abc", 0, nullptr, 4, code), 0);
    // The line ends at a zero byte.
    EXPECT_EQ(TokenizeLine(engine, std::string_view("a\0b", 3)), (Tokens{{"a", kWord}}));
}

TEST(XScriptTokenize, EmptyNamesAreNeverMatched) {
    CXScript engine;
    engine.RegisterFunction("");
    EXPECT_EQ(TokenizeLine(engine, "ab"), (Tokens{{"ab", kWord}}));
}

TEST(XScriptLoad, MinusAfterAnOperandIsSubtractionOtherwiseNegation) {
    const struct {
        std::string source;
        Tokens tokens;
    } cases[] = {
        {"x=-1", {{"x", kWord}, {"=", kAssign}, {"-", kNegate}, {"1", kLiteral}}},
        {"x-1", {{"x", kWord}, {"-", kSubtract}, {"1", kLiteral}}},
        {"5 - -1", {{"5", kLiteral}, {"-", kSubtract}, {"-", kNegate}, {"1", kLiteral}}},
        {"(a)-1",
         {{"(", kOpenParen}, {"a", kWord}, {")", kCloseParen}, {"-", kSubtract}, {"1", kLiteral}}},
        {"-1", {{"-", kSubtract}, {"1", kLiteral}}},  // first token of the file
        {"x =\n-1", {{"x", kWord}, {"=", kAssign}, {"-", kNegate}, {"1", kLiteral}}},
        // A trailing blank leaves an empty word, and after a word "-" is subtraction.
        {"x = \n-1",
         {{"x", kWord}, {"=", kAssign}, {"", kWord}, {"-", kSubtract}, {"1", kLiteral}}},
    };
    for (const auto& c : cases) {
        CXScript engine;
        EXPECT_EQ(engine.LoadScriptText(c.source), 0);
        EXPECT_EQ(Loaded(engine), c.tokens) << c.source;
    }
}

TEST(XScriptLoad, CommentsRemoveTextAndReportBadNesting) {
    const struct {
        std::string source;
        int32_t result;
        Tokens tokens;
    } cases[] = {
        {"a /* b\nc */ d", 0, {{"a", kWord}, {"d", kWord}}},
        {"a // b */ c\nd", 0, {{"a", kWord}, {"d", kWord}}},
        // "//" ends the line inside a block comment but the comment stays open.
        {"/* // */\nx */ y", 0, {{"y", kWord}}},
        // A literal inside a comment hides a "*/" between its quotes.
        {"/* \"*/\" */ z", 0, {{"z", kWord}}},
        {"a /* open at the end", 0, {{"a", kWord}}},
        {"a */ b", -2, {{"a", kWord}}},
        {"a /* b /* c */ d", -2, {{"a", kWord}}},
    };
    for (const auto& c : cases) {
        CXScript engine;
        EXPECT_EQ(engine.LoadScriptText(c.source), c.result) << c.source;
        EXPECT_EQ(Loaded(engine), c.tokens) << c.source;
    }
}

TEST(XScriptLoad, LinesCountFromOneAndLongLinesCountPerRead) {
    CXScript engine;
    ASSERT_EQ(engine.LoadScriptText("a\n\nb c\n"), 0);
    EXPECT_EQ(Lines(engine), (std::vector<int32_t>{1, 3, 3}));

    // A read takes at most 1023 bytes, and each read is a line of its own.
    CXScript longLines;
    const std::string part(1023, 'w');
    ASSERT_EQ(longLines.LoadScriptText(part + "b\n" + part + "\nc"), 0);
    EXPECT_EQ(Loaded(longLines),
              (Tokens{{part, kWord}, {"b", kWord}, {part, kWord}, {"c", kWord}}));
    // The line feed after exactly 1023 bytes is read alone, as line 4.
    EXPECT_EQ(Lines(longLines), (std::vector<int32_t>{1, 2, 3, 5}));

    // Bytes after a zero byte on a line are lost, the next line is read as usual.
    CXScript zero;
    ASSERT_EQ(zero.LoadScriptText(std::string("a\0b c\nd", 7)), 0);
    EXPECT_EQ(Loaded(zero), (Tokens{{"a", kWord}, {"d", kWord}}));
    EXPECT_EQ(Lines(zero), (std::vector<int32_t>{1, 2}));
}

TEST(XScriptLoad, CarriageReturnLineFeedReadsLikeLineFeed) {
    CXScript unix;
    CXScript windows;
    ASSERT_EQ(unix.LoadScriptText("x = 1;\ny = \"a\";\n"), 0);
    ASSERT_EQ(windows.LoadScriptText("x = 1;\r\ny = \"a\";\r\n"), 0);
    EXPECT_EQ(Loaded(windows), Loaded(unix));
    EXPECT_EQ(Lines(windows), Lines(unix));
    // A lone carriage return is an ordinary byte.
    CXScript lone;
    ASSERT_EQ(lone.LoadScriptText("a\rb"), 0);
    EXPECT_EQ(Loaded(lone), (Tokens{{"a\rb", kWord}}));
}

TEST(XScriptLoad, FilesLoadFromDiskAndMissingOnesGiveMinusOne) {
    er_test::TempDir dir;
    dir.Write("script/XScript.txt", "x = 1;\r\n");
    CXScript engine;
    EXPECT_EQ(engine.LoadScript((dir.path() / "script/XScript.txt").c_str()), 0);
    EXPECT_EQ(engine.Tokens().size(), 4u);
    EXPECT_EQ(engine.LoadScript((dir.path() / "missing.txt").c_str()), -1);
    EXPECT_EQ(engine.LoadScript(dir.path().c_str()), -1);  // a directory
    EXPECT_EQ(engine.LoadScript(nullptr), -1);
    EXPECT_EQ(engine.Tokens().size(), 4u);
    // Loading appends.
    EXPECT_EQ(engine.LoadScript((dir.path() / "script/XScript.txt").c_str()), 0);
    EXPECT_EQ(engine.Tokens().size(), 8u);
}

TEST(XScriptLoad, FunctionsRegisteredAfterLoadingAreNotRecognised) {
    CXScript engine;
    ASSERT_EQ(engine.LoadScriptText("late(1);"), 0);
    engine.RegisterFunction("late");
    ASSERT_EQ(engine.LoadScriptText("late(1);"), 0);
    const auto& tokens = engine.Tokens();
    ASSERT_EQ(tokens.size(), 10u);
    EXPECT_EQ(tokens[0].code, kWord);
    EXPECT_EQ(tokens[5].code, kHostCall);
}

}  // namespace

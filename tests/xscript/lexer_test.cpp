// Tokenizer and loader.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "xscript/xscript.h"

namespace {

using namespace xscript;

// A token as a tag and its text: w word, l literal, h host call, s the symbol its text names,
// n negation, c a comment marker, ? a code that does not fit the text.
std::string Render(const CXScript& engine, const std::string& text, int32_t code) {
    const int32_t symbol = engine.FindSymbol(text);
    const bool named = symbol >= 0 && engine.Symbols()[static_cast<size_t>(symbol)].code == code;
    const char* comments[] = {"//", "/*", "*/"};
    const bool comment = code >= kLineComment && comments[code - kLineComment] == text;
    const char tag = code == kWord                    ? 'w'
                     : code == kLiteral               ? 'l'
                     : code == kNegate && text == "-" ? 'n'
                     : named                          ? (code == kHostCall ? 'h' : 's')
                     : comment                        ? 'c'
                                                      : '?';
    return tag + text;
}

// The loaded tokens of a source, each line change shown as @line, then the result when not 0.
std::string Loaded(const std::string& source, const std::vector<std::string>& functions) {
    CXScript engine;
    for (const std::string& name : functions) {
        engine.RegisterFunction(name);
    }
    const int32_t result = engine.LoadScriptText(source);
    std::string tokens;
    int32_t line = 1;
    for (const CXToken& token : engine.Tokens()) {
        if (token.line != line) {
            line = token.line;
            tokens += (tokens.empty() ? "@" : " @") + std::to_string(line);
        }
        tokens += (tokens.empty() ? "" : " ") + Render(engine, token.text, token.code);
    }
    return result == 0 ? tokens : tokens + " (" + std::to_string(result) + ")";
}

TEST(XScriptLoad, SourcesGiveTheseTokens) {
    const std::string w(1023, 'w');  // a read takes at most 1023 bytes, a line of its own
    const std::pair<std::string, std::string> cases[] = {
        {"a+=b<=c==d", "wa s+= wb s<= wc s== wd"},
        {"!a||b&&c", "s! wa s|| wb s&& wc"},
        {"a|b", "wa|b"},  // "|" alone is no symbol
        {"iffy", "sif wfy"},
        {"shift", "wsh sif wt"},
        {"elsewhere{", "selse wwhere s{"},
        {"x1 a.b\tc", "wx1 wa.b wc"},
        {"GetVarEx(GetVar(", "hGetVarEx s( hGetVar s("},
        {"sprint", "ws hprint"},
        {"1.2.3", "l1.2 l.3"},
        {"12ab", "l12 wab"},
        {"x\"y\"", "wx ly"},
        {"\"unterminated", "w\"unterminated"},
        {"\"ends in backslash\\", "w\"ends win wbackslash\\"},
        {"x = 1;  ", "wx s= l1 s; w"},
        {"   ", "w"},
        {"\xe9t\xe9", "w\xe9t\xe9"},
        {R"("a\"b" "\\" "\r\n\b")", "la\"b l\\ l\r\n\b"},
        {R"("a\tb" "" "{" "7")", "latb l l{ l7"},  // other escapes give the byte itself
        // Minus after an operand is subtraction, otherwise negation.
        {"x=-1", "wx s= n- l1"},
        {"x-1", "wx s- l1"},
        {"5 - -1", "l5 s- n- l1"},
        {"(a)-1", "s( wa s) s- l1"},
        {"-1", "s- l1"},  // first token of the file
        {"x =\n-1", "wx s= @2 n- l1"},
        {"x = \n-1", "wx s= w @2 s- l1"},  // a trailing blank leaves an empty word
        // Comments remove text; bad nesting stops loading.
        {"a /* b\nc */ d", "wa @2 wd"},
        {"a // b */ c\nd", "wa @2 wd"},
        {"/* // */\nx */ y", "@2 wy"},  // "//" inside a block comment ends only the line
        {"/* \"*/\" */ z", "wz"},       // a literal inside a comment hides its "*/"
        {"a /* open at the end", "wa"},
        {"a */ b", "wa (-2)"},
        {"a /* b /* c */ d", "wa (-2)"},
        // Lines count from one; a read of 1023 bytes is a line of its own.
        {"a\n\nb c\n", "wa @3 wb wc"},
        {w + "b\n" + w + "\nc", "w" + w + " @2 wb @3 w" + w + " @5 wc"},
        {std::string("a\0b c\nd", 7), "wa @2 wd"},  // bytes after a zero byte are lost
        {"x = 1;\r\ny = \"a\";\r\n", "wx s= l1 s; @2 wy s= la s;"},
        {"a\rb", "wa\rb"},
    };
    for (const auto& [source, tokens] : cases) {
        EXPECT_EQ(Loaded(source, {"print", "GetVar", "GetVarEx", ""}), tokens) << source;
    }
}

// Every token Tokenize gives for one line, comment markers included.
std::string Tokenized(std::string_view line, int32_t bufferSize) {
    const CXScript engine;
    std::string tokens;
    std::vector<char> buffer(static_cast<size_t>(bufferSize));
    int32_t start = 0, code = -1, count = 0;
    while ((start = engine.Tokenize(line, start, buffer.data(), bufferSize, code)) != 0 &&
           ++count < 1000) {
        tokens += (tokens.empty() ? "" : " ") + Render(engine, buffer.data(), code);
    }
    return tokens;
}

TEST(XScriptTokenize, TokensMustFitTheBuffer) {
    EXPECT_EQ(Tokenized("a // b /**/", 1024), "wa c// wb c/* c*/");
    EXPECT_EQ(Tokenized("", 1024), "");
    EXPECT_EQ(Tokenized(std::string_view("a\0b", 3), 1024), "wa");  // the line ends at a zero
    EXPECT_EQ(Tokenized("+=", 2), "s+ s=");                         // "+=" does not fit
    EXPECT_EQ(Tokenized("\"abcdef\" x", 4), "w\"ab wx");  // such a literal is a word, cut short
    EXPECT_EQ(Tokenized("123456", 4), "l123");
    const CXScript engine;
    char buffer[4];
    int32_t code = -1;
    for (const auto& [start, size] : {std::pair{3, 4}, {99, 4}, {-1, 4}, {0, 0}}) {
        EXPECT_EQ(engine.Tokenize("abc", start, buffer, size, code), 0) << start << " " << size;
    }
    EXPECT_EQ(engine.Tokenize("abc", 0, nullptr, 4, code), 0);
}

TEST(XScriptLoad, FilesAppendAndKnowOnlyFunctionsRegisteredBefore) {
    er_test::TempDir dir;
    dir.Write("script/XScript.txt", "late(1);\r\n");
    CXScript engine;
    const std::string path = (dir.path() / "script/XScript.txt").string();
    EXPECT_EQ(engine.LoadScript(path.c_str()), 0);
    EXPECT_EQ(engine.LoadScript((dir.path() / "missing.txt").c_str()), -1);
    EXPECT_EQ(engine.LoadScript(dir.path().c_str()), -1);  // a directory
    EXPECT_EQ(engine.LoadScript(nullptr), -1);
    engine.RegisterFunction("late");
    EXPECT_EQ(engine.LoadScript(path.c_str()), 0);
    std::string tokens;
    for (const CXToken& token : engine.Tokens()) {
        tokens += Render(engine, token.text, token.code) + " ";
    }
    EXPECT_EQ(tokens, "wlate s( l1 s) s; hlate s( l1 s) s; ");
}

}  // namespace

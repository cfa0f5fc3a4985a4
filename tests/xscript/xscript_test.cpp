// The XScript engine: values, variables, the lexer and loader, what scripts compute, the interface.

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "xscript/xscript.h"

namespace {

using namespace xscript;

std::string PrintfF(double value) {
    char text[400];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

// Random doubles print like "%f"; random numeric texts convert like strtod, stored as "%f" text.
TEST(XScriptValue, NumbersConvertAndPrintLikeTheCRuntime) {
    std::mt19937_64 random(77);
    std::uniform_int_distribution<int> length(0, 22), digit(0, 9), exponent(-12, 40);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    const auto digits = [&](std::string& text, int count) {
        std::generate_n(std::back_inserter(text), count, [&] { return '0' + digit(random); });
    };
    for (int i = 0; i < 50000; ++i) {
        double value = mantissa(random) * std::pow(10.0, exponent(random));
        value = i % 4 == 0 ? std::round(value) : i % 4 == 1 ? std::round(value * 8) / 8 : value;
        ASSERT_EQ(FormatDouble(value), PrintfF(value)) << value;

        std::string text;
        digits(text, length(random) % (i % 3 == 0 ? 10 : 23));
        if (i % 5 != 0) {
            text += '.';
            digits(text, i % 2 == 0 ? 6 : length(random));
        }
        if (text.empty())
            continue;
        const double expected = std::strtod(text.c_str(), nullptr);
        ASSERT_TRUE(IsNumericText(text)) << text;
        ASSERT_EQ(TextToDouble(text), expected) << text;
        ASSERT_EQ(TextToDouble("-" + text), -expected) << text;
        ASSERT_EQ(RewriteNumericText(text), PrintfF(expected)) << text;
        CXValue set("x", 0);
        set.SetText(text);
        ASSERT_EQ(set.Text(), PrintfF(expected)) << text;
        ASSERT_EQ(CXValue(text).Text(), PrintfF(expected)) << text;
    }
    EXPECT_EQ(CXValue(".").Text(), "0.000000");
    EXPECT_EQ(CXValue("12345678901234567890").Text(), "12345678901234567168.000000");
    EXPECT_EQ(FormatDouble(HUGE_VAL) + FormatDouble(-HUGE_VAL), "inf-inf");
    EXPECT_EQ(FormatDouble(std::nan("")) + FormatDouble(-std::nan("")), "nannan");
    EXPECT_EQ(CXValue(-0.0).Text(), "-0.000000");
    EXPECT_EQ(CXValue(DBL_MAX).Text().size(), 309u + 7u);  // stored whole, however long
    EXPECT_EQ(CXValue(INT32_MIN).Text(), "-2147483648");
}

TEST(XScriptValue, FlagsFollowTheConstructorAndSettersKeepThem) {
    EXPECT_EQ(CXValue().Flag() + CXValue("x").Flag() + CXValue(3.0).Flag() + CXValue(3).Flag(), 4);
    EXPECT_EQ(CXValue("x", 0).Flag() + CXValue(3, 0).Flag() + CXValue(3.0, 0).Flag(), 0);
    CXValue value("name", 0);
    value.SetInt(-4);
    const std::string integer = value.Text();
    value.SetDouble(0.25);
    value.SetText(value.Text());  // a value's own text can be set again
    EXPECT_EQ(integer + " " + value.Text() + std::to_string(value.Flag()), "-4 0.2500000");
    value.SetFlag(1);
    EXPECT_EQ(value.Flag(), 1);
}

TEST(XScriptValue, ToIntReadsSignAndLeadingDigitsAndNonNumericTextsAreKept) {
    // clang-format off
    const struct { std::string text; int32_t value; bool numeric; } cases[] = {
        {"5.000000", 5, 1}, {"-2.000000", -2, 0}, {"0.5", 0, 1}, {"abc", 0, 0}, {"", 0, 0}, {"  42x", 42, 0},
        {"\t\n-3", -3, 0}, {"+7", 7, 0}, {"- 3", 0, 0}, {"1e5", 1, 0}, {"inf", 0, 0}, {"nan", 0, 0}, {"0.900000", 0, 1},
        {"1", 1, 1}, {"1.2.3", 1, 0}, {"..", 0, 0}, {"5a", 5, 0}, {" 5", 5, 0}, {"5 ", 5, 0}, {"12abc", 12, 0},
        {"2147483647", INT32_MAX, 1}, {"2147483648", INT32_MAX, 1}, {"99999999999999", INT32_MAX, 1},
        {"-2147483648", INT32_MIN, 0}, {"-99999999999", INT32_MIN, 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE("'" + c.text + "'");
        EXPECT_EQ(TextToInt(c.text), c.value);
        EXPECT_EQ(CXValue(c.text).ToInt(), c.value);
        EXPECT_EQ(CXValue(c.text).Truth(), c.value != 0);
        EXPECT_EQ(IsNumericText(c.text), c.numeric);
        CXValue set(7);
        set.SetText(c.text);
        const std::string kept = c.numeric ? PrintfF(std::strtod(c.text.c_str(), nullptr)) : c.text;
        EXPECT_EQ(CXValue(c.text).Text() + "|" + set.Text(), kept + "|" + kept);
    }
}

TEST(XScriptValue, ToDoubleReadsTheLongestDecimalPrefix) {
    const std::pair<std::string, double> cases[] = {
        // clang-format off
        {"3.5", 3.5}, {" -2.5e2x", -250.0}, {"1e", 1.0}, {"1e+", 1.0}, {"1E3", 1000.0}, {".5", 0.5},
        {"5.", 5.0}, {"+.5e1", 5.0}, {".", 0.0}, {"abc", 0.0}, {"", 0.0}, {"0x10", 0.0},
        {"inf", 0.0}, {"nan", 0.0}, {"-", 0.0}, {"1.2.3", 1.2}, {"1e400", HUGE_VAL},
        {"-1e400", -HUGE_VAL}, {"1e-400", 0.0}, {"0.0001e-330", 0.0},
        {std::string(400, '9'), HUGE_VAL}, {"0." + std::string(400, '0') + "1", 0.0},
        {"0." + std::string(400, '0') + "1e50", 0.0},  // underflows: the zeros outweigh e50
        // clang-format on
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(TextToDouble(text), value) << "'" << text << "'";
}

TEST(XScriptValue, ComparisonIsNumericOnlyWhenBothTextsAreNumeric) {
    // clang-format off
    const struct { std::string left, right; int order; } cases[] = {
        {"-1.000000", "2.000000", -1}, {"-5.000000", "-3.000000", 1},  // minus sorts before digits: by text, -5 is not below -3
        {"-3.000000", "-5.000000", -1}, {"abc", "abd", -1}, {"10", "9", 1}, {"10.000000", "10", 0},
        {"abc", "abc", 0}, {"ab", "abc", -1}, {"", "a", -1}, {"\xe9", "z", 1}, {".", "0", 0}, {"10a", "9", -1},  // one side not numeric: by text
    };
    // clang-format on
    for (const auto& c : cases) {
        const int order = CompareValues(CXValue(c.left), CXValue(c.right));
        EXPECT_EQ((order > 0) - (order < 0), c.order) << c.left << " vs " << c.right;
    }
    EXPECT_EQ(CompareValues(CXValue("7"), CXValue(7)), 0);
}

TEST(XScriptTables, NameHashIsDjb2InWrappingUnsigned32BitArithmetic) {
    // clang-format off
    const struct { std::string name; uint32_t hash, bucket; } cases[] = {
        {"", 5381u, 1285u}, {"a", 177670u, 1542u}, {"x", 177693u, 1565u}, {"abc", 193485963u, 1163u},
        {"NPC_MessageMap", 13259880u, 1128u}, {"\xff\x80", 5868452u, 932u} /* bytes are unsigned */,
        {std::string(40, 'z'), 632842261u, 21u},  // wraps many times
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(xscript::HashName(c.name), c.hash) << c.name;
        EXPECT_EQ(CXVariableTable::BucketOf(c.name), c.bucket) << c.name;
    }
}

TEST(XScriptTables, VariablesSharingABucketKeepCreationOrderAndSetOverwritesInPlace) {
    std::map<uint32_t, std::string> seen;  // among 2049 names two share one of 2048 buckets
    std::string first, second;
    for (int i = 0; second.empty(); ++i) {
        const std::string name = "v" + std::to_string(i);
        if (const auto [it, inserted] = seen.emplace(CXVariableTable::BucketOf(name), name);
            !inserted) {
            first = it->second;
            second = name;
        }
    }
    CXVariableTable table;
    table.Set(first, CXValue("one", 0));
    table.Set(second, CXValue("two", 1));
    table.Set(first, CXValue("later", 1));
    EXPECT_EQ(table.Count(), 2u);
    const auto& bucket = table.Bucket(CXVariableTable::BucketOf(first));
    ASSERT_EQ(bucket.size(), 2u);
    EXPECT_EQ(bucket[0].name + bucket[0].value.Text() + std::to_string(bucket[0].value.Flag()),
              first + "later1");
    EXPECT_EQ(bucket[1].name + bucket[1].value.Text(), second + "two");
    EXPECT_EQ(table.Find(second), &bucket[1]);
    EXPECT_EQ(table.Find("v_absent"), nullptr);
    EXPECT_EQ(table.Find("V0"), nullptr);  // names are case-sensitive
}

// A token as tag and text: w word, l literal, h host call, s symbol, n negation, c comment, ? bad.
std::string Render(const CXScript& engine, const std::string& text, int32_t code) {
    const int32_t symbol = engine.FindSymbol(text);
    const bool named = symbol >= 0 && engine.Symbols()[static_cast<size_t>(symbol)].code == code;
    const char* comments[] = {"//", "/*", "*/"};
    const bool comment = code >= kLineComment && comments[code - kLineComment] == text;
    // clang-format off
    const char tag = code == kWord ? 'w' : code == kLiteral ? 'l' : code == kNegate && text == "-" ? 'n' : named ? (code == kHostCall ? 'h' : 's') : comment ? 'c' : '?';
    // clang-format on
    return tag + text;
}

// The tokens of an engine, each line change shown as @line.
std::string Tokens(const CXScript& engine) {
    std::string tokens;
    int32_t line = 1;
    for (const CXToken& token : engine.Tokens()) {
        if (token.line != line) {
            line = token.line;
            tokens += (tokens.empty() ? "@" : " @") + std::to_string(line);
        }
        tokens += (tokens.empty() ? "" : " ") + Render(engine, token.text, token.code);
    }
    return tokens;
}

// The loaded tokens of a source, then the result when not 0.
std::string Loaded(const std::string& source, const std::vector<std::string>& functions) {
    CXScript engine;
    for (const std::string& name : functions)
        engine.RegisterFunction(name);
    const int32_t result = engine.LoadScriptText(source);
    return result == 0 ? Tokens(engine) : Tokens(engine) + " (" + std::to_string(result) + ")";
}

TEST(XScriptLoad, SourcesGiveTheseTokens) {
    const std::string w(1023, 'w');  // a read takes at most 1023 bytes, a line of its own
    const std::pair<std::string, std::string> cases[] = {
        // clang-format off
        {"a+=b<=c==d", "wa s+= wb s<= wc s== wd"}, {"!a||b&&c", "s! wa s|| wb s&& wc"},
        {"a|b", "wa|b"} /* "|" alone is no symbol */, {"iffy", "sif wfy"}, {"shift", "wsh sif wt"},
        {"elsewhere{", "selse wwhere s{"}, {"x1 a.b\tc", "wx1 wa.b wc"}, {"sprint", "ws hprint"},
        {"GetVarEx(GetVar(", "hGetVarEx s( hGetVar s("}, {"1.2.3", "l1.2 l.3"}, {"12ab", "l12 wab"},
        {"x\"y\"", "wx ly"}, {"\"unterminated", "w\"unterminated"}, {"x = 1;  ", "wx s= l1 s; w"},
        {"\"ends in backslash\\", "w\"ends win wbackslash\\"}, {"   ", "w"}, {"\xe9t\xe9", "w\xe9t\xe9"},
        {R"("a\"b" "\\" "\r\n\b")", "la\"b l\\ l\r\n\b"},
        {R"("a\tb" "" "{" "7")", "latb l l{ l7"},  // other escapes give the byte itself
        // Minus after an operand is subtraction, otherwise negation (also first in the file).
        {"x=-1", "wx s= n- l1"}, {"x-1", "wx s- l1"}, {"5 - -1", "l5 s- n- l1"}, {"-1", "s- l1"},
        {"(a)-1", "s( wa s) s- l1"}, {"x =\n-1", "wx s= @2 n- l1"},
        {"x = \n-1", "wx s= w @2 s- l1"},  // a trailing blank leaves an empty word
        // "//" inside a block comment ends only the line; bad nesting stops loading.
        {"a /* b\nc */ d", "wa @2 wd"}, {"a // b */ c\nd", "wa @2 wd"}, {"/* // */\nx */ y", "@2 wy"},
        {"/* \"*/\" */ z", "wz"}, {"a /* open at the end", "wa"}, {"a */ b", "wa (-2)"},
        {"a /* b /* c */ d", "wa (-2)"},
        // A read of 1023 bytes is a line of its own; bytes after a zero byte are lost.
        {"a\n\nb c\n", "wa @3 wb wc"}, {w + "b\n" + w + "\nc", "w" + w + " @2 wb @3 w" + w + " @5 wc"},
        {std::string("a\0b c\nd", 7), "wa @2 wd"}, {"a\rb", "wa\rb"},
        {"x = 1;\r\ny = \"a\";\r\n", "wx s= l1 s; @2 wy s= la s;"},
        // clang-format on
    };
    for (const auto& [source, tokens] : cases)
        EXPECT_EQ(Loaded(source, {"print", "GetVar", "GetVarEx", ""}), tokens) << source;
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
    for (const auto& [start, size] : {std::pair{3, 4}, {99, 4}, {-1, 4}, {0, 0}})
        EXPECT_EQ(engine.Tokenize("abc", start, buffer, size, code), 0) << start << " " << size;
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
    EXPECT_EQ(Tokens(engine), "wlate s( l1 s) s; hlate s( l1 s) s;");
}

// clang-format off
std::string Show(const CXValue& value) { return value.Text() + "/" + std::to_string(value.Flag()); }

// Every variable, sorted, as "name=text " or, with flags, "name=text/flag ".
std::string Variables(const CXScript& engine, bool flags) {
    std::map<std::string, std::string> all;
    for (uint32_t b = 0; b < CXVariableTable::kBucketCount; ++b) { for (const CXVariable& v : engine.Variables().Bucket(b)) { all[v.name] = flags ? Show(v.value) : v.value.Text(); } }
    std::string text;
    for (const auto& [name, value] : all) { text += name + "=" + value + " "; }
    return text;
}

std::string events;  // host calls and syntax errors of the current run, in order

// f1, f2 and f3 take one, two and three values; p1 takes one and pushes its integer + 40.
int32_t Host(CXScript* engine, CXSymbol symbol) {
    std::vector<CXValue> arguments;
    engine->PopValues(symbol.text.back() == '3' ? 3 : symbol.text.back() == '2' ? 2 : 1, arguments, true);
    events += symbol.text + "(";
    for (size_t i = 0; i < arguments.size(); ++i) { events += (i ? ", " : "") + arguments[i].Text(); }
    events += ") ";
    if (symbol.text == "p1") { engine->PushValue(CXValue(arguments[0].ToInt() + 40)); }
    return -1;
}

// What a run of the source does: its host calls and errors, then its variables.
std::string RunScript(const std::string& source) {
    CXScript engine;
    for (const char* name : {"f1", "f2", "f3", "p1", "GetVar", "GetVarEx"}) { engine.RegisterFunction(name); }
    EXPECT_EQ(engine.LoadScriptText(source), 0) << source;
    engine.SetFunctionHandler(&Host);
    engine.SetErrorHandler([](const char* message, int32_t line) { events += message + ("@" + std::to_string(line)) + " "; });
    engine.SetStepLimit(100000);  // far above what these scripts need: a runaway loop fails
    events.clear();
    EXPECT_EQ(engine.Run(), 0);
    EXPECT_FALSE(engine.StepLimitReached()) << source;
    const std::string text = events + Variables(engine, false);
    return text.empty() ? text : text.substr(0, text.size() - 1);
}

TEST(XScriptRun, ScriptsLeaveTheseVariables) {
    const std::pair<const char*, const char*> cases[] = {
        // An unknown name reads as 0; "%" takes integers; && and || take integers, one level with + and -.
        {"a = 2 + 3 * 4; b = (2 + 3) * 4; c = 10 - 2 - 3; d = 12 / 2 / 3; e = 7 / 2;", "a=14.000000 b=20.000000 c=5.000000 d=2.000000 e=3.500000"},
        {"a = 7 % 3; b = 7.9 % 2.9; c = -3; d = -(2 + 3); e = \"7\" + 1; g = abc + 1;", "a=1 b=1 c=-3.000000 d=-5.000000 e=8.000000 g=1.000000"},
        {"a = 1 || 0 + 5; b = 0 && 1 + 3; c = !0; d = !2.5; e = !0.5;", "a=6.000000 b=3.000000 c=1 d=0 e=1"},
        {"a = 1 / 0; b = (0 - 1) / 0; c = 0 / 0; d = 5 % 0; e = 0 - 2147483648; g = e % (0 - 1);", "a=inf b=-inf c=nan d=0 e=-2147483648.000000 g=0"},
        {"a = 0.5 || 0; b = 2 && 3; c = 1 && 0; d = (0 || 0) + (\"abc\" || 0);", "a=0 b=1 c=0 d=0.000000"},
        // Comparisons and assignments share the weakest level, grouped from the right.
        {"a = 1; b = a == 1; x = y = 3; c = b < x;", "a=1.000000 b=1 c=1 x=3.000000 y=3.000000"},
        {"a = 1; b = 0; c = 5; d = 0; x = a == b && c == d;", "a=1.000000 b=0.000000 c=5.000000 d=0.000000 x=1"},  // a == ((b && c) == d)
        {"a = -5 < -3; b = -3 > -5; c = -1 < 2; d = 10 == 10.0; e = 10 < 9;", "a=0 b=0 c=1 d=1 e=0"},  // -5 < -3 by text
        {"a = \"abc\" < \"abd\"; b = \"abc\" == \"abc\"; c = 2 != 3; d = 3 <= 3; e = 2 >= 3;", "a=1 b=1 c=1 d=1 e=0"},
        {"x = 1; y = (x += 2); z = (w = 7 % 3);", "w=1 x=3.000000 y=2.000000 z=1.000000"},
        {"a = 10; a -= 4; a *= 2; a /= 4; b = 7; b %= 4; c = 6; c |= 1; d = 6; d &= 3; e = 6; e ^= 3;", "a=3.000000 b=3 c=7 d=2 e=5"},
        {"a = 5; a %= 0; b = 1; b /= 0; n -= 5; m *= 3; s = \"a\"; s += 1; t += \"x\";", "a=0 b=inf m=3.000000 n=5.000000 s=1.000000 t=x"},
        // Computed texts carry the name flag, so a variable of that name wins.
        {"5 = \"five\"; x = \"21\"; y = x * 2; z = 2 + 3;", "5.000000=five x=21.000000 y=42.000000 z=five"},
        // A prefix operator applies the waiting binary operator early ("x * a" names the target).
        {"a = 2; b = 3; x = a * -b; y = a * (-b);", "0.000000=-3.000000 a=2.000000 b=3.000000 y=-6.000000"},
        {"a = 1; b = 0; x = a && !b; y = a && (!b);", "0=1 a=1.000000 b=0.000000 y=1"},
        {"x = 5 - -1;", "-5.000000=-1.000000"}, {"x = (5 - -1); y = 5 - (-1);", "-5.000000=-1.000000 y=6.000000"},
        // Odd operands still assign; a stray ")" does nothing; too few values or an error drop the statement.
        {"5 = 1; x = y; ) z = 1; w = 1.2.3;", "1.200000=0.300000 5.000000=1.000000 x=y z=1.000000"},
        {"x = ; y = (1 ;", "syntax error@1"}, {"x = 1; { ; }\ny = 2;", "syntax error@1 x=1.000000 y=2.000000"},
        {"a = 1;\nif + 2;\nx = 1 , 2;\ny = 3;", "syntax error@2 syntax error@3 1.000000=2.000000 a=1.000000 y=3.000000"},
        // Host calls take their arguments from the value stack in source order; extras stay, missing ones are empty.
        {"x = 5; f3(1, \"a\", x); f3(y, 2 * 3, \"\");", "f3(1.000000, a, 5.000000) f3(y, 6.000000, ) x=5.000000"},
        {"x = f1(\"a\", \"b\");", "f1(b) x=a"}, {"f2(1); x = 9 + f2(2);", "f2(, 1.000000) f2(9.000000, 2.000000)"},
        // A call's value is what the function pushes; both operands of && and || always run.
        {"x = p1(2) + 1; y = p1(p1(1));", "p1(2.000000) p1(1.000000) p1(41) x=43.000000 y=81"},
        {"x = p1(0 - 40) && p1(1); y = p1(1) || p1(2);", "p1(-40.000000) p1(1.000000) p1(1.000000) p1(2.000000) x=0 y=1"},
        {"x = p1(5) % 2;", "syntax error@1 p1(2.000000) 5.000000=42"},
        {"GetVarEx(1); GetVar(2); x = h(4);", "GetVarEx(1.000000) GetVar(2.000000) h=4.000000"},  // the longest name wins
        // A condition with no value lets the block run; braces are found by text.
        {"if (0) { a = 1; } else { a = 2; } if (1) { b = 1; } else { b = 2; } if (0.9) { c = 1; } if (-1) { d = 1; } if () { e = 1; }",
         "a=2.000000 b=1.000000 d=1.000000 e=1.000000"},
        {"a = 3; if (a > 2) { b = 1; if (a > 5) { c = 1; } else { c = 2; } } d = 4;", "a=3.000000 b=1.000000 c=2.000000 d=4.000000"},
        {"if (0) { x = \"}\"; y = 1; } z = 2;", "syntax error@1 y=1.000000 z=2.000000"},
        {"if (1)   \n{ x = 1; } y = 2;", "y=2.000000"}, {"if (1)\n{ x = 1; } y = 2;", "x=1.000000 y=2.000000"},  // blanks: an empty word
        {"i = 0; while (i < 3) { i += 1; } while (0) { x = 1; } while (1) { break; } y = 5;", "i=3.000000 y=5.000000"},
        {"i = 0; n = 0; while (i < 3) { i += 1; continue; n += 100; }", "i=3.000000 n=0.000000"}, {"break; continue; x = 1;", "x=1.000000"},
        {"i = 0; while (i < 10) { i += 1; if (i == 4) { break; } }", "i=4.000000"},
        {"i = 0; t = 0; while (i < 3) { i += 1; j = 0; while (j < 2) { j += 1; t += 1; } }", "i=3.000000 j=2.000000 t=6.000000"},
        // The "}" of a block inside a loop jumps back to the "while".
        {"i = 0; n = 0; while (i < 3) { i += 1; if (1) { n += 1; } n += 10; }", "i=3.000000 n=3.000000"},
        {"i = 0; n = 0; while (i < 3) { i += 1; if (0) { n += 1; } n += 10; }", "i=3.000000 n=30.000000"},
        {"i = 0; while (i < 2) { i += 1; } x = \"while\"; y = 1;", "i=2.000000 x=while y=1.000000"},
        {"while (1)  \n{ x = 1; } y = 2;", "y=2.000000"},
    };
    // clang-format on
    for (const auto& [source, variables] : cases)
        EXPECT_EQ(RunScript(source), variables) << source;
}

TEST(XScriptEngine, PopValuesResolvesNamesAndReportsTooFewValues) {
    CXScript engine;
    engine.SetVariable("known", CXValue(7, 1));
    engine.PushValue(CXValue("known", 1));
    engine.PushValue(CXValue("unknown", 1));
    engine.PushValue(CXValue("known", 0));  // final text: not looked up
    std::vector<CXValue> list(9);
    // clang-format off
    const auto all = [&list] { std::string text; for (const CXValue& value : list) { text += Show(value) + " "; } return text; };
    // clang-format on
    ASSERT_EQ(engine.PopValues(3, list, true), 0);
    EXPECT_EQ(all(), "7.000000/0 unknown/1 known/0 ");  // the variable's "7", rewritten
    engine.PushValue(CXValue("known", 1));
    ASSERT_EQ(engine.PopValues(1, list, false), 0);
    EXPECT_EQ(all(), "known/1 ");
    engine.PushValue(CXValue("last", 0));
    EXPECT_EQ(engine.PopValues(3, list, true), -1);
    EXPECT_EQ(all(), "/1 /1 last/0 ");  // entries not reached are empty, not left from before
    EXPECT_EQ(engine.ValueStackDepth(), 0);
}

// The variables as text/flag, the open loops, and the steps of a run the limit stopped.
std::string State(const CXScript& engine) {
    return Variables(engine, true) + "loops " + std::to_string(engine.LoopStackDepth()) +
           (engine.StepLimitReached() ? " stopped at " + std::to_string(engine.StepsTaken()) : "");
}

TEST(XScriptEngine, RunsLeaveTheseVariablesLoopsAndSteps) {
    // clang-format off
    const struct { const char* source; int runs; uint64_t limit; const char* state; } cases[] = {
        {"a = 5; b = a; c = 2 + 3; d = unknownName; e = f(3);", 1, 0,  // f has no handler: its arguments stay
         "a=5.000000/0 b=5.000000/0 c=5.000000/1 d=unknownName/1 e=3.000000/0 loops 0"},
        {"n += 1; while (1) { x = 1;", 3, 0, "n=3.000000/1 x=1.000000/0 loops 1"},  // re-entering an open loop pushes nothing
        {"i = 0; while (i < 2) { i += 1; } while (1) { break; } while (0) { }", 1, 0, "i=2.000000/1 loops 0"},
        {"i = 0; while (i < 1000) { i += 1; }", 1, 0, "i=1000.000000/1 loops 0"},
        {"n += 1; i = 0; while (i < 1000) { i += 1; }", 2, 50, "i=3.000000/1 n=2.000000/1 loops 1 stopped at 50"},
    };
    // clang-format on
    for (const auto& c : cases) {
        CXScript engine;
        engine.RegisterFunction("f");
        engine.LoadScriptText(c.source);
        engine.SetStepLimit(c.limit);
        for (int i = 0; i < c.runs; ++i)
            engine.Run();
        EXPECT_EQ(State(engine), c.state) << c.source;
    }
}

TEST(XScriptEngine, ResetStateClearsVariablesAndALimitOfZeroLetsRunsFinish) {
    CXScript engine;
    engine.LoadScriptText("n += 1; while (1) { x = 1;");
    engine.SetStepLimit(2);
    engine.Run();
    EXPECT_EQ(State(engine), "loops 0 stopped at 2");
    engine.SetStepLimit(0);
    engine.Run();
    EXPECT_EQ(engine.ResetState(), 0);
    EXPECT_EQ(State(engine), "loops 1");
    engine.Run();  // the tokens stay
    EXPECT_EQ(State(engine), "n=1.000000/0 x=1.000000/0 loops 1");
}

TEST(XScriptEngine, HostFunctionsMayGrowTheTokenListDuringARun) {
    CXScript engine;
    engine.RegisterFunction("f");
    engine.LoadScriptText("x = 1 + f(2) + 3; y = 4;");
    engine.SetFunctionHandler(
        [](CXScript* self, CXSymbol) { return self->LoadScriptText(std::string(5000, ';')); });
    engine.Run();
    EXPECT_EQ(engine.GetVariable("y")->value.Text(), "4.000000");
    EXPECT_GT(engine.Tokens().size(), 5000u);
}

}  // namespace

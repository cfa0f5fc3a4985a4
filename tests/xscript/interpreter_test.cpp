// What scripts compute: expressions, assignments, control flow and host calls, quirks included.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "xscript/xscript.h"

namespace {

std::string events;  // host calls and syntax errors of the current run, in order

// f1, f2 and f3 take one, two and three values; p1 takes one and pushes its integer + 40.
int32_t Host(CXScript* engine, CXSymbol symbol) {
    std::vector<CXValue> arguments;
    engine->PopValues(symbol.text.back() == '3'   ? 3
                      : symbol.text.back() == '2' ? 2
                                                  : 1,
                      arguments, true);
    events += symbol.text + "(";
    for (size_t i = 0; i < arguments.size(); ++i) {
        events += (i ? ", " : "") + arguments[i].Text();
    }
    events += ") ";
    if (symbol.text == "p1") {
        engine->PushValue(CXValue(arguments[0].ToInt() + 40));
    }
    return -1;
}

// What a run of the source does: its host calls and errors, then every variable it leaves,
// sorted, as "name=value".
std::string RunScript(const std::string& source) {
    CXScript engine;
    for (const char* name : {"f1", "f2", "f3", "p1", "GetVar", "GetVarEx"}) {
        engine.RegisterFunction(name);
    }
    EXPECT_EQ(engine.LoadScriptText(source), 0) << source;
    engine.SetFunctionHandler(&Host);
    engine.SetErrorHandler([](const char* message, int32_t line) {
        events += message + ("@" + std::to_string(line)) + " ";
    });
    engine.SetStepLimit(100000);  // far above what these scripts need: a runaway loop fails
    events.clear();
    EXPECT_EQ(engine.Run(), 0);
    EXPECT_FALSE(engine.StepLimitReached()) << source;
    std::map<std::string, std::string> all;
    for (uint32_t b = 0; b < CXVariableTable::kBucketCount; ++b) {
        for (const CXVariable& variable : engine.Variables().Bucket(b)) {
            all[variable.name] = variable.value.Text();
        }
    }
    std::string text = events;
    for (const auto& [name, value] : all) {
        text += name + "=" + value + " ";
    }
    return text.empty() ? text : text.substr(0, text.size() - 1);
}

TEST(XScriptRun, ScriptsLeaveTheseVariables) {
    const std::pair<const char*, const char*> cases[] = {
        // Arithmetic binds and groups by the table; an unknown name reads as 0, "%" takes the
        // integers (7 and 2), && and || take integers and are one level with + and -.
        {"a = 2 + 3 * 4; b = (2 + 3) * 4; c = 10 - 2 - 3; d = 12 / 2 / 3; e = 7 / 2;",
         "a=14.000000 b=20.000000 c=5.000000 d=2.000000 e=3.500000"},
        {"a = 7 % 3; b = 7.9 % 2.9; c = -3; d = -(2 + 3); e = \"7\" + 1; g = abc + 1;",
         "a=1 b=1 c=-3.000000 d=-5.000000 e=8.000000 g=1.000000"},
        {"a = 1 || 0 + 5; b = 0 && 1 + 3; c = !0; d = !2.5; e = !0.5;",
         "a=6.000000 b=3.000000 c=1 d=0 e=1"},
        {"a = 1 / 0; b = (0 - 1) / 0; c = 0 / 0; d = 5 % 0; e = 0 - 2147483648; g = e % (0 - 1);",
         "a=inf b=-inf c=nan d=0 e=-2147483648.000000 g=0"},
        {"a = 0.5 || 0; b = 2 && 3; c = 1 && 0; d = (0 || 0) + (\"abc\" || 0);",
         "a=0 b=1 c=0 d=0.000000"},
        // Comparisons and assignments share the weakest level, grouped from the right; an
        // assignment gives its right side.
        {"a = 1; b = a == 1; x = y = 3; c = b < x;", "a=1.000000 b=1 c=1 x=3.000000 y=3.000000"},
        {"a = 1; b = 0; c = 5; d = 0; x = a == b && c == d;",  // a == ((b && c) == d)
         "a=1.000000 b=0.000000 c=5.000000 d=0.000000 x=1"},
        {"a = -5 < -3; b = -3 > -5; c = -1 < 2; d = 10 == 10.0; e = 10 < 9;",  // -5 < -3 by text
         "a=0 b=0 c=1 d=1 e=0"},
        {"a = \"abc\" < \"abd\"; b = \"abc\" == \"abc\"; c = 2 != 3; d = 3 <= 3; e = 2 >= 3;",
         "a=1 b=1 c=1 d=1 e=0"},
        {"x = 1; y = (x += 2); z = (w = 7 % 3);", "w=1 x=3.000000 y=2.000000 z=1.000000"},
        // Compound assignments combine existing variables; a new one takes the right side.
        {"a = 10; a -= 4; a *= 2; a /= 4; b = 7; b %= 4; c = 6; c |= 1; d = 6; d &= 3; e = 6; "
         "e ^= 3;",
         "a=3.000000 b=3 c=7 d=2 e=5"},
        {"a = 5; a %= 0; b = 1; b /= 0; n -= 5; m *= 3; s = \"a\"; s += 1; t += \"x\";",
         "a=0 b=inf m=3.000000 n=5.000000 s=1.000000 t=x"},
        // Computed texts carry the name flag, so a variable of that name wins.
        {"5 = \"five\"; x = \"21\"; y = x * 2; z = 2 + 3;",
         "5.000000=five x=21.000000 y=42.000000 z=five"},
        // A prefix operator applies the waiting binary operator early: "*" is applied to x and
        // a, and "=" assigns -b to the variable named by that product.
        {"a = 2; b = 3; x = a * -b; y = a * (-b);",
         "0.000000=-3.000000 a=2.000000 b=3.000000 y=-6.000000"},
        {"a = 1; b = 0; x = a && !b; y = a && (!b);", "0=1 a=1.000000 b=0.000000 y=1"},
        {"x = 5 - -1;", "-5.000000=-1.000000"},
        {"x = (5 - -1); y = 5 - (-1);", "-5.000000=-1.000000 y=6.000000"},
        // Odd operands still assign; an unknown name is its own value; a stray ")" at the top
        // level does nothing; too few values or an error drop the statement.
        {"5 = 1; x = y; ) z = 1; w = 1.2.3;", "1.200000=0.300000 5.000000=1.000000 x=y z=1.000000"},
        {"x = ; y = (1 ;", "syntax error@1"},
        {"x = 1; { ; }\ny = 2;", "syntax error@1 x=1.000000 y=2.000000"},
        {"a = 1;\nif + 2;\nx = 1 , 2;\ny = 3;",
         "syntax error@2 syntax error@3 1.000000=2.000000 a=1.000000 y=3.000000"},
        // Host calls take their arguments from the value stack, in source order, resolved.
        {"x = 5; f3(1, \"a\", x); f3(y, 2 * 3, \"\");",
         "f3(1.000000, a, 5.000000) f3(y, 6.000000, ) x=5.000000"},
        // An extra argument stays on the stack below: here the assignment takes it.
        {"x = f1(\"a\", \"b\");", "f1(b) x=a"},
        // Too few: the missing entry stays empty, or the call takes a value of the surrounding
        // expression, whose "+" then has too few values and is dropped.
        {"f2(1); x = 9 + f2(2);", "f2(, 1.000000) f2(9.000000, 2.000000)"},
        // A call's value is what the function pushes; both operands of && and || always run.
        {"x = p1(2) + 1; y = p1(p1(1));", "p1(2.000000) p1(1.000000) p1(41) x=43.000000 y=81"},
        {"x = p1(0 - 40) && p1(1); y = p1(1) || p1(2);",
         "p1(-40.000000) p1(1.000000) p1(1.000000) p1(2.000000) x=0 y=1"},
        {"x = p1(5) % 2;", "syntax error@1 p1(2.000000) 5.000000=42"},
        // The longest registered name wins; "h (4)" is a word and a parenthesised value.
        {"GetVarEx(1); GetVar(2); x = h(4);", "GetVarEx(1.000000) GetVar(2.000000) h=4.000000"},
        // If and else choose blocks; a condition with no value lets the block run.
        {"if (0) { a = 1; } else { a = 2; } if (1) { b = 1; } else { b = 2; } if (0.9) { c = 1; "
         "} if (-1) { d = 1; } if () { e = 1; }",
         "a=2.000000 b=1.000000 d=1.000000 e=1.000000"},
        {"a = 3; if (a > 2) { b = 1; if (a > 5) { c = 1; } else { c = 2; } } d = 4;",
         "a=3.000000 b=1.000000 c=2.000000 d=4.000000"},
        {"if (0) { x = \"}\"; y = 1; } z = 2;",  // braces are found by text
         "syntax error@1 y=1.000000 z=2.000000"},
        {"if (1)   \n{ x = 1; } y = 2;", "y=2.000000"},  // blanks after ")": an empty word
        {"if (1)\n{ x = 1; } y = 2;", "x=1.000000 y=2.000000"},
        // Loops repeat until their condition fails.
        {"i = 0; while (i < 3) { i += 1; } while (0) { x = 1; } while (1) { break; } y = 5;",
         "i=3.000000 y=5.000000"},
        {"i = 0; n = 0; while (i < 3) { i += 1; continue; n += 100; }", "i=3.000000 n=0.000000"},
        {"break; continue; x = 1;", "x=1.000000"},
        {"i = 0; while (i < 10) { i += 1; if (i == 4) { break; } }", "i=4.000000"},
        {"i = 0; t = 0; while (i < 3) { i += 1; j = 0; while (j < 2) { j += 1; t += 1; } }",
         "i=3.000000 j=2.000000 t=6.000000"},
        // The "}" of a block inside a loop jumps back to the "while": what follows the block
        // runs only while the block is skipped.
        {"i = 0; n = 0; while (i < 3) { i += 1; if (1) { n += 1; } n += 10; }",
         "i=3.000000 n=3.000000"},
        {"i = 0; n = 0; while (i < 3) { i += 1; if (0) { n += 1; } n += 10; }",
         "i=3.000000 n=30.000000"},
        {"i = 0; while (i < 2) { i += 1; } x = \"while\"; y = 1;", "i=2.000000 x=while y=1.000000"},
        {"while (1)  \n{ x = 1; } y = 2;", "y=2.000000"},
    };
    for (const auto& [source, variables] : cases) {
        EXPECT_EQ(RunScript(source), variables) << source;
    }
}

}  // namespace

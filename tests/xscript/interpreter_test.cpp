// What scripts compute: expressions, assignments and control flow, quirks included.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "xscript/xscript.h"

namespace {

using Variables = std::map<std::string, std::string>;

Variables AllVariables(const CXScript& engine) {
    Variables all;
    for (uint32_t b = 0; b < CXVariableTable::kBucketCount; ++b) {
        for (const CXVariable& variable : engine.Variables().Bucket(b)) {
            all[variable.name] = variable.value.Text();
        }
    }
    return all;
}

Variables RunScript(const std::string& source) {
    CXScript engine;
    EXPECT_EQ(engine.LoadScriptText(source), 0) << source;
    // A limit far above what these scripts need turns a runaway loop into a failure.
    engine.SetStepLimit(100000);
    EXPECT_EQ(engine.Run(), 0);
    EXPECT_FALSE(engine.StepLimitReached()) << source;
    return AllVariables(engine);
}

struct ScriptCase {
    const char* source;
    Variables variables;  // every variable the run leaves, exactly
};

void ExpectScripts(const std::vector<ScriptCase>& cases) {
    for (const ScriptCase& c : cases) {
        EXPECT_EQ(RunScript(c.source), c.variables) << c.source;
    }
}

TEST(XScriptRun, ArithmeticBindsAndGroupsByTheTable) {
    ExpectScripts({
        {"x = 2 + 3 * 4;", {{"x", "14.000000"}}},
        {"x = (2 + 3) * 4;", {{"x", "20.000000"}}},
        {"x = 10 - 2 - 3;", {{"x", "5.000000"}}},
        {"x = 12 / 2 / 3;", {{"x", "2.000000"}}},
        {"x = 7 / 2;", {{"x", "3.500000"}}},
        {"x = 7 % 3;", {{"x", "1"}}},
        {"x = 7.9 % 2.9;", {{"x", "1"}}},  // remainder of the integers 7 and 2
        {"x = -3;", {{"x", "-3.000000"}}},
        {"x = -(2 + 3);", {{"x", "-5.000000"}}},
        {"x = \"7\" + 1;", {{"x", "8.000000"}}},
        {"x = abc + 1;", {{"x", "1.000000"}}},     // an unknown name reads as 0
        {"x = 1 || 0 + 5;", {{"x", "6.000000"}}},  // (1 || 0) + 5
        {"x = 0 && 1 + 3;", {{"x", "3.000000"}}},  // (0 && 1) + 3
        {"x = !0; y = !2.5; z = !0.5;", {{"x", "1"}, {"y", "0"}, {"z", "1"}}},
        {"x = 1 / 0; y = (0 - 1) / 0; z = 0 / 0;", {{"x", "inf"}, {"y", "-inf"}, {"z", "nan"}}},
        {"x = 5 % 0; a = 0 - 2147483648; b = a % (0 - 1);",
         {{"x", "0"}, {"a", "-2147483648.000000"}, {"b", "0"}}},
    });
}

TEST(XScriptRun, ComparisonsAndAssignmentsShareTheWeakestLevelGroupedFromTheRight) {
    ExpectScripts({
        {"a = 1; b = a == 1;", {{"a", "1.000000"}, {"b", "1"}}},
        {"x = y = 3;", {{"x", "3.000000"}, {"y", "3.000000"}}},
        {"b = 2; c = 5; a = b < c;", {{"a", "1"}, {"b", "2.000000"}, {"c", "5.000000"}}},
        // a == ((b && c) == d), not (a == b) && (c == d)
        {"a = 1; b = 0; c = 5; d = 0; x = a == b && c == d;",
         {{"a", "1.000000"}, {"b", "0.000000"}, {"c", "5.000000"}, {"d", "0.000000"}, {"x", "1"}}},
        {"x = -5 < -3; y = -3 > -5; z = -1 < 2;", {{"x", "0"}, {"y", "0"}, {"z", "1"}}},
        {"x = 10 == 10.0; y = 10 < 9; z = \"abc\" < \"abd\"; w = \"abc\" == \"abc\";",
         {{"x", "1"}, {"y", "0"}, {"z", "1"}, {"w", "1"}}},
        {"x = 2 != 3; y = 3 <= 3; z = 2 >= 3;", {{"x", "1"}, {"y", "1"}, {"z", "0"}}},
        // The value of an assignment is its right side.
        {"x = 1; y = (x += 2);", {{"x", "3.000000"}, {"y", "2.000000"}}},
        {"y = (x = 7 % 3);", {{"x", "1"}, {"y", "1.000000"}}},
    });
}

TEST(XScriptRun, CompoundAssignmentsCombineExistingVariablesAndCreateNewOnes) {
    ExpectScripts({
        {"x = 10; x -= 4; x *= 2; x /= 4;", {{"x", "3.000000"}}},
        {"x = 7; x %= 4;", {{"x", "3"}}},
        {"x = 6; x |= 1; y = 6; y &= 3; z = 6; z ^= 3;", {{"x", "7"}, {"y", "2"}, {"z", "5"}}},
        {"x = 5; x %= 0;", {{"x", "0"}}},
        {"x = 1; x /= 0;", {{"x", "inf"}}},
        // A new variable takes the right side as it is, whatever the operator.
        {"n -= 5; m *= 3; s = \"a\"; s += 1;",
         {{"n", "5.000000"}, {"m", "3.000000"}, {"s", "1.000000"}}},
        {"t += \"x\";", {{"t", "x"}}},
    });
}

TEST(XScriptRun, PrefixOperatorsApplyTheWaitingBinaryOperatorEarly) {
    ExpectScripts({
        // "*" is applied to x and a when the negation arrives; the "=" then assigns -b to
        // the variable named by that product.
        {"a = 2; b = 3; x = a * -b;",
         {{"a", "2.000000"}, {"b", "3.000000"}, {"0.000000", "-3.000000"}}},
        {"a = 2; b = 3; x = a * (-b);", {{"a", "2.000000"}, {"b", "3.000000"}, {"x", "-6.000000"}}},
        {"a = 1; b = 0; x = a && !b;", {{"a", "1.000000"}, {"b", "0.000000"}, {"0", "1"}}},
        {"a = 1; b = 0; x = a && (!b);", {{"a", "1.000000"}, {"b", "0.000000"}, {"x", "1"}}},
        // The "-" is applied to x and 5 when the negation arrives, even inside parentheses.
        {"x = 5 - -1;", {{"-5.000000", "-1.000000"}}},
        {"x = (5 - -1);", {{"-5.000000", "-1.000000"}}},
        {"x = 5 - (-1);", {{"x", "6.000000"}}},
    });
}

TEST(XScriptRun, OddOperandsStillAssign) {
    ExpectScripts({
        {"5 = 1;", {{"5.000000", "1.000000"}}},
        {"x = y;", {{"x", "y"}}},           // an unknown name is its own value
        {") x = 1;", {{"x", "1.000000"}}},  // a stray ")" at the top level does nothing
        {"x = 1.2.3;", {{"1.200000", "0.300000"}}},
        {"x = ;", {}},  // too few values: the assignment is dropped
        {"x = (1 ;", {}},
    });
}

TEST(XScriptRun, IfAndElseChooseBlocks) {
    ExpectScripts({
        {"if (0) { x = 1; } else { x = 2; }", {{"x", "2.000000"}}},
        {"if (1) { x = 1; } else { x = 2; }", {{"x", "1.000000"}}},
        {"if (0.9) { x = 1; } y = 2;", {{"y", "2.000000"}}},
        {"if (-1) { x = 1; }", {{"x", "1.000000"}}},
        {"a = 3; if (a > 2) { b = 1; if (a > 5) { c = 1; } else { c = 2; } } d = 4;",
         {{"a", "3.000000"}, {"b", "1.000000"}, {"c", "2.000000"}, {"d", "4.000000"}}},
        // A condition with no value leaves "if" without an operand: the block runs.
        {"if () { x = 1; }", {{"x", "1.000000"}}},
        // Braces are found by text, so a literal "}" ends a skipped block early.
        {"if (0) { x = \"}\"; y = 1; } z = 2;", {{"y", "1.000000"}, {"z", "2.000000"}}},
        // Blanks after ")" leave an empty word, which is the condition and is false.
        {"if (1)   \n{ x = 1; } y = 2;", {{"y", "2.000000"}}},
        {"if (1)\n{ x = 1; } y = 2;", {{"x", "1.000000"}, {"y", "2.000000"}}},
    });
}

TEST(XScriptRun, LoopsRepeatUntilTheirConditionFails) {
    ExpectScripts({
        {"i = 0; while (i < 3) { i += 1; }", {{"i", "3.000000"}}},
        {"while (0) { x = 1; } y = 2;", {{"y", "2.000000"}}},
        {"while (1) { break; } x = 5;", {{"x", "5.000000"}}},
        {"i = 0; n = 0; while (i < 3) { i += 1; continue; n += 100; }",
         {{"i", "3.000000"}, {"n", "0.000000"}}},
        {"break; continue; x = 1;", {{"x", "1.000000"}}},
        {"i = 0; while (i < 10) { i += 1; if (i == 4) { break; } }", {{"i", "4.000000"}}},
        {"i = 0; t = 0; while (i < 3) { i += 1; j = 0; while (j < 2) { j += 1; t += 1; } }",
         {{"i", "3.000000"}, {"j", "2.000000"}, {"t", "6.000000"}}},
        // The "}" of a block inside a loop body jumps back to the loop's "while", so the
        // statements after it run only while that block is skipped.
        {"i = 0; n = 0; while (i < 3) { i += 1; if (1) { n += 1; } n += 10; }",
         {{"i", "3.000000"}, {"n", "3.000000"}}},
        {"i = 0; n = 0; while (i < 3) { i += 1; if (0) { n += 1; } n += 10; }",
         {{"i", "3.000000"}, {"n", "30.000000"}}},
        {"i = 0; while (i < 2) { i += 1; } x = \"while\"; y = 1;",
         {{"i", "2.000000"}, {"x", "while"}, {"y", "1.000000"}}},
        // Blanks before a loop's "{" on the next line make the condition false.
        {"while (1)  \n{ x = 1; } y = 2;", {{"y", "2.000000"}}},
    });
}

TEST(XScriptRun, LogicalOperatorsTakeIntegers) {
    ExpectScripts({
        {"x = 0.5 || 0; y = 2 && 3; z = 1 && 0;", {{"x", "0"}, {"y", "1"}, {"z", "0"}}},
        {"x = (0 || 0) + (\"abc\" || 0);", {{"x", "0.000000"}}},
    });
}

}  // namespace

#include "xscript/value.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

using xscript::CompareValues;
using xscript::FormatDouble;
using xscript::IsNumericText;
using xscript::TextToDouble;
using xscript::TextToInt;

TEST(XScriptValue, NumericTextIsDigitsWithAtMostOnePointAndNoSign) {
    const struct {
        std::string text;
        bool numeric;
    } cases[] = {
        {"5", true},   {".", true},    {"0.5", true},    {".5", true},  {"5.", true},
        {"007", true}, {"", false},    {"1.2.3", false}, {"..", false}, {"-5.000000", false},
        {"+1", false}, {"1e5", false}, {"abc", false},   {"5a", false}, {" 5", false},
        {"5 ", false}, {"inf", false}, {"nan", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsNumericText(c.text), c.numeric) << "'" << c.text << "'";
    }
}

TEST(XScriptValue, TextConstructorRewritesNumericTextsWithPercentF) {
    const struct {
        std::string text;
        std::string stored;
    } cases[] = {
        {"5", "5.000000"},
        {"3.5", "3.500000"},
        {".5", "0.500000"},
        {"5.", "5.000000"},
        {".", "0.000000"},
        {"0", "0.000000"},
        {"007", "7.000000"},
        {"12", "12.000000"},
        {"0.1234567", "0.123457"},
        {"123456789012345", "123456789012345.000000"},
        {"12345678901234567890", "12345678901234567168.000000"},
        {"0.0000005", "0.000000"},
        {"1.2.3", "1.2.3"},
        {"abc", "abc"},
        {"-2.000000", "-2.000000"},
        {"1e5", "1e5"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CXValue(c.text).Text(), c.stored) << "'" << c.text << "'";
        CXValue set(7);
        set.SetText(c.text);
        EXPECT_EQ(set.Text(), c.stored) << "SetText '" << c.text << "'";
    }
}

TEST(XScriptValue, IntegerAndDoubleConstructorsPrintWithPercentDAndPercentF) {
    EXPECT_EQ(CXValue(7).Text(), "7");
    EXPECT_EQ(CXValue(-7).Text(), "-7");
    EXPECT_EQ(CXValue(INT32_MIN).Text(), "-2147483648");
    EXPECT_EQ(CXValue(7.0).Text(), "7.000000");
    EXPECT_EQ(CXValue(-0.0).Text(), "-0.000000");
    EXPECT_EQ(CXValue(2.5).Text(), "2.500000");
    EXPECT_EQ(CXValue(-1e15).Text(), "-1000000000000000.000000");
    EXPECT_EQ(CXValue(1e20).Text(), "100000000000000000000.000000");
    // Large doubles are stored whole, however long their text.
    EXPECT_EQ(CXValue(DBL_MAX).Text().size(), 309u + 7u);
    // The text 7 and the integer 7 are different texts but compare equal as numbers.
    EXPECT_EQ(CompareValues(CXValue("7"), CXValue(7)), 0);
}

TEST(XScriptValue, InfinityAndNotANumberHaveFixedTexts) {
    EXPECT_EQ(FormatDouble(HUGE_VAL), "inf");
    EXPECT_EQ(FormatDouble(-HUGE_VAL), "-inf");
    EXPECT_EQ(FormatDouble(std::nan("")), "nan");
    EXPECT_EQ(FormatDouble(-std::nan("")), "nan");
}

TEST(XScriptValue, PercentFMatchesTheCRuntimeForManyDoubles) {
    std::mt19937_64 random(20261205);
    std::uniform_int_distribution<int> exponent(-12, 40);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    for (int i = 0; i < 20000; ++i) {
        double value = mantissa(random) * std::pow(10.0, exponent(random));
        if (i % 4 == 0) {
            value = std::round(value);  // whole numbers take their own path
        } else if (i % 4 == 1) {
            value = std::round(value * 8.0) / 8.0;  // exact binary fractions, halfway cases
        }
        char expected[400];
        std::snprintf(expected, sizeof expected, "%f", value);
        ASSERT_EQ(FormatDouble(value), expected) << value;
    }
}

TEST(XScriptValue, NumericTextsConvertAndRewriteLikeTheCRuntime) {
    // Random numeric texts of every shape: leading zeros, with and without a point, short
    // and long, canonical "%f" texts among them.
    std::mt19937_64 random(77);
    std::uniform_int_distribution<int> length(0, 22);
    std::uniform_int_distribution<int> digit(0, 9);
    for (int i = 0; i < 50000; ++i) {
        std::string text;
        const int integerDigits = length(random) % (i % 3 == 0 ? 10 : 23);
        for (int d = 0; d < integerDigits; ++d) {
            text += static_cast<char>('0' + digit(random));
        }
        if (i % 5 != 0) {
            text += '.';
            const int fractionDigits = i % 2 == 0 ? 6 : length(random);
            for (int d = 0; d < fractionDigits; ++d) {
                text += static_cast<char>('0' + digit(random));
            }
        }
        if (text.empty()) {
            continue;
        }
        const double expected = std::strtod(text.c_str(), nullptr);
        ASSERT_EQ(TextToDouble(text), expected) << text;
        ASSERT_EQ(TextToDouble("-" + text), -expected) << text;
        char printed[400];
        std::snprintf(printed, sizeof printed, "%f", expected);
        ASSERT_EQ(xscript::RewriteNumericText(text), printed) << text;
    }
}

TEST(XScriptValue, FlagsFollowTheConstructorAndSettersKeepThem) {
    EXPECT_EQ(CXValue().Text(), "");
    EXPECT_EQ(CXValue().Flag(), 1);
    EXPECT_EQ(CXValue("x").Flag(), 1);
    EXPECT_EQ(CXValue("x", 0).Flag(), 0);
    EXPECT_EQ(CXValue(3, 0).Flag(), 0);
    EXPECT_EQ(CXValue(3.0, 0).Flag(), 0);
    EXPECT_EQ(CXValue(3.0).Flag(), 1);

    CXValue value("name", 0);
    value.SetText("12");
    EXPECT_EQ(value.Text(), "12.000000");
    value.SetInt(-4);
    EXPECT_EQ(value.Text(), "-4");
    value.SetDouble(0.25);
    EXPECT_EQ(value.Text(), "0.250000");
    EXPECT_EQ(value.Flag(), 0);
    value.SetFlag(1);
    EXPECT_EQ(value.Flag(), 1);
    EXPECT_EQ(value.Text(), "0.250000");
    // A value's own text can be set again, numeric or not.
    value.SetText(value.Text());
    EXPECT_EQ(value.Text(), "0.250000");
    CXValue word("12abc");
    word.SetText(word.Text());
    EXPECT_EQ(word.Text(), "12abc");
}

TEST(XScriptValue, ToIntReadsSignAndLeadingDigitsOnly) {
    const struct {
        std::string text;
        int32_t value;
    } cases[] = {
        {"5.000000", 5},
        {"-2.000000", -2},
        {"0.5", 0},
        {"abc", 0},
        {"", 0},
        {"  42x", 42},
        {"\t\n-3", -3},
        {"+7", 7},
        {"- 3", 0},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"99999999999999", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-99999999999", INT32_MIN},
        {"1e5", 1},
        {"inf", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TextToInt(c.text), c.value) << "'" << c.text << "'";
        EXPECT_EQ(CXValue(c.text).ToInt(), c.value) << "'" << c.text << "'";
    }
}

TEST(XScriptValue, ToDoubleReadsTheLongestDecimalPrefix) {
    const struct {
        std::string text;
        double value;
    } cases[] = {
        {"3.5", 3.5},        {" -2.5e2x", -250.0},  {"1e", 1.0},     {"1e+", 1.0},
        {"1E3", 1000.0},     {".5", 0.5},           {"5.", 5.0},     {"+.5e1", 5.0},
        {".", 0.0},          {"abc", 0.0},          {"", 0.0},       {"0x10", 0.0},
        {"inf", 0.0},        {"nan", 0.0},          {"-", 0.0},      {"1.2.3", 1.2},
        {"1e400", HUGE_VAL}, {"-1e400", -HUGE_VAL}, {"1e-400", 0.0}, {"0.0001e-330", 0.0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TextToDouble(c.text), c.value) << "'" << c.text << "'";
    }
    EXPECT_EQ(TextToDouble(std::string(400, '9')), HUGE_VAL);
    EXPECT_EQ(TextToDouble("0." + std::string(400, '0') + "1"), 0.0);
}

TEST(XScriptValue, TruthIsANonZeroInteger) {
    EXPECT_FALSE(CXValue("0.900000").Truth());
    EXPECT_TRUE(CXValue("-1.000000").Truth());
    EXPECT_FALSE(CXValue("abc").Truth());
    EXPECT_TRUE(CXValue("1").Truth());
    EXPECT_FALSE(CXValue("").Truth());
}

TEST(XScriptValue, ComparisonIsNumericOnlyWhenBothTextsAreNumeric) {
    const struct {
        std::string left;
        std::string right;
        int order;  // sign of the comparison
    } cases[] = {
        {"-1.000000", "2.000000", -1},  // minus sorts before the digit 2
        {"-5.000000", "-3.000000", 1},  // by text, so -5 is not below -3
        {"-3.000000", "-5.000000", -1},
        {"abc", "abd", -1},
        {"10", "9", 1},  // both numeric: by value
        {"10.000000", "10", 0},
        {"abc", "abc", 0},
        {"ab", "abc", -1},  // a prefix is the smaller
        {"", "a", -1},
        {"\xe9", "z", 1},  // bytes compare unsigned
        {"10a", "9", -1},  // one side not numeric: by text
        {".", "0", 0},
    };
    for (const auto& c : cases) {
        CXValue left(c.left);
        CXValue right(c.right);
        const int order = CompareValues(left, right);
        EXPECT_EQ((order > 0) - (order < 0), c.order) << c.left << " vs " << c.right;
    }
}

}  // namespace

#include "xscript/value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <random>
#include <string>

namespace {

using namespace xscript;

std::string PrintfF(double value) {
    char text[400];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

// Random doubles print like "%f"; random numeric texts of every shape (leading zeros, with and
// without a point, short and long, canonical "%f" texts among them) convert like strtod and are
// stored as their "%f" text.
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
        if (text.empty()) {
            continue;
        }
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

TEST(XScriptValue, NonNumericTextsAreKeptAsWritten) {
    for (const std::string text : {"", "1.2.3", "..", "-5.000000", "+1", "1e5", "abc", "5a", " 5",
                                   "5 ", "inf", "nan", "12abc"}) {
        EXPECT_FALSE(IsNumericText(text)) << text;
        EXPECT_EQ(CXValue(text).Text(), text);
        CXValue set(7);
        set.SetText(text);
        EXPECT_EQ(set.Text(), text);
    }
}

TEST(XScriptValue, FlagsFollowTheConstructorAndSettersKeepThem) {
    EXPECT_EQ(CXValue().Text(), "");
    EXPECT_EQ(CXValue().Flag() + CXValue("x").Flag() + CXValue(3.0).Flag() + CXValue(3).Flag(), 4);
    EXPECT_EQ(CXValue("x", 0).Flag() + CXValue(3, 0).Flag() + CXValue(3.0, 0).Flag(), 0);
    CXValue value("name", 0);
    value.SetInt(-4);
    EXPECT_EQ(value.Text(), "-4");
    value.SetDouble(0.25);
    value.SetText(value.Text());  // a value's own text can be set again
    EXPECT_EQ(value.Text() + std::to_string(value.Flag()), "0.2500000");
    value.SetFlag(1);
    EXPECT_EQ(value.Flag(), 1);
}

TEST(XScriptValue, ToIntReadsSignAndLeadingDigitsOnlyAndTruthIsNonZero) {
    const std::pair<std::string, int32_t> cases[] = {
        // clang-format off
        {"5.000000", 5}, {"-2.000000", -2}, {"0.5", 0}, {"abc", 0}, {"", 0}, {"  42x", 42},
        {"\t\n-3", -3}, {"+7", 7}, {"- 3", 0}, {"1e5", 1}, {"inf", 0}, {"0.900000", 0}, {"1", 1},
        {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX}, {"99999999999999", INT32_MAX},
        {"-2147483648", INT32_MIN}, {"-99999999999", INT32_MIN},
        // clang-format on
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(TextToInt(text), value) << "'" << text << "'";
        EXPECT_EQ(CXValue(text).ToInt(), value) << "'" << text << "'";
        EXPECT_EQ(CXValue(text).Truth(), value != 0) << "'" << text << "'";
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
        // clang-format on
    };
    for (const auto& [text, value] : cases) {
        EXPECT_EQ(TextToDouble(text), value) << "'" << text << "'";
    }
}

TEST(XScriptValue, ComparisonIsNumericOnlyWhenBothTextsAreNumeric) {
    const struct {
        std::string left, right;
        int order;  // sign of the comparison
    } cases[] = {
        // clang-format off
        {"-1.000000", "2.000000", -1},  // minus sorts before the digit 2
        {"-5.000000", "-3.000000", 1},  // by text, so -5 is not below -3
        {"-3.000000", "-5.000000", -1}, {"abc", "abd", -1}, {"10", "9", 1}, {"10.000000", "10", 0},
        {"abc", "abc", 0}, {"ab", "abc", -1}, {"", "a", -1}, {"\xe9", "z", 1}, {".", "0", 0},
        {"10a", "9", -1},  // one side not numeric: by text
        // clang-format on
    };
    for (const auto& c : cases) {
        const int order = CompareValues(CXValue(c.left), CXValue(c.right));
        EXPECT_EQ((order > 0) - (order < 0), c.order) << c.left << " vs " << c.right;
    }
    EXPECT_EQ(CompareValues(CXValue("7"), CXValue(7)), 0);
}

}  // namespace

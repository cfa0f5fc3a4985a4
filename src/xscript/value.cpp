#include "xscript/value.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <system_error>

namespace xscript {
namespace {

bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

// The white space that atoi and strtod skip in the C locale.
bool IsSpace(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

size_t SkipSpace(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsSpace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    return i;
}

// Used when the decimal text is too large or too small for a double: which way did it fall?
// The text is digits, an optional point and digits, and an optional exponent.
bool Overflows(std::string_view mantissa, int64_t exponent) {
    size_t i = 0;
    while (i < mantissa.size() && mantissa[i] == '0') {
        ++i;
    }
    int64_t magnitude;
    if (i < mantissa.size() && mantissa[i] != '.') {
        int64_t integerDigits = 0;
        while (i < mantissa.size() && IsDigit(static_cast<unsigned char>(mantissa[i]))) {
            ++integerDigits;
            ++i;
        }
        magnitude = integerDigits - 1 + exponent;
    } else {
        int64_t zeros = 0;
        if (i < mantissa.size()) {
            ++i;  // the point
        }
        while (i < mantissa.size() && mantissa[i] == '0') {
            ++zeros;
            ++i;
        }
        magnitude = -(zeros + 1) + exponent;
    }
    return magnitude > 0;
}

}  // namespace

bool IsNumericText(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    bool point = false;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '.') {
            if (point) {
                return false;
            }
            point = true;
        } else if (!IsDigit(c)) {
            return false;
        }
    }
    return true;
}

int32_t TextToInt(std::string_view text) {
    size_t i = SkipSpace(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && IsDigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) {
            value = static_cast<int64_t>(INT32_MAX) + 1;  // saturated; keep reading digits
        }
    }
    if (negative) {
        return static_cast<int32_t>(-value);
    }
    return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

double TextToDouble(std::string_view text) {
    size_t i = SkipSpace(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t start = i;
    size_t digits = 0;
    while (i < text.size() && IsDigit(static_cast<unsigned char>(text[i]))) {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(static_cast<unsigned char>(text[i]))) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        return 0.0;
    }
    const size_t mantissaEnd = i;
    int64_t exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        bool negativeExponent = false;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            negativeExponent = text[j] == '-';
            ++j;
        }
        if (j < text.size() && IsDigit(static_cast<unsigned char>(text[j]))) {
            for (; j < text.size() && IsDigit(static_cast<unsigned char>(text[j])); ++j) {
                if (exponent < 100000) {
                    exponent = exponent * 10 + (text[j] - '0');
                }
            }
            if (negativeExponent) {
                exponent = -exponent;
            }
            i = j;
        }
    }
    // Up to 15 digits the mantissa is an exact double, and so is a power of ten up to 1e22:
    // one division then rounds correctly, like a full conversion would.
    if (digits <= 15 && exponent == 0) {
        static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                  1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        int64_t mantissa = 0;
        int fractionDigits = 0;
        bool inFraction = false;
        for (size_t j = start; j < mantissaEnd; ++j) {
            if (text[j] == '.') {
                inFraction = true;
                continue;
            }
            mantissa = mantissa * 10 + (text[j] - '0');
            fractionDigits += inFraction ? 1 : 0;
        }
        const double quick = static_cast<double>(mantissa) / kPowersOfTen[fractionDigits];
        return negative ? -quick : quick;
    }
    double value = 0.0;
    const auto result =
        std::from_chars(text.data() + start, text.data() + i, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        value = Overflows(text.substr(start, mantissaEnd - start), exponent) ? HUGE_VAL : 0.0;
    } else if (result.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

std::string FormatInt(int32_t value) {
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string FormatDouble(double value) {
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-inf" : "inf";
    }
    // The largest double has 309 integer digits; with sign, point and six decimals this fits.
    char buffer[330];
    char* end;
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
        // Whole numbers are the common case in scripts; integer formatting is exact for them.
        char* p = buffer;
        if (std::signbit(value)) {
            *p++ = '-';
        }
        const auto whole = static_cast<int64_t>(std::fabs(value));
        p = std::to_chars(p, buffer + sizeof buffer, whole).ptr;
        std::memcpy(p, ".000000", 7);
        end = p + 7;
    } else {
        end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6).ptr;
    }
    return std::string(buffer, end);
}

std::string RewriteNumericText(std::string_view text) {
    // A text already printed with "%f" that has at most 15 digits converts to a double and
    // prints back unchanged, so values read from variables need no conversion.
    const size_t point = text.find('.');
    if (point != std::string_view::npos && point >= 1 && point <= 9 && text.size() == point + 7 &&
        (text[0] != '0' || point == 1)) {
        return std::string(text);
    }
    if (text.size() <= 15 && point == std::string_view::npos) {
        // Up to 15 digits a double holds the integer exactly, so the digits can be reused.
        size_t i = 0;
        while (i + 1 < text.size() && text[i] == '0') {
            ++i;
        }
        std::string result(text.substr(i));
        result += ".000000";
        return result;
    }
    return FormatDouble(TextToDouble(text));
}

int CompareValues(const CXValue& left, const CXValue& right) {
    if (left.IsNumeric() && right.IsNumeric()) {
        const double a = left.ToDouble();
        const double b = right.ToDouble();
        return a < b ? -1 : (a > b ? 1 : 0);
    }
    // char_traits<char> compares as unsigned char, and a prefix sorts first.
    return std::string_view(left.Text()).compare(right.Text());
}

}  // namespace xscript

CXValue::CXValue(std::string_view text, int32_t isName) : isName_(isName) {
    SetText(text);
}

CXValue::CXValue(int32_t value, int32_t isName)
    : text_(xscript::FormatInt(value)), isName_(isName) {}

CXValue::CXValue(double value, int32_t isName)
    : text_(xscript::FormatDouble(value)), isName_(isName) {}

void CXValue::SetText(std::string_view text) {
    if (xscript::IsNumericText(text)) {
        text_ = xscript::RewriteNumericText(text);
    } else {
        text_.assign(text.data(), text.size());
    }
}

void CXValue::SetInt(int32_t value) {
    text_ = xscript::FormatInt(value);
}

void CXValue::SetDouble(double value) {
    text_ = xscript::FormatDouble(value);
}

int32_t CXValue::ToInt() const {
    return xscript::TextToInt(text_);
}

double CXValue::ToDouble() const {
    return xscript::TextToDouble(text_);
}

bool CXValue::IsNumeric() const {
    return xscript::IsNumericText(text_);
}

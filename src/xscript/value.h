#pragma once
// CXValue, the one data type of XScript: a text plus an is-name flag. Numbers are texts that
// look numeric; every operator converts the texts it needs at the moment it uses them, so the
// conversions here never fail and accept any bytes.

#include <cstdint>
#include <string>
#include <string_view>

class CXValue {
public:
    // The empty text, flag 1.
    CXValue() = default;
    // A numeric text is stored as its double printed with "%f" ("5" becomes "5.000000").
    explicit CXValue(std::string_view text, int32_t isName = 1);
    explicit CXValue(const char* text, int32_t isName = 1)
        : CXValue(std::string_view(text ? text : ""), isName) {}
    // "%d".
    explicit CXValue(int32_t value, int32_t isName = 1);
    // "%f".
    explicit CXValue(double value, int32_t isName = 1);

    // The setters keep the flag; SetText rewrites numeric texts like the constructor does.
    void SetText(std::string_view text);
    void SetInt(int32_t value);
    void SetDouble(double value);
    void SetFlag(int32_t isName) { isName_ = isName; }

    const std::string& Text() const { return text_; }
    const char* GetText() const { return text_.c_str(); }
    int32_t Flag() const { return isName_; }

    int32_t ToInt() const;
    double ToDouble() const;
    bool Truth() const { return ToInt() != 0; }
    bool IsNumeric() const;

private:
    std::string text_;
    int32_t isName_ = 1;
};

// Text rules shared by values, the interpreter and tests.
namespace xscript {

// First byte a digit or '.', every byte a digit or '.', at most one '.'; never empty or signed.
bool IsNumericText(std::string_view text);
// Leading white space, an optional sign, decimal digits; no digits gives 0. Values beyond the
// 32-bit range saturate at INT32_MIN or INT32_MAX.
int32_t TextToInt(std::string_view text);
// Leading white space, then the longest decimal floating-point prefix (sign, digits, point,
// exponent); none gives 0. Hexadecimal, "inf" and "nan" are not numbers here.
double TextToDouble(std::string_view text);
// printf "%d".
std::string FormatInt(int32_t value);
// printf "%f" in the C locale whatever the process locale is; infinities print as "inf" and
// "-inf", every not-a-number as "nan".
std::string FormatDouble(double value);
// The "%f" form of a numeric text.
std::string RewriteNumericText(std::string_view text);

// Numeric texts compare by value, all others byte by byte as unsigned bytes. Gives <0, 0, >0.
int CompareValues(const CXValue& left, const CXValue& right);

}  // namespace xscript

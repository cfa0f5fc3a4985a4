#pragma once
// Token codes, symbol-list entries and the variable table of the XScript engine.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xscript/value.h"

namespace xscript {

// Codes 0 to 38 name symbols and index the precedence table; 39 to 43 are lexical classes
// the tokenizer gives. Codes 30 to 32 have no text, so no token ever carries them.
enum TokenCode : int32_t {
    kAdd = 0,
    kSubtract = 1,
    kNegate = 2,
    kMultiply = 3,
    kDivide = 4,
    kRemainder = 5,
    kOpenParen = 6,
    kCloseParen = 7,
    kSemicolon = 8,
    kComma = 9,
    kOpenBrace = 10,
    kCloseBrace = 11,
    kAssign = 12,
    kAddAssign = 13,
    kSubtractAssign = 14,
    kMultiplyAssign = 15,
    kDivideAssign = 16,
    kRemainderAssign = 17,
    kOrAssign = 18,
    kAndAssign = 19,
    kXorAssign = 20,
    kNot = 21,
    kEqual = 22,
    kNotEqual = 23,
    kLess = 24,
    kGreater = 25,
    kLessEqual = 26,
    kGreaterEqual = 27,
    kLogicalOr = 28,
    kLogicalAnd = 29,
    kBitOr = 30,
    kBitAnd = 31,
    kBitXor = 32,
    kIf = 33,
    kElse = 34,
    kWhile = 35,
    kBreak = 36,
    kContinue = 37,
    kHostCall = 38,
    kLiteral = 39,
    kWord = 40,
    kLineComment = 41,
    kCommentStart = 42,
    kCommentEnd = 43,
};

// Number of symbol codes, the size of each side of the precedence table.
inline constexpr int32_t kSymbolCodeCount = 39;

struct BuiltInSymbol {
    const char* text;
    int32_t code;
};

// The entries a new engine's symbol list starts with, in this order. "-" is there twice:
// a lookup by text finds subtraction, and the loader turns it into negation where needed.
inline constexpr BuiltInSymbol kBuiltInSymbols[] = {
    {"+", kAdd},
    {"-", kSubtract},
    {"-", kNegate},
    {"*", kMultiply},
    {"/", kDivide},
    {"%", kRemainder},
    {"(", kOpenParen},
    {")", kCloseParen},
    {";", kSemicolon},
    {",", kComma},
    {"{", kOpenBrace},
    {"}", kCloseBrace},
    {"=", kAssign},
    {"+=", kAddAssign},
    {"-=", kSubtractAssign},
    {"*=", kMultiplyAssign},
    {"/=", kDivideAssign},
    {"%=", kRemainderAssign},
    {"|=", kOrAssign},
    {"&=", kAndAssign},
    {"^=", kXorAssign},
    {"!", kNot},
    {"==", kEqual},
    {"!=", kNotEqual},
    {"<", kLess},
    {">", kGreater},
    {"<=", kLessEqual},
    {">=", kGreaterEqual},
    {"||", kLogicalOr},
    {"&&", kLogicalAnd},
    {"if", kIf},
    {"else", kElse},
    {"while", kWhile},
    {"break", kBreak},
    {"continue", kContinue},
};

// The djb2-style hash of a variable name, in wrapping unsigned 32-bit arithmetic.
uint32_t HashName(std::string_view name);

}  // namespace xscript

// One entry of the symbol list, and one entry of the operator stack.
struct CXSymbol {
    CXSymbol() = default;
    // A name alone is a host function.
    explicit CXSymbol(std::string_view symbolText, int32_t symbolCode = xscript::kHostCall)
        : text(symbolText), code(symbolCode) {}

    std::string text;
    int32_t code = xscript::kHostCall;
};

struct CXVariable {
    CXValue value;
    std::string name;
};

// All variables of one engine: exactly 2048 buckets, entries appended in creation order.
class CXVariableTable {
public:
    static constexpr uint32_t kBucketCount = 2048;

    CXVariableTable() : buckets_(kBucketCount) {}

    static uint32_t BucketOf(std::string_view name) {
        return xscript::HashName(name) % kBucketCount;
    }

    CXVariable* Find(std::string_view name);
    const CXVariable* Find(std::string_view name) const;
    // Overwrites the value (flag included) of an existing variable, or appends a new one.
    void Set(std::string_view name, const CXValue& value);

    const std::vector<CXVariable>& Bucket(uint32_t index) const { return buckets_[index]; }
    size_t Count() const;

private:
    std::vector<std::vector<CXVariable>> buckets_;
};

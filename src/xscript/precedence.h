#pragma once
// The operator-precedence table that stands in for a grammar: for the operator on top of the
// operator stack (row) and an incoming symbol (column), what the evaluator does.

#include <array>
#include <cstdint>

#include "xscript/tables.h"

namespace xscript {

enum Relation : uint8_t {
    kReduce = 0,          // apply the waiting operator, then compare again
    kShift = 1,           // push the incoming symbol
    kShiftAndReduce = 2,  // push it, then apply it at once
    kSyntaxError = 3,     // report it and drop the incoming symbol
};

using PrecedenceTable = std::array<std::array<uint8_t, kSymbolCodeCount>, kSymbolCodeCount>;

// One line per group of equal rows, entries for columns 0 to 38 in groups of ten.
struct PrecedenceRowGroup {
    int32_t rows[15];
    int32_t rowCount;
    const char* entries;
};

inline constexpr PrecedenceRowGroup kPrecedenceRows[] = {
    // + and binary -, ||, &&, and the three textless bitwise codes
    {{0, 1, 28, 29, 30, 31, 32}, 7, "0001111220 1000000000 0000000000 000111111"},
    // negation, *, /, %, !
    {{2, 3, 4, 5, 21}, 5, "0000001220 1000000000 0000000000 000111111"},
    // (
    {{6}, 1, "1111111231 1111111111 1111111111 111111111"},
    // )
    {{7}, 1, "0000003223 0000000000 0000000000 000333333"},
    // ;
    {{8}, 1, "0000000330 0200000000 0000000000 000000000"},
    // ,
    {{9}, 1, "0000000220 0000000000 0000000000 000000000"},
    // {
    {{10}, 1, "1111111331 1211111111 1111111111 111111111"},
    // }
    {{11}, 1, "0000003320 0000000000 0000000000 000000000"},
    // every assignment and every comparison
    {{12, 13, 14, 15, 16, 17, 18, 19, 20, 22, 23, 24, 25, 26, 27},
     15,
     "1111111223 0011111111 1111111111 111111111"},
    // if, else, while, break, continue
    {{33, 34, 35, 36, 37}, 5, "3333331223 0333333333 3333333333 333333333"},
    // host function call
    {{38}, 1, "0000031220 0333333333 3000000000 000333333"},
};

// Expands the row groups into the full 39 by 39 table.
PrecedenceTable BuildPrecedenceTable();

}  // namespace xscript

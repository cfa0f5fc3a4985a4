#include "xscript/precedence.h"

namespace xscript {

PrecedenceTable BuildPrecedenceTable() {
    PrecedenceTable table{};
    // A row that no group names would stay "error" rather than "reduce"; every row is named.
    for (auto& row : table) {
        row.fill(kSyntaxError);
    }
    for (const PrecedenceRowGroup& group : kPrecedenceRows) {
        std::array<uint8_t, kSymbolCodeCount> entries{};
        int32_t column = 0;
        for (const char* p = group.entries; *p != '\0' && column < kSymbolCodeCount; ++p) {
            if (*p >= '0' && *p <= '3') {
                entries[column++] = static_cast<uint8_t>(*p - '0');
            }
        }
        for (int32_t i = 0; i < group.rowCount; ++i) {
            table[group.rows[i]] = entries;
        }
    }
    return table;
}

}  // namespace xscript

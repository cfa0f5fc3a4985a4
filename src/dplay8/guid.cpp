#include "dplay8/guid.h"

#include <cstdio>

namespace dplay8 {

Guid ReadGuid(ByteReader& r) {
    Guid g;
    g.data1 = r.U32();
    g.data2 = r.U16();
    g.data3 = r.U16();
    for (auto& b : g.data4)
        b = r.U8();
    return g;
}

void WriteGuid(ByteWriter& w, const Guid& g) {
    w.U32(g.data1);
    w.U16(g.data2);
    w.U16(g.data3);
    for (uint8_t b : g.data4)
        w.U8(b);
}

std::string ToString(const Guid& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1,
                  g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4],
                  g.data4[5], g.data4[6], g.data4[7]);
    return buf;
}

namespace {

bool HexValue(char c, uint32_t& v) {
    if (c >= '0' && c <= '9') {
        v = uint32_t(c - '0');
    } else if (c >= 'a' && c <= 'f') {
        v = uint32_t(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
        v = uint32_t(c - 'A' + 10);
    } else {
        return false;
    }
    return true;
}

// Reads `digits` hex digits starting at text[pos].
bool Hex(std::string_view text, size_t pos, size_t digits, uint32_t& out) {
    out = 0;
    for (size_t i = 0; i < digits; ++i) {
        uint32_t v;
        if (!HexValue(text[pos + i], v))
            return false;
        out = out << 4 | v;
    }
    return true;
}

}  // namespace

std::optional<Guid> ParseGuid(std::string_view text) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' ||
        text[14] != '-' || text[19] != '-' || text[24] != '-') {
        return std::nullopt;
    }
    Guid g;
    uint32_t v;
    if (!Hex(text, 1, 8, v))
        return std::nullopt;
    g.data1 = v;
    if (!Hex(text, 10, 4, v))
        return std::nullopt;
    g.data2 = uint16_t(v);
    if (!Hex(text, 15, 4, v))
        return std::nullopt;
    g.data3 = uint16_t(v);
    const size_t starts[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (size_t i = 0; i < 8; ++i) {
        if (!Hex(text, starts[i], 2, v))
            return std::nullopt;
        g.data4[i] = uint8_t(v);
    }
    return g;
}

}  // namespace dplay8

#pragma once
// Byte strings written as hex dumps in tests ("88 01 00 00 ..."); anything that is not a
// hex digit separates bytes.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dplay8_test {

inline std::vector<uint8_t> Hex(std::string_view text) {
    std::vector<uint8_t> out;
    int nibbles = 0;
    uint8_t value = 0;
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    for (char c : text) {
        int d = digit(c);
        if (d < 0) {
            nibbles = 0;
            continue;
        }
        value = uint8_t(value << 4 | d);
        if (++nibbles == 2) {
            out.push_back(value);
            nibbles = 0;
            value = 0;
        }
    }
    return out;
}

inline std::string ToHex(const std::vector<uint8_t>& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (uint8_t b : bytes) {
        if (!s.empty())
            s += ' ';
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

}  // namespace dplay8_test

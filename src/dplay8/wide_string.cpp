#include "dplay8/wide_string.h"

namespace dplay8 {

Bytes EncodeWide(const std::u16string& text) {
    Bytes out;
    out.reserve(text.size() * 2 + 2);
    for (char16_t c : text) {
        out.push_back(uint8_t(c));
        out.push_back(uint8_t(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

bool DecodeWide(ByteSpan field, std::u16string& out) {
    out.clear();
    if (field.size() % 2 != 0)
        return false;
    for (size_t i = 0; i + 1 < field.size(); i += 2) {
        char16_t c = char16_t(field[i] | field[i + 1] << 8);
        if (c == 0)
            break;
        out.push_back(c);
    }
    return true;
}

}  // namespace dplay8

#include "quest/text_escape.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

std::string EscapeText(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte > 0x7E) {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

bool UnescapeText(std::string_view escaped, std::string& text) {
    text.clear();
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '\\') {
            text += escaped[i];
            continue;
        }
        if (i + 1 >= escaped.size()) {
            return false;
        }
        const char kind = escaped[i + 1];
        if (kind == '\\' || kind == '"') {
            text += kind;
            i += 1;
            continue;
        }
        if (kind != 'x' || i + 3 >= escaped.size()) {
            return false;
        }
        const int high = HexValue(escaped[i + 2]);
        const int low = HexValue(escaped[i + 3]);
        if (high < 0 || low < 0) {
            return false;
        }
        text += static_cast<char>(high * 16 + low);
        i += 3;
    }
    return true;
}

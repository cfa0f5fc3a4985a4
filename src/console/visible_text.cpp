#include "console/visible_text.h"

#include "base/code_page.h"

namespace {

// Asks the code page rather than listing bytes, so the two can never disagree on which
// bytes have no character of their own.
bool IsControl(char byte) {
    const char16_t unit = Cp1252ToUtf16(std::string_view(&byte, 1)).front();
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
}

}  // namespace

std::string VisibleText(std::string_view text) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (IsControl(c)) {
            const auto byte = static_cast<unsigned char>(c);
            out += "\\x";
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

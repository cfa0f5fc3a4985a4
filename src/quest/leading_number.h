#pragma once
// Numbers in the world's text files are read the way the C runtime's atoi reads them: leading
// white space, an optional sign, then decimal digits up to the first other byte. Text without
// leading digits reads as 0; values beyond the 32-bit range stop at its ends.

#include <cstdint>
#include <string_view>

#include "base/field_number.h"

inline int32_t LeadingNumber(std::string_view text) {
    return ReadFieldNumber(text, text.size());
}

// The same for a zero-terminated text; a null text reads as 0.
inline int32_t LeadingNumber(const char* text) {
    return text == nullptr ? 0 : LeadingNumber(std::string_view(text));
}

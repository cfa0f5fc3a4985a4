#pragma once
// Numbers typed into the console's fields are read as the C runtime's atoi reads them.

#include <cstddef>
#include <cstdint>
#include <string_view>

// The number at the start of a text, read from at most `maxChars` characters: leading blanks,
// an optional sign, digits; anything else reads as 0. Values beyond the 32-bit range are
// limited to it.
int32_t ReadFieldNumber(std::string_view text, std::size_t maxChars);

#pragma once
// Texts of the world written on one line: a backslash as \\, a double quote as \", and every
// byte below 0x20 or above 0x7E as \xHH with two upper-case hexadecimal digits. Every other
// byte stands for itself, so the form reads back byte for byte.

#include <string>
#include <string_view>

std::string EscapeText(std::string_view text);

// Reads an escaped text back. False for a backslash that starts none of the three escapes.
bool UnescapeText(std::string_view escaped, std::string& text);

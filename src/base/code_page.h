#pragma once
// Texts are 8-bit Windows-1252 inside the server; they become UTF-16 only at the boundaries
// (the network session, the window, the settings file).

#include <string>
#include <string_view>

std::u16string Cp1252ToUtf16(std::string_view text);
// Characters that Windows-1252 cannot hold become '?'.
std::string Utf16ToCp1252(std::u16string_view text);

#pragma once
// A player chooses its own name, so a name may hold control characters: an escape sequence
// that clears the operator's terminal or sets its title, a carriage return that overwrites a
// line, a byte that draws nothing in the window's list. Every console view shows a player's
// name through VisibleText; game messages carry the name exactly as the player chose it.

#include <string>
#include <string_view>

// The Windows-1252 text with every control character written as `\xHH` (two upper-case hex
// digits of the byte) and every backslash doubled, so that a name holding the four characters
// `\x1B` reads `\\x1B` and never looks like one holding ESC. The control characters are the
// bytes that become a C0 control (0x00-0x1F), DEL or a C1 control (0x80-0x9F) in Unicode:
// 0x00-0x1F, 0x7F and the five bytes the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90,
// 0x9D). Every other byte, accented letters and the code page's 0x80-0x9F characters
// included, stays as it is.
std::string VisibleText(std::string_view text);

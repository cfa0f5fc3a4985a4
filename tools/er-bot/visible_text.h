#pragma once
// Texts as the bot shows and takes them: the game's 8-bit Windows-1252 texts and DirectPlay's
// UTF-16 names become UTF-8 for the terminal, with every control character spelled out, so
// that a hostile name can neither hide in nor take over the output; what the user types
// (UTF-8) becomes UTF-16 for DirectPlay or Windows-1252 for a game message.

#include <string>
#include <string_view>

namespace er_bot {

// Invalid sequences and lone surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// UTF-16 shown in UTF-8 with control characters (U+0000-U+001F, U+007F-U+009F), the
// backslash and the double quote escaped as \xNN, \\ and \", ready to stand between quotes.
std::string Visible(std::u16string_view text);
// The same for a Windows-1252 text.
std::string VisibleCp1252(std::string_view text);

// What the user typed, as Windows-1252 ('?' for what it cannot hold).
std::string Utf8ToCp1252(std::string_view text);

}  // namespace er_bot

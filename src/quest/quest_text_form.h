#pragma once
// The readable text form of a quest file, for world authors: one line per item (header, screen
// count, each screen's column and row, the unused fields, each screen block with its NPC
// placements and other objects), every field written as a quoted text. The form keeps every
// byte: encoding the decoded text gives back the file byte for byte. docs/quest-format.md
// describes it.

#include <string>
#include <string_view>

// The text form of a quest file's bytes. Any bytes decode.
std::string DecodeQuest(std::string_view bytes);

// The quest file of a text form. False, with a message naming the line, for text that is not
// in the form.
bool EncodeQuest(std::string_view text, std::string& bytes, std::string& error);

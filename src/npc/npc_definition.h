#pragma once
// The NPC definition file: named definitions that give an NPC its kind and walking speed.
// CServerNPC::LoadDefinition applies one; these are the pieces it is built from.

#include <cstdint>

constexpr char kNpcDefinitionFile[] = "npc\\chars.npc";
// Lines are read in pieces of at most 49 bytes, end-of-line included.
constexpr int kDefinitionLineSize = 50;

// The type that the words of a "[TYPE]" value line give: "still", "headturn" and
// "personscript" are looked for in that order and the last one found wins; a line with none
// of them leaves current as it is.
int32_t TypeFromWords(const char* line, int32_t current);

// The speed that a "[SPEED]" value line gives: a decimal integer after optional blanks and
// sign, read up to the first non-digit; no digits give 0. Values beyond the 32-bit range
// stop at its ends.
float SpeedFromText(const char* line);

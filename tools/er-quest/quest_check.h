#pragma once
// er-quest check: loads a quest file the way the server does, in a data directory with its NPC
// list and definitions, and reports what the world would hold.

#include <cstdio>
#include <string>

// Writes the report to out; gives 0 when the quest loads cleanly, 1 when it loads with
// problems (names the list does not hold, limits passed, a missing NPC list) and 2 when it
// cannot be read at all.
int CheckQuest(const std::string& questPath, std::FILE* out);

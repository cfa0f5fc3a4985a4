#pragma once
// Filling one message-map entry of an NPC, from a MESSAGE_MAP line of a person script or from
// the XScript function "NPC_MessageMap". Network threads copy entries while the window thread
// rewrites them, so every write here holds the NPC set's messageMapLock.

#include <cstdint>

#include "npc/message_map_entry.h"

class CMainObjectSet;

// What a fill writes. Only the first linkCount links are written; the others keep what they
// hold. A flag of kKeepFlag leaves the entry's flag alone.
struct MessageMapFill {
    static constexpr int32_t kKeepFlag = -1;
    int8_t links[kMessageLinkCount] = {};
    int8_t linkCount = 0;
    int32_t flag = kKeepFlag;
    const char* text = "";  // cut to the entry's 299 characters
};

// A link as an entry stores it: the number written in the script minus 1, kept in a signed
// byte (the low eight bits of the value).
int8_t StoredLink(int32_t written);

// Writes the fill into entry `entry` (0-9) of the NPC in `slot` (0-49). False, and nothing
// written, when either is outside its range.
bool FillMessageEntry(CMainObjectSet& npcs, int32_t slot, int32_t entry,
                      const MessageMapFill& fill);

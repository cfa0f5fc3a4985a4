#pragma once
// One non-player character of the world: where it stands and faces, what it is doing, how
// fast it walks, its message map, the text it last said, and the bookkeeping with which
// person scripts drive it. The NPC set owns fifty of these; scripts, the broadcast and the
// message-map reply read and write the fields directly, so they are plain public fields.

#include <cstdint>

#include "npc/message_map_entry.h"

constexpr int kNpcMessageMapSize = 10;      // entries 1-10 of the scripts, index 0-9
constexpr int kNpcResetMessageEntries = 5;  // entries 1-5 go back to the placeholder on Reset
constexpr int kNpcScriptCount = 10;         // person scripts 1-10, index 0-9
constexpr int kNpcSayTextSize = 300;        // bytes, terminating zero included

class CServerNPC {
public:
    CServerNPC();

    // Puts every field that has a start value back to it; type, slot, the walk target,
    // sayText and message-map entries 6-10 keep what they hold.
    void Reset();
    // Reset, stand at (x, y), then take kind and speed from the definition of that name.
    void Place(int32_t x, int32_t y, const char* name);
    // Applies the first definition in "npc\chars.npc" whose name line contains name. Changes
    // only type and speed.
    void LoadDefinition(const char* name);
    // One game tick; frameTime is the seconds since the previous tick (at most 1.0).
    void Update(float frameTime);
    // Moves one frame's step toward (targetX, targetY); see walk_step.cpp.
    void WalkStep(float frameTime);

    int32_t facing;      // body facing, kFacingNorth..kFacingWest
    int32_t headFacing;  // head facing, same codes
    int32_t action;      // kActionIdle, kActionWalking or kActionWaiting
    float posX;          // world units, x grows east
    float posY;          // world units, y grows south
    float speed;         // world units per second
    uint8_t visible;     // 1 shown, 0 hidden; carried by no message
    int32_t type = 0;    // kTypeHeadturn, kTypePersonscript or kTypeStill; kTypeNone until defined
    MessageMapEntry messageMap[kNpcMessageMapSize];
    int8_t currentMessage;                 // message chosen by SET_MESSAGE, 0-based
    int32_t slot = 0;                      // own index in the NPC set, written by the quest loader
    uint8_t scriptEnded[kNpcScriptCount];  // set when this NPC has finished person script k
    int32_t instructionCount;  // instructions in the running person-script block; -1 unknown
    int32_t instruction;       // 0-based current instruction in that block
    float waitTimer;           // tenths of a second accumulated by the wait commands
    int32_t targetX = 0;       // walk target
    int32_t targetY = 0;
    char sayText[kNpcSayTextSize] = {};  // the text of the last SAY

    bool operator==(const CServerNPC&) const = default;
};

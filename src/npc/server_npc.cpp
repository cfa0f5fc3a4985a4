#include "npc/server_npc.h"

#include <cstring>

#include "npc/npc_codes.h"

CServerNPC::CServerNPC() {
    // Entries 6-10 are never reset; they start with the same placeholder as 1-5, so every
    // entry of an NPC that no script has touched reads the same to a client.
    for (MessageMapEntry& entry : messageMap) {
        std::memcpy(entry.text, kMessagePlaceholderText, sizeof kMessagePlaceholderText);
    }
    Reset();
}

void CServerNPC::Reset() {
    facing = kFacingSouth;
    headFacing = kFacingSouth;
    action = kActionIdle;
    posX = 150.0f;
    posY = 150.0f;
    speed = 35.0f;
    visible = 1;
    for (int i = 0; i < kNpcResetMessageEntries; ++i) {
        MessageMapEntry& entry = messageMap[i];
        std::memset(entry.text, 0, sizeof entry.text);
        std::memcpy(entry.text, kMessagePlaceholderText, sizeof kMessagePlaceholderText);
        std::memset(entry.links, 0, sizeof entry.links);
        entry.linkCount = 0;
        entry.flag = 0;
    }
    currentMessage = 0;
    std::memset(scriptEnded, 0, sizeof scriptEnded);
    instructionCount = -1;
    instruction = 0;
    waitTimer = 0.0f;
}

void CServerNPC::Place(int32_t x, int32_t y, const char* name) {
    Reset();
    posX = static_cast<float>(x);
    posY = static_cast<float>(y);
    LoadDefinition(name);
}

void CServerNPC::Update(float frameTime) {
    if (action == kActionWalking) {
        WalkStep(frameTime);
    }
}

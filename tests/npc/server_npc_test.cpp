#include "npc/server_npc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "npc/npc_codes.h"
#include "support/temp_dir.h"

namespace {

CServerNPC Filled(int byte) {
    CServerNPC npc;
    std::memset(static_cast<void*>(&npc), byte, sizeof npc);
    return npc;
}

// The start state: zero but for these fields.
CServerNPC StartState() {
    CServerNPC npc = Filled(0);
    npc.facing = npc.headFacing = kFacingSouth;
    npc.posX = npc.posY = 150.0f;
    npc.speed = 35.0f;
    npc.visible = 1;
    npc.instructionCount = -1;
    for (MessageMapEntry& entry : npc.messageMap) {
        std::strcpy(entry.text, "... `");
    }
    return npc;
}

TEST(ServerNpcState, ANewNpcStartsInTheStartStateAndResetKeepsOnlySomeFields) {
    EXPECT_TRUE(CServerNPC() == StartState());
    // Reset keeps type, slot, target, say text and message-map entries 6-10.
    const CServerNPC scribbled = Filled('A');
    CServerNPC expected = StartState();
    expected.type = scribbled.type;
    expected.slot = scribbled.slot;
    expected.targetX = scribbled.targetX;
    expected.targetY = scribbled.targetY;
    std::memcpy(expected.sayText, scribbled.sayText, sizeof expected.sayText);
    std::copy(scribbled.messageMap + 5, scribbled.messageMap + 10, expected.messageMap + 5);
    CServerNPC npc = scribbled;
    npc.Reset();
    EXPECT_TRUE(npc == expected);

    // Place resets, stands on the point, then applies the definition (here: none).
    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
    expected.posX = 10.0f;
    expected.posY = -7.0f;
    npc = scribbled;
    npc.Place(10, -7, "smith");
    EXPECT_TRUE(npc == expected);
    EXPECT_EQ(dir.Read("ErrorChk.txt"), "\nCServerNPC: NPC definition file not found!");
    dir.Write("npc/chars.npc", "[NAME]\nsmith\n[SPEED]\n60\n[TYPE]\nheadturn\n");
    expected.speed = 60.0f;
    expected.type = kTypeHeadturn;
    npc = scribbled;
    npc.Place(10, -7, "smith");
    EXPECT_TRUE(npc == expected);
}

}  // namespace

#include "npc/server_npc.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <type_traits>

#include "npc/npc_codes.h"
#include "support/temp_dir.h"

namespace {

// Scripts, the broadcast and the message-map reply address the fields directly and in the
// documented order; the object stays a plain record.
static_assert(std::is_standard_layout_v<CServerNPC>);
static_assert(!std::is_polymorphic_v<CServerNPC>);
static_assert(offsetof(CServerNPC, facing) < offsetof(CServerNPC, headFacing));
static_assert(offsetof(CServerNPC, headFacing) < offsetof(CServerNPC, action));
static_assert(offsetof(CServerNPC, action) < offsetof(CServerNPC, posX));
static_assert(offsetof(CServerNPC, posY) < offsetof(CServerNPC, speed));
static_assert(offsetof(CServerNPC, speed) < offsetof(CServerNPC, visible));
static_assert(offsetof(CServerNPC, visible) < offsetof(CServerNPC, type));
static_assert(offsetof(CServerNPC, type) < offsetof(CServerNPC, messageMap));
static_assert(offsetof(CServerNPC, messageMap) < offsetof(CServerNPC, currentMessage));
static_assert(offsetof(CServerNPC, currentMessage) < offsetof(CServerNPC, slot));
static_assert(offsetof(CServerNPC, slot) < offsetof(CServerNPC, scriptEnded));
static_assert(offsetof(CServerNPC, scriptEnded) < offsetof(CServerNPC, instructionCount));
static_assert(offsetof(CServerNPC, instructionCount) < offsetof(CServerNPC, instruction));
static_assert(offsetof(CServerNPC, instruction) < offsetof(CServerNPC, waitTimer));
static_assert(offsetof(CServerNPC, waitTimer) < offsetof(CServerNPC, targetX));
static_assert(offsetof(CServerNPC, targetY) < offsetof(CServerNPC, sayText));
static_assert(sizeof(MessageMapEntry::text) == 300 && sizeof(CServerNPC::sayText) == 300);
static_assert(std::is_same_v<decltype(MessageMapEntry::links), int8_t[5]>);
static_assert(std::is_same_v<decltype(CServerNPC::currentMessage), int8_t>);

void ExpectResetState(const CServerNPC& npc) {
    EXPECT_EQ(npc.facing, kFacingSouth);
    EXPECT_EQ(npc.headFacing, kFacingSouth);
    EXPECT_EQ(npc.action, kActionIdle);
    EXPECT_EQ(npc.posX, 150.0f);
    EXPECT_EQ(npc.posY, 150.0f);
    EXPECT_EQ(npc.speed, 35.0f);
    EXPECT_EQ(npc.visible, 1);
    for (int i = 0; i < kNpcResetMessageEntries; ++i) {
        const MessageMapEntry& entry = npc.messageMap[i];
        EXPECT_EQ(std::string(entry.text), "... `") << "entry " << i + 1;
        // The rest of the buffer is cleared too, so no earlier text shows through later.
        for (size_t b = sizeof kMessagePlaceholderText; b < sizeof entry.text; ++b) {
            ASSERT_EQ(entry.text[b], '\0') << "entry " << i + 1 << " byte " << b;
        }
        for (int8_t link : entry.links) {
            EXPECT_EQ(link, 0) << "entry " << i + 1;
        }
        EXPECT_EQ(entry.linkCount, 0) << "entry " << i + 1;
        EXPECT_EQ(entry.flag, 0) << "entry " << i + 1;
    }
    EXPECT_EQ(npc.currentMessage, 0);
    for (uint8_t ended : npc.scriptEnded) {
        EXPECT_EQ(ended, 0);
    }
    EXPECT_EQ(npc.instructionCount, -1);
    EXPECT_EQ(npc.instruction, 0);
    EXPECT_EQ(npc.waitTimer, 0.0f);
}

// Gives every field a value that differs from its start value and from zero.
void Scribble(CServerNPC& npc) {
    npc.facing = kFacingWest;
    npc.headFacing = kFacingEast;
    npc.action = kActionWalking;
    npc.posX = 12.5f;
    npc.posY = 700.25f;
    npc.speed = 80.0f;
    npc.visible = 0;
    npc.type = kTypeStill;
    for (int i = 0; i < kNpcMessageMapSize; ++i) {
        MessageMapEntry& entry = npc.messageMap[i];
        std::memset(entry.text, 'x', sizeof entry.text - 1);
        entry.text[sizeof entry.text - 1] = '\0';
        entry.text[0] = static_cast<char>('A' + i);
        for (int l = 0; l < kMessageLinkCount; ++l) {
            entry.links[l] = static_cast<int8_t>(i + l + 1);
        }
        entry.linkCount = 5;
        entry.flag = 1;
    }
    npc.currentMessage = 7;
    std::memset(npc.scriptEnded, 1, sizeof npc.scriptEnded);
    npc.instructionCount = 9;
    npc.instruction = 4;
    npc.waitTimer = 3.5f;
    npc.slot = 17;
    npc.targetX = 321;
    npc.targetY = -45;
    std::strcpy(npc.sayText, "Well met, traveller.");
}

TEST(ServerNpcState, NewNpcStartsInTheResetState) {
    const CServerNPC npc;
    ExpectResetState(npc);
}

TEST(ServerNpcState, NewNpcHasNoTypeZeroedUnsetFieldsAndPlaceholdersEverywhere) {
    const CServerNPC npc;
    EXPECT_EQ(npc.type, kTypeNone);
    EXPECT_NE(npc.type, kTypePersonscript);  // would let it join person-script blocks
    EXPECT_EQ(npc.slot, 0);
    EXPECT_EQ(npc.targetX, 0);
    EXPECT_EQ(npc.targetY, 0);
    EXPECT_EQ(std::string(npc.sayText), "");
    for (int i = kNpcResetMessageEntries; i < kNpcMessageMapSize; ++i) {
        const MessageMapEntry& entry = npc.messageMap[i];
        EXPECT_EQ(std::string(entry.text), "... `") << "entry " << i + 1;
        EXPECT_EQ(entry.linkCount, 0) << "entry " << i + 1;
        EXPECT_EQ(entry.flag, 0) << "entry " << i + 1;
        for (int8_t link : entry.links) {
            EXPECT_EQ(link, 0) << "entry " << i + 1;
        }
    }
}

TEST(ServerNpcState, ResetRestoresEveryFieldThatHasAStartValue) {
    CServerNPC npc;
    Scribble(npc);
    npc.Reset();
    ExpectResetState(npc);
}

TEST(ServerNpcState, ResetKeepsTypeSlotTargetSayTextAndEntriesSixToTen) {
    CServerNPC npc;
    Scribble(npc);
    CServerNPC before = npc;
    npc.Reset();
    EXPECT_EQ(npc.type, kTypeStill);
    EXPECT_EQ(npc.slot, 17);
    EXPECT_EQ(npc.targetX, 321);
    EXPECT_EQ(npc.targetY, -45);
    EXPECT_EQ(std::string(npc.sayText), "Well met, traveller.");
    for (int i = kNpcResetMessageEntries; i < kNpcMessageMapSize; ++i) {
        EXPECT_EQ(std::memcmp(&npc.messageMap[i], &before.messageMap[i], sizeof(MessageMapEntry)),
                  0)
            << "entry " << i + 1;
    }
}

class ServerNpcPlaceTest : public ::testing::Test {
protected:
    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
};

TEST_F(ServerNpcPlaceTest, PlaceResetsThenStandsOnThePointThenAppliesTheDefinition) {
    dir.Write("npc/chars.npc", "[NAME]\nsmith\n[SPEED]\n60\n[TYPE]\nheadturn\n");
    CServerNPC npc;
    Scribble(npc);
    npc.Place(640, -7, "smith");
    EXPECT_EQ(npc.posX, 640.0f);
    EXPECT_EQ(npc.posY, -7.0f);
    EXPECT_EQ(npc.speed, 60.0f);
    EXPECT_EQ(npc.type, kTypeHeadturn);
    EXPECT_EQ(npc.facing, kFacingSouth);
    EXPECT_EQ(npc.action, kActionIdle);
    EXPECT_EQ(npc.instructionCount, -1);
    EXPECT_EQ(std::string(npc.messageMap[0].text), "... `");
    EXPECT_EQ(npc.slot, 17);  // the quest loader writes the slot after placing
}

TEST_F(ServerNpcPlaceTest, PlaceWithoutDefinitionFileKeepsStartSpeedAndOldType) {
    CServerNPC npc;
    Scribble(npc);
    npc.Place(10, 20, "smith");
    EXPECT_EQ(npc.posX, 10.0f);
    EXPECT_EQ(npc.posY, 20.0f);
    EXPECT_EQ(npc.speed, 35.0f);
    EXPECT_EQ(npc.type, kTypeStill);
    EXPECT_EQ(dir.Read("ErrorChk.txt"), "\nCServerNPC: NPC definition file not found!");
}

TEST(ServerNpcUpdate, OnlyTheWalkingActionMovesTheNpc) {
    const int32_t actions[] = {kActionIdle, 1, 2, kActionWalking, kActionWaiting, 5, -1, 99};
    for (int32_t action : actions) {
        CServerNPC npc;
        npc.posX = 100.0f;
        npc.posY = 100.0f;
        npc.targetX = 200;
        npc.targetY = 100;
        npc.action = action;
        npc.Update(0.05f);
        if (action == kActionWalking) {
            EXPECT_EQ(npc.posX, 101.75f) << "action " << action;
            EXPECT_EQ(npc.facing, kFacingEast) << "action " << action;
        } else {
            EXPECT_EQ(npc.posX, 100.0f) << "action " << action;
            EXPECT_EQ(npc.facing, kFacingSouth) << "action " << action;
        }
        EXPECT_EQ(npc.posY, 100.0f) << "action " << action;
        EXPECT_EQ(npc.action, action) << "Update never changes the action";
    }
}

TEST(ServerNpcUpdate, TheStepFollowsTheInjectedFrameTime) {
    const struct {
        float frameTime;
        float expectedX;
    } cases[] = {{0.0f, 100.0f}, {0.05f, 101.75f}, {0.1f, 103.5f}, {1.0f, 135.0f}};
    for (const auto& c : cases) {
        CServerNPC npc;
        npc.posX = 100.0f;
        npc.posY = 100.0f;
        npc.targetX = 200;
        npc.targetY = 100;
        npc.action = kActionWalking;
        npc.Update(c.frameTime);
        EXPECT_FLOAT_EQ(npc.posX, c.expectedX) << "frame time " << c.frameTime;
    }
}

}  // namespace

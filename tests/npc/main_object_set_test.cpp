#include "npc/main_object_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "npc/npc_codes.h"

namespace {

class MainObjectSetTest : public ::testing::Test, public NpcAudience {
protected:
    void Broadcast(const CMainObjectSet&) override { broadcastTicks.push_back(tick); }
    void SayToNearbyPlayers(const CMainObjectSet&, int32_t slot, int32_t x, int32_t y) override {
        says.push_back({slot, x, y});
    }
    std::vector<int> BroadcastTicks(int count) {
        broadcastTicks.clear();
        for (tick = 1; tick <= count; ++tick) {
            nowMs += 50;
            set.Tick(0.05f);
        }
        return broadcastTicks;
    }

    int tick = 0;
    std::vector<int> broadcastTicks;
    std::vector<std::vector<int32_t>> says;
    int64_t nowMs = 1024000;  // well away from zero
    std::atomic<int32_t> rate{50};
    CMainObjectSet set{[this] { return static_cast<double>(nowMs) / 1000.0; }, rate};
};

TEST_F(MainObjectSetTest, OnlyPlacedNpcsMoveAndBroadcastsComeAfterMoreThanTheRate) {
    EXPECT_TRUE(set.npcCount == 0 && set.lastBroadcastTime == 0.0);
    for (int32_t slot = 0; slot < CMainObjectSet::kSlotCount; ++slot) {
        ASSERT_TRUE(set.Npc(slot) == CServerNPC()) << slot;
        set.Npc(slot).targetX = 1000;
        set.Npc(slot).action = kActionWalking;
    }
    set.npcCount = 1;
    set.Tick(0.05f);
    EXPECT_TRUE(set.Npc(0).posX > 150.0f && set.Npc(1).posX == 150.0f);
    set.npcCount = 1000;  // more than the slots: all fifty move, nothing beyond
    set.Tick(0.05f);
    EXPECT_GT(set.Npc(49).posX, 150.0f);

    set.lastBroadcastTime = 0.0;
    EXPECT_EQ(BroadcastTicks(1), std::vector<int>{});  // no audience: the interval still runs
    EXPECT_EQ(set.lastBroadcastTime, 1024.05);
    set.SayToNearbyPlayers(3, 1, 2);
    set.SetAudience(this);
    EXPECT_EQ(BroadcastTicks(8), (std::vector<int>{2, 4, 6, 8}));
    rate = 100;
    EXPECT_EQ(BroadcastTicks(9), (std::vector<int>{3, 6, 9}));
    rate = 0;  // an empty field: every tick
    EXPECT_EQ(BroadcastTicks(3), (std::vector<int>{1, 2, 3}));
    for (int32_t slot : {-1, 0, 49, 50})
        set.SayToNearbyPlayers(slot, 1, 2);
    EXPECT_EQ(says, (std::vector<std::vector<int32_t>>{{0, 1, 2}, {49, 1, 2}}));
}

TEST_F(MainObjectSetTest, MessageEntryCopiesAreWholeWhileTheWindowThreadRewrites) {
    char* const entry = reinterpret_cast<char*>(&set.Npc(7).messageMap[2]);
    std::fill_n(entry, sizeof(MessageMapEntry), 'a');
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 1; i < 200000; ++i) {
            std::lock_guard lock(set.messageMapLock);
            std::fill_n(entry, sizeof(MessageMapEntry), 'a' + i % 2);
        }
        done = true;
    });
    int torn = 0;  // copies that mix two fills, as one made without the lock would
    for (MessageMapEntry copy; !done;) {
        set.CopyMessageEntry(7, 2, copy);
        const char* bytes = reinterpret_cast<const char*>(&copy);
        torn += std::count(bytes, bytes + sizeof copy, bytes[0]) != sizeof copy;
    }
    writer.join();
    EXPECT_EQ(torn, 0);
    MessageMapEntry copy;
    EXPECT_TRUE(set.CopyMessageEntry(0, 0, copy) && set.CopyMessageEntry(49, 9, copy));
    EXPECT_FALSE(set.CopyMessageEntry(50, 0, copy) || set.CopyMessageEntry(-1, 0, copy) ||
                 set.CopyMessageEntry(0, 10, copy) || set.CopyMessageEntry(0, -1, copy));
}

}  // namespace

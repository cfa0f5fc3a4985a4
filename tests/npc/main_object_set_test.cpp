#include "npc/main_object_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "npc/npc_codes.h"

namespace {

class RecordingAudience : public NpcAudience {
public:
    void Broadcast(const CMainObjectSet&) override { ++broadcasts; }
    void SayToNearbyPlayers(const CMainObjectSet& set, int32_t slot, int32_t x,
                            int32_t y) override {
        says.push_back({slot, x, y});
        EXPECT_EQ(&set.Npc(slot), &set.Npc(slot));
    }
    int broadcasts = 0;
    std::vector<std::vector<int32_t>> says;
};

class MainObjectSetTest : public ::testing::Test {
protected:
    // Ticks at exact 50 ms steps of a clock that starts well away from zero.
    void RunTicks(int count, std::vector<int>* broadcastTicks = nullptr) {
        for (int i = 0; i < count; ++i) {
            nowMs += 50;
            const int before = audience.broadcasts;
            set.Tick(0.05f);
            if (broadcastTicks != nullptr && audience.broadcasts != before) {
                broadcastTicks->push_back(i + 1);
            }
        }
    }

    int64_t nowMs = 1024000;
    std::atomic<int32_t> rate{50};
    RecordingAudience audience;
    CMainObjectSet set{[this] { return static_cast<double>(nowMs) / 1000.0; }, rate};
};

TEST_F(MainObjectSetTest, StartsWithFiftyResetNpcsAndNothingPlaced) {
    EXPECT_EQ(set.npcCount, 0);
    EXPECT_EQ(set.lastBroadcastTime, 0.0);
    EXPECT_STREQ(set.Npc(0).messageMap[0].text, "... `");
    EXPECT_STREQ(set.Npc(49).messageMap[4].text, "... `");
    EXPECT_FALSE(CMainObjectSet::ValidSlot(50));
    EXPECT_FALSE(CMainObjectSet::ValidSlot(-1));
}

TEST_F(MainObjectSetTest, OnlyPlacedNpcsMove) {
    for (int slot : {0, 1}) {
        set.Npc(slot).Place(0, 0, "nobody");
        set.Npc(slot).speed = 10.0f;
        set.Npc(slot).targetX = 100;
        set.Npc(slot).action = kActionWalking;
    }
    set.npcCount = 1;
    RunTicks(1);
    EXPECT_GT(set.Npc(0).posX, 0.0f);
    EXPECT_EQ(set.Npc(1).posX, 0.0f);
}

TEST_F(MainObjectSetTest, BroadcastsOnTheFirstTickAfterMoreThanTheRateHasPassed) {
    set.SetAudience(&audience);
    std::vector<int> ticks;
    RunTicks(1, &ticks);  // the clock is far beyond 0: the first tick broadcasts
    rate = 50;
    RunTicks(8, &ticks);
    EXPECT_EQ(ticks, (std::vector<int>{1, 2, 4, 6, 8}));  // every second tick after the first

    ticks.clear();
    rate = 100;
    RunTicks(9, &ticks);
    EXPECT_EQ(ticks, (std::vector<int>{3, 6, 9}));

    ticks.clear();
    rate = 0;  // an empty field: every tick
    RunTicks(3, &ticks);
    EXPECT_EQ(ticks, (std::vector<int>{1, 2, 3}));
}

TEST_F(MainObjectSetTest, WithoutAnAudienceNothingIsSentButTheIntervalRuns) {
    RunTicks(1);
    EXPECT_GT(set.lastBroadcastTime, 0.0);
    set.SayToNearbyPlayers(3, 1, 2);
    set.SetAudience(&audience);
    set.SayToNearbyPlayers(3, 1, 2);
    set.SayToNearbyPlayers(50, 1, 2);  // no such slot
    EXPECT_EQ(audience.says, (std::vector<std::vector<int32_t>>{{3, 1, 2}}));
}

TEST_F(MainObjectSetTest, MessageEntryCopiesAreWholeWhileTheWindowThreadRewrites) {
    MessageMapEntry& shared = set.Npc(7).messageMap[2];
    std::fill(std::begin(shared.text), std::end(shared.text) - 1, 'a');
    std::fill(std::begin(shared.links), std::end(shared.links), int8_t{'a'});
    std::atomic<int> written{0};
    std::thread writer([&] {
        for (int i = 0; i < 200000; ++i) {
            std::lock_guard lock(set.messageMapLock);
            MessageMapEntry& entry = set.Npc(7).messageMap[2];
            const char fill = (i % 2 == 0) ? 'b' : 'a';
            std::fill(std::begin(entry.text), std::end(entry.text) - 1, fill);
            std::fill(std::begin(entry.links), std::end(entry.links), static_cast<int8_t>(fill));
            written = i + 1;
        }
    });
    // Copy for as long as the writer writes; a copy made without the lock would mix the two.
    int torn = 0;
    while (written < 200000) {
        MessageMapEntry copy;
        set.CopyMessageEntry(7, 2, copy);
        const bool whole = std::all_of(std::begin(copy.text), std::end(copy.text) - 1,
                                       [&](char c) { return c == copy.text[0]; });
        torn += (whole && copy.links[4] == copy.text[0]) ? 0 : 1;
    }
    writer.join();
    EXPECT_EQ(torn, 0);
    MessageMapEntry copy;
    EXPECT_FALSE(set.CopyMessageEntry(7, 10, copy));
    EXPECT_FALSE(set.CopyMessageEntry(50, 0, copy));
}

}  // namespace

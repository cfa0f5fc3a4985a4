#include <map>
#include <numeric>

#include "npc/npc_codes.h"
#include "session_fixture.h"

namespace {

class NpcBroadcastTest : public SessionTest {
protected:
    void PlaceNpc(int32_t slot, float x, float y) {
        CServerNPC& npc = npcs.Npc(slot);
        npc.posX = x;
        npc.posY = y;
        npc.facing = kFacingEast;
        npc.headFacing = kFacingSouth;
        npc.action = kActionWaiting;
        npcs.npcCount = std::max(npcs.npcCount, slot + 1);
    }

    std::vector<uint32_t> SlotsSentTo(DPNID player) {
        std::vector<uint32_t> slots;
        for (const auto& sent : Received(player, kMsgNpcUpdate)) {
            const uint32_t count = GetU32(&sent.bytes[4]);
            EXPECT_EQ(sent.bytes.size(), 8 + 25 * count);
            for (uint32_t i = 0; i < count; ++i) {
                slots.push_back(GetU32(&sent.bytes[8 + 25 * i]));
            }
        }
        return slots;
    }
};

TEST_F(NpcBroadcastTest, AnNpcIsSeenFromStrictlyWithin300OfItsWholeUnitPosition) {
    Host();
    PlaceNpc(0, 500.7f, 200.2f);
    std::map<float, DPNID> players;
    for (float x : {200.0f, 200.5f, 799.5f, 800.0f}) {
        players[x] = fake->Connect(u"p");
        MoveTo(players[x], x, 200.0f);
    }
    fake->ClearSent();
    session.Broadcast(npcs);
    EXPECT_TRUE(SlotsSentTo(players[200.0f]).empty());
    EXPECT_TRUE(SlotsSentTo(players[800.0f]).empty());
    for (float x : {200.5f, 799.5f}) {
        const auto updates = Received(players[x], kMsgNpcUpdate);
        ASSERT_EQ(updates.size(), 1u) << x;
        const auto& bytes = updates[0].bytes;
        EXPECT_EQ(bytes.size(), 33u);
        EXPECT_EQ(static_cast<int32_t>(GetU32(&bytes[12])), 500);
        EXPECT_EQ(static_cast<int32_t>(GetU32(&bytes[16])), 200);
        EXPECT_EQ(bytes[20], 0);
        EXPECT_EQ(GetU32(&bytes[21]), static_cast<uint32_t>(kFacingEast));
        EXPECT_EQ(GetU32(&bytes[25]), static_cast<uint32_t>(kFacingSouth));
        EXPECT_EQ(GetU32(&bytes[29]), static_cast<uint32_t>(kActionWaiting));
        EXPECT_EQ(updates[0].timeoutMs, 60u);
    }
}

TEST_F(NpcBroadcastTest, TwentyNpcsInRangeSendSlotsZeroToFourteen) {
    Host();
    for (int32_t slot = 0; slot < 20; ++slot) {
        PlaceNpc(slot, static_cast<float>(slot * 5), 0.0f);
    }
    PlaceNpc(20, 5000.0f, 0.0f);
    const DPNID me = fake->Connect(u"me");
    fake->ClearSent();
    session.Broadcast(npcs);
    std::vector<uint32_t> expected(15);
    std::iota(expected.begin(), expected.end(), 0u);
    EXPECT_EQ(SlotsSentTo(me), expected);
}

TEST_F(NpcBroadcastTest, UnplacedNpcsAreNotSentAndNobodyInRangeGetsNothing) {
    Host();
    PlaceNpc(0, 0.0f, 0.0f);
    npcs.Npc(1).posX = 1.0f;  // beyond npcCount
    const DPNID near = fake->Connect(u"near");
    const DPNID far = fake->Connect(u"far");
    MoveTo(far, 1000.0f, 0.0f);
    fake->ClearSent();
    session.Broadcast(npcs);
    EXPECT_EQ(SlotsSentTo(near), (std::vector<uint32_t>{0}));
    EXPECT_TRUE(Received(far, kMsgNpcUpdate).empty());
}

TEST_F(NpcBroadcastTest, BroadcastsFollowTheNpcUpdateRateThroughTheSetsTick) {
    Host();
    PlaceNpc(0, 0.0f, 0.0f);
    const DPNID me = fake->Connect(u"me");
    npcs.SetAudience(&session);
    for (int32_t rate : {50, 100}) {
        rates.npcUpdateRate = rate;
        npcs.Tick(0.05f);  // start the interval
        fake->ClearSent();
        std::vector<int> ticks;
        for (int tick = 1; tick <= 6; ++tick) {
            time.Advance(50);
            const std::size_t before = Received(me, kMsgNpcUpdate).size();
            npcs.Tick(0.05f);
            if (Received(me, kMsgNpcUpdate).size() != before) {
                ticks.push_back(tick);
            }
        }
        EXPECT_EQ(ticks, rate == 50 ? (std::vector<int>{2, 4, 6}) : (std::vector<int>{3, 6}));
    }
}

TEST_F(NpcBroadcastTest, SayTextReachesPlayersStrictlyWithin80) {
    Host();
    PlaceNpc(3, 100.6f, 100.0f);
    std::strcpy(npcs.Npc(3).sayText, "Welcome to the keep.");
    const DPNID in = fake->Connect(u"in");
    const DPNID edge = fake->Connect(u"edge");
    const DPNID diagonal = fake->Connect(u"diagonal");
    MoveTo(in, 179.9f, 100.0f);
    MoveTo(edge, 180.0f, 100.0f);
    MoveTo(diagonal, 21.0f, 179.0f);
    npcs.SetAudience(&session);
    fake->ClearSent();
    npcs.SayToNearbyPlayers(3, 100, 100);  // the SAY command passes whole units
    const auto said = Received(in, kMsgNpcSay);
    ASSERT_EQ(said.size(), 1u);
    EXPECT_STREQ(reinterpret_cast<const char*>(&said[0].bytes[4]), "Welcome to the keep.");
    EXPECT_EQ(GetU32(&said[0].bytes[304]), 3u);
    EXPECT_EQ(said[0].flags, DPNSEND_NOLOOPBACK);
    EXPECT_TRUE(Received(edge, kMsgNpcSay).empty());
    EXPECT_EQ(Received(diagonal, kMsgNpcSay).size(), 1u);
}

TEST_F(NpcBroadcastTest, SkyAndRatesGoToEveryPlayer) {
    Host();
    const DPNID a = fake->Connect(u"a");
    const DPNID b = fake->Connect(u"b");
    fake->ClearSent();
    clock.sendSkyWeather = [&](uint32_t sky, float volume, uint32_t lightning) {
        session.SendSkyWeather(sky, volume, lightning);
    };
    clock.UpdateNightDay(weather);  // the first clock tick sends the sky
    rates.updateRate = 25.0f;
    session.SendRateSettings();
    for (DPNID player : {a, b}) {
        ASSERT_EQ(Received(player, kMsgSkyWeather).size(), 1u);
        EXPECT_EQ(GetU32(&Received(player, kMsgSkyWeather)[0].bytes[4]), clock.skyColour.load());
        ASSERT_EQ(Received(player, kMsgRateSettings).size(), 1u);
        EXPECT_EQ(GetF32(&Received(player, kMsgRateSettings)[0].bytes[4]), 25.0f);
    }
}

}  // namespace

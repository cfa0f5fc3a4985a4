#include "session_fixture.h"

namespace {

using MessageHandlingTest = SessionTest;

std::vector<uint32_t> Types(const std::vector<FakeSession::Sent>& sent) {
    std::vector<uint32_t> types;
    for (const auto& s : sent) {
        types.push_back(GetU32(s.bytes.data()));
    }
    return types;
}

// The dpnids listed in a NearbyPlayers message.
std::vector<DPNID> Listed(const FakeSession::Sent& sent) {
    std::vector<DPNID> ids;
    const uint32_t count = GetU32(&sent.bytes[4]);
    EXPECT_EQ(sent.bytes.size(), 8 + 21 * count);
    for (uint32_t i = 0; i < count; ++i) {
        ids.push_back(GetU32(&sent.bytes[8 + 21 * i]));
    }
    return ids;
}

TEST_F(MessageHandlingTest, ANewcomerIsWelcomedThenToldOfEveryPlayerThenTheSky) {
    Host();
    const DPNID a = fake->Connect(u"alice");
    fake->Deliver(a, Message(kMsgPlayerTag, {0x2A, 0, 0, 0}));
    const DPNID b = fake->Connect(u"bob");  // never sends a tag
    fake->ClearSent();
    weather.publishedVolume = 12.5f;

    const DPNID c = fake->Connect(u"carol");
    const auto toC = fake->SentTo(c);
    EXPECT_EQ(Types(toC), (std::vector<uint32_t>{kMsgPlayerJoined, kMsgWelcome, kMsgPlayerJoined,
                                                 kMsgPlayerTag, kMsgPlayerJoined, kMsgPlayerTag,
                                                 kMsgSkyWeather}));
    EXPECT_EQ(GetU32(&toC[0].bytes[4]), c);  // the announcement to all reaches c too
    EXPECT_EQ(GetU32(&toC[1].bytes[4]), c);
    EXPECT_EQ(GetF32(&toC[1].bytes[8]), 50.0f);
    EXPECT_EQ(GetF32(&toC[1].bytes[12]), 60.0f);
    EXPECT_EQ(GetU32(&toC[2].bytes[4]), a);
    EXPECT_STREQ(reinterpret_cast<const char*>(&toC[2].bytes[8]), "alice");
    EXPECT_EQ(GetU32(&toC[3].bytes[8]), 0x2Au);
    EXPECT_EQ(GetU32(&toC[4].bytes[4]), b);
    EXPECT_EQ(GetU32(&toC[5].bytes[8]), 0u);
    EXPECT_EQ(GetU32(&toC[6].bytes[4]), clock.skyColour.load());
    EXPECT_EQ(GetF32(&toC[6].bytes[8]), 12.5f);
    for (DPNID other : {a, b}) {
        EXPECT_EQ(Types(fake->SentTo(other)), (std::vector<uint32_t>{kMsgPlayerJoined}));
    }
}

TEST_F(MessageHandlingTest, AFailedEnumerationCutsTheWelcomeShort) {
    Host();
    fake->Connect(u"a");
    fake->enumerateResult = E_FAIL;
    const DPNID b = fake->Connect(u"b");
    EXPECT_EQ(Types(fake->SentTo(b)), (std::vector<uint32_t>{kMsgPlayerJoined, kMsgWelcome}));
    EXPECT_EQ(session.playerCount(), 2);
}

TEST_F(MessageHandlingTest, PositionReportsAreStoredAndAnsweredWithTheNearbyPlayers) {
    Host();
    const DPNID me = fake->Connect(u"me");
    fake->ClearSent();
    fake->Deliver(me, Position(kMsgPlayerMoving, 10.0f, 20.0f));
    const auto replies = Received(me, kMsgNearbyPlayers);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].bytes.size(), 8u);  // alone: count 0, still sent
    EXPECT_EQ(GetU32(&replies[0].bytes[4]), 0u);
    EXPECT_EQ(replies[0].flags, DPNSEND_NOCOMPLETE);
    EXPECT_EQ(replies[0].timeoutMs, 60u);

    const DPNID other = fake->Connect(u"other");
    fake->Deliver(other, Position(kMsgPlayerMoving, -1.9f, 299.5f, 0xEE, 0xAABBCCDD));
    fake->ClearSent();
    fake->Deliver(me, Position(kMsgPlayerStopped, 0.5f, 0.0f));
    const auto entry = Received(me, kMsgNearbyPlayers).at(0).bytes;
    ASSERT_EQ(entry.size(), 29u);
    EXPECT_EQ(GetU32(&entry[8]), other);
    EXPECT_EQ(static_cast<int32_t>(GetU32(&entry[12])), -1);  // truncated toward zero
    EXPECT_EQ(static_cast<int32_t>(GetU32(&entry[16])), 299);
    EXPECT_EQ(entry[20], 0xEE);
    EXPECT_EQ(GetU32(&entry[21]), 0xAABBCCDDu);
    EXPECT_EQ(GetU32(&entry[25]), 1u);  // moving
}

TEST_F(MessageHandlingTest, NearbyPlayersUsesAStrict300BoxAroundTheTruncatedPosition) {
    Host();
    const DPNID me = fake->Connect(u"me");
    const DPNID at300 = fake->Connect(u"at300");
    const DPNID at2999 = fake->Connect(u"at299.9");
    const DPNID below = fake->Connect(u"below");
    MoveTo(at300, 300.0f, 0.0f);
    MoveTo(at2999, 299.9f, 0.0f);
    MoveTo(below, 0.0f, -299.9f);
    for (float x : {0.0f, 0.9f}) {  // 0.9 is truncated to 0 first
        fake->ClearSent();
        MoveTo(me, x, 0.0f);
        EXPECT_EQ(Listed(Received(me, kMsgNearbyPlayers).at(0)), (std::vector<DPNID>{at2999, below}))
            << x;
    }
    fake->ClearSent();
    MoveTo(me, -0.9f, 0.0f);  // truncated to 0 as well, not to -1
    EXPECT_EQ(Listed(Received(me, kMsgNearbyPlayers).at(0)).size(), 2u);
}

TEST_F(MessageHandlingTest, NearbyPlayersListsAtMostFifteen) {
    Host();
    const DPNID me = fake->Connect(u"me");
    std::vector<DPNID> others;
    for (int i = 0; i < 20; ++i) {
        others.push_back(fake->Connect(u"p"));
        MoveTo(others.back(), static_cast<float>(i), 0.0f);
    }
    fake->ClearSent();
    MoveTo(me, 0.0f, 0.0f);
    const auto listed = Listed(Received(me, kMsgNearbyPlayers).at(0));
    EXPECT_EQ(listed, std::vector<DPNID>(others.begin(), others.begin() + 15));
}

TEST_F(MessageHandlingTest, ChatReachesOnlyOthersStrictlyWithin200WithoutTruncation) {
    Host();
    const DPNID speaker = fake->Connect(u"speaker");
    const DPNID at200 = fake->Connect(u"at200");
    const DPNID at1999 = fake->Connect(u"at199.9");
    const DPNID near = fake->Connect(u"near");
    MoveTo(at200, 200.0f, 0.0f);
    MoveTo(at1999, 199.9f, 0.0f);
    MoveTo(near, 0.0f, -199.0f);
    fake->ClearSent();
    fake->Deliver(speaker, Message(kMsgChat, std::vector<uint8_t>(600, 'z')));
    EXPECT_TRUE(Received(speaker, kMsgChat).empty());
    EXPECT_TRUE(Received(at200, kMsgChat).empty());
    for (DPNID listener : {at1999, near}) {
        const auto chat = Received(listener, kMsgChat);
        ASSERT_EQ(chat.size(), 1u);
        EXPECT_EQ(chat[0].bytes.size(), 508u);
        EXPECT_EQ(GetU32(&chat[0].bytes[4]), speaker);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&chat[0].bytes[8])), std::string(499, 'z'));
        EXPECT_EQ(chat[0].flags, DPNSEND_NOLOOPBACK);
    }

    // The speaker's position is not truncated: from 0.9 the listener at 200.5 is in range.
    MoveTo(speaker, 0.9f, 0.0f);
    MoveTo(at200, 200.5f, 0.0f);
    fake->ClearSent();
    fake->Deliver(speaker, Message(kMsgChat, {'o', 'k', 0}));
    EXPECT_EQ(Received(at200, kMsgChat).size(), 1u);
}

TEST_F(MessageHandlingTest, TagsAreStoredAndRelayedToEveryoneTheSenderIncluded) {
    Host();
    const DPNID a = fake->Connect(u"a");
    const DPNID b = fake->Connect(u"b");
    fake->ClearSent();
    fake->Deliver(a, Message(kMsgPlayerTag, {1, 2, 3, 4}));
    for (DPNID player : {a, b}) {
        const auto tags = Received(player, kMsgPlayerTag);
        ASSERT_EQ(tags.size(), 1u);
        EXPECT_EQ(GetU32(&tags[0].bytes[4]), a);
        EXPECT_EQ(GetU32(&tags[0].bytes[8]), 0x04030201u);
    }
}

TEST_F(MessageHandlingTest, NpcTextAnswersValidEntriesOnly) {
    Host();
    const DPNID me = fake->Connect(u"me");
    std::strcpy(npcs.Npc(49).messageMap[9].text, "Last words.");
    npcs.Npc(49).messageMap[9].linkCount = 1;
    npcs.Npc(49).messageMap[9].links[0] = 4;
    fake->ClearSent();
    const auto request = [&](uint32_t entry, uint32_t slot) {
        std::vector<uint8_t> payload(8, 0);
        PutU32(payload.data(), entry);
        PutU32(payload.data() + 4, slot);
        fake->Deliver(me, Message(kMsgNpcText, payload));
    };
    request(9, 49);
    request(10, 0);
    request(0, 50);
    request(0xFFFFFFFF, 0);
    request(0, 3);  // an NPC never placed: its reset entry
    const auto replies = Received(me, kMsgNpcText);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].bytes.size(), 326u);
    EXPECT_EQ(GetU32(&replies[0].bytes[8]), 9u);
    EXPECT_EQ(GetU32(&replies[0].bytes[12]), 49u);
    EXPECT_EQ(replies[0].bytes[16], 4);
    EXPECT_STREQ(reinterpret_cast<const char*>(&replies[0].bytes[26]), "Last words.");
    EXPECT_STREQ(reinterpret_cast<const char*>(&replies[1].bytes[26]), "... `");
}

std::vector<uint8_t> ShortPosition() {
    std::vector<uint8_t> bytes(20, 0);
    bytes[0] = kMsgPlayerMoving;
    return bytes;
}

TEST_F(MessageHandlingTest, MalformedAndUnknownMessagesChangeNothing) {
    Host();
    const DPNID me = fake->Connect(u"me");
    const DPNID other = fake->Connect(u"other");
    MoveTo(other, 5.0f, 5.0f);
    fake->ClearSent();
    const std::vector<std::vector<uint8_t>> junk = {
        {},
        {5, 0, 0},
        ShortPosition(),
        {8, 0, 0, 0, 0, 0, 0, 0, 1},
        {9, 0, 0, 0, 0, 0},
        {11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        Message(7), Message(12), Message(0xFFFFFFFF, {1, 2, 3}),
    };
    for (const auto& bytes : junk) {
        EXPECT_EQ(fake->Deliver(me, bytes), S_OK);
    }
    EXPECT_TRUE(fake->AllSent().empty());
}

}  // namespace

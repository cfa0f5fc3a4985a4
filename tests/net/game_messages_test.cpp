#include "net/game_messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "npc/message_map_entry.h"

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    return std::vector<uint8_t>(values.begin(), values.end());
}

template <std::size_t N>
std::vector<uint8_t> Slice(const MessageBytes<N>& m, std::size_t from, std::size_t count) {
    return std::vector<uint8_t>(m.begin() + from, m.begin() + from + count);
}

TEST(GameMessagesTest, PlayerMessagesHaveTheirExactLayouts) {
    const auto joined = BuildPlayerJoined(0x11223344, "ThirteenChars");
    EXPECT_EQ(Slice(joined, 0, 8), Bytes({2, 0, 0, 0, 0x44, 0x33, 0x22, 0x11}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&joined[8]), 13), "ThirteenChars");
    EXPECT_EQ(joined[21], 0);  // the terminator in the last byte

    const auto longName = BuildPlayerJoined(1, "FourteenChars!!");
    EXPECT_EQ(longName[21], 0);
    EXPECT_EQ(longName[20], 's');

    const auto left = BuildPlayerLeft(0xA0B0C0D0);
    EXPECT_EQ(left.size(), 22u);
    EXPECT_EQ(Slice(left, 0, 8), Bytes({3, 0, 0, 0, 0xD0, 0xC0, 0xB0, 0xA0}));
    EXPECT_EQ(Slice(left, 8, 14), std::vector<uint8_t>(14, 0));

    const auto tag = BuildPlayerTag(5, 0xCAFE);
    EXPECT_EQ(std::vector<uint8_t>(tag.begin(), tag.end()),
              Bytes({8, 0, 0, 0, 5, 0, 0, 0, 0xFE, 0xCA, 0, 0}));
}

TEST(GameMessagesTest, RateAndSkyMessagesCarryFloatsLittleEndian) {
    const auto welcome = BuildWelcome(9, 50.0f, 60.0f);
    EXPECT_EQ(std::vector<uint8_t>(welcome.begin(), welcome.end()),
              Bytes({4, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0x48, 0x42, 0, 0, 0x70, 0x42}));
    const auto rates = BuildRateSettings(1.5f, 0.0f);
    EXPECT_EQ(std::vector<uint8_t>(rates.begin(), rates.end()),
              Bytes({7, 0, 0, 0, 0, 0, 0xC0, 0x3F, 0, 0, 0, 0}));
    const auto sky = BuildSkyWeather(0x00ECF8F7, -0.05f, 1);
    EXPECT_EQ(GetU32(&sky[0]), 10u);
    EXPECT_EQ(GetU32(&sky[4]), 0x00ECF8F7u);
    EXPECT_EQ(GetF32(&sky[8]), -0.05f);
    EXPECT_EQ(GetU32(&sky[12]), 1u);
}

TEST(GameMessagesTest, ChatKeepsAtMost499Characters) {
    const auto chat = BuildChat(77, std::string(600, 'x'));
    EXPECT_EQ(chat.size(), 508u);
    EXPECT_EQ(GetU32(&chat[4]), 77u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&chat[8])), std::string(499, 'x'));
    EXPECT_EQ(chat[507], 0);
}

TEST(GameMessagesTest, NpcTextReplySendsOnlyTheLinksInUse) {
    MessageMapEntry entry;
    std::strcpy(entry.text, "Welcome, traveller.");
    entry.links[0] = 2;
    entry.links[1] = -1;
    entry.links[2] = 9;  // beyond the count: not sent
    entry.linkCount = 2;
    entry.flag = 1;
    const auto reply = BuildNpcTextReply(3, 49, entry);
    EXPECT_EQ(reply.size(), 326u);
    EXPECT_EQ(Slice(reply, 0, 16), Bytes({11, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 49, 0, 0, 0}));
    EXPECT_EQ(Slice(reply, 16, 5), Bytes({2, 0xFF, 0, 0, 0}));
    EXPECT_EQ(reply[21], 1);
    EXPECT_EQ(GetU32(&reply[22]), 2u);
    EXPECT_STREQ(reinterpret_cast<const char*>(&reply[26]), "Welcome, traveller.");

    entry.linkCount = -3;  // a stored signed byte, widened
    EXPECT_EQ(GetU32(&BuildNpcTextReply(0, 0, entry)[22]), 0xFFFFFFFDu);
}

TEST(GameMessagesTest, NpcSayPutsTheSlotAfterTheText) {
    const auto say = BuildNpcSay("Halt!", 12);
    EXPECT_EQ(say.size(), 308u);
    EXPECT_EQ(GetU32(&say[0]), 14u);
    EXPECT_STREQ(reinterpret_cast<const char*>(&say[4]), "Halt!");
    EXPECT_EQ(GetU32(&say[304]), 12u);
}

TEST(GameMessagesTest, ListEntriesSitAtOddOffsetsAndStopAtFifteen) {
    NearbyPlayersMessage nearby(kMsgNearbyPlayers);
    EXPECT_EQ(nearby.bytes().size(), 8u);
    EXPECT_EQ(Bytes({15, 0, 0, 0, 0, 0, 0, 0}),
              std::vector<uint8_t>(nearby.bytes().begin(), nearby.bytes().end()));
    ASSERT_TRUE(nearby.Add(0x10, -5, 299, 0xAB, 0x11223344, 1));
    const auto one = nearby.bytes();
    ASSERT_EQ(one.size(), 29u);
    EXPECT_EQ(GetU32(&one[4]), 1u);
    EXPECT_EQ(static_cast<int32_t>(GetU32(&one[12])), -5);
    EXPECT_EQ(one[20], 0xAB);
    EXPECT_EQ(GetU32(&one[21]), 0x11223344u);  // offset 13 of the entry
    EXPECT_EQ(GetU32(&one[25]), 1u);           // offset 17

    NpcUpdateMessage update(kMsgNpcUpdate);
    for (int i = 0; i < 15; ++i) {
        ASSERT_TRUE(update.Add(static_cast<uint32_t>(i), i, -i, 0, 1, 2, 3));
    }
    EXPECT_FALSE(update.Add(15, 0, 0, 0, 0, 0, 0));
    const auto full = update.bytes();
    ASSERT_EQ(full.size(), 383u);
    EXPECT_EQ(GetU32(&full[4]), 15u);
    const uint8_t* last = &full[8 + 25 * 14];
    EXPECT_EQ(GetU32(last), 14u);
    EXPECT_EQ(last[12], 0);
    EXPECT_EQ(GetU32(last + 13), 1u);
    EXPECT_EQ(GetU32(last + 17), 2u);
    EXPECT_EQ(GetU32(last + 21), 3u);
}

TEST(GameMessagesTest, ReceivedMessagesShorterThanTheirLayoutAreRefused) {
    std::vector<uint8_t> position(21, 0);
    PutU32(&position[0], 5);
    PutF32(&position[8], 12.5f);
    PutF32(&position[12], -3.0f);
    position[16] = 9;
    PutU32(&position[17], 0x01020304);
    const auto report = ReadPositionReport(position);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->x, 12.5f);
    EXPECT_EQ(report->y, -3.0f);
    EXPECT_EQ(report->clientByte, 9);
    EXPECT_EQ(report->clientWord, 0x01020304u);
    position.pop_back();
    EXPECT_FALSE(ReadPositionReport(position));

    EXPECT_FALSE(ReadMessageType(Bytes({1, 2, 3})));
    EXPECT_FALSE(ReadPlayerTag(Bytes({8, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3})));
    EXPECT_FALSE(ReadNpcTextRequest(std::vector<uint8_t>(15, 0)));
    EXPECT_FALSE(ReadChat(Bytes({9, 0, 0, 0, 0, 0, 0})));
}

TEST(GameMessagesTest, ChatTextEndsAtItsTerminatorOrTheReceivedBytes) {
    std::vector<uint8_t> chat = Bytes({9, 0, 0, 0, 0, 0, 0, 0, 'h', 'i', 0, 'x'});
    EXPECT_EQ(*ReadChat(chat), "hi");
    chat = Bytes({9, 0, 0, 0, 0, 0, 0, 0, 'n', 'o', 'e', 'n', 'd'});
    EXPECT_EQ(*ReadChat(chat), "noend");
    EXPECT_EQ(*ReadChat(Bytes({9, 0, 0, 0, 0, 0, 0, 0})), "");
    std::vector<uint8_t> longChat(8 + 600, 'y');
    EXPECT_EQ(ReadChat(longChat)->size(), 499u);
}

}  // namespace

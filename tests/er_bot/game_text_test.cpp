// Received game messages as printed lines, the messages the bot sends, and the names of
// message types and results.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "client_messages.h"
#include "game_text.h"
#include "net/game_messages.h"
#include "npc/message_map_entry.h"

namespace er_bot {
namespace {

using Bytes = std::vector<uint8_t>;

template <typename T>
Bytes Of(const T& message) {
    return Bytes(message.begin(), message.end());
}

Bytes Cut(Bytes bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

Bytes Raw(std::initializer_list<uint32_t> words) {
    Bytes out(words.size() * 4);
    size_t at = 0;
    for (uint32_t w : words)
        PutU32(&out[at], w), at += 4;
    return out;
}

TEST(ErBotGameText, EachServerMessageIsOneLineWithItsFields) {
    NearbyPlayersMessage nearby(kMsgNearbyPlayers);
    nearby.Add(0x11, 100, -5, 3, 7, 1);
    nearby.Add(0xFFFFFFFF, -300, 299, 255, 0xFFFFFFFF, 0);
    NpcUpdateMessage npcs(kMsgNpcUpdate);
    npcs.Add(4, 160, 120, 0, 2, 3, 1);
    const Bytes nearbyBytes = Of(nearby.bytes()), npcBytes = Of(npcs.bytes());
    Bytes lying = Cut(nearbyBytes, 8 + 21);
    PutU32(&lying[4], 3);  // says three, holds one
    MessageMapEntry entry{};
    std::strcpy(entry.text, "Go \"north\"\n");
    entry.links[0] = 2, entry.links[1] = -1, entry.linkCount = 2, entry.flag = 1;
    MessageMapEntry tooMany = entry;
    tooMany.linkCount = 9;
    const std::pair<Bytes, std::string> cases[] = {
        {Of(BuildPlayerJoined(0x1234, "Ann")), "PlayerJoined player=0x00001234 name=\"Ann\""},
        // Windows-1252 becomes UTF-8; controls, quotes and backslashes are spelled out.
        {Of(BuildPlayerJoined(1, "\x80\xE9\x01\"\\\x7F\x81")),
         "PlayerJoined player=0x00000001 name=\"€é\\x01\\\"\\\\\\x7F\\x81\""},
        {Of(BuildPlayerJoined(2, "Thirteen-char")),
         "PlayerJoined player=0x00000002 name=\"Thirteen-char\""},
        {Of(BuildPlayerLeft(0xABCDEF01)), "PlayerLeft player=0xABCDEF01"},
        {Of(BuildWelcome(0x00040001, 50.0f, 60.5f)),
         "Welcome you=0x00040001 updateRate=50 messageTimeout=60.5"},
        {Of(BuildRateSettings(0.25f, 1000.0f)), "RateSettings updateRate=0.25 messageTimeout=1000"},
        {Of(BuildPlayerTag(9, 4294967295u)), "PlayerTag player=0x00000009 tag=4294967295"},
        {Of(BuildChat(3, "hi there")), "Chat sender=0x00000003 text=\"hi there\""},
        {Cut(Of(BuildChat(3, "cut short")), 11), "Chat sender=0x00000003 text=\"cut\""},
        {Of(BuildSkyWeather(0x00C0ECE9, 12.5f, 1)),
         "SkyWeather sky=0x00C0ECE9 rain=12.5 lightning=1"},
        {Of(BuildNpcTextReply(1, 49, entry)),
         "NpcText entry=1 npc=49 links=[2,-1] flag=1 linkCount=2 text=\"Go \\\"north\\\"\\x0A\""},
        {Of(BuildNpcTextReply(0, 0, tooMany)),
         "NpcText entry=0 npc=0 links=[2,-1,0,0,0] flag=1 linkCount=9 text=\"Go "
         "\\\"north\\\"\\x0A\""},
        {Of(BuildNpcSay("Made it", 3)), "NpcSay npc=3 text=\"Made it\""},
        {nearbyBytes,
         "NearbyPlayers count=2 {player=0x00000011 x=100 y=-5 byte=3 word=7 moving=1} "
         "{player=0xFFFFFFFF x=-300 y=299 byte=255 word=4294967295 moving=0}"},
        {Raw({kMsgNearbyPlayers, 0}), "NearbyPlayers count=0"},
        {lying,
         "NearbyPlayers count=3 {player=0x00000011 x=100 y=-5 byte=3 word=7 moving=1} "
         "(2 more entries than the message holds)"},
        {npcBytes, "NpcUpdate count=1 {npc=4 x=160 y=120 facing=2 headFacing=3 action=1}"},
        {Of(BuildPositionReport(true, 1.5f, -2, 1, 99)), "PlayerMoving x=1.5 y=-2 byte=1 word=99"},
        {Of(BuildPositionReport(false, 0, 0, 0, 0)), "PlayerStopped x=0 y=0 byte=0 word=0"},
        // What does not fit its layout is shown as bytes.
        {Cut(Of(BuildWelcome(1, 2, 3)), 15),
         "Welcome short (16 bytes expected) size=15 bytes=040000000100000000000040000040"},
        {Raw({kMsgNpcSay}), "NpcSay short (308 bytes expected) size=4 bytes=0e000000"},
        {Raw({kMsgNearbyPlayers}), "NearbyPlayers short (8 bytes expected) size=4 bytes=0f000000"},
        {Raw({12, 7}), "Message type=12 size=8 bytes=0c00000007000000"},
        {Bytes{1, 2, 3}, "Message size=3 bytes=010203"},
        {Bytes{}, "Message size=0 bytes="},
    };
    for (const auto& [message, line] : cases)
        EXPECT_EQ(FormatGameMessage(message), line);
}

TEST(ErBotGameText, LongMessagesShowTheirFirst64BytesAsHex) {
    Bytes unknown(100, 0xAB);
    PutU32(unknown.data(), 99);
    std::string hex;
    for (int i = 0; i < 60; ++i)
        hex += "ab";
    EXPECT_EQ(
        std::tuple(FormatGameMessage(unknown), HexBytes(unknown, 2), HexBytes(Bytes{0, 255}, 2)),
        std::tuple("Message type=99 size=100 bytes=63000000" + hex + "...", "6300...", "00ff"));
}

TEST(ErBotGameText, ClientMessagesAreBuiltAsTheServerReadsThemAndPrintedAsSent) {
    const auto moving = BuildPositionReport(true, 12.25f, -7.5f, 3, 0xDEADBEEF);
    EXPECT_EQ(ReadMessageType(moving), kMsgPlayerMoving);
    EXPECT_EQ(ReadPositionReport(moving), (PositionReport{12.25f, -7.5f, 3, 0xDEADBEEF}));
    EXPECT_EQ(ReadMessageType(BuildPositionReport(false, 0, 0, 0, 0)), kMsgPlayerStopped);
    EXPECT_EQ(ReadPlayerTag(BuildTagRequest(77)), 77u);
    EXPECT_EQ(ReadNpcTextRequest(BuildNpcTextRequest(9, 49)), (NpcTextRequest{9, 49}));

    const std::tuple<std::string, size_t, std::string> chats[] = {
        {"hello", 14, "hello"},
        {"", 9, ""},
        {std::string("cut\0here", 8), 12, "cut"},
        {std::string(600, 'x'), 8 + 499 + 1, std::string(499, 'x')}};
    for (const auto& [text, size, read] : chats) {
        const auto chat = BuildChatRequest(text);
        EXPECT_EQ(std::tuple(chat.size(), chat.back(), ReadChat(chat)), std::tuple(size, 0, read));
    }
    const std::pair<Bytes, std::string> sent[] = {
        {Of(BuildTagRequest(5)), "PlayerTag tag=5"},
        {BuildChatRequest("a \x01 b"), "Chat text=\"a \\x01 b\""},
        {Of(BuildNpcTextRequest(2, 7)), "NpcText entry=2 npc=7"},
        {Of(moving), "PlayerMoving x=12.25 y=-7.5 byte=3 word=3735928559"},
        {Bytes{9, 0, 0}, "Message size=3 bytes=090000"},
    };
    for (const auto& [bytes, line] : sent)
        EXPECT_EQ(FormatClientMessage(bytes), line);
}

TEST(ErBotGameText, TypesHaveNamesAndNamesHaveTypesAndResultsAreShownInHexWithTheirNames) {
    // clang-format off
    const std::pair<uint32_t, const char*> named[] = {{2, "PlayerJoined"}, {3, "PlayerLeft"}, {4, "Welcome"}, {5, "PlayerMoving"},
        {6, "PlayerStopped"}, {7, "RateSettings"}, {8, "PlayerTag"}, {9, "Chat"}, {10, "SkyWeather"}, {11, "NpcText"},
        {14, "NpcSay"}, {15, "NearbyPlayers"}, {16, "NpcUpdate"}};
    // clang-format on
    for (const auto& [type, name] : named)
        EXPECT_EQ(std::pair(MessageTypeName(type), ParseMessageType(name)),
                  std::pair(std::optional<std::string_view>(name), std::optional(type)));
    for (uint32_t type : {0u, 1u, 12u, 13u, 17u, 0xFFFFFFFFu})
        EXPECT_EQ(MessageTypeName(type), std::nullopt) << type;
    EXPECT_EQ(std::vector({ParseMessageType("npcupdate"), ParseMessageType("NEARBYPLAYERS"),
                           ParseMessageType("12")}),
              (std::vector<std::optional<uint32_t>>{16, 15, 12}));
    for (const char* bad : {"", "x", "Npc", "-1", "1234567890", "1e3"})
        EXPECT_EQ(ParseMessageType(bad), std::nullopt) << bad;
    // clang-format off
    const std::pair<uint32_t, const char*> results[] = {{0, "0x00000000 (S_OK)"}, {0x80004005, "0x80004005 (E_FAIL)"},
        {0x80158300, "0x80158300 (DPNERR_INVALIDAPPLICATION)"}, {0x80158260, "0x80158260 (DPNERR_HOSTREJECTEDCONNECTION)"},
        {0x80158410, "0x80158410 (DPNERR_INVALIDPASSWORD)"}, {0x80158460, "0x80158460 (DPNERR_INVALIDVERSION)"}, {0x80151234, "0x80151234"}};
    // clang-format on
    for (const auto& [code, text] : results)
        EXPECT_EQ(HResultText(int32_t(code)), text);
}

}  // namespace
}  // namespace er_bot

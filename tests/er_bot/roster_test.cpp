// The players a client knows of, followed through a session's messages.

#include <gtest/gtest.h>

#include <vector>

#include "net/game_messages.h"
#include "roster.h"

namespace er_bot {
namespace {

template <typename T>
std::vector<uint8_t> Of(const T& message) {
    return std::vector<uint8_t>(message.begin(), message.end());
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

TEST(ErBotRoster, JoinsLeavesTagsAndOurselvesMakeTheWhoList) {
    Roster roster("Zo\xEB with a long name");
    EXPECT_EQ(roster.Lines(), std::vector<std::string>{"Who count=0"});
    const std::vector<std::vector<uint8_t>> session = {
        Of(BuildWelcome(0x30, 50, 60)),
        Of(BuildPlayerJoined(0x10, "Ann")),
        Of(BuildPlayerTag(0x10, 5)),
        Of(BuildPlayerJoined(0x20, "Bob\x01")),
        Of(BuildPlayerTag(0x99, 1)),  // nobody we know
        Of(BuildPlayerTag(0x30, 7)),
        Of(BuildPlayerJoined(0x40, "Cid")),
        Of(BuildPlayerLeft(0x10)),
        Of(BuildPlayerLeft(0x77)),          // nobody we know
        Of(BuildPlayerJoined(0x20, "Bo")),  // announced again: renamed, in place
        Of(BuildChat(0x20, "hi")),
        {2, 0, 0},  // too short for anything
        Cut(Of(BuildPlayerJoined(0x50, "Cut")), 21),
    };
    for (const auto& message : session)
        roster.Apply(message);
    EXPECT_EQ(roster.self(), 0x30u);
    EXPECT_EQ(roster.Lines(), (std::vector<std::string>{
                                  "Who count=3",
                                  "Player id=0x00000030 name=\"Zoë with a lo\" tag=7 (you)",
                                  "Player id=0x00000020 name=\"Bo\" tag=-",
                                  "Player id=0x00000040 name=\"Cid\" tag=-",
                              }));
}

TEST(ErBotRoster, AnEndlessStreamOfNewcomersKeepsOnlyTheNewest) {
    Roster roster;
    for (uint32_t id = 1; id <= Roster::kMaxPlayers + 10; ++id)
        roster.Apply(Of(BuildPlayerJoined(id, "x")));
    ASSERT_EQ(roster.players().size(), Roster::kMaxPlayers);
    EXPECT_EQ(roster.players().front().id, 11u);
    EXPECT_EQ(roster.players().back().id, Roster::kMaxPlayers + 10);
}

}  // namespace
}  // namespace er_bot

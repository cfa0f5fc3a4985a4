#include "net/game_messages.h"

#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "npc/message_map_entry.h"

namespace {

using Bytes = std::vector<uint8_t>;
// clang-format off
// Expected bytes, written out independently of the builders.
struct W {
    Bytes v;
    W& u8(uint8_t b) { return v.push_back(b), *this; }
    W& u32(uint32_t x) { return u8(x).u8(x >> 8).u8(x >> 16).u8(x >> 24); }
    W& f32(float f) { return u32(std::bit_cast<uint32_t>(f)); }
    W& text(const std::string& s, std::size_t width) { return v.insert(v.end(), s.begin(), s.end()), v.resize(v.size() + width - s.size()), *this; }
};
Bytes V(const auto& m) { return {m.begin(), m.end()}; }
// clang-format on

TEST(GameMessagesTest, EveryBuiltMessageHasItsExactBytes) {
    NearbyPlayersMessage nearby(kMsgNearbyPlayers);
    const auto empty = V(nearby.bytes());
    nearby.Add(0x10, -5, 299, 0xAB, 0x11223344, 1);
    NpcUpdateMessage update(kMsgNpcUpdate);
    W full = W().u32(16).u32(15);
    for (uint32_t i = 0; i < 15; ++i) {
        EXPECT_TRUE(update.Add(i, int32_t(i), -int32_t(i), 0, 1, 2, 3));
        full.u32(i).u32(i).u32(-i).u8(0).u32(1).u32(2).u32(3);
    }
    EXPECT_FALSE(update.Add(15, 0, 0, 0, 0, 0, 0));
    const std::string hi = "Welcome, traveller.";
    const MessageMapEntry two = {"Welcome, traveller.", {2, -1, 9}, 2, 1},
                          negative = {"Welcome, traveller.", {1, 2, 3, 4, 5}, -3, 1},
                          seven = {"Welcome, traveller.", {1, 2, 3, 4, 5}, 7, 1};
    const struct {
        const char* name;
        Bytes built, expected;
    } cases[] = {
        // clang-format off
        {"joined keeps 13 characters", V(BuildPlayerJoined(0x11223344, "FourteenChars!!")),
         W().u32(2).u32(0x11223344).text("FourteenChars", 14).v},
        {"joined without a name", V(BuildPlayerJoined(1, nullptr)), W().u32(2).u32(1).text("", 14).v},
        {"left", V(BuildPlayerLeft(0xA0B0C0D0)), W().u32(3).u32(0xA0B0C0D0).text("", 14).v},
        {"welcome", V(BuildWelcome(9, 50.0f, 60.0f)), W().u32(4).u32(9).f32(50).f32(60).v},
        {"rates", V(BuildRateSettings(1.5f, 0.0f)), W().u32(7).f32(1.5f).f32(0).v},
        {"tag", V(BuildPlayerTag(5, 0xCAFE)), W().u32(8).u32(5).u32(0xCAFE).v},
        {"chat keeps 499 characters", V(BuildChat(77, std::string(600, 'x'))),
         W().u32(9).u32(77).text(std::string(499, 'x'), 500).v},
        {"chat ends at a zero", V(BuildChat(1, std::string_view("ab\0cd", 5))), W().u32(9).u32(1).text("ab", 500).v},
        {"sky", V(BuildSkyWeather(0x00ECF8F7, -0.05f, 1)), W().u32(10).u32(0x00ECF8F7).f32(-0.05f).u32(1).v},
        {"npc text sends only the links in use", V(BuildNpcTextReply(3, 49, two)),
         W().u32(11).u32(0).u32(3).u32(49).u8(2).u8(0xFF).text("", 3).u8(1).u32(2).text(hi, 300).v},
        {"npc text with a negative count sends none", V(BuildNpcTextReply(0, 0, negative)),
         W().u32(11).u32(0).u32(0).u32(0).text("", 5).u8(1).u32(0xFFFFFFFD).text(hi, 300).v},
        {"npc text with a count over five sends five", V(BuildNpcTextReply(0, 0, seven)),
         W().u32(11).u32(0).u32(0).u32(0).text("\1\2\3\4\5", 5).u8(1).u32(7).text(hi, 300).v},
        {"npc say", V(BuildNpcSay("Halt!", 12)), W().u32(14).text("Halt!", 300).u32(12).v},
        {"empty list", empty, W().u32(15).u32(0).v},
        {"nearby entry", V(nearby.bytes()),
         W().u32(15).u32(1).u32(0x10).u32(-5).u32(299).u8(0xAB).u32(0x11223344).u32(1).v},
        {"full npc update", V(update.bytes()), full.v},
        // clang-format on
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.built, c.expected) << c.name;
}

// The other readers' fields and lengths are played through the session's table of messages.
TEST(GameMessagesTest, ChatEndsAtItsZeroAtTheEndOfTheBytesOrAfter499Characters) {
    EXPECT_EQ(ReadChat(W().u32(9).u32(0).text("hi", 3).u8('x').v), "hi");
    EXPECT_EQ(ReadChat(W().u32(9).u32(0).text("noend", 5).v), "noend");
    EXPECT_EQ(ReadChat(W().u32(9).u32(0).v), "");
    EXPECT_EQ(ReadChat(W().u32(9).u32(0).text(std::string(600, 'y'), 600).v),
              std::string(499, 'y'));
    EXPECT_FALSE(ReadChat(Bytes(7, 9)));
}

}  // namespace

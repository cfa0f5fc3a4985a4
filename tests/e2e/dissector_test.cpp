// The Wireshark dissector of the game messages (packaging/emberrealms.lua) under tshark: every
// one of the thirteen messages, each way, alone in a data frame or coalesced with others,
// decoded field by field with no error; the transport's own session messages left alone.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "client_messages.h"
#include "dplay8/coalesce.h"
#include "dplay8/frames.h"
#include "net/game_messages.h"
#include "npc/message_map_entry.h"
#include "support/temp_dir.h"

namespace {

using dplay8::Bytes;
constexpr uint8_t kWhole = dplay8::kCommandData | dplay8::kCommandNewMsg | dplay8::kCommandEndMsg;

template <typename Message>
Bytes V(const Message& m) {
    return Bytes(m.begin(), m.end());
}

Bytes Frame(const Bytes& message, uint8_t user = 0) {
    Bytes out;
    dplay8::DataFrameHeader h;
    h.command = uint8_t(kWhole | user), h.seq = 1, h.next_recv = 1;
    dplay8::EncodeDataHeader(h, out);
    out.insert(out.end(), message.begin(), message.end());
    return out;
}

Bytes Coalesced(const std::vector<Bytes>& messages) {
    Bytes out;
    dplay8::DataFrameHeader h;
    h.command = kWhole, h.control = dplay8::kControlCoalesce, h.seq = 2;
    dplay8::EncodeDataHeader(h, out);
    std::vector<dplay8::CoalescedPart> parts;
    for (const Bytes& m : messages)
        parts.push_back({0, dplay8::ByteSpan(m.data(), m.size())});
    EXPECT_TRUE(dplay8::EncodeCoalesced(parts, out));
    return out;
}

// tshark's reading of each datagram, sent from `source` to `destination`: the fields found,
// as "field=value" (values of several messages or entries joined by ";").
std::vector<std::string> Decode(const std::vector<Bytes>& datagrams, int source, int destination) {
    static const char* const fields[] = {"type",          "player",        "name",
                                         "you",           "update_rate",   "message_timeout",
                                         "report.x",      "report.y",      "client_byte",
                                         "client_word",   "tag",           "sender",
                                         "text",          "sky",           "rain",
                                         "lightning",     "npctext.entry", "npc",
                                         "npctext.links", "npctext.flag",  "npctext.link_count",
                                         "count",         "entry.id",      "entry.x",
                                         "entry.y",       "entry.byte",    "entry.word",
                                         "entry.moving",  "entry.facing",  "entry.head_facing",
                                         "entry.action"};
    er_test::TempDir dir;
    const std::string base = (dir.path() / "game").string();
    {
        std::ofstream dump(base + ".txt");
        for (const Bytes& d : datagrams) {
            dump << "000000";
            for (uint8_t b : d) {
                char hex[4];
                std::snprintf(hex, sizeof hex, " %02x", b);
                dump << hex;
            }
            dump << "\n";
        }
    }
    std::string command = "text2pcap -q -u " + std::to_string(source) + "," +
                          std::to_string(destination) + " '" + base + ".txt' '" + base +
                          ".pcap' && tshark -r '" + base + ".pcap' -X lua_script:" DISSECTOR_PATH +
                          " -o emberrealms.port:25857 -T fields -E separator='|'" +
                          " -E occurrence=a -E aggregator=';'";
    for (const char* f : fields)
        command += std::string(" -e emberrealms.") + f;
    EXPECT_EQ(std::system((command + " >'" + base + ".out' 2>'" + base + ".err'").c_str()), 0);
    std::vector<std::string> lines;
    std::ifstream out(base + ".out");
    for (std::string line; std::getline(out, line);) {
        std::istringstream cells(line + "|");
        std::string named, cell;
        for (const char* f : fields) {
            if (std::getline(cells, cell, '|') && !cell.empty())
                named += (named.empty() ? "" : " ") + std::string(f) + "=" + cell;
        }
        lines.push_back(named);
    }
    std::ifstream errors(base + ".err");
    const std::string said((std::istreambuf_iterator<char>(errors)), {});
    EXPECT_EQ(said.find("Lua Error"), std::string::npos) << said;
    EXPECT_EQ(std::system(("tshark -r '" + base + ".pcap' -X lua_script:" DISSECTOR_PATH +
                           " -o emberrealms.port:25857 -Y '_ws.malformed || _ws.expert' "
                           "| grep -q .")
                              .c_str()) == 0,
              false);
    return lines;
}

TEST(GameMessageDissector, TsharkNamesEveryFieldOfEveryMessageBothWays) {
    if (std::system("command -v tshark >/dev/null && command -v text2pcap >/dev/null") != 0)
        GTEST_SKIP() << "tshark is not installed";
    MessageMapEntry entry{};
    std::strcpy(entry.text, "Go north");
    entry.links[0] = 2, entry.links[1] = -1, entry.linkCount = 2, entry.flag = 1;
    NearbyPlayersMessage nearby(kMsgNearbyPlayers);
    nearby.Add(0x11, 100, -5, 3, 7, 1);
    nearby.Add(0x22, -300, 299, 255, 0xFFFFFFFF, 0);
    NpcUpdateMessage npcs(kMsgNpcUpdate);
    npcs.Add(4, 160, 120, 0, 2, 3, 1);
    // clang-format off
    // Each datagram beside what tshark must read in it, each way.
    using Case = std::pair<Bytes, std::string>;
    const std::vector<Case> fromServer = {
        {Frame(V(BuildPlayerJoined(0x00300001, "\xC1nn \x80"))), "type=2 player=0x00300001 name=Ánn €"},
        {Frame(V(BuildPlayerLeft(0x00300002))), "type=3 player=0x00300002"},
        {Frame(V(BuildWelcome(0x00300001, 50.0f, 60.5f))), "type=4 you=0x00300001 update_rate=50 message_timeout=60.5"},
        {Frame(V(BuildRateSettings(40.0f, 100.0f))), "type=7 update_rate=40 message_timeout=100"},
        {Frame(V(BuildPlayerTag(0x00300001, 42))), "type=8 player=0x00300001 tag=42"},
        {Frame(V(BuildChat(0x00300002, "h\xE9llo"))), "type=9 sender=0x00300002 text=héllo"},
        {Frame(V(BuildSkyWeather(0x00C0ECE9, 12.5f, 1))), "type=10 sky=0x00c0ece9 rain=12.5 lightning=1"},
        {Frame(V(BuildNpcTextReply(1, 49, entry))),
         "type=11 text=Go north npctext.entry=1 npc=49 npctext.links=2,-1,0,0,0 npctext.flag=1 npctext.link_count=2"},
        {Frame(V(BuildNpcSay("Halt!", 3))), "type=14 text=Halt! npc=3"},
        {Frame(V(nearby.bytes())), "type=15 count=2 entry.id=0x00000011;0x00000022 entry.x=100;-300 "
                                   "entry.y=-5;299 entry.byte=3;255 entry.word=7;4294967295 entry.moving=1;0"},
        {Frame(V(npcs.bytes())), "type=16 npc=4 count=1 entry.x=160 entry.y=120 entry.byte=0 entry.facing=2 "
                                 "entry.head_facing=3 entry.action=1"},
        {Frame(Bytes{0xC1, 0, 0, 0, 1, 2, 3, 4}, dplay8::kCommandUser1), ""},  // the session's own
        {Coalesced({V(BuildPlayerLeft(7)), V(BuildPlayerTag(7, 9))}), "type=3;8 player=0x00000007;0x00000007 tag=9"},
    };
    const std::vector<Case> fromClient = {
        {Frame(V(er_bot::BuildPositionReport(true, 1.5f, -2.0f, 7, 99))), "type=5 report.x=1.5 report.y=-2 client_byte=7 client_word=99"},
        {Frame(V(er_bot::BuildPositionReport(false, 0.0f, 0.0f, 0, 0))), "type=6 report.x=0 report.y=0 client_byte=0 client_word=0"},
        {Frame(V(er_bot::BuildTagRequest(42))), "type=8 tag=42"},
        {Frame(er_bot::BuildChatRequest("hi")), "type=9 text=hi"},
        {Frame(V(er_bot::BuildNpcTextRequest(9, 49))), "type=11 npctext.entry=9 npc=49"},
        {Frame(Bytes{5, 0, 0, 0, 1}), "type=5"},  // shorter than its layout: not read past its end
    };
    // clang-format on
    for (const auto& [cases, from, to] : {std::tuple(&fromServer, 25857, 2302), std::tuple(&fromClient, 2302, 25857)}) {
        std::vector<Bytes> datagrams;
        std::vector<std::string> want;
        for (const auto& [datagram, decoded] : *cases)
            datagrams.push_back(datagram), want.push_back(decoded);
        EXPECT_EQ(Decode(datagrams, from, to), want) << "from port " << from;
    }
}

}  // namespace

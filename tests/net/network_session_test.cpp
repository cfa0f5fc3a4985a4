#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>

#include "base/debug_log.h"
#include "npc/float_truncate.h"
#include "npc/npc_codes.h"
#include "session_fixture.h"

namespace {

using Sent = FakeSession::Sent;
using Bytes = std::vector<uint8_t>;
constexpr auto P = [](int i) -> DPNID { return FakeSession::kFirstClient + i; };
constexpr uint32_t kSky = 0x00ECF8F7;
const MessageMapEntry kLastWords = {"Last words.", {4}, 1, 0};

using Rig = SessionRig;
using Step = std::function<void(Rig&)>;
// clang-format off
Step Join(float x = 0, float y = 0, std::u16string name = u"p") {
    return [=](Rig& r) { r.fake->Deliver(r.fake->Connect(name), Pos(kMsgPlayerStopped, x, y)); };
}
Step Send(int who, Bytes bytes) { return [=](Rig& r) { r.fake->Deliver(P(who), bytes); }; }
Step Npc(int slot, float x, float y) {
    return [=](Rig& r) { auto& n = r.npcs.Npc(slot);
        n.posX = x, n.posY = y, n.facing = kFacingEast, n.action = kActionWaiting, r.npcs.npcCount = slot + 1; };
}
Step Timeout(float ms) { return [=](Rig& r) { r.rates.messageTimeout = ms, Send(0, Pos(kMsgPlayerStopped, 0, 0))(r); }; }
Step Reliable(int rate) {
    return [=](Rig& r) { r.rates.reliableRate = rate; for (int i = 0; i < 200; ++i) r.session.SendWithReliableRate(P(0), Bytes{1}, false, 0); };
}
const Step kBroadcast = [](Rig& r) { r.session.Broadcast(r.npcs); };

Sent Plain(DPNID to, std::span<const uint8_t> bytes, uint32_t flags = DPNSEND_NOLOOPBACK, uint32_t timeout = 0) {
    return {to, {bytes.begin(), bytes.end()}, timeout, flags};
}
Sent Rated(DPNID to, std::span<const uint8_t> bytes, uint32_t timeout = 60) { return Plain(to, bytes, DPNSEND_NOCOMPLETE, timeout); }
// Entries {player, x, y, moving} of reports made with Pos's default byte and word.
Bytes Nearby(std::vector<std::array<int32_t, 4>> entries) {
    NearbyPlayersMessage m(kMsgNearbyPlayers);
    for (auto [id, x, y, moving] : entries) m.Add(P(id), x, y, 7, 0x01020304, moving);
    return V(m.bytes());
}
Bytes NpcUpdate(int slots, int32_t x, int32_t step, int32_t y) {
    NpcUpdateMessage m(kMsgNpcUpdate);
    for (int slot = 0; slot < slots; ++slot) m.Add(slot, x + step * slot, y, 0, kFacingEast, kFacingSouth, kActionWaiting);
    return V(m.bytes());
}
Bytes NpcText(uint8_t entry, uint8_t slot, uint8_t high = 0) { return Msg(kMsgNpcText, {entry, high, high, high, slot, 0, 0, 0}); }

struct Case { const char* name; std::vector<Step> setup, act; std::vector<Sent> out; int players; };  // out: every send of the act

std::vector<Case> Cases() {
    std::vector<Step> crowd = {Join()}, npcs20;
    std::vector<std::array<int32_t, 4>> first15;
    for (int i = 0; i < 20; ++i) {
        crowd.push_back(Join(float(i), 0)), npcs20.push_back(Npc(i, float(i * 5), 0));
        if (i < 15) first15.push_back({i + 1, i, 0, 0});
    }
    npcs20.push_back(Join());
    NearbyPlayersMessage truncated(kMsgNearbyPlayers);
    truncated.Add(P(1), -1, 299, 0xEE, 0xAABBCCDD, 1);
    const Bytes near = Nearby({{2, 299, 0, 0}, {3, 0, -299, 0}}), none = Nearby({}), m = {1, 2, 3}, zeros(12),
        chat = V(BuildChat(P(0), std::string(499, 'z'))), say = V(BuildNpcSay("Halt!", 3)), npc = NpcUpdate(1, 500, 0, 200);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    CRandom mirror;  // the session's generator, after the draw for the join's report
    mirror.Next();
    std::vector<Sent> draws;
    for (int rate : {50, 95, 0, 100, -1})
        for (int i = 0; i < 200; ++i)
            draws.push_back(Plain(P(0), Bytes{1}, mirror.Next() % 100 < uint32_t(rate) ? DPNSEND_GUARANTEED : DPNSEND_NOCOMPLETE));
    return {
        {"a newcomer is announced, welcomed, told of every player and tag, then of the sky",
         {Join(0, 0, u"alice"), Send(0, Msg(kMsgPlayerTag, {0x2A, 0, 0, 0})), Join(0, 0, u"bob")},
         {[](Rig& r) { r.fake->Connect(u"AVeryLongPlayerName"); }},
         {Plain(kAllPlayers, BuildPlayerJoined(P(2), "AVeryLongPlay")), Plain(P(2), BuildWelcome(P(2), 50.0f, 60.0f)),
          Plain(P(2), BuildPlayerJoined(P(0), "alice")), Plain(P(2), BuildPlayerTag(P(0), 0x2A)),
          Plain(P(2), BuildPlayerJoined(P(1), "bob")), Plain(P(2), BuildPlayerTag(P(1), 0)),
          Plain(P(2), BuildSkyWeather(kSky, 12.5f, 1))}, 3},
        {"a failed enumeration cuts the welcome short", {Join()},
         {[](Rig& r) { r.fake->enumerateResult = E_FAIL, r.fake->Connect(u"p"); }},
         {Plain(kAllPlayers, BuildPlayerJoined(P(1), "p")), Plain(P(1), BuildWelcome(P(1), 50.0f, 60.0f))}, 2},
        {"a player without client information gets no record and is ignored", {Join()},
         {[](Rig& r) { r.fake->clientInfoResult = E_FAIL; }, Join(1, 1), [](Rig& r) {
             EXPECT_EQ(r.fake->lastCreateResult, E_FAIL); r.fake->Disconnect(P(1)); }}, {}, 1},
        {"a leave is announced to all", {Join(), Join(), Join()},
         {[](Rig& r) { r.fake->Disconnect(P(1)); }}, {Plain(kAllPlayers, BuildPlayerLeft(P(1)))}, 2},
        {"a report is answered with the others' last reports, positions truncated",
         {Join(), Join(1000, 1000)},
         {Send(0, Pos(kMsgPlayerMoving, 10, 20)),  // alone in range: an empty list
          Send(1, Pos(kMsgPlayerMoving, -1.9f, 299.5f, 0xEE, 0xAABBCCDD)),
          Send(0, Pos(kMsgPlayerStopped, 0.5f, 0))},
         {Rated(P(0), none), Rated(P(1), Nearby({{0, 10, 20, 1}})), Rated(P(0), truncated.bytes())}, 2},
        {"nearby players lie strictly within 300 of the truncated position",
         {Join(), Join(300, 0), Join(299.9f, 0), Join(0, -299.9f), Join(-300, 0)},
         {Send(0, Pos(kMsgPlayerStopped, 0.9f, 0)), Send(0, Pos(kMsgPlayerStopped, -0.9f, 0))},
         {Rated(P(0), near), Rated(P(0), near)}, 5},
        {"at most fifteen nearby players are listed", crowd, {Send(0, Pos(kMsgPlayerStopped, 0, 0))}, {Rated(P(0), Nearby(first15))}, 21},
        {"chat reaches only others strictly within 200, cut to 499 characters",
         {Join(), Join(200, 0), Join(199.9f, 0), Join(0, -199), Join(-200, 0)},
         {Send(0, Msg(kMsgChat, Bytes(600, 'z')))}, {Plain(P(2), chat), Plain(P(3), chat)}, 5},
        {"chat range is measured from the untruncated speaker", {Join(0.9f, 0), Join(200.5f, 0)},
         {Send(0, Msg(kMsgChat, {'o', 'k', 0}))}, {Plain(P(1), BuildChat(P(0), "ok"))}, 2},
        {"a tag is relayed to all", {Join(), Join()}, {Send(0, Msg(kMsgPlayerTag, {1, 2, 3, 4}))},
         {Plain(kAllPlayers, BuildPlayerTag(P(0), 0x04030201))}, 2},
        {"npc text answers entries 0-9 of slots 0-49 only", {Join()},
         {Send(0, NpcText(9, 49)), Send(0, NpcText(10, 0)), Send(0, NpcText(0, 50)),
          Send(0, NpcText(0xFF, 0, 0xFF)), Send(0, NpcText(0, 3))},
         {Plain(P(0), BuildNpcTextReply(9, 49, kLastWords)),
          Plain(P(0), BuildNpcTextReply(0, 3, CServerNPC().messageMap[0]))}, 1},
        {"short and unknown messages change nothing", {Join(), Join(5, 5)},
         {Send(0, {}), Send(0, {5, 0, 0}), Send(0, Msg(5, zeros)), Send(0, Msg(6, zeros)),
          Send(0, {8, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}), Send(0, {9, 0, 0, 0, 0, 0, 0}),
          Send(0, {11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), Send(0, Msg(7)),
          Send(0, Msg(12)), Send(0, Msg(0xFFFFFFFF, {1, 2, 3})), [](Rig& r) {
             void* context = nullptr;
             r.fake->GetPlayerContext(P(0), &context, 0);
             ReceiveMessage noData{P(0), context, nullptr, 21};
             EXPECT_EQ(r.session.OnNetworkMessage(DPN_MSGID_RECEIVE, &noData), S_OK);
             EXPECT_EQ(r.session.OnNetworkMessage(DPN_MSGID_RECEIVE, nullptr), S_OK); }}, {}, 2},
        {"an npc is seen strictly within 300 of its whole-unit position",
         {Npc(0, 500.7f, 200.2f), Join(200, 200), Join(200.5f, 200), Join(799.5f, 200),
          Join(800, 200)}, {kBroadcast}, {Rated(P(1), npc), Rated(P(2), npc)}, 4},
        {"an update lists at most fifteen npcs", npcs20, {kBroadcast}, {Rated(P(0), NpcUpdate(15, 0, 5, 0))}, 1},
        {"unplaced npcs are not sent and a player far from all gets nothing",
         {Npc(0, 0, 0), Join(), Join(1000, 0)}, {kBroadcast}, {Rated(P(0), NpcUpdate(1, 0, 0, 0))}, 2},
        {"say text reaches players strictly within 80 of the given point; bad slots say nothing",
         {Join(179.9f, 100), Join(180, 100), Join(21, 179), Join(20, 100)}, {[](Rig& r) {
             for (int slot : {3, -1, 50}) r.session.SayToNearbyPlayers(r.npcs, slot, 100, 100); }},
         {Plain(P(0), say), Plain(P(2), say)}, 4},
        {"sky and rates go to all", {Join(), Join()},
         {[](Rig& r) { r.session.SendSkyWeather(kSky, 2.5f, 1), r.rates.updateRate = 25.0f, r.session.SendRateSettings(); }},
         {Plain(kAllPlayers, BuildSkyWeather(kSky, 2.5f, 1)), Plain(kAllPlayers, BuildRateSettings(25.0f, 60.0f))}, 2},
        {"send paths keep their flags; a time-out is in whole milliseconds", {Join()},
         {[=](Rig& r) { r.session.SendPlain(P(0), m); },
          [=](Rig& r) { r.session.SendWithReliableRate(P(0), m, true, 7); },
          Timeout(60.9f), Timeout(0), Timeout(-5), Timeout(nan), Timeout(1e10f)},
         {Plain(P(0), m), Plain(P(0), m, DPNSEND_GUARANTEED, 7), Rated(P(0), none, 60), Rated(P(0), none, 0),
          Rated(P(0), none, 0), Rated(P(0), none, 0), Rated(P(0), none, 0xFFFFFFFF)}, 1},
        {"a send is guaranteed when its own draw, mod 100, is below the reliable rate", {Join()},
         {Reliable(50), Reliable(95), Reliable(0), Reliable(100), Reliable(-1)}, draws, 1},
        {"players are enumerated as the session grows; statistics come from the connection",
         {Join(), Join()}, {[](Rig& r) {
             std::vector<DPNID> ids;
             EXPECT_EQ((r.fake->enumerateGrowth = 3, r.session.EnumeratePlayers(ids)), S_OK);
             EXPECT_EQ(ids, (std::vector<DPNID>{FakeSession::kServerPlayer, P(0), P(1)}));
             EXPECT_EQ((r.fake->enumerateResult = E_FAIL, r.session.EnumeratePlayers(ids)), E_FAIL);
             EXPECT_TRUE(ids.empty());
             PlayerRecord s;
             r.fake->connectionInfo = {120, 3400, 10, 11, 2};
             EXPECT_TRUE(r.session.WithPlayerStatistics(P(0), [&](const PlayerRecord& got) { s = got; }));
             EXPECT_EQ(std::tuple(s.latency, s.throughput, s.msgsSent, s.msgsReceived, s.msgsTimedOut),
                       std::tuple(120u, 3400u, 10u, 11u, 2u));
             r.fake->Disconnect(P(0));
             EXPECT_FALSE(r.session.WithPlayerStatistics(P(0), nullptr)); }},
         {Plain(kAllPlayers, BuildPlayerLeft(P(0)))}, 1},
        {"stopping leaves every player; nothing is sent while stopped; a restart hosts the fields",
         {Join(0, 0, u"AVeryLongPlayerName")}, {[](Rig& r) {
             r.session.ToggleServer();
             r.session.SendSkyWeather(1, 2.0f, 0), r.session.Broadcast(r.npcs);
             r.console.sessionNameField = std::string(300, 'n'), r.console.portNumberField = "2300abc";
             r.session.ToggleServer();
             const std::string id = std::to_string(P(0)), started = "wait 1|wait 0|Server started.|";
             EXPECT_EQ(r.console.Take(), "Starting Server...|" + started + "#|+" + id + " AVeryLongPlay|"
                       "Stopping Server...|wait 1|-" + id + "|#|wait 0|Server stopped.|hosting 0|"
                       "Starting Server...|" + started + "hosting 1|");
             EXPECT_EQ(r.fake->hostedDesc, (ApplicationDesc{DPNSESSION_CLIENT_SERVER, {},
                 kApplicationGuid, 0, std::u16string(259, u'n')}));
             EXPECT_EQ(r.settings.sessionName, std::string(259, 'n'));
             EXPECT_EQ(std::tuple(r.settings.serverPort, r.fake->hostedPort), std::tuple(2300u, 2300u)); }},
         {}, 0},
        {"a failed start logs and closes the program", {}, {[](Rig& r) {
             r.session.StopServer(false);
             r.factory = [&r] { r.fake = new FakeSession, r.fake->hostResult = E_FAIL; return std::unique_ptr<SessionService>(r.fake); };
             LogOpen(), r.console.Take(), r.session.ToggleServer();
             EXPECT_FALSE(r.session.hosting());  // and the runner must not read the deleted fake
             EXPECT_EQ(r.console.Take(), "Starting Server...|wait 1|close Error Starting Server! (UDP port 25857 could not be hosted)|");
             EXPECT_NE(r.dir.Read("ErrorChk.txt").find("\nError Starting Server!"), std::string::npos);
             std::vector<DPNID> ids;
             EXPECT_EQ(r.session.EnumeratePlayers(ids), DPNERR_UNINITIALIZED); }}, {}, 0},
    };
}

TEST(NetworkSessionTest, WhatComesInDecidesExactlyWhatGoesOut) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.clock.skyColour = kSky, rig.weather.publishedVolume = 12.5f, rig.weather.lightning = 1;
        rig.npcs.Npc(49).messageMap[9] = kLastWords, std::strcpy(rig.npcs.Npc(3).sayText, "Halt!");
        ASSERT_EQ(rig.session.StartServer(), S_OK);
        EXPECT_TRUE(rig.fake->TakeSent().empty());  // the server's own player is not announced
        for (const Step& step : c.setup) step(rig);
        rig.fake->TakeSent();
        for (const Step& step : c.act) step(rig);
        const auto sent = rig.session.hosting() ? rig.fake->TakeSent() : std::vector<Sent>{};
        EXPECT_EQ(sent, c.out);  // a stopped session's sends went nowhere
        EXPECT_EQ(rig.session.playerCount(), c.players);
    }
}

// The walk the range searches must agree with: the session's enumeration, each player's record.
std::vector<const PlayerRecord*> EnumerationWalk(FakeSession& fake) {
    uint32_t count = 0;
    fake.EnumPlayersAndGroups(nullptr, &count, 0);
    std::vector<DPNID> ids(count);
    std::vector<const PlayerRecord*> records;
    for (DPNID id : (fake.EnumPlayersAndGroups(ids.data(), &count, 0), ids)) {
        void* context = nullptr;
        if (Succeeded(fake.GetPlayerContext(id, &context, 0)) && context) records.push_back(static_cast<const PlayerRecord*>(context));
    }
    return records;
}

TEST(NetworkSessionTest, RangeSearchesFindThePlayersOfTheEnumerationWalkInItsOrder) {
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        Rig rig;
        ASSERT_EQ(rig.session.StartServer(), S_OK);
        std::strcpy(rig.npcs.Npc(0).sayText, "hi");
        std::vector<DPNID> joined;  // players join in random id order; the session lists them by id
        const auto coord = [&] { const float unit = float(int(rng() % 17) - 8) * 50.0f; return unit + std::array{0.0f, 0.5f, -0.5f, 0.9f}[rng() % 4]; };
        const auto inside = [](float v, double low, double high) { return low < v && v < high; };
        for (int step = 0; step < 500; ++step) {
            rig.fake->TakeSent();
            const uint32_t what = rng() % 12;
            if (what == 0 || joined.size() < 3) {
                const DPNID id = FakeSession::kFirstClient + rng() % 4096;
                if (std::find(joined.begin(), joined.end(), id) == joined.end()) rig.fake->Connect(u"p", id), joined.push_back(id);
                continue;
            }
            const DPNID who = joined[rng() % joined.size()];
            if (what == 1) {
                rig.fake->Disconnect(who), std::erase(joined, who);
                continue;
            }
            std::vector<Sent> expected;
            const float x = coord(), y = coord();
            if (what < 8) {
                rig.fake->Deliver(who, Pos(what % 2 ? kMsgPlayerMoving : kMsgPlayerStopped, x, y, uint8_t(what), what));
                NearbyPlayersMessage m(kMsgNearbyPlayers);
                const double px = TruncateToInt32(x), py = TruncateToInt32(y);
                for (const PlayerRecord* r : EnumerationWalk(*rig.fake))
                    if (r->dpnid != who && inside(r->posX, px - 300, px + 300) && inside(r->posY, py - 300, py + 300) && !m.full())
                        m.Add(r->dpnid, TruncateToInt32(r->posX), TruncateToInt32(r->posY), r->clientByte, r->clientWord, r->moving);
                expected.push_back(Rated(who, m.bytes()));
            } else if (what < 10) {
                rig.fake->Deliver(who, Msg(kMsgChat, {'h', 'i', 0}));
                void* context = nullptr;
                rig.fake->GetPlayerContext(who, &context, 0);
                const auto& s = *static_cast<const PlayerRecord*>(context);
                for (const PlayerRecord* r : EnumerationWalk(*rig.fake))
                    if (r->dpnid != who && inside(r->posX, s.posX - 200.0f, s.posX + 200.0f) && inside(r->posY, s.posY - 200.0f, s.posY + 200.0f))
                        expected.push_back(Plain(r->dpnid, BuildChat(who, "hi")));
            } else {
                const int32_t sx = TruncateToInt32(x), sy = TruncateToInt32(y);
                rig.session.SayToNearbyPlayers(rig.npcs, 0, sx, sy);
                for (const PlayerRecord* r : EnumerationWalk(*rig.fake))
                    if (inside(r->posX, sx - 80.0, sx + 80.0) && inside(r->posY, sy - 80.0, sy + 80.0))
                        expected.push_back(Plain(r->dpnid, BuildNpcSay("hi", 0)));
            }
            ASSERT_EQ(rig.fake->TakeSent(), expected) << "step " << step;
        }
    }
}

}  // namespace

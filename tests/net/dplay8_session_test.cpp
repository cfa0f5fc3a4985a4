// The server's session on the DirectPlay 8 transport over loopback UDP, with real clients.

#include <algorithm>
#include <thread>

#include "net/dplay8_session.h"
#include "session_fixture.h"
#include "support/udp_test_client.h"

namespace {

using er_test::UdpTestClient;
// clang-format off
const dplay8::Guid kApp = {0xEDE9493E, 0x6AC8, 0x4F15, {0x8D, 0x01, 0x8B, 0x16, 0x32, 0x00, 0xB9, 0x66}};

// No enumeration port: a server running on the machine must not stand in the tests' way.
Dplay8SessionOptions Options(uint32_t closeLingerMs = 1000) {
    Dplay8SessionOptions options;
    options.enumerationPort = false, options.closeLingerMs = closeLingerMs;
    return options;
}

// How many of the client's messages have this type (and, if given, are about this player).
long Count(const UdpTestClient& c, uint32_t type, std::optional<DPNID> about = {}) {
    return std::ranges::count_if(c.messages, [&](auto& m) { return GetU32(m.data()) == type && (!about || GetU32(&m[4]) == *about); });
}

struct Dplay8SessionLoopback : ::testing::Test, SessionRig {
    Dplay8SessionLoopback() {
        console.portNumberField = "0", console.sessionNameField = "Dragon Keep";
        factory = [this] { return std::unique_ptr<SessionService>(udp = new Dplay8Session(Options(200))); };
    }
    // Joined, and the player's record in place (the join handler has returned).
    std::unique_ptr<UdpTestClient> Join(const std::u16string& name) {
        auto client = std::make_unique<UdpTestClient>(udp->port());
        void* context = nullptr;
        EXPECT_TRUE(client->Join(name, kApp));
        EXPECT_TRUE(client->PumpUntil([&] { return udp->GetPlayerContext(client->dpnid(), &context, 0) == S_OK && context; }));
        return client;
    }
    Dplay8Session* udp = nullptr;
};

// Eight clients join, move and chat at once, the first renames, half leave, and stopping the
// server ends the rest. Run under ThreadSanitizer too.
TEST_F(Dplay8SessionLoopback, ManyClientsPlayingAtOnceAreAllServedUntilTheServerStops) {
    constexpr int kClients = 8, kReports = 30;
    // Answers without a time-out of their own (the transport's default second), so that a busy
    // machine delays them rather than dropping them.
    rates.messageTimeout = 0.0f;
    ASSERT_EQ(session.StartServer(), S_OK);
    const auto found = UdpTestClient(udp->port()).Enumerate(kApp);
    ASSERT_TRUE(found);
    EXPECT_EQ(std::tuple(found->session_name, found->flags & dplay8::kSessionClientServer, found->instance.IsZero()),
              std::tuple(u"Dragon Keep", dplay8::kSessionClientServer, false));
    std::vector<std::unique_ptr<UdpTestClient>> clients;
    std::string joins;
    console.Take();
    for (char i = '0'; i < '0' + kClients; ++i) {
        clients.push_back(Join(u"p" + std::u16string(1, char16_t(i))));
        joins += "#|+" + std::to_string(clients.back()->dpnid()) + " p" + i + "|";
    }
    EXPECT_EQ(console.Take(), joins);
    for (int n = 0; n < kReports; ++n) {
        for (int i = 0; i < kClients; ++i) {
            clients[i]->Queue(Pos(kMsgPlayerMoving, float(10 * i), float(n)));
            if (n % 10 == 0)
                clients[i]->Queue(Msg(kMsgChat, {'h', 'i', 0}));
        }
        for (auto& c : clients) c->PumpFor(0);
    }
    for (auto& c : clients) ASSERT_TRUE(c->PumpUntil([&] { return Count(*c, kMsgNearbyPlayers) == kReports; }, 5000));
    UdpTestClient& first = *clients[0];
    const DPNID a = first.dpnid();
    // A newcomer hears of the others, never of itself; each of them hears of it once.
    const UdpTestClient& third = *clients[2];
    std::vector<std::vector<uint8_t>> heard(third.messages.begin(), third.messages.begin() + 6);
    std::vector<std::vector<uint8_t>> want{V(BuildWelcome(third.dpnid(), 50, 0))};
    for (int i = 0; i < 2; ++i)
        want.insert(want.end(), {V(BuildPlayerJoined(clients[i]->dpnid(), i ? "p1" : "p0")), V(BuildPlayerTag(clients[i]->dpnid(), 0))});
    want.push_back(heard.back());
    if (GetU32(heard[1].data() + 4) != clients[0]->dpnid()) std::swap(want[1], want[3]), std::swap(want[2], want[4]);  // enumeration order
    EXPECT_EQ(std::tuple(heard, GetU32(heard.back().data())), std::tuple(want, kMsgSkyWeather));
    for (int i = 0; i < kClients; ++i)
        for (int j = 0; j < kClients; ++j)
            EXPECT_EQ(Count(*clients[i], kMsgPlayerJoined, clients[j]->dpnid()), long(i != j)) << i << ' ' << j;
    PlayerRecord seen;
    ASSERT_TRUE(session.WithPlayerStatistics(a, [&](const PlayerRecord& r) { seen = r; }));
    EXPECT_TRUE(seen.msgsReceived >= kReports && seen.msgsSent >= kReports + 3 && seen.latency < 1000 && seen.msgsTimedOut == 0)
        << seen.msgsSent;
    ASSERT_TRUE(first.session().SetName(u"Alicia", 1, dplay8::MonotonicMillis()));
    PlayerInfo info;  // the seam hears of it on a handler thread
    EXPECT_TRUE(first.PumpUntil([&] { return udp->GetClientInfo(a, info) == S_OK && info.name == u"Alicia"; }));

    const auto half = clients.begin() + kClients / 2;
    for (auto gone = clients.begin(); gone != half; ++gone) ASSERT_TRUE((*gone)->Leave());
    for (auto stays = half; stays != clients.end(); ++stays)
        ASSERT_TRUE((*stays)->PumpUntil([&] {
            return session.playerCount() == kClients / 2 &&
                   std::all_of(clients.begin(), half, [&](auto& gone) { return Count(**stays, kMsgPlayerLeft, gone->dpnid()) == 1; });
        }));
    const uint16_t port = udp->port();
    // The clients answer the close from another thread while the server waits for them.
    std::thread pump([&] {
        for (auto stays = half; stays != clients.end(); ++stays) (*stays)->PumpUntil([&] { return (*stays)->ended(); });
    });
    session.StopServer(true);
    pump.join();
    EXPECT_EQ(session.playerCount(), 0);
    EXPECT_EQ(std::ranges::count(console.Take(), '-'), kClients);
    EXPECT_TRUE(std::all_of(half, clients.end(), [](auto& c) { return c->ended(); }));
    EXPECT_FALSE(UdpTestClient(port).Enumerate(kApp, 300));
}

// The seam's own rules for the server's player and its guards; a port in use is refused.
TEST(Dplay8SessionHosting, TheServersOwnPlayerLivesFromHostToClose) {
    std::vector<std::pair<uint32_t, DPNID>> calls;  // the caller's thread only: no client joins
    Dplay8Session seam(Options()), second(Options());
    ApplicationDesc desc{DPNSESSION_CLIENT_SERVER, {}, kApplicationGuid, 0, u"seam"};
    PlayerInfo info;
    ConnectionInfo stats;
    void* context = &info;
    const uint8_t byte = 1;
    uint32_t count = 0, ids[1] = {};
    ASSERT_EQ(seam.Host(desc, 0), DPNERR_UNINITIALIZED);
    ASSERT_EQ(seam.Initialize([&](uint32_t id, void* message) {  // the player comes first in both
        return calls.emplace_back(id, *static_cast<DPNID*>(message)), S_OK; }), S_OK);
    ASSERT_EQ(seam.Host(desc, 0), S_OK);
    const DPNID self = seam.serverPlayer();
    ASSERT_EQ(second.Initialize([](uint32_t, void*) { return S_OK; }), S_OK);
    EXPECT_TRUE(Failed(second.Host(desc, seam.port())));
    EXPECT_EQ(second.port(), 0);
    const std::vector<HRESULT> results = {
        seam.GetClientInfo(self, info), seam.GetConnectionInfo(self, stats),
        seam.GetPlayerContext(self, &context, 0), seam.GetPlayerContext(self ^ 1, &context, 0),
        seam.SendTo(self ^ 1, &byte, 1, 0, 0), seam.SendTo(self, &byte, 1, 0, 0),
        seam.SendTo(self, nullptr, 1, 0, 0), seam.SendTo(self, &byte, 0, 0, 0),
        seam.GetPlayerContext(self, nullptr, 0), seam.EnumPlayersAndGroups(ids, nullptr, 0),
        seam.Initialize(nullptr), second.Host(desc, 0x10000),
        seam.EnumPlayersAndGroups(nullptr, &count, 0), seam.EnumPlayersAndGroups(ids, &count, 0),
        seam.Close(0), seam.SendTo(self, &byte, 1, 0, 0), seam.EnumPlayersAndGroups(ids, &count, 0),
        seam.GetPlayerContext(self, &context, 0), seam.Close(0), seam.Initialize(nullptr)};
    EXPECT_EQ(results, (std::vector<HRESULT>{DPNERR_INVALIDPLAYER, DPNERR_INVALIDPLAYER, S_OK,
        DPNERR_INVALIDPLAYER, DPNERR_INVALIDPLAYER, S_OK, E_FAIL, E_FAIL, E_FAIL, E_FAIL, E_FAIL,
        E_FAIL, DPNERR_BUFFERTOOSMALL, S_OK,
        S_OK, DPNERR_UNINITIALIZED, DPNERR_UNINITIALIZED, DPNERR_INVALIDPLAYER, S_OK, S_OK}));
    EXPECT_EQ(std::tuple(context, count, ids[0]), std::tuple(nullptr, 1u, self));
    EXPECT_EQ(calls, (std::vector<std::pair<uint32_t, DPNID>>{{DPN_MSGID_CREATE_PLAYER, self},
                                                              {DPN_MSGID_DESTROY_PLAYER, self}}));
}

}  // namespace

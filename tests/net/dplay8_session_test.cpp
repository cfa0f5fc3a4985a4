// The server's session on the DirectPlay 8 transport over loopback UDP, with real clients.

#include <algorithm>
#include <thread>

#include "net/dplay8_session.h"
#include "session_fixture.h"
#include "support/udp_test_client.h"

namespace {

using er_test::UdpTestClient;
using Bytes = std::vector<uint8_t>;
const dplay8::Guid kApp = {
    0xEDE9493E, 0x6AC8, 0x4F15, {0x8D, 0x01, 0x8B, 0x16, 0x32, 0x00, 0xB9, 0x66}};

bool Has(const UdpTestClient& c, uint32_t type, DPNID about) {
    return std::ranges::any_of(c.MessagesOfType(type),
                               [&](const auto& m) { return GetU32(&m[4]) == about; });
}

struct Dplay8SessionLoopback : ::testing::Test, SessionRig {
    Dplay8SessionLoopback() {
        console.portNumberField = "0";
        factory = [this] {
            return std::unique_ptr<SessionService>(udp = new Dplay8Session({false, 0, 2, 200}));
        };
    }
    // Joined, and the player's record in place (the join handler has returned).
    std::unique_ptr<UdpTestClient> Join(const std::u16string& name) {
        auto client = std::make_unique<UdpTestClient>(udp->port());
        EXPECT_TRUE(client->Join(name, kApp));
        EXPECT_TRUE(client->PumpUntil([&] {
            void* context = nullptr;
            return udp->GetPlayerContext(client->dpnid(), &context, 0) == S_OK && context;
        }));
        return client;
    }
    Dplay8Session* udp = nullptr;
};

TEST_F(Dplay8SessionLoopback, ClientsEnumerateJoinAreWelcomedReportRenameAndLeave) {
    console.sessionNameField = "Dragon Keep";
    ASSERT_EQ(session.StartServer(), S_OK);
    UdpTestClient alice(udp->port());
    const auto found = alice.Enumerate(kApp);
    ASSERT_TRUE(found && alice.Join(u"Alice", kApp));
    EXPECT_EQ(std::tuple(found->session_name, found->flags & dplay8::kSessionClientServer,
                         found->instance == alice.connect_info()->desc.instance),
              std::tuple(u"Dragon Keep", dplay8::kSessionClientServer, true));
    const DPNID a = alice.dpnid();
    ASSERT_TRUE(alice.PumpUntil([&] { return alice.messages.size() >= 3; }));
    EXPECT_EQ(
        std::tuple(alice.messages[0], alice.messages[1], GetU32(alice.messages[2].data())),
        std::tuple(V(BuildPlayerJoined(a, "Alice")), V(BuildWelcome(a, 50, 60)), kMsgSkyWeather));
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(alice.Send(Pos(kMsgPlayerStopped, 10.0f, 10.0f)));
    ASSERT_TRUE(
        alice.PumpUntil([&] { return alice.MessagesOfType(kMsgNearbyPlayers).size() == 5; }));
    PlayerRecord seen;
    ASSERT_TRUE(session.WithPlayerStatistics(a, [&](const PlayerRecord& r) { seen = r; }));
    EXPECT_TRUE(seen.msgsReceived >= 5 && seen.msgsSent >= 8 && seen.latency < 1000)
        << seen.msgsSent;
    EXPECT_EQ(seen.msgsTimedOut, 0u);
    ASSERT_TRUE(alice.SetName(u"Alicia"));  // the seam hears of it on a handler thread
    PlayerInfo info;
    EXPECT_TRUE(alice.PumpUntil(
        [&] { return udp->GetClientInfo(a, info) == S_OK && info.name == u"Alicia"; }));

    auto bob = Join(u"Bob");
    const DPNID b = bob->dpnid();
    ASSERT_TRUE(bob->Leave());
    ASSERT_TRUE(alice.PumpUntil(
        [&] { return Has(alice, kMsgPlayerLeft, b) && session.playerCount() == 1; }));
    EXPECT_EQ(console.Take("+-"), "+" + std::to_string(a) + " Alice|+" + std::to_string(b) +
                                      " Bob|-" + std::to_string(b) + "|");
}

// Eight clients move and chat at once, half of them leave, and stopping the server ends the
// rest: every report is answered and every leave announced. Run under ThreadSanitizer too.
TEST_F(Dplay8SessionLoopback, ManyClientsPlayingAtOnceAreAllServedUntilTheServerStops) {
    constexpr int kClients = 8, kReports = 30;
    ASSERT_EQ(session.StartServer(), S_OK);
    std::vector<std::unique_ptr<UdpTestClient>> clients;
    for (int i = 0; i < kClients; ++i)
        clients.push_back(Join(u"p" + std::u16string(1, char16_t('0' + i))));
    for (int n = 0; n < kReports; ++n) {
        for (int i = 0; i < kClients; ++i) {
            clients[i]->Queue(Pos(kMsgPlayerMoving, float(10 * i), float(n)));
            if (n % 10 == 0)
                clients[i]->Queue(Msg(kMsgChat, {'h', 'i', 0}));
        }
        for (auto& c : clients)
            c->PumpFor(0);
    }
    for (auto& c : clients)
        ASSERT_TRUE(c->PumpUntil(
            [&] { return c->MessagesOfType(kMsgNearbyPlayers).size() == kReports; }, 5000));
    const auto half = clients.begin() + kClients / 2;
    for (auto gone = clients.begin(); gone != half; ++gone)
        ASSERT_TRUE((*gone)->Leave());
    for (auto stays = half; stays != clients.end(); ++stays)
        ASSERT_TRUE((*stays)->PumpUntil([&] {
            return std::all_of(clients.begin(), half, [&](auto& gone) {
                return Has(**stays, kMsgPlayerLeft, gone->dpnid());
            });
        }));
    const uint16_t port = udp->port();
    // The clients answer the close from another thread while the server waits for them.
    std::thread pump([&] {
        for (auto stays = half; stays != clients.end(); ++stays)
            (*stays)->PumpUntil([&] { return (*stays)->ended(); });
    });
    session.StopServer(true);
    pump.join();
    EXPECT_EQ(session.playerCount(), 0);
    EXPECT_EQ(std::ranges::count(console.Take("-"), '|'), kClients);
    EXPECT_TRUE(std::all_of(half, clients.end(), [](auto& c) { return c->ended(); }));
    EXPECT_FALSE(UdpTestClient(port).Enumerate(kApp, 300));
}

// The seam's own rules for the server's player and its guards; a port in use is refused.
TEST(Dplay8SessionHosting, TheServersOwnPlayerLivesFromHostToClose) {
    std::vector<std::pair<uint32_t, DPNID>> calls;  // the caller's thread only: no client joins
    Dplay8Session seam({false}), second({false});
    ApplicationDesc desc{DPNSESSION_CLIENT_SERVER, {}, kApplicationGuid, 0, u"seam"};
    ASSERT_EQ(seam.Host(desc, 0), DPNERR_UNINITIALIZED);
    ASSERT_EQ(seam.Initialize([&](uint32_t id, void* message) {  // the player comes first in both
        return calls.emplace_back(id, *static_cast<DPNID*>(message)), S_OK;
    }),
              S_OK);
    ASSERT_EQ(seam.Host(desc, 0), S_OK);
    const DPNID self = seam.serverPlayer();
    ASSERT_EQ(second.Initialize([](uint32_t, void*) { return S_OK; }), S_OK);
    EXPECT_TRUE(Failed(second.Host(desc, seam.port())));
    EXPECT_EQ(second.port(), 0);
    PlayerInfo info;
    ConnectionInfo stats;
    void* context = &info;
    const uint8_t byte = 1;
    uint32_t count = 0;
    DPNID ids[1] = {};
    // clang-format off
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
    // clang-format on
    EXPECT_EQ(std::tuple(context, count, ids[0]), std::tuple(nullptr, 1u, self));
    EXPECT_EQ(calls, (std::vector<std::pair<uint32_t, DPNID>>{{DPN_MSGID_CREATE_PLAYER, self},
                                                              {DPN_MSGID_DESTROY_PLAYER, self}}));
}

}  // namespace

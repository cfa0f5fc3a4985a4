// The server's session hosted on the DirectPlay 8 transport over real loopback UDP, with
// DirectPlay 8 clients that enumerate, join, talk and leave.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "support/udp_test_client.h"
#include "net/dplay8_session.h"
#include "net/game_messages.h"
#include "net/network_session.h"
#include "session_fixture.h"

namespace {

using er_test::UdpTestClient;

const dplay8::Guid kApp = [] {
    dplay8::Guid g;
    g.data1 = kApplicationGuid.data1;
    g.data2 = kApplicationGuid.data2;
    g.data3 = kApplicationGuid.data3;
    std::copy(std::begin(kApplicationGuid.data4), std::end(kApplicationGuid.data4),
              g.data4.begin());
    return g;
}();

std::vector<uint8_t> Message(uint32_t type, const std::vector<uint8_t>& payload = {}) {
    std::vector<uint8_t> bytes(8, 0);
    PutU32(bytes.data(), type);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

std::vector<uint8_t> Position(uint32_t type, float x, float y) {
    std::vector<uint8_t> payload(13, 0);
    PutF32(payload.data(), x);
    PutF32(payload.data() + 4, y);
    payload[8] = 7;
    PutU32(payload.data() + 9, 0x01020304);
    return Message(type, payload);
}

std::vector<uint8_t> Chat(const char* text) {
    std::vector<uint8_t> payload(text, text + std::strlen(text) + 1);
    return Message(kMsgChat, payload);
}

class Dplay8SessionLoopback : public ::testing::Test, protected SessionTestWorld {
protected:
    Dplay8SessionLoopback() { console.portNumberField = "0"; }
    ~Dplay8SessionLoopback() override { session.StopServer(false); }

    void Host() {
        ASSERT_EQ(session.StartServer(), S_OK);
        ASSERT_NE(dplay8Session, nullptr);
        port = dplay8Session->port();
        ASSERT_NE(port, 0);
    }

    std::unique_ptr<UdpTestClient> JoinAs(const std::u16string& name) {
        auto client = std::make_unique<UdpTestClient>(port);
        EXPECT_TRUE(client->Join(name, kApp)) << "join failed";
        // The player's record is in place once the join handler has returned (the welcome
        // goes out while it runs).
        const DPNID id = client->dpnid();
        EXPECT_TRUE(client->PumpUntil([&] {
            void* context = nullptr;
            return Succeeded(dplay8Session->GetPlayerContext(id, &context, 0)) &&
                   context != nullptr;
        }));
        return client;
    }

    std::vector<std::string> JoinLines() {
        std::lock_guard lock(console.mutex);
        return console.lines;
    }
    std::vector<DPNID> LeftIds() {
        std::lock_guard lock(console.mutex);
        return console.left;
    }

    static bool HasMessage(const UdpTestClient& c, uint32_t type, DPNID about) {
        for (const auto& m : c.MessagesOfType(type)) {
            if (m.size() >= 8 && GetU32(&m[4]) == about)
                return true;
        }
        return false;
    }

    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
    RecordingConsole console;
    Dplay8Session* dplay8Session = nullptr;
    uint16_t port = 0;
    NetworkSession session{settings, rates, random, World(), console, [this] {
                               Dplay8SessionOptions options;
                               options.enumerationPort = false;
                               options.closeLingerMs = 200;
                               auto created = std::make_unique<Dplay8Session>(options);
                               dplay8Session = created.get();
                               return created;
                           }};
};

TEST_F(Dplay8SessionLoopback, AClientEnumeratesJoinsWithItsNameAndIsWelcomed) {
    console.sessionNameField = "Dragon Keep";
    Host();
    UdpTestClient alice(port);
    auto found = alice.Enumerate(kApp);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->session_name, u"Dragon Keep");
    EXPECT_EQ(found->application, kApp);
    EXPECT_EQ(found->flags & dplay8::kSessionClientServer, dplay8::kSessionClientServer);

    ASSERT_TRUE(alice.Join(u"Alice", kApp));
    const DPNID id = alice.dpnid();
    EXPECT_EQ(found->instance, alice.connect_info()->desc.instance);
    ASSERT_TRUE(alice.PumpUntil([&] {
        return HasMessage(alice, kMsgWelcome, id) && HasMessage(alice, kMsgPlayerJoined, id) &&
               !alice.MessagesOfType(kMsgSkyWeather).empty();
    }));
    const auto joined = alice.MessagesOfType(kMsgPlayerJoined);
    EXPECT_STREQ(reinterpret_cast<const char*>(&joined[0][8]), "Alice");
    // Welcome comes before the sky, as the server sends them.
    const auto welcome =
        std::find_if(alice.messages.begin(), alice.messages.end(),
                     [](const auto& m) { return GetU32(m.data()) == kMsgWelcome; });
    const auto sky = std::find_if(alice.messages.begin(), alice.messages.end(),
                                  [](const auto& m) { return GetU32(m.data()) == kMsgSkyWeather; });
    EXPECT_LT(welcome, sky);
    // The server counts and lists the player once it has sent the welcome.
    alice.PumpUntil([&] { return session.playerCount() == 1 && !JoinLines().empty(); });
    EXPECT_EQ(session.playerCount(), 1);
    EXPECT_EQ(JoinLines(), (std::vector<std::string>{std::to_string(id) + " Alice"}));
}

TEST_F(Dplay8SessionLoopback, APositionReportIsAnsweredWithTheNearbyPlayers) {
    Host();
    auto alice = JoinAs(u"Alice");
    auto bob = JoinAs(u"Bob");
    ASSERT_TRUE(bob->Send(Position(kMsgPlayerStopped, 100.0f, 100.0f)));
    // Bob's report has been handled once he has his own (empty or not) reply.
    ASSERT_TRUE(bob->PumpUntil([&] { return !bob->MessagesOfType(kMsgNearbyPlayers).empty(); }));
    ASSERT_TRUE(alice->Send(Position(kMsgPlayerMoving, 150.0f, 120.0f)));
    ASSERT_TRUE(alice->PumpUntil([&] {
        for (const auto& m : alice->MessagesOfType(kMsgNearbyPlayers)) {
            if (m.size() >= kListHeaderSize + kNearbyPlayerEntrySize &&
                GetU32(&m[kListHeaderSize]) == bob->dpnid())
                return true;
        }
        return false;
    }));
}

TEST_F(Dplay8SessionLoopback, ChatReachesTheOtherClient) {
    Host();
    auto alice = JoinAs(u"Alice");
    auto bob = JoinAs(u"Bob");
    ASSERT_TRUE(alice->Send(Chat("hello over udp")));
    ASSERT_TRUE(bob->PumpUntil([&] { return HasMessage(*bob, kMsgChat, alice->dpnid()); }));
    const auto chat = bob->MessagesOfType(kMsgChat);
    EXPECT_STREQ(reinterpret_cast<const char*>(&chat[0][8]), "hello over udp");
    alice->PumpFor(50);
    EXPECT_TRUE(alice->MessagesOfType(kMsgChat).empty());
}

TEST_F(Dplay8SessionLoopback, ALeavingClientIsAnnouncedToTheOther) {
    Host();
    auto alice = JoinAs(u"Alice");
    auto bob = JoinAs(u"Bob");
    const DPNID bobId = bob->dpnid();
    ASSERT_TRUE(alice->PumpUntil([&] { return HasMessage(*alice, kMsgPlayerJoined, bobId); }));
    ASSERT_TRUE(bob->Leave());
    ASSERT_TRUE(alice->PumpUntil([&] { return HasMessage(*alice, kMsgPlayerLeft, bobId); }));
    alice->PumpUntil([&] { return session.playerCount() == 1; });
    EXPECT_EQ(LeftIds(), std::vector<DPNID>{bobId});
    EXPECT_EQ(session.playerCount(), 1);
}

TEST_F(Dplay8SessionLoopback, StoppingTheServerDeliversEveryLeaveAndEndsTheClients) {
    Host();
    auto alice = JoinAs(u"Alice");
    auto bob = JoinAs(u"Bob");
    std::vector<DPNID> ids{alice->dpnid(), bob->dpnid()};
    // The clients answer the close from another thread while the server waits for them.
    std::thread pump([&] {
        alice->PumpUntil([&] { return alice->ended(); });
        bob->PumpUntil([&] { return bob->ended(); });
    });
    session.StopServer(true);
    EXPECT_EQ(session.playerCount(), 0);
    std::vector<DPNID> left = LeftIds();
    std::sort(left.begin(), left.end());
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(left, ids);
    pump.join();
    EXPECT_TRUE(alice->ended());
    EXPECT_TRUE(bob->ended());
    UdpTestClient late(port);
    EXPECT_FALSE(late.Enumerate(kApp, 300));
}

TEST_F(Dplay8SessionLoopback, ANameChangeIsWhatGetClientInfoReportsAfterwards) {
    Host();
    auto alice = JoinAs(u"Alice");
    ASSERT_TRUE(alice->SetName(u"Alicia"));
    PlayerInfo info;
    ASSERT_EQ(dplay8Session->GetClientInfo(alice->dpnid(), info), S_OK);
    // The confirmation leaves as the name changes; the seam hears of it on a handler thread.
    alice->PumpUntil([&] {
        return Succeeded(dplay8Session->GetClientInfo(alice->dpnid(), info)) &&
               info.name == u"Alicia";
    });
    EXPECT_EQ(info.name, u"Alicia");
}

TEST_F(Dplay8SessionLoopback, PlayerStatisticsComeFromTheTransport) {
    Host();
    auto alice = JoinAs(u"Alice");
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(alice->Send(Position(kMsgPlayerStopped, 10.0f, 10.0f)));
    ASSERT_TRUE(
        alice->PumpUntil([&] { return alice->MessagesOfType(kMsgNearbyPlayers).size() >= 5; }));
    PlayerRecord seen;
    ASSERT_TRUE(
        session.WithPlayerStatistics(alice->dpnid(), [&](const PlayerRecord& r) { seen = r; }));
    EXPECT_GE(seen.msgsReceived, 5u);
    EXPECT_GE(seen.msgsSent, 8u);  // joined, welcome, sky and five replies
    EXPECT_EQ(seen.msgsTimedOut, 0u);
    EXPECT_LT(seen.latency, 1000u);
}

// Eight clients move and chat at once while others leave: every report is answered, every
// leave announced, and stopping leaves nobody behind. Run under ThreadSanitizer as well.
TEST_F(Dplay8SessionLoopback, ManyClientsPlayingAtOnceAreAllServed) {
    constexpr int kClients = 8;
    constexpr int kReports = 30;
    Host();
    std::vector<std::unique_ptr<UdpTestClient>> clients;
    for (int i = 0; i < kClients; ++i)
        clients.push_back(JoinAs(u"p" + std::u16string(1, char16_t('0' + i))));
    for (int n = 0; n < kReports; ++n) {
        for (int i = 0; i < kClients; ++i) {
            clients[size_t(i)]->Queue(Position(kMsgPlayerMoving, float(10 * i), float(n)));
            if (n % 10 == 0)
                clients[size_t(i)]->Queue(Chat("hi"));
        }
        for (auto& c : clients)
            c->PumpFor(0);
    }
    for (auto& c : clients) {
        UdpTestClient& client = *c;
        ASSERT_TRUE(client.PumpUntil(
            [&] { return client.MessagesOfType(kMsgNearbyPlayers).size() == size_t(kReports); },
            5000));
    }
    for (int i = 0; i < kClients / 2; ++i)
        ASSERT_TRUE(clients[size_t(i)]->Leave());
    for (int i = kClients / 2; i < kClients; ++i) {
        UdpTestClient& client = *clients[size_t(i)];
        ASSERT_TRUE(client.PumpUntil([&] {
            for (int j = 0; j < kClients / 2; ++j) {
                if (!HasMessage(client, kMsgPlayerLeft, clients[size_t(j)]->dpnid()))
                    return false;
            }
            return true;
        }));
    }
    session.StopServer(false);
    EXPECT_EQ(session.playerCount(), 0);
    EXPECT_EQ(LeftIds().size(), size_t(kClients));
}

// A handler that records every notification, for the seam's own rules.
struct Recorder {
    std::mutex mutex;
    std::vector<std::pair<uint32_t, DPNID>> calls;
    HRESULT operator()(uint32_t id, void* message) {
        DPNID player = 0;
        if (id == DPN_MSGID_CREATE_PLAYER)
            player = static_cast<CreatePlayerMessage*>(message)->player;
        if (id == DPN_MSGID_DESTROY_PLAYER)
            player = static_cast<DestroyPlayerMessage*>(message)->player;
        std::lock_guard lock(mutex);
        calls.emplace_back(id, player);
        return S_OK;
    }
};

ApplicationDesc Desc() {
    ApplicationDesc desc;
    desc.flags = DPNSESSION_CLIENT_SERVER;
    desc.application = kApplicationGuid;
    desc.sessionName = u"seam";
    return desc;
}

TEST(Dplay8SessionHosting, ASecondHostOnAPortInUseFails) {
    Dplay8SessionOptions options;
    options.enumerationPort = false;
    Dplay8Session first(options), second(options);
    ASSERT_EQ(first.Initialize([](uint32_t, void*) { return S_OK; }), S_OK);
    ASSERT_EQ(second.Initialize([](uint32_t, void*) { return S_OK; }), S_OK);
    ASSERT_EQ(first.Host(Desc(), 0), S_OK);
    const HRESULT result = second.Host(Desc(), first.port());
    EXPECT_TRUE(Failed(result));
    EXPECT_EQ(second.port(), 0);
    EXPECT_EQ(second.Close(0), S_OK);
    EXPECT_EQ(first.Close(0), S_OK);
}

TEST(Dplay8SessionHosting, TheServersOwnPlayerIsCreatedAtHostAndDestroyedAtClose) {
    Recorder recorder;
    Dplay8SessionOptions options;
    options.enumerationPort = false;
    Dplay8Session seam(options);
    ASSERT_EQ(seam.Host(Desc(), 0), DPNERR_UNINITIALIZED);
    ASSERT_EQ(seam.Initialize(std::ref(recorder)), S_OK);
    ASSERT_EQ(seam.Host(Desc(), 0), S_OK);
    const DPNID self = seam.serverPlayer();
    {
        std::lock_guard lock(recorder.mutex);
        ASSERT_EQ(recorder.calls.size(), 1u);
        EXPECT_EQ(recorder.calls[0], std::make_pair(DPN_MSGID_CREATE_PLAYER, self));
    }
    PlayerInfo info;
    EXPECT_EQ(seam.GetClientInfo(self, info), DPNERR_INVALIDPLAYER);
    ConnectionInfo stats;
    EXPECT_EQ(seam.GetConnectionInfo(self, stats), DPNERR_INVALIDPLAYER);
    void* context = &info;
    EXPECT_EQ(seam.GetPlayerContext(self, &context, 0), S_OK);
    EXPECT_EQ(context, nullptr);
    EXPECT_EQ(seam.GetPlayerContext(self ^ 1, &context, 0), DPNERR_INVALIDPLAYER);
    const uint8_t byte = 1;
    EXPECT_EQ(seam.SendTo(self ^ 1, &byte, 1, 0, 0), DPNERR_INVALIDPLAYER);
    uint32_t count = 0;
    EXPECT_EQ(seam.EnumPlayersAndGroups(nullptr, &count, DPNENUM_PLAYERS), DPNERR_BUFFERTOOSMALL);
    ASSERT_EQ(count, 1u);
    DPNID ids[1] = {};
    EXPECT_EQ(seam.EnumPlayersAndGroups(ids, &count, DPNENUM_PLAYERS), S_OK);
    EXPECT_EQ(ids[0], self);

    EXPECT_EQ(seam.Close(0), S_OK);
    std::lock_guard lock(recorder.mutex);
    ASSERT_EQ(recorder.calls.size(), 2u);
    EXPECT_EQ(recorder.calls[1], std::make_pair(DPN_MSGID_DESTROY_PLAYER, self));
}

}  // namespace

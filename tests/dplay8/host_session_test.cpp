// The sans-IO host session with sans-IO clients on a simulated network: enumeration, the
// join exchange, messages, leaving, refusals, closing, and many seeds under loss.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "dplay8/dpnid.h"
#include "dplay8/frames.h"
#include "dplay8/session_messages.h"
#include "host_simulation.h"

namespace {

using dplay8::Bytes;
using dplay8::ClientEventType;
using dplay8::HostEventType;
using dplay8_test::HostSimulation;
using dplay8_test::SimClient;

const dplay8::Guid kApplication = *dplay8::ParseGuid("{EDE9493E-6AC8-4F15-8D01-8B163200B966}");
const dplay8::Guid kInstance = *dplay8::ParseGuid("{94BE8123-A1AB-48FB-A2E7-23859E658936}");
const dplay8::Guid kOther = *dplay8::ParseGuid("{00000001-0000-0000-0000-000000000000}");

dplay8::HostConfig Config() {
    dplay8::HostConfig c;
    c.application = kApplication;
    c.instance = kInstance;
    c.session_name = u"Ember Realms";
    return c;
}

bool HasEvent(const SimClient& c, ClientEventType type) {
    return std::any_of(c.events.begin(), c.events.end(),
                       [&](const auto& e) { return e.type == type; });
}

size_t CountHost(HostSimulation& sim, HostEventType type, uint32_t dpnid = 0) {
    return size_t(std::count_if(
        sim.host_events().begin(), sim.host_events().end(),
        [&](const auto& e) { return e.type == type && (dpnid == 0 || e.dpnid == dpnid); }));
}

bool Join(HostSimulation& sim, SimClient& c) {
    return sim.RunUntil([&] { return c.session->joined(); }, sim.now() + 10000) &&
           sim.RunUntil(
               [&] {
                   return CountHost(sim, HostEventType::kPlayerCreated, c.session->dpnid()) == 1;
               },
               sim.now() + 10000);
}

dplay8::SendOptions Guaranteed() {
    dplay8::SendOptions o;
    o.guaranteed = true;
    return o;
}

TEST(Dplay8HostSession, ClientJoinsWithItsNameAndTheNameTableHoldsServerAndClient) {
    HostSimulation sim(Config());
    SimClient& alice = sim.AddClient(u"Alice", kApplication);
    ASSERT_TRUE(Join(sim, alice));

    const auto& created = sim.host_events().front();
    EXPECT_EQ(created.type, HostEventType::kPlayerCreated);
    EXPECT_EQ(created.name, u"Alice");
    EXPECT_EQ(created.dpnid, alice.session->dpnid());
    EXPECT_EQ(sim.host().player_count(), 1u);

    const auto joined = std::find_if(alice.events.begin(), alice.events.end(), [](const auto& e) {
        return e.type == ClientEventType::kJoined;
    });
    ASSERT_NE(joined, alice.events.end());
    const dplay8::SendConnectInfo& info = joined->joined;
    EXPECT_EQ(info.desc.instance, kInstance);
    EXPECT_EQ(info.desc.application, kApplication);
    EXPECT_EQ(info.desc.session_name, u"Ember Realms");
    EXPECT_EQ(info.desc.flags, dplay8::kSessionClientServer);
    EXPECT_EQ(info.desc.current_players, 2u);
    EXPECT_FALSE(info.desc.password);
    ASSERT_EQ(info.entries.size(), 2u);
    EXPECT_EQ(info.entries[0].dpnid, sim.host().server_dpnid());
    EXPECT_EQ(info.entries[0].flags, dplay8::kEntryHost | dplay8::kEntryServer);
    EXPECT_EQ(info.entries[1].dpnid, info.dpnid);
    EXPECT_EQ(info.entries[1].flags, dplay8::kEntryClient);
    EXPECT_EQ(info.entries[1].name, u"Alice");
    EXPECT_EQ(info.entries[1].url, dplay8::EndpointUrl(alice.endpoint));
    EXPECT_EQ(info.entries[1].version, info.version);
    EXPECT_EQ(dplay8::DpnidIndex(sim.host().server_dpnid(), kInstance), 2u);
    EXPECT_EQ(dplay8::DpnidIndex(info.dpnid, kInstance), 3u);
    EXPECT_GT(dplay8::DpnidVersion(info.dpnid, kInstance),
              dplay8::DpnidVersion(sim.host().server_dpnid(), kInstance));
}

TEST(Dplay8HostSession, GameMessagesFlowBothWaysBetweenJoinedPlayersOnly) {
    HostSimulation sim(Config());
    SimClient& alice = sim.AddClient(u"Alice", kApplication);
    ASSERT_TRUE(Join(sim, alice));
    const uint32_t id = alice.session->dpnid();

    ASSERT_TRUE(alice.session->Send(Bytes{1, 2, 3}, Guaranteed(), sim.now()));
    ASSERT_TRUE(sim.RunUntil([&] { return CountHost(sim, HostEventType::kMessage) == 1; },
                             sim.now() + 5000));
    const auto& m = sim.host_events().back();
    EXPECT_EQ(m.dpnid, id);
    EXPECT_EQ(m.data, (Bytes{1, 2, 3}));
    EXPECT_TRUE(m.guaranteed);

    EXPECT_TRUE(sim.host().Send(id, Bytes{9, 8}, Guaranteed(), sim.now()));
    EXPECT_FALSE(sim.host().Send(id + 1, Bytes{9, 8}, Guaranteed(), sim.now()));
    EXPECT_FALSE(sim.host().Send(sim.host().server_dpnid(), Bytes{9}, Guaranteed(), sim.now()));
    ASSERT_TRUE(sim.RunUntil([&] { return alice.messages.size() == 1; }, sim.now() + 5000));
    EXPECT_EQ(alice.messages[0], (Bytes{9, 8}));
}

TEST(Dplay8HostSession, AClientsNameChangeIsAnsweredAndReported) {
    HostSimulation sim(Config());
    SimClient& alice = sim.AddClient(u"Alice", kApplication);
    ASSERT_TRUE(Join(sim, alice));
    ASSERT_TRUE(alice.session->SetName(u"Alicia", 0x5151, sim.now()));
    ASSERT_TRUE(sim.RunUntil([&] { return HasEvent(alice, ClientEventType::kInfoUpdated); },
                             sim.now() + 5000));
    const dplay8::UpdateInfo& answer = alice.events.back().updated;
    EXPECT_EQ(answer.context, 0x5151u);
    EXPECT_EQ(answer.dpnid, alice.session->dpnid());
    EXPECT_EQ(answer.requesting, alice.session->dpnid());
    EXPECT_EQ(answer.info_flags, dplay8::kInfoName);
    EXPECT_EQ(answer.name, u"Alicia");
    ASSERT_EQ(CountHost(sim, HostEventType::kPlayerInfo), 1u);
    EXPECT_EQ(sim.host_events().back().name, u"Alicia");
    EXPECT_EQ(sim.host_events().back().dpnid, alice.session->dpnid());
}

TEST(Dplay8HostSession, ALeavingClientIsDestroyedOnceAndItsConnectionForgotten) {
    HostSimulation sim(Config());
    SimClient& alice = sim.AddClient(u"Alice", kApplication);
    ASSERT_TRUE(Join(sim, alice));
    const uint32_t id = alice.session->dpnid();
    alice.session->Close(sim.now());
    ASSERT_TRUE(sim.RunUntil([&] { return CountHost(sim, HostEventType::kPlayerDestroyed) == 1; },
                             sim.now() + 5000));
    EXPECT_EQ(sim.host_events().back().dpnid, id);
    EXPECT_EQ(sim.host_events().back().reason, dplay8::kDestroyNormal);
    EXPECT_EQ(sim.host().player_count(), 0u);
    ASSERT_TRUE(sim.RunUntil([&] { return alice.session->ended(); }, sim.now() + 5000));
    EXPECT_EQ(alice.events.back().type, ClientEventType::kTerminated);
    EXPECT_EQ(alice.events.back().reason, dplay8::DisconnectReason::kClosedLocally);
    EXPECT_FALSE(sim.host().Send(id, Bytes{1}, Guaranteed(), sim.now()));
    ASSERT_TRUE(
        sim.RunUntil([&] { return sim.host().connection_count() == 0; }, sim.now() + 60000));
    EXPECT_EQ(CountHost(sim, HostEventType::kPlayerDestroyed), 1u);
}

TEST(Dplay8HostSession, ASilentClientIsDestroyedAsConnectionLost) {
    HostSimulation sim(Config());
    SimClient& alice = sim.AddClient(u"Alice", kApplication);
    ASSERT_TRUE(Join(sim, alice));
    alice.silent = true;
    // Keep-alive after 25 s of silence, then at most ten retries capped at 5 s.
    ASSERT_TRUE(sim.RunUntil([&] { return CountHost(sim, HostEventType::kPlayerDestroyed) == 1; },
                             sim.now() + 90000));
    EXPECT_EQ(sim.host_events().back().reason, dplay8::kDestroyConnectionLost);
}

TEST(Dplay8HostSession, AClientStartingOverOnTheSameEndpointReplacesTheOldPlayer) {
    HostSimulation sim(Config());
    SimClient& alice = sim.AddClient(u"Alice", kApplication);
    ASSERT_TRUE(Join(sim, alice));
    const uint32_t old_id = alice.session->dpnid();
    dplay8::ClientConfig config;
    config.application = kApplication;
    config.name = u"Alice again";
    config.session_id = 0xABCD;
    alice.session = std::make_unique<dplay8::ClientSession>(config, sim.now());
    sim.Collect();
    ASSERT_TRUE(sim.RunUntil([&] { return alice.session->joined(); }, sim.now() + 5000));
    ASSERT_TRUE(sim.RunUntil([&] { return CountHost(sim, HostEventType::kPlayerCreated) == 2; },
                             sim.now() + 5000));
    EXPECT_EQ(CountHost(sim, HostEventType::kPlayerDestroyed, old_id), 1u);
    EXPECT_NE(alice.session->dpnid(), old_id);
    EXPECT_EQ(sim.host_events().back().name, u"Alice again");
    EXPECT_EQ(sim.host().player_count(), 1u);
    EXPECT_EQ(sim.host().connection_count(), 1u);
}

TEST(Dplay8HostSession, RefusedRequestsGetConnectFailedWithTheirCode) {
    struct Case {
        const char* what;
        dplay8::Guid application;
        uint32_t max_players;
        bool password;
        dplay8::HResult expected;
    };
    const Case cases[] = {
        {"another application", kOther, 0, false, dplay8::kErrInvalidApplication},
        {"a full session (the server player fills it)", kApplication, 1, false,
         dplay8::kErrHostRejectedConnection},
        {"no password where one is required", kApplication, 0, true, dplay8::kErrInvalidPassword},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dplay8::HostConfig config = Config();
        config.max_players = c.max_players;
        if (c.password)
            config.password = u"secret";
        HostSimulation sim(config);
        SimClient& bob = sim.AddClient(u"Bob", c.application);
        ASSERT_TRUE(sim.RunUntil([&] { return HasEvent(bob, ClientEventType::kConnectFailed); },
                                 sim.now() + 10000));
        const auto failed = std::find_if(bob.events.begin(), bob.events.end(), [](const auto& e) {
            return e.type == ClientEventType::kConnectFailed;
        });
        EXPECT_EQ(failed->result, c.expected);
        sim.RunFor(10000);
        EXPECT_TRUE(sim.host_events().empty());
        EXPECT_EQ(sim.host().player_count(), 0u);
        EXPECT_TRUE(bob.session->ended());
    }
}

TEST(Dplay8HostSession, ClientsStillJoiningCountAgainstTheLimit) {
    dplay8::HostConfig config = Config();
    config.max_players = 2;  // the server's player and one client
    HostSimulation sim(config);
    SimClient& a = sim.AddClient(u"a", kApplication);
    SimClient& b = sim.AddClient(u"b", kApplication);
    sim.RunFor(5000);
    EXPECT_EQ(CountHost(sim, HostEventType::kPlayerCreated), 1u);
    EXPECT_NE(a.session->joined(), b.session->joined());
    EXPECT_TRUE(HasEvent(a.session->joined() ? b : a, ClientEventType::kConnectFailed));
}

TEST(Dplay8HostSession, EnumerationIsAnsweredOnTheSocketItArrivedOnForOurApplicationOnly) {
    HostSimulation sim(Config());
    const dplay8::Endpoint asker{0x7F000001, 40000};
    dplay8::EnumQuery query;
    query.enum_payload = 0xBEEF;
    query.application = kApplication;
    sim.Inject(asker, dplay8::SocketRole::kEnumeration, dplay8::Encode(query));
    ASSERT_EQ(sim.host_sent().size(), 1u);
    const dplay8::Datagram& answer = sim.host_sent()[0];
    EXPECT_EQ(answer.peer, asker);
    EXPECT_EQ(answer.socket, dplay8::SocketRole::kEnumeration);
    auto response = dplay8::DecodeEnumResponse(answer.bytes);
    ASSERT_TRUE(response);
    EXPECT_EQ(response->enum_payload, 0xBEEF);
    EXPECT_EQ(response->session_name, u"Ember Realms");
    EXPECT_EQ(response->instance, kInstance);
    EXPECT_EQ(response->current_players, 1u);

    query.application = kOther;
    sim.Inject(asker, dplay8::SocketRole::kSession, dplay8::Encode(query));
    EXPECT_EQ(sim.host_sent().size(), 1u);
    query.application.reset();
    sim.Inject(asker, dplay8::SocketRole::kSession, dplay8::Encode(query));
    ASSERT_EQ(sim.host_sent().size(), 2u);
    EXPECT_EQ(sim.host_sent()[1].socket, dplay8::SocketRole::kSession);
    EXPECT_EQ(sim.host().connection_count(), 0u);

    sim.host().Close(sim.now());
    sim.Inject(asker, dplay8::SocketRole::kSession, dplay8::Encode(query));
    EXPECT_EQ(sim.host_sent().size(), 2u);
}

TEST(Dplay8HostSession, ArbitraryDatagramsNeverCreateConnectionsOrPlayers) {
    HostSimulation sim(Config());
    SimClient& alice = sim.AddClient(u"Alice", kApplication);
    ASSERT_TRUE(Join(sim, alice));
    const size_t events = sim.host_events().size();
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        Bytes junk(std::uniform_int_distribution<size_t>(0, 64)(random));
        for (auto& b : junk)
            b = uint8_t(random());
        // A CONNECT from a new endpoint is the only datagram that opens a connection.
        if (!junk.empty() && dplay8::CommandOpcode(junk) == dplay8::kOpConnect)
            continue;
        const dplay8::Endpoint from{0x0B000000u + uint32_t(i % 50), uint16_t(1000 + i % 7)};
        sim.Inject(from, i % 3 ? dplay8::SocketRole::kSession : dplay8::SocketRole::kEnumeration,
                   junk);
    }
    EXPECT_EQ(sim.host().connection_count(), 1u);
    EXPECT_EQ(sim.host_events().size(), events);
    // The joined client still works.
    ASSERT_TRUE(alice.session->Send(Bytes{5}, Guaranteed(), sim.now()));
    EXPECT_TRUE(sim.RunUntil([&] { return CountHost(sim, HostEventType::kMessage) == 1; },
                             sim.now() + 5000));
}

TEST(Dplay8HostSession, ClosingDestroysEveryPlayerEndsEveryClientAndRefusesNewOnes) {
    HostSimulation sim(Config());
    std::vector<SimClient*> clients;
    for (auto name : {u"a", u"b", u"c"}) {
        clients.push_back(&sim.AddClient(name, kApplication));
        ASSERT_TRUE(Join(sim, *clients.back()));
    }
    sim.host().Close(sim.now());
    sim.Collect();
    EXPECT_EQ(CountHost(sim, HostEventType::kPlayerDestroyed), 3u);
    for (const auto& e : sim.host_events()) {
        if (e.type == HostEventType::kPlayerDestroyed) {
            EXPECT_EQ(e.reason, dplay8::kDestroySessionTerminated);
        }
    }
    EXPECT_EQ(sim.host().player_count(), 0u);
    ASSERT_TRUE(sim.RunUntil([&] { return sim.host().Quiet(sim.now()); }, sim.now() + 5000));
    ASSERT_TRUE(sim.RunUntil(
        [&] {
            return std::all_of(clients.begin(), clients.end(),
                               [](SimClient* c) { return c->session->ended(); });
        },
        sim.now() + 5000));
    SimClient& late = sim.AddClient(u"late", kApplication);
    sim.RunFor(3000);
    EXPECT_FALSE(late.session->joined());
    EXPECT_EQ(CountHost(sim, HostEventType::kPlayerCreated), 3u);
}

TEST(Dplay8HostSession, DestroyingAPlayerTerminatesItsClient) {
    HostSimulation sim(Config());
    SimClient& alice = sim.AddClient(u"Alice", kApplication);
    ASSERT_TRUE(Join(sim, alice));
    ASSERT_TRUE(sim.host().DestroyPlayer(alice.session->dpnid(), sim.now()));
    sim.Collect();
    EXPECT_EQ(sim.host_events().back().reason, dplay8::kDestroyHostDestroyedPlayer);
    ASSERT_TRUE(sim.RunUntil([&] { return HasEvent(alice, ClientEventType::kTerminated); },
                             sim.now() + 5000));
    EXPECT_TRUE(alice.events.back().terminated_by_host);
}

TEST(Dplay8HostSession, PlayerIdsStayUniqueAmongLivePlayersOverManyJoinsAndLeaves) {
    HostSimulation sim(Config());
    std::mt19937 random(3);
    std::set<uint32_t> live;
    std::vector<SimClient*> present;
    for (int round = 0; round < 150; ++round) {
        SimClient& c = sim.AddClient(u"p", kApplication);
        ASSERT_TRUE(Join(sim, c));
        const uint32_t id = c.session->dpnid();
        EXPECT_NE(id, 0u);
        EXPECT_NE(id, sim.host().server_dpnid());
        EXPECT_TRUE(live.insert(id).second) << "id " << id << " in use twice";
        present.push_back(&c);
        if (present.size() > 3 || random() % 2) {
            SimClient* leaving = present[random() % present.size()];
            const uint32_t gone = leaving->session->dpnid();
            leaving->session->Close(sim.now());
            ASSERT_TRUE(sim.RunUntil(
                [&] { return CountHost(sim, HostEventType::kPlayerDestroyed, gone) == 1; },
                sim.now() + 5000));
            live.erase(gone);
            present.erase(std::find(present.begin(), present.end(), leaving));
        }
    }
}

// Under loss and jitter every join completes, every guaranteed message arrives exactly once
// and in order both ways, and every leave is reported exactly once.
TEST(Dplay8HostSession, ManyClientsJoinTalkAndLeaveUnderLossForManySeeds) {
    constexpr int kClients = 4;
    constexpr int kMessages = 30;
    for (uint32_t seed = 1; seed <= 25; ++seed) {
        SCOPED_TRACE(seed);
        HostSimulation sim(Config(), seed, 0.2, 20, 50);
        for (int i = 0; i < kClients; ++i)
            sim.AddClient(u"p" + std::u16string(1, char16_t('0' + i)), kApplication);
        ASSERT_TRUE(
            sim.RunUntil([&] { return CountHost(sim, HostEventType::kPlayerCreated) == kClients; },
                         sim.now() + 60000));
        for (int n = 0; n < kMessages; ++n) {
            for (int i = 0; i < kClients; ++i) {
                SimClient& c = sim.client(size_t(i));
                ASSERT_TRUE(
                    c.session->Send(Bytes{uint8_t(i), uint8_t(n)}, Guaranteed(), sim.now()));
                ASSERT_TRUE(sim.host().Send(c.session->dpnid(), Bytes{uint8_t(n)}, Guaranteed(),
                                            sim.now()));
            }
            sim.RunFor(5);
        }
        ASSERT_TRUE(sim.RunUntil(
            [&] {
                if (CountHost(sim, HostEventType::kMessage) != kClients * kMessages)
                    return false;
                for (int i = 0; i < kClients; ++i) {
                    if (sim.client(size_t(i)).messages.size() != kMessages)
                        return false;
                }
                return true;
            },
            sim.now() + 120000));
        std::map<uint32_t, int> next;
        for (const auto& e : sim.host_events()) {
            if (e.type != HostEventType::kMessage)
                continue;
            ASSERT_EQ(e.data.size(), 2u);
            EXPECT_EQ(e.data[1], next[e.dpnid]++);
        }
        for (int i = 0; i < kClients; ++i) {
            const SimClient& c = sim.client(size_t(i));
            for (int n = 0; n < kMessages; ++n)
                EXPECT_EQ(c.messages[size_t(n)], Bytes{uint8_t(n)});
        }
        for (int i = 0; i < kClients; ++i)
            sim.client(size_t(i)).session->Close(sim.now());
        ASSERT_TRUE(sim.RunUntil(
            [&] { return CountHost(sim, HostEventType::kPlayerDestroyed) == kClients; },
            sim.now() + 120000));
        sim.RunFor(30000);
        EXPECT_EQ(CountHost(sim, HostEventType::kPlayerDestroyed), size_t(kClients));
    }
}

}  // namespace

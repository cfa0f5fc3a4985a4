// The sans-IO host session with sans-IO clients on a simulated network, then the handler pool.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <numeric>
#include <set>
#include <thread>

#include "dplay8/dpnid.h"
#include "dplay8/frames.h"
#include "dplay8/ordered_dispatcher.h"
#include "simulated_network.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace dplay8;
using dplay8_test::HostSimulation;
using dplay8_test::SimClient;

const Guid kApplication = *ParseGuid("{EDE9493E-6AC8-4F15-8D01-8B163200B966}");
const Guid kInstance = *ParseGuid("{94BE8123-A1AB-48FB-A2E7-23859E658936}");
const SendOptions kGuaranteed{.guaranteed = true};

HostConfig Config(uint32_t max_players = 0) {
    HostConfig c;
    c.application = kApplication, c.instance = kInstance, c.session_name = u"Ember Realms";
    c.max_players = max_players;
    return c;
}

// The host's events as "+3 Alice; m3 1 2 3 g; i3 Alicia; -3 r1; ", by name table index.
std::string Log(HostSimulation& sim) {
    std::string s;
    for (const HostEvent& e : sim.host_events()) {
        s += "+m-i"[int(e.type)] + std::to_string(DpnidIndex(e.dpnid, kInstance));
        for (char16_t c : e.name)
            s += c == e.name[0] ? std::string(" ") + char(c) : std::string(1, char(c));
        for (uint8_t b : e.data)
            s += ' ' + std::to_string(b);
        s += e.guaranteed ? " g" : "";
        s += e.type == HostEventType::kPlayerDestroyed ? " r" + std::to_string(e.reason) : "";
        s += "; ";
    }
    return s;
}

const ClientEvent* Find(const SimClient& c, ClientEventType type) {
    auto it = std::ranges::find(c.events, type, &ClientEvent::type);
    return it == c.events.end() ? nullptr : &*it;
}

size_t CountHost(HostSimulation& sim, HostEventType type, uint32_t dpnid = 0) {
    return std::ranges::count_if(sim.host_events(), [&](auto& e) {
        return e.type == type && (dpnid == 0 || e.dpnid == dpnid);
    });
}

bool Until(HostSimulation& sim, const std::function<bool()>& done, Millis within = 5000) {
    return sim.RunUntil(done, sim.now() + within);
}

bool Join(HostSimulation& sim, SimClient& c) {
    return Until(
        sim,
        [&] {
            return c.session->joined() &&
                   CountHost(sim, HostEventType::kPlayerCreated, c.session->dpnid()) == 1;
        },
        10000);
}

TEST(Dplay8HostSession, AJoinedClientHasItsNameTableTalksRenamesAndLeavesOnce) {
    HostSimulation sim(Config());
    SimClient& alice = sim.AddClient(u"Alice", kApplication);
    ASSERT_TRUE(Join(sim, alice));
    const uint32_t id = alice.session->dpnid(), server = sim.host().server_dpnid();
    // The server's player is index 2 and the first client 3, one name table version later.
    SendConnectInfo want{
        {},
        {0x50, kSessionClientServer, 0, 2, u"Ember Realms", {}, {}, {}, kInstance, kApplication},
        MakeDpnid(3, 3, kInstance),
        3};
    want.entries = {
        {server, 0, kEntryHost | kEntryServer, 2, 0, 8, u"", {}, ""},
        {want.dpnid, 0, kEntryClient, 3, 0, 8, u"Alice", {}, EndpointUrl(alice.endpoint)}};
    ASSERT_TRUE(Find(alice, ClientEventType::kJoined));
    EXPECT_EQ(Find(alice, ClientEventType::kJoined)->joined, want);
    EXPECT_EQ(std::pair(id, server), std::pair(want.dpnid, MakeDpnid(2, 2, kInstance)));
    EXPECT_EQ(sim.host().player_count(), 1u);

    ASSERT_TRUE(alice.session->Send(Bytes{1, 2, 3}, kGuaranteed, sim.now()));
    EXPECT_TRUE(sim.host().Send(id, Bytes{9, 8}, kGuaranteed, sim.now()));
    EXPECT_FALSE(sim.host().Send(id + 1, Bytes{9, 8}, kGuaranteed, sim.now()));
    EXPECT_FALSE(sim.host().Send(server, Bytes{9}, kGuaranteed, sim.now()));
    ASSERT_TRUE(Until(sim, [&] { return alice.messages == std::vector<Bytes>{{9, 8}}; }));
    // A name change is answered to the client alone and reported.
    ASSERT_TRUE(alice.session->SetName(u"Alicia", 0x5151, sim.now()));
    ASSERT_TRUE(Until(sim, [&] { return Find(alice, ClientEventType::kInfoUpdated); }));
    EXPECT_EQ(Find(alice, ClientEventType::kInfoUpdated)->updated,
              (UpdateInfo{0x5151, id, 4, 0, kInfoName, u"Alicia", {}, id}));

    alice.session->Close(sim.now());
    ASSERT_TRUE(Until(sim, [&] { return alice.session->ended(); }));
    EXPECT_EQ(alice.events.back().reason, DisconnectReason::kClosedLocally);
    ASSERT_TRUE(Until(
        sim, [&] { return sim.host().connection_count() == 0; }, 60000));
    EXPECT_EQ(sim.host().player_count(), 0u);
    EXPECT_FALSE(sim.host().Send(id, Bytes{1}, kGuaranteed, sim.now()));
    EXPECT_EQ(Log(sim), "+3 Alice; m3 1 2 3 g; i3 Alicia; -3 r1; ");
}

TEST(Dplay8HostSession, PlayersLeaveAsLostOrDestroyedOrReplaced) {
    HostSimulation sim(Config());
    for (auto name : {u"s", u"d", u"r"})
        ASSERT_TRUE(Join(sim, sim.AddClient(name, kApplication)));
    SimClient& destroyed = sim.client(1);
    // A client starting over on the same endpoint replaces its old player.
    const uint32_t old_id = sim.client(2).session->dpnid();
    ASSERT_TRUE(Join(sim, sim.Restart(2, u"r again", kApplication, 0xABCD)));
    EXPECT_NE(sim.client(2).session->dpnid(), old_id);
    ASSERT_TRUE(sim.host().DestroyPlayer(destroyed.session->dpnid(), sim.now()));
    sim.Flush();
    ASSERT_TRUE(Until(sim, [&] { return Find(destroyed, ClientEventType::kTerminated); }));
    EXPECT_TRUE(Find(destroyed, ClientEventType::kTerminated)->terminated_by_host);
    // Keep-alive after 25 s of silence, then at most ten retries capped at 5 s.
    sim.Silence(0);
    ASSERT_TRUE(Until(
        sim, [&] { return sim.host().player_count() == 1; }, 90000));
    EXPECT_EQ(Log(sim), "+3 s; +4 d; +5 r; -5 r2; +5 r again; -4 r4; -3 r2; ");
    EXPECT_EQ(sim.host().Players(), std::vector<uint32_t>{sim.client(2).session->dpnid()});
}

TEST(Dplay8HostSession, RefusedRequestsGetConnectFailedWithTheirCode) {
    const std::tuple<const char*, Guid, uint32_t, bool, HResult> cases[] = {
        {"another application", kInstance, 0, false, kErrInvalidApplication},
        {"full: the server player fills it", kApplication, 1, false, kErrHostRejectedConnection},
        {"no password where one is required", kApplication, 0, true, kErrInvalidPassword},
    };
    for (const auto& [what, application, max_players, password, expected] : cases) {
        SCOPED_TRACE(what);
        HostConfig config = Config(max_players);
        if (password)
            config.password = u"secret";
        HostSimulation sim(config);
        SimClient& bob = sim.AddClient(u"Bob", application);
        ASSERT_TRUE(Until(
            sim, [&] { return Find(bob, ClientEventType::kConnectFailed); }, 10000));
        EXPECT_EQ(Find(bob, ClientEventType::kConnectFailed)->result, expected);
        sim.RunFor(10000);
        EXPECT_TRUE(sim.host_events().empty());
        EXPECT_TRUE(bob.session->ended());
    }
}

TEST(Dplay8HostSession, ClientsStillJoiningCountAgainstTheLimit) {
    HostSimulation sim(Config(2));  // the server's player and one client
    SimClient& a = sim.AddClient(u"a", kApplication);
    SimClient& b = sim.AddClient(u"b", kApplication);
    sim.RunFor(5000);
    EXPECT_EQ(CountHost(sim, HostEventType::kPlayerCreated), 1u);
    EXPECT_NE(a.session->joined(), b.session->joined());
    EXPECT_TRUE(Find(a.session->joined() ? b : a, ClientEventType::kConnectFailed));
}

// At most 256 connections wait to join; one that connects but does not ask to join is dropped
// after 30 s, one that never completes the handshake once its retries have run out.
TEST(Dplay8HostSession, PendingConnectionsAreBoundedAndTimedOut) {
    HostSimulation sim(Config());
    Connection mute = Connection::Connect({}, 7, sim.now());
    // clang-format off
    sim.nodes.push_back({{0x0D000001, 2302},
        [&](const Datagram& d, Millis now) { mute.HandleDatagram(d.bytes, now); },
        [&](Millis now, Datagram& d) { return d.peer = sim.nodes[0].address, mute.PollTransmit(now, d.bytes); },
        [&] { return mute.NextTimeout(); }, [&](Millis now) { mute.HandleTimeout(now); }, [] {}, false});
    // clang-format on
    ASSERT_TRUE(Until(sim, [&] { return mute.is_connected(); }));
    const Millis start = sim.now();
    for (uint32_t i = 0; i < 300; ++i) {
        Bytes connect;
        EncodeHandshake({.session_id = i}, connect);
        sim.Inject({0x0C000000 + i, 2302}, SocketRole::kSession, connect);
    }
    std::vector<size_t> counts;
    for (Millis t : {29900, 31500, 60000}) {  // CONNECTED is repeated for 56.2 s
        sim.RunFor(start + t - sim.now());
        counts.push_back(sim.host().connection_count());
    }
    EXPECT_EQ(counts, (std::vector<size_t>{256, 255, 0}));
    EXPECT_EQ(mute.state(), ConnectionState::kClosed);
    EXPECT_TRUE(sim.host_events().empty());
}

TEST(Dplay8HostSession, EnumerationIsAnsweredOnTheSocketItArrivedOnForOurApplicationOnly) {
    HostSimulation sim(Config());
    const Endpoint asker{0x7F000001, 40000};
    const std::tuple<SocketRole, std::optional<Guid>, size_t> queries[] = {
        {SocketRole::kEnumeration, kApplication, 1},
        {SocketRole::kSession, std::nullopt, 2},
        {SocketRole::kSession, kInstance, 2}};
    for (auto [socket, application, answers] : queries) {
        sim.Inject(asker, socket,
                   Encode(EnumQuery{.enum_payload = 0xBEEF, .application = application}));
        ASSERT_EQ(sim.host_sent().size(), answers);
        const Datagram& answer = sim.host_sent().back();
        EXPECT_EQ(std::pair(answer.peer, answer.socket), std::pair(asker, socket)) << answers;
        // clang-format off
        EXPECT_EQ(DecodeEnumResponse(answer.bytes), (EnumResponse{0xBEEF, 0x50, kSessionClientServer,
            0, 1, u"Ember Realms", {}, {}, {}, kInstance, kApplication, {}}));
        // clang-format on
    }
    EXPECT_EQ(sim.host().connection_count(), 0u);
    sim.host().Close(sim.now());
    sim.Inject(asker, SocketRole::kSession, Encode(EnumQuery{}));
    EXPECT_EQ(sim.host_sent().size(), 2u);
}

TEST(Dplay8HostSession, ArbitraryDatagramsNeverCreateConnectionsOrPlayers) {
    HostSimulation sim(Config());
    SimClient& alice = sim.AddClient(u"Alice", kApplication);
    ASSERT_TRUE(Join(sim, alice));
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        Bytes junk(random() % 65);
        for (auto& b : junk)
            b = uint8_t(random());
        // A CONNECT from a new endpoint is the only datagram that opens a connection.
        if (CommandOpcode(junk) != kOpConnect)
            sim.Inject({0x0B000000u + uint32_t(i % 50), uint16_t(1000 + i % 7)},
                       i % 3 ? SocketRole::kSession : SocketRole::kEnumeration, junk);
    }
    EXPECT_EQ(sim.host().connection_count(), 1u);
    ASSERT_TRUE(alice.session->Send(Bytes{5}, kGuaranteed, sim.now()));  // still works
    EXPECT_TRUE(Until(sim, [&] { return CountHost(sim, HostEventType::kMessage) == 1; }));
    EXPECT_EQ(Log(sim), "+3 Alice; m3 5 g; ");
}

TEST(Dplay8HostSession, ClosingDestroysEveryPlayerEndsEveryClientAndRefusesNewOnes) {
    HostSimulation sim(Config());
    for (auto name : {u"a", u"b", u"c"})
        ASSERT_TRUE(Join(sim, sim.AddClient(name, kApplication)));
    sim.host().Close(sim.now());
    sim.Flush();
    EXPECT_EQ(sim.host().player_count(), 0u);
    ASSERT_TRUE(Until(sim, [&] { return sim.host().Quiet(sim.now()); }));
    ASSERT_TRUE(Until(sim, [&] {
        return sim.client(0).session->ended() && sim.client(1).session->ended() &&
               sim.client(2).session->ended();
    }));
    SimClient& late = sim.AddClient(u"late", kApplication);
    sim.RunFor(3000);
    EXPECT_FALSE(late.session->joined());
    std::sort(sim.host_events().begin() + 3, sim.host_events().end(), [](auto& a, auto& b) {
        return DpnidIndex(a.dpnid, kInstance) < DpnidIndex(b.dpnid, kInstance);
    });
    EXPECT_EQ(Log(sim), "+3 a; +4 b; +5 c; -3 r3; -4 r3; -5 r3; ");
}

// Under loss and jitter, clients join, talk and leave in waves: every join completes with an id
// no live player has, every guaranteed message arrives exactly once and in order both ways, and
// every leave is reported exactly once.
TEST(Dplay8HostSession, ClientsJoinTalkAndLeaveInWavesUnderLossForManySeeds) {
    constexpr size_t kLive = 4, kMessages = 20;
    for (uint32_t seed = 1; seed <= 25; ++seed) {
        SCOPED_TRACE(seed);
        HostSimulation sim(Config(), seed, 0.2, 20, 50);
        std::mt19937 random(seed);
        std::vector<SimClient*> live;
        size_t joined = 0, left = 0;
        for (int wave = 0; wave < 4; ++wave) {
            for (; live.size() < kLive; ++joined)
                live.push_back(&sim.AddClient(u"p", kApplication));
            ASSERT_TRUE(Until(
                sim, [&] { return CountHost(sim, HostEventType::kPlayerCreated) == joined; },
                60000));
            std::set<uint32_t> ids{0, sim.host().server_dpnid()};
            std::map<uint32_t, std::vector<Bytes>> sent, got, to_client;
            const size_t first = sim.host_events().size();
            for (SimClient* c : live) {
                EXPECT_TRUE(ids.insert(c->session->dpnid()).second) << "id in use twice";
                c->messages.clear();
            }
            for (uint8_t n = 0; n < kMessages; ++n) {
                for (SimClient* c : live) {
                    const uint32_t id = c->session->dpnid();
                    sent[id].push_back({uint8_t(id), n});
                    to_client[id].push_back({n});
                    ASSERT_TRUE(c->session->Send(sent[id].back(), kGuaranteed, sim.now()));
                    ASSERT_TRUE(sim.host().Send(id, Bytes{n}, kGuaranteed, sim.now()));
                }
                sim.RunFor(5);
            }
            auto all = [&] {
                for (SimClient* c : live) {
                    if (c->messages.size() != kMessages)
                        return false;
                }
                return sim.host_events().size() - first == kLive * kMessages;
            };
            ASSERT_TRUE(Until(sim, all, 120000));
            for (SimClient* c : live)
                got[c->session->dpnid()] = c->messages;
            EXPECT_EQ(got, to_client);
            got.clear();
            for (size_t i = first; i < sim.host_events().size(); ++i)
                got[sim.host_events()[i].dpnid].push_back(sim.host_events()[i].data);
            EXPECT_EQ(got, sent);
            for (size_t leaving = 1 + random() % (kLive - 1); leaving > 0; --leaving, ++left) {
                auto it = live.begin() + std::ptrdiff_t(random() % live.size());
                (*it)->session->Close(sim.now());
                live.erase(it);
            }
            ASSERT_TRUE(Until(
                sim, [&] { return CountHost(sim, HostEventType::kPlayerDestroyed) == left; },
                120000));
        }
        sim.RunFor(30000);
        EXPECT_EQ(CountHost(sim, HostEventType::kPlayerDestroyed), left);
    }
}

HostEvent Item(uint32_t key, int n) {
    return {.dpnid = key, .data = {uint8_t(n), uint8_t(n >> 8)}};
}

TEST(Dplay8OrderedDispatcher, OnePlayersEventsRunInOrderAndNeverTwoAtOnce) {
    constexpr uint32_t kKeys = 8;
    constexpr int kPerKey = 250;
    std::mutex mutex;
    std::map<uint32_t, std::vector<int>> seen;
    std::vector<std::atomic<int>> inside(kKeys + 1);
    std::atomic<int> overlaps{0}, running{0};
    {
        OrderedDispatcher pool(4, [&](HostEvent& e) {
            overlaps += inside[e.dpnid].fetch_add(1) != 0;
            ++running;
            std::this_thread::yield();
            {
                std::lock_guard lock(mutex);
                seen[e.dpnid].push_back(e.data[0] | e.data[1] << 8);
            }
            --running;
            inside[e.dpnid].fetch_sub(1);
        });
        for (int n = 0; n < kPerKey; ++n) {
            for (uint32_t key = 1; key <= kKeys; ++key)
                pool.Post(Item(key, n));
        }
        pool.Drain();
        EXPECT_EQ(running.load(), 0);  // Drain waits for the running handlers too
    }
    EXPECT_EQ(overlaps.load(), 0);
    std::vector<int> in_order(kPerKey);
    std::iota(in_order.begin(), in_order.end(), 0);
    for (uint32_t key = 1; key <= kKeys; ++key)
        EXPECT_EQ(seen[key], in_order);
}

TEST(Dplay8OrderedDispatcher, ASlowPlayerDoesNotHoldUpAnother) {
    std::promise<void> release, other_done;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> slow_runs{0};
    OrderedDispatcher pool(2, [&](HostEvent& e) {
        if (e.dpnid == 2)
            return other_done.set_value();
        ++slow_runs;
        released.wait();
    });
    pool.Post(Item(1, 0));
    pool.Post(Item(1, 1));  // queued behind the blocked one, on no other thread
    pool.Post(Item(2, 0));
    EXPECT_EQ(other_done.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(slow_runs.load(), 1);
    release.set_value();
    pool.Drain();
    EXPECT_EQ(slow_runs.load(), 2);
}

}  // namespace

// The sans-IO host session with sans-IO clients on a simulated network, then the handler pool.

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <numeric>
#include <set>
#include <thread>

#include "dplay8/dpnid.h"
#include "dplay8/enum_messages.h"
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
    return {.application = kApplication,
            .instance = kInstance,
            .max_players = max_players,
            .session_name = u"Ember Realms"};
}

// The host's events as "+3 Alice; m3 1 2 3 g; i3 Alicia; -3 r1; ", by name table index.
std::string Log(HostSimulation& sim) {
    std::string s;
    for (const HostEvent& e : sim.host_events) {
        s += "+m-i"[int(e.type)] + std::to_string(DpnidIndex(e.dpnid, kInstance));
        s += e.name.empty() ? "" : " " + std::string(e.name.begin(), e.name.end());
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

size_t CountHost(HostSimulation& sim, HostEventType type) {
    return size_t(std::ranges::count(sim.host_events, type, &HostEvent::type));
}

bool Until(HostSimulation& sim, Millis within, const std::function<bool()>& done) {
    return sim.RunUntil(done, sim.now() + within);
}

bool Join(HostSimulation& sim, SimClient& c) {
    auto created = [&](auto& e) {
        return e.type == HostEventType::kPlayerCreated && e.dpnid == c.session->dpnid();
    };
    return Until(sim, 10000, [&] {
        return c.session->joined() && std::ranges::count_if(sim.host_events, created) == 1;
    });
}

TEST(Dplay8HostSession, AJoinedClientHasItsNameTableTalksRenamesAndLeavesOnce) {
    HostSimulation sim(Config());
    SimClient& alice = sim.AddClient(u"Alice", kApplication);
    ASSERT_TRUE(Join(sim, alice));
    const uint32_t id = alice.session->dpnid(), server = sim.host.server_dpnid();
    SendConnectInfo want{
        {},
        {0x50, kSessionClientServer, 0, 2, u"Ember Realms", {}, {}, {}, kInstance, kApplication},
        MakeDpnid(3, 3, kInstance),
        3};
    want.entries = {
        {server, 0, kEntryHost | kEntryServer, 2, 0, 8, u"", {}, ""},
        {want.dpnid, 0, kEntryClient, 3, 0, 8, u"Alice", {}, EndpointUrl(sim.nodes[1].address)}};
    ASSERT_TRUE(Find(alice, ClientEventType::kJoined));
    EXPECT_EQ(Find(alice, ClientEventType::kJoined)->joined, want);
    EXPECT_EQ(std::pair(id, server), std::pair(want.dpnid, MakeDpnid(2, 2, kInstance)));
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {  // junk, never a CONNECT, opens no connection
        Bytes junk(random() % 65);
        std::ranges::generate(junk, [&] { return uint8_t(random()); });
        if (CommandOpcode(junk) != kOpConnect)
            sim.Inject({0x0B000000u + uint32_t(i % 50), uint16_t(1000 + i % 7)},
                       i % 3 ? SocketRole::kSession : SocketRole::kEnumeration, junk);
    }
    EXPECT_EQ(std::pair(sim.host.player_count(), sim.host.connection_count()), std::pair(1ul, 1ul));

    ASSERT_TRUE(alice.session->Send(Bytes{1, 2, 3}, kGuaranteed, sim.now()));
    EXPECT_EQ(std::tuple(sim.host.Send(id, Bytes{9, 8}, kGuaranteed, sim.now()),
                         sim.host.Send(id + 1, Bytes{9, 8}, kGuaranteed, sim.now()),
                         sim.host.Send(server, Bytes{9}, kGuaranteed, sim.now())),
              std::tuple(true, false, false));
    ASSERT_TRUE(Until(sim, 5000, [&] { return alice.messages == std::vector<Bytes>{{9, 8}}; }));
    ASSERT_TRUE(alice.session->SetName(u"Alicia", 0x5151, sim.now()));
    ASSERT_TRUE(Until(sim, 5000, [&] { return Find(alice, ClientEventType::kInfoUpdated); }));
    EXPECT_EQ(Find(alice, ClientEventType::kInfoUpdated)->updated,
              (UpdateInfo{0x5151, id, 4, 0, kInfoName, u"Alicia", {}, id}));

    alice.session->Close(sim.now());
    ASSERT_TRUE(Until(sim, 5000, [&] { return alice.session->ended(); }));
    EXPECT_EQ(alice.events.back().reason, DisconnectReason::kClosedLocally);
    ASSERT_TRUE(Until(sim, 60000, [&] { return sim.host.connection_count() == 0; }));
    EXPECT_EQ(
        std::pair(sim.host.player_count(), sim.host.Send(id, Bytes{1}, kGuaranteed, sim.now())),
        std::pair(0ul, false));
    EXPECT_EQ(Log(sim), "+3 Alice; m3 1 2 3 g; i3 Alicia; -3 r1; ");
    // The traffic totals: what left the host is on the wire; one message each way.
    HostTraffic sent;
    for (const auto& w : sim.wire) {
        if (w.from == 0)
            ++sent.datagrams_out, sent.bytes_out += w.bytes.size();
    }
    const HostTraffic traffic = sim.host.Traffic();
    EXPECT_EQ(std::tuple(traffic.datagrams_out, traffic.bytes_out, traffic.messages_in,
                         traffic.messages_out, traffic.queued_messages),
              std::tuple(sent.datagrams_out, sent.bytes_out, 1u, 1u, 0u));
    EXPECT_GT(traffic.datagrams_in, 20000u - 1000u);  // the junk counts too
}

TEST(Dplay8HostSession, PlayersLeaveAsLostOrDestroyedOrReplacedAndClosingEndsTheRest) {
    HostSimulation sim(Config());
    for (auto name : {u"s", u"d", u"r", u"c"})
        ASSERT_TRUE(Join(sim, sim.AddClient(name, kApplication)));
    SimClient& destroyed = *sim.clients[1];
    const uint32_t old_id = sim.clients[2]->session->dpnid();
    ASSERT_TRUE(Join(sim, sim.Restart(2, u"r again", kApplication, 0xABCD)));
    EXPECT_NE(sim.clients[2]->session->dpnid(), old_id);
    ASSERT_TRUE(sim.host.DestroyPlayer(destroyed.session->dpnid(), sim.now()));
    sim.Flush();
    ASSERT_TRUE(Until(sim, 5000, [&] { return Find(destroyed, ClientEventType::kTerminated); }));
    EXPECT_TRUE(Find(destroyed, ClientEventType::kTerminated)->terminated_by_host);
    // Keep-alive after 25 s of silence, then at most ten retries capped at 5 s.
    sim.nodes[1].silent = true;
    ASSERT_TRUE(Until(sim, 90000, [&] { return sim.host.player_count() == 2; }));
    EXPECT_EQ(sim.host.Players(), (std::vector<uint32_t>{sim.clients[2]->session->dpnid(),
                                                         sim.clients[3]->session->dpnid()}));
    EXPECT_EQ(sim.host.counters(), (HostCounters{.players_lost = 1}));  // not the destroyed one
    sim.host.Close(sim.now());
    sim.Flush();
    EXPECT_EQ(sim.host.player_count(), 0u);
    ASSERT_TRUE(Until(sim, 5000, [&] { return sim.host.Quiet(sim.now()); }));
    ASSERT_TRUE(Until(sim, 5000, [&] {
        return sim.clients[2]->session->ended() && sim.clients[3]->session->ended();
    }));
    sim.AddClient(u"late", kApplication);
    sim.RunFor(3000);
    EXPECT_FALSE(sim.clients[4]->session->joined());
    std::sort(sim.host_events.end() - 2, sim.host_events.end(), [](auto& a, auto& b) {
        return DpnidIndex(a.dpnid, kInstance) < DpnidIndex(b.dpnid, kInstance);
    });
    EXPECT_EQ(Log(sim), "+3 s; +4 d; +5 r; +6 c; -5 r2; +5 r again; -4 r4; -3 r2; -5 r3; -6 r3; ");
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
        ASSERT_TRUE(Until(sim, 10000, [&] { return Find(bob, ClientEventType::kConnectFailed); }));
        EXPECT_EQ(Find(bob, ClientEventType::kConnectFailed)->result, expected);
        sim.RunFor(10000);
        EXPECT_TRUE(sim.host_events.empty() && bob.session->ended());
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

// A raw transport client at `at` whose messages the test sends itself.
std::unique_ptr<Connection> RawClient(HostSimulation& sim, Endpoint at, uint32_t session_id,
                                      std::vector<Bytes>* messages = nullptr) {
    auto conn = std::make_unique<Connection>(Connection::Connect({}, session_id, sim.now()));
    sim.nodes.push_back(dplay8_test::Around(
        at, sim.nodes[0].address, [c = conn.get()] { return c; },
        [messages](Event e) {
            if (messages && e.type == EventType::kMessage)
                messages->push_back(e.data);
        }));
    return conn;
}

Bytes ConnectFrom(uint32_t session_id) {
    Bytes connect;
    EncodeHandshake({.session_id = session_id}, connect);
    return connect;
}

// Forged CONNECTs hold few places and briefly; they give way to real joins, and players who
// leave free theirs, so a join never fails for want of room.
TEST(Dplay8HostSession, HalfOpenConnectionsAreCappedEvictedAndTimedOutWithoutLockingOutJoins) {
    HostConfig config = Config();
    config.limits.max_pending = 8, config.limits.max_pending_per_address = 3;
    HostSimulation sim(config);
    std::vector<Bytes> muted;  // nothing: it never asks to join
    auto owned = RawClient(sim, {0x0D000001, 2302}, 7, &muted);
    Connection& mute = *owned;  // connects, never joins
    ASSERT_TRUE(Until(sim, 5000, [&] { return mute.is_connected(); }));
    sim.RunFor(100);  // its confirmation reaches the host
    const Millis start = sim.now();
    for (uint32_t i = 0; i < 20; ++i)
        sim.Inject({0x0C000000 + i, 2302}, SocketRole::kSession, ConnectFrom(i));
    for (uint16_t port = 1; port <= 5; ++port)
        sim.Inject({0x0E000001, port}, SocketRole::kSession, ConnectFrom(100 + port));
    const size_t flooded = sim.host.pending_count();
    ASSERT_TRUE(Join(sim, sim.AddClient(u"real", kApplication)));
    sim.RunFor(start + 5100 - sim.now());  // half-open ones are gone after 5 s
    const size_t after_handshake_time = sim.host.pending_count();
    sim.RunFor(start + 30100 - sim.now());  // the mute one after 30 s
    EXPECT_EQ(std::tuple(flooded, after_handshake_time, sim.host.pending_count(), mute.state()),
              std::tuple(8u, 1u, 0u, ConnectionState::kClosed));
    // 13 of the 20 gave way to the rest of them, 3 to the one address, 2 more of its own
    // to that address's last two, 1 to the real player.
    EXPECT_EQ(sim.host.counters(), (HostCounters{.pending_evicted = 19}));
    EXPECT_TRUE(muted.empty());

    for (int round = 0; round < 12; ++round) {  // more leaves than places
        SimClient& c = sim.AddClient(u"churn", kApplication);
        ASSERT_TRUE(Join(sim, c)) << round;
        c.session->Close(sim.now());
        ASSERT_TRUE(Until(sim, 5000, [&] { return c.session->ended(); })) << round;
    }
    EXPECT_TRUE(Join(sim, sim.AddClient(u"last", kApplication)));
}

// A join request that cannot be read is refused at once, not left to time out.
TEST(Dplay8HostSession, AJoinThatCannotBeReadIsRefusedAndNothingLargeComesBeforeIt) {
    HostSimulation sim(Config());
    std::vector<Bytes> got;
    auto owned = RawClient(sim, {0x0D000002, 2302}, 9, &got);
    Connection& raw = *owned;
    ASSERT_TRUE(Until(sim, 5000, [&] { return raw.is_connected(); }));
    Bytes request = Encode(PlayerConnectInfo{.name = u"Bob", .application = kApplication});
    ASSERT_EQ(request[16], 8);  // the name's size: three characters and the terminator
    request[16] = 7;
    ASSERT_TRUE(raw.Send(request, {.guaranteed = true, .user_flags = kCommandUser1}, sim.now()));
    ASSERT_TRUE(Until(sim, 5000, [&] { return !got.empty(); }));
    EXPECT_EQ(DecodeConnectFailed(got[0]), (ConnectFailed{kErrGeneric, {}}));
    EXPECT_TRUE(Until(sim, 5000, [&] { return raw.state() == ConnectionState::kClosed; }) &&
                sim.host_events.empty());

    // Before joining a peer may send its join request and no more than 64 KiB; a player may.
    auto big = RawClient(sim, {0x0D000003, 2302}, 10);
    ASSERT_TRUE(Until(sim, 5000, [&] { return big->is_connected(); }));
    ASSERT_TRUE(
        big->Send(Bytes(65 * 1024), {.guaranteed = true, .user_flags = kCommandUser1}, sim.now()));
    EXPECT_TRUE(Until(sim, 10000, [&] { return big->state() == ConnectionState::kClosed; }));
    SimClient& alice = sim.AddClient(u"Alice", kApplication);
    ASSERT_TRUE(Join(sim, alice));
    ASSERT_TRUE(alice.session->Send(Bytes(100 * 1024, 7), kGuaranteed, sim.now()));
    EXPECT_TRUE(Until(sim, 10000, [&] { return sim.host_events.size() == 2; }));
    EXPECT_EQ(sim.host_events.back().data, Bytes(100 * 1024, 7));
}

// Anyone can forge a player's address: a CONNECT from it stands only if the player is gone.
TEST(Dplay8HostSession, AForgedConnectFromAPlayersAddressDoesNotEndItsConnection) {
    HostSimulation sim(Config());
    SimClient& alice = sim.AddClient(u"Alice", kApplication);
    ASSERT_TRUE(Join(sim, alice));
    for (uint32_t i = 0; i < 30; ++i) {
        sim.Inject(sim.nodes[1].address, SocketRole::kSession, ConnectFrom(0x666 + i % 3));
        sim.RunFor(100);
    }
    sim.RunFor(3000);
    ASSERT_TRUE(alice.session->Send(Bytes{4, 2}, kGuaranteed, sim.now()));
    EXPECT_TRUE(sim.host.Send(alice.session->dpnid(), Bytes{2, 4}, kGuaranteed, sim.now()));
    ASSERT_TRUE(Until(sim, 5000, [&] { return alice.messages.size() == 1; }));
    EXPECT_EQ(Log(sim), "+3 Alice; m3 4 2 g; ");
    EXPECT_TRUE(sim.host.counters().restarts_refused >= 3 && sim.host.connection_count() == 1);
}

// The answer leaves from the session's socket, where clients will connect.
TEST(Dplay8HostSession, EnumerationIsAnsweredFromTheSessionSocketForOurApplicationWithinRates) {
    HostConfig config = Config();
    config.limits.enum_rate = 2, config.limits.enum_total_rate = 5;  // bursts of 4 and 10
    HostSimulation sim(config);
    const Endpoint asker{0x7F000001, 40000};
    const std::tuple<SocketRole, std::optional<Guid>, size_t> queries[] = {
        {SocketRole::kEnumeration, kApplication, 1},
        {SocketRole::kSession, std::nullopt, 2},
        {SocketRole::kSession, kInstance, 2}};
    for (auto [socket, application, answers] : queries) {
        sim.Inject(asker, socket,
                   Encode(EnumQuery{.enum_payload = 0xBEEF, .application = application}));
        ASSERT_EQ(sim.wire.size(), answers);
        const Datagram& answer = sim.wire.back();
        EXPECT_EQ(std::pair(answer.peer, answer.socket), std::pair(asker, SocketRole::kSession));
        // clang-format off
        EXPECT_EQ(DecodeEnumResponse(answer.bytes), (EnumResponse{0xBEEF, 0x50, kSessionClientServer,
            0, 1, u"Ember Realms", {}, {}, {}, kInstance, kApplication, {}}));
        // clang-format on
    }
    // A reflector for forged sources it is not: the asker's burst is spent, others share 10.
    auto answered = [&](uint32_t address, int queries) {
        const size_t before = sim.wire.size();
        for (int i = 0; i < queries; ++i)
            sim.Inject({address, 40000}, SocketRole::kEnumeration, Encode(EnumQuery{}));
        return sim.wire.size() - before;
    };
    EXPECT_EQ(std::vector({answered(0x7F000001, 5), answered(0x01010101, 5),
                           answered(0x02020202, 5), answered(0x03030303, 5)}),
              (std::vector<size_t>{1, 4, 2, 0}));
    sim.RunFor(1000);
    EXPECT_EQ(std::vector({answered(0x7F000001, 5), answered(0x04040404, 5)}),
              (std::vector<size_t>{2, 3}));
    EXPECT_EQ(std::pair(sim.host.counters().enum_replies_refused, sim.host.connection_count()),
              std::pair(uint64_t(4 + 1 + 3 + 5 + 3 + 2), 0ul));
    sim.host.Close(sim.now());
    EXPECT_EQ(answered(0x05050505, 1), 0u);
}

// A client over its message rate loses the excess; one that keeps on is cut off, while a
// player at an ordinary pace goes on undisturbed.
TEST(Dplay8HostSession, AClientsMessageRateIsLimitedAndAFlooderIsDisconnected) {
    HostConfig config = Config();
    config.limits.message_rate = 50, config.limits.message_burst = 100;
    config.limits.flood_seconds = 2;
    HostSimulation sim(config);
    SimClient& flooder = sim.AddClient(u"f", kApplication);
    SimClient& calm = sim.AddClient(u"c", kApplication);
    ASSERT_TRUE(Join(sim, flooder) && Join(sim, calm));
    auto received = [&](SimClient& c) {
        return std::ranges::count_if(sim.host_events, [&](const HostEvent& e) {
            return e.type == HostEventType::kMessage && e.dpnid == c.session->dpnid();
        });
    };
    for (int i = 0; i < 150; ++i)
        ASSERT_TRUE(flooder.session->Send(Bytes{1}, kGuaranteed, sim.now()));
    sim.RunFor(1000);
    // The burst, and what the rate earned while the messages were on their way.
    EXPECT_EQ(uint64_t(received(flooder)) + sim.host.counters().messages_dropped, 150u);
    EXPECT_LE(received(flooder), 105);
    EXPECT_EQ(sim.host.counters().flooders_disconnected, 0u);
    for (int second = 0; second < 5; ++second) {
        for (int i = 0; i < 20; ++i)
            calm.session->Send(Bytes{2}, kGuaranteed, sim.now());
        for (int i = 0; i < 400 && flooder.session->joined(); ++i)
            flooder.session->Send(Bytes{1}, kGuaranteed, sim.now());
        sim.RunFor(1000);
    }
    EXPECT_EQ(
        std::tuple(received(calm), sim.host.counters().flooders_disconnected, sim.host.Players()),
        std::tuple(100l, uint64_t(1), std::vector{calm.session->dpnid()}));

    config.limits.message_rate = 0;  // no limit
    HostSimulation unlimited(config);
    SimClient& fast = unlimited.AddClient(u"u", kApplication);
    ASSERT_TRUE(Join(unlimited, fast));
    for (int i = 0; i < 1000; ++i)
        fast.session->Send(Bytes{3}, kGuaranteed, unlimited.now());
    unlimited.RunFor(3000);
    EXPECT_EQ(std::pair(unlimited.host_events.size(), unlimited.host.counters().messages_dropped),
              std::pair(size_t(1001), uint64_t(0)));
}

// Under loss: ids are unique among the live, messages arrive once and in order, leaves once.
TEST(Dplay8HostSession, ClientsJoinTalkAndLeaveInWavesUnderLossForManySeeds) {
    constexpr size_t kLive = 4, kMessages = 20;
    for (uint32_t seed = 1; seed <= 25; ++seed) {
        SCOPED_TRACE(seed);
        HostSimulation sim(Config(), seed, {.loss = 0.2, .delay = 20, .jitter = 50});
        std::mt19937 random(seed);
        std::vector<SimClient*> live;
        size_t joined = 0, left = 0;
        for (int wave = 0; wave < 4; ++wave) {
            for (; live.size() < kLive; ++joined)
                live.push_back(&sim.AddClient(u"p", kApplication));
            ASSERT_TRUE(Until(sim, 60000, [&] {
                return CountHost(sim, HostEventType::kPlayerCreated) == joined;
            }));
            std::set<uint32_t> ids{0, sim.host.server_dpnid()};
            std::map<uint32_t, std::vector<Bytes>> sent, got;
            std::vector<Bytes> numbered;
            const size_t first = sim.host_events.size();
            for (SimClient* c : live) {
                EXPECT_TRUE(ids.insert(c->session->dpnid()).second) << "id in use twice";
                c->messages.clear();
            }
            for (uint8_t n = 0; n < kMessages; ++n) {
                numbered.push_back({n});
                for (SimClient* c : live) {
                    const uint32_t id = c->session->dpnid();
                    sent[id].push_back({uint8_t(id), n});
                    ASSERT_TRUE(c->session->Send(sent[id].back(), kGuaranteed, sim.now()));
                    ASSERT_TRUE(sim.host.Send(id, numbered.back(), kGuaranteed, sim.now()));
                }
                sim.RunFor(5);
            }
            ASSERT_TRUE(Until(sim, 120000, [&] {
                return sim.host_events.size() - first == kLive * kMessages &&
                       std::ranges::all_of(
                           live, [&](auto* c) { return c->messages.size() == kMessages; });
            }));
            for (SimClient* c : live)
                EXPECT_EQ(c->messages, numbered);
            for (size_t i = first; i < sim.host_events.size(); ++i)
                got[sim.host_events[i].dpnid].push_back(sim.host_events[i].data);
            EXPECT_EQ(got, sent);
            for (size_t leaving = 1 + random() % (kLive - 1); leaving > 0; --leaving, ++left) {
                auto it = live.begin() + std::ptrdiff_t(random() % live.size());
                (*it)->session->Close(sim.now());
                live.erase(it);
            }
            ASSERT_TRUE(Until(sim, 120000, [&] {
                return CountHost(sim, HostEventType::kPlayerDestroyed) == left;
            }));
        }
        sim.RunFor(30000);
        EXPECT_EQ(CountHost(sim, HostEventType::kPlayerDestroyed), left);
    }
}

HostEvent Item(uint32_t key, int n) {
    return {.dpnid = key, .data = {uint8_t(n)}};
}

TEST(Dplay8OrderedDispatcher, OnePlayersEventsRunInOrderAndNeverTwoAtOnce) {
    constexpr uint32_t kKeys = 8;
    constexpr int kPerKey = 250;
    std::vector<std::vector<int>> seen(kKeys + 1);  // a key's handlers never overlap
    std::vector<std::atomic<int>> inside(kKeys + 1);
    std::atomic<int> overlaps{0}, running{0};
    {
        OrderedDispatcher pool(4, [&](HostEvent& e) {
            overlaps += inside[e.dpnid].fetch_add(1) != 0;
            ++running;
            std::this_thread::yield();
            seen[e.dpnid].push_back(e.data[0]);
            --running;
            inside[e.dpnid].fetch_sub(1);
        });
        for (int n = 0; n < kPerKey; ++n)
            for (uint32_t key = 1; key <= kKeys; ++key)
                pool.Post(Item(key, n));
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
    EXPECT_EQ(slow_runs.load(), 1);  // read after the other player's event has run
    release.set_value();
    pool.Drain();
    EXPECT_EQ(slow_runs.load(), 2);
}

}  // namespace

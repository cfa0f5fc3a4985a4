// The transport connection. Over a simulated lossy link, many seeds per property: every
// promise of the service under random traffic and endings, the retry and keep-alive schedules,
// the window, closing. Then its answers to hand-made datagrams: what the bits of SACK and send
// masks stand for, early delivery, coalesced parts, the handshake's repairs and its limits.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "dplay8/frames.h"
#include "simulated_network.h"

// Designated initializers name only the fields that matter.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace dplay8;
using dplay8_test::LinkConditions;
using dplay8_test::Side;
using dplay8_test::SimulatedLink;

constexpr int kSeeds = 200;

// A message that names itself: a 4-byte index, then filler up to `size` bytes.
Bytes Tagged(uint32_t index, size_t size) {
    Bytes b(std::max<size_t>(size, 4), uint8_t(index * 7));
    for (int i = 0; i < 4; ++i)
        b[i] = uint8_t(index >> (8 * i));
    return b;
}

uint32_t TagOf(const Event* e) {
    return LoadU32(e->data.data());
}

SimulatedLink Connected(uint32_t seed, LinkConditions conditions, ConnectionConfig server = {}) {
    SimulatedLink link(seed, conditions, {}, server);
    EXPECT_TRUE(link.RunUntil([&] { return link.connected(); }, 120000));
    return link;
}

std::vector<const Event*> Of(SimulatedLink& link, Side side, EventType type = EventType::kMessage) {
    std::vector<const Event*> out;
    for (const auto& e : link.events(side)) {
        if (e.type == type)
            out.push_back(&e);
    }
    return out;
}

std::optional<DisconnectReason> DisconnectOf(SimulatedLink& link, Side side) {
    auto d = Of(link, side, EventType::kDisconnected);
    EXPECT_LE(d.size(), 1u) << "one side disconnected twice";
    return d.empty() ? std::nullopt : std::optional(d[0]->reason);
}

// The result of every send, by id; each must come exactly once.
std::map<uint64_t, SendResult> Completions(SimulatedLink& link, Side side) {
    std::map<uint64_t, SendResult> out;
    for (const Event* e : Of(link, side, EventType::kSendComplete))
        EXPECT_TRUE(out.emplace(e->send_id, e->result).second) << "completed twice";
    return out;
}

// The times at which `from` sent datagrams that `pick` chooses, after `after`.
template <typename Pick>
std::vector<Millis> SentAt(SimulatedLink& link, Millis after, Pick pick) {
    std::vector<Millis> at;
    for (const auto& w : link.wire()) {
        if (w.at >= after && pick(w))
            at.push_back(w.at);
    }
    return at;
}

bool IsKeepAlive(const dplay8_test::WireRecord& w) {
    ByteSpan payload;
    auto h = DecodeDataFrame(w.bytes, true, payload);
    return h && h->session_id;
}

// Sizes that exercise single frames, coalescing and fragmentation.
size_t RandomSize(std::mt19937& rng) {
    const size_t spans[] = {3000, 1300, 40, 40};
    return 4 + rng() % spans[rng() % 4];
}

// Random traffic both ways under random loss, duplication, delay and jitter, ended by a graceful
// close on two seeds in three and else by a close or abort at a random moment: nothing arrives
// twice or altered, sequential messages keep their order, every send completes exactly once,
// a graceful close delivers every guaranteed message, and both sides go quiet.
TEST(Dplay8TransportSimulation, RandomTrafficKeepsEveryPromise) {
    uint64_t retries = 0, duplicates = 0, unreliable_sent = 0, unreliable_got = 0;
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        SimulatedLink link = Connected(seed, {.loss = (rng() % 30) / 100.0,
                                              .duplicate = (rng() % 20) / 100.0,
                                              .delay = Millis(1 + rng() % 60),
                                              .jitter = Millis(rng() % 60)});
        const bool graceful = seed % 3 != 0;
        struct Sent {
            uint64_t id;
            SendOptions options;
            Bytes data;
        };
        std::map<Side, std::map<uint32_t, Sent>> sent;  // by tag
        uint32_t tag = 0;
        bool ended = false;
        for (int step = 0; step < 250 && !ended; ++step) {
            Side side = rng() % 3 ? Side::kClient : Side::kServer;
            uint32_t action = rng() % 100;
            if (action < 80) {
                SendOptions o{.guaranteed = rng() % 2 == 0, .sequential = rng() % 3 != 0};
                if (!o.guaranteed && rng() % 4 == 0)
                    o.timeout = rng() % 300;
                Bytes data = Tagged(tag, RandomSize(rng));
                auto id = link.side(side).Send(data, o, link.now());
                ASSERT_TRUE(id);
                sent[side][tag++] = {*id, o, data};
                unreliable_sent += !o.guaranteed;
            } else if (action < 99 || graceful) {
                link.RunFor(rng() % 300);
            } else {
                ended = true;
                rng() % 2 ? link.side(side).Close(link.now()) : link.side(side).Abort(link.now());
            }
        }
        if (!ended)
            link.client().Close(link.now());
        auto both_gone = [&] {
            return DisconnectOf(link, Side::kClient) && DisconnectOf(link, Side::kServer);
        };
        ASSERT_TRUE(link.RunUntil(both_gone, link.now() + 600000));
        link.RunFor(300000);  // late duplicates have every chance to show up
        if (graceful) {
            EXPECT_EQ(DisconnectOf(link, Side::kClient), DisconnectReason::kClosedLocally);
            EXPECT_EQ(DisconnectOf(link, Side::kServer), DisconnectReason::kClosedByPeer);
        }
        for (Side from : {Side::kClient, Side::kServer}) {
            Side to = from == Side::kClient ? Side::kServer : Side::kClient;
            auto results = Completions(link, from);
            EXPECT_EQ(results.size(), sent[from].size());
            std::set<uint32_t> seen;
            std::optional<uint32_t> last_sequential;
            for (const Event* e : Of(link, to)) {
                const uint32_t t = TagOf(e);
                ASSERT_TRUE(sent[from].count(t)) << t;
                const Sent& s = sent[from][t];
                EXPECT_TRUE(seen.insert(t).second) << "message " << t << " arrived twice";
                EXPECT_EQ(std::tuple(e->data, e->guaranteed, e->sequential),
                          std::tuple(s.data, s.options.guaranteed, s.options.sequential));
                if (e->sequential) {
                    EXPECT_TRUE(!last_sequential || t > *last_sequential) << t;
                    last_sequential = t;
                }
                unreliable_got += !e->guaranteed;
            }
            for (const auto& [t, s] : sent[from]) {
                if (graceful && s.options.guaranteed) {
                    EXPECT_TRUE(seen.count(t)) << "lost guaranteed " << t;
                    EXPECT_EQ(results[s.id], SendResult::kDelivered);
                }
            }
            EXPECT_EQ(link.side(from).NextTimeout(), kNever);
            EXPECT_TRUE(link.side(from).finished(link.now()));
        }
        retries += link.client().Stats(link.now()).retries;
        duplicates += link.server()->Stats(link.now()).duplicates;
    }
    // The link really did lose and repeat datagrams, and most unreliable traffic got through.
    EXPECT_GT(retries, uint64_t(kSeeds));
    EXPECT_GT(duplicates, uint64_t(kSeeds));
    EXPECT_GT(unreliable_got, unreliable_sent / 2);
}

TEST(Dplay8TransportSimulation, SequenceNumbersWrapManyTimesWithoutLossOrReordering) {
    for (uint32_t seed = 0; seed < kSeeds / 10; ++seed) {
        SCOPED_TRACE(seed);
        SimulatedLink link =
            Connected(6000 + seed, {.loss = 0.2, .duplicate = 0.05, .delay = 20, .jitter = 50});
        // Two frames per message, never coalesced: the 8-bit sequence goes round over ten times.
        const uint32_t kCount = 1500;
        for (uint32_t i = 0; i < kCount; ++i) {
            ASSERT_TRUE(link.client().Send(Tagged(i, 1500), {.guaranteed = true}, link.now()));
            if (i % 50 == 0)
                link.RunFor(100);
        }
        ASSERT_TRUE(link.RunUntil([&] { return Of(link, Side::kServer).size() == kCount; },
                                  link.now() + 3600000));
        for (uint32_t i = 0; i < kCount; ++i)
            ASSERT_EQ(Of(link, Side::kServer)[i]->data, Tagged(i, 1500));
        EXPECT_GT(link.client().Stats(link.now()).datagrams_sent, 10u * 256);
    }
}

// The original and ten retries, each wait 2.5 RTT + 100 ms growing to at most 5 s.
TEST(Dplay8TransportSimulation, SilentPeerIsDeclaredLostAfterTheRetrySchedule) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE(seed);
        SimulatedLink link = Connected(2000 + seed, {.delay = 5 + seed % 40});
        link.RunFor(1000);
        link.Silence(Side::kServer);
        Millis start = link.now();
        auto id = link.client().Send(Tagged(1, 100), {.guaranteed = true}, start);
        ASSERT_TRUE(link.RunUntil([&] { return DisconnectOf(link, Side::kClient).has_value(); },
                                  start + 120000));
        EXPECT_EQ(DisconnectOf(link, Side::kClient), DisconnectReason::kConnectionLost);
        auto sent = SentAt(link, start, [](auto& w) { return w.bytes.size() > 100; });
        sent.push_back(link.now());
        ASSERT_EQ(sent.size(), 12u);
        for (size_t i = 1; i < sent.size(); ++i) {
            Millis rtt = link.client().Stats(start).round_trip_ms;
            EXPECT_EQ(sent[i] - sent[i - 1], DataRetryInterval(rtt, int(i - 1), {})) << i;
        }
        EXPECT_EQ(Completions(link, Side::kClient),
                  (std::map<uint64_t, SendResult>{{*id, SendResult::kCancelled}}));
    }
}

// On an idle link one side or the other sends a keep-alive every 25 s; to a silent peer it is
// retried like data until the peer is declared lost.
TEST(Dplay8TransportSimulation, IdleLinksKeepAliveAndASilentPeerIsLostAfterTheRetries) {
    SimulatedLink link = Connected(11, {.delay = 25});
    link.RunFor(1000);
    Millis start = link.now();
    link.RunFor(300000);
    auto idle = SentAt(link, start, IsKeepAlive);
    ASSERT_GE(idle.size(), 11u);
    for (size_t i = 1; i < idle.size(); ++i)
        EXPECT_EQ(idle[i] - idle[i - 1], 25000 + 25) << i;  // 25 s after the last arrival
    EXPECT_TRUE(link.connected());
    EXPECT_TRUE(Of(link, Side::kServer).empty());

    link.Silence(Side::kServer);
    start = link.now();
    ASSERT_TRUE(link.RunUntil([&] { return DisconnectOf(link, Side::kClient).has_value(); },
                              start + 200000));
    EXPECT_EQ(DisconnectOf(link, Side::kClient), DisconnectReason::kConnectionLost);
    auto probes = SentAt(link, start, IsKeepAlive);  // the silent side sends nothing
    ASSERT_EQ(probes.size(), 11u);
    EXPECT_LE(probes[0] - start, 25000);
    Millis retries = 0;
    for (int attempt = 0; attempt <= 10; ++attempt)
        retries += DataRetryInterval(link.client().Stats(start).round_trip_ms, attempt, {});
    EXPECT_EQ(link.now() - probes[0], retries);
}

// CONNECT every 200 ms, doubling to 5 s: the first and fourteen retries, then give up.
TEST(Dplay8TransportSimulation, HandshakeToASilentListenerGivesUpAfterFourteenRetries) {
    SimulatedLink link(3, {.loss = 1.0});
    ASSERT_TRUE(
        link.RunUntil([&] { return DisconnectOf(link, Side::kClient).has_value(); }, 200000));
    EXPECT_EQ(DisconnectOf(link, Side::kClient), DisconnectReason::kConnectFailed);
    auto connects = SentAt(link, 0, [](auto& w) { return CommandOpcode(w.bytes) == kOpConnect; });
    connects.push_back(link.now());
    EXPECT_EQ(connects,
              (std::vector<Millis>{1000, 1200, 1600, 2400, 4000, 7200, 12200, 17200, 22200, 27200,
                                   32200, 37200, 42200, 47200, 52200, 57200}));
}

TEST(Dplay8TransportSimulation, HandshakeCompletesDespiteHeavyLoss) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE(seed);
        SimulatedLink link = Connected(3000 + seed, {.loss = 0.5, .delay = 30, .jitter = 30});
        EXPECT_EQ(Of(link, Side::kClient, EventType::kConnected).size(), 1u);
        EXPECT_EQ(Of(link, Side::kServer, EventType::kConnected).size(), 1u);
    }
}

TEST(Dplay8TransportSimulation, HardDisconnectEndsBothSidesAtOnce) {
    SimulatedLink link = Connected(5, {.delay = 10});
    auto id = link.client().Send(Tagged(1, 5000), {.guaranteed = true}, link.now());
    link.client().Abort(link.now());
    EXPECT_FALSE(link.client().Send(Tagged(2, 8), {.guaranteed = true}, link.now()));
    link.RunFor(10000);
    EXPECT_EQ(DisconnectOf(link, Side::kClient), DisconnectReason::kAbortedLocally);
    EXPECT_EQ(DisconnectOf(link, Side::kServer), DisconnectReason::kAbortedByPeer);
    EXPECT_EQ(Completions(link, Side::kClient),
              (std::map<uint64_t, SendResult>{{*id, SendResult::kCancelled}}));
    auto hard = [&](Side from) {
        return SentAt(link, 0,
                      [&](auto& w) {
                          return w.from == from && CommandOpcode(w.bytes) == kOpHardDisconnect;
                      })
            .size();
    };
    EXPECT_GE(hard(Side::kClient), 1u);  // ours, until the peer's first arrives
    EXPECT_EQ(hard(Side::kServer), 3u);  // the peer's three
}

TEST(Dplay8TransportSimulation, UnsentMessagesTimeOutBehindAFullWindow) {
    SimulatedLink link = Connected(6, {.delay = 10});
    link.RunFor(500);
    link.Silence(Side::kServer);
    for (uint32_t i = 0; i < 70; ++i)
        ASSERT_TRUE(link.client().Send(Tagged(i, 1300), {.timeout = 300}, link.now()));
    link.RunFor(1000);
    // The window opened at two frames and grew by one for the acknowledged keep-alive.
    auto stats = link.client().Stats(link.now());
    EXPECT_EQ(std::pair(stats.messages_sent, stats.messages_timed_out),
              std::pair(uint64_t(3), uint64_t(67)));
    size_t timed_out = 0;
    for (auto [id, result] : Completions(link, Side::kClient))
        timed_out += result == SendResult::kTimedOut;
    EXPECT_EQ(timed_out, 67u);
}

// The window grows to 64 frames and no further: on a long lossless link a burst goes out
// without one retry, which a window beyond the receiver's 64 would cause.
TEST(Dplay8TransportSimulation, BurstsFillTheWholeWindowWithoutRetries) {
    SimulatedLink link = Connected(12, {.delay = 50});
    const Millis start = link.now();
    for (uint32_t i = 0; i < 2000; ++i)
        ASSERT_TRUE(link.client().Send(Tagged(i, 1300), {.guaranteed = true}, start));
    ASSERT_TRUE(
        link.RunUntil([&] { return Of(link, Side::kServer).size() == 2000; }, start + 60000));
    EXPECT_LT(link.now() - start, 2000 / 64 * 100 + 2000);
    EXPECT_EQ(link.client().Stats(link.now()).retries, 0u);
    EXPECT_EQ(link.server()->Stats(link.now()).duplicates, 0u);
}

TEST(Dplay8TransportSimulation, OnlyPeersFromVersion15GetCoalescingAndKeepAlivesWithSession) {
    for (uint32_t seed = 0; seed < 20; ++seed) {
        SCOPED_TRACE(seed);
        const bool old = seed % 2;
        SimulatedLink link = Connected(5000 + seed, {.loss = 0.2, .delay = 20, .jitter = 50},
                                       {.protocol_version = old ? 0x00010004u : kProtocolVersion});
        EXPECT_EQ(link.client().remote_version(), old ? 0x00010004u : kProtocolVersion);
        for (uint32_t i = 0; i < 300; ++i)
            ASSERT_TRUE(link.client().Send(Tagged(i, 10), {.guaranteed = true}, link.now()));
        ASSERT_TRUE(link.RunUntil([&] { return Of(link, Side::kServer).size() == 300; },
                                  link.now() + 300000));
        auto marked = SentAt(link, 0, [](auto& w) {
            return ClassifyFrame(w.bytes) == FrameKind::kData &&
                   (w.bytes[1] & (kControlCoalesce | kControlKeepAliveOrCorrelate));
        });
        EXPECT_EQ(marked.empty(), old);
        EXPECT_TRUE(old || link.client().Stats(link.now()).datagrams_sent < 300 / 4);
    }
}

TEST(Dplay8TransportSimulation, StatisticsCountMessagesAndMeasureTheRoundTrip) {
    SimulatedLink link = Connected(9, {.delay = 40});
    for (int round = 0; round < 20; ++round) {
        link.client().Send(Tagged(round, 500), {.guaranteed = true}, link.now());
        link.RunFor(100);
    }
    link.RunFor(1000);
    auto client = link.client().Stats(link.now() - 200);
    EXPECT_EQ(std::tuple(client.messages_sent, client.messages_timed_out, client.retries),
              std::tuple(20u, 0u, 0u));
    EXPECT_EQ(link.server()->Stats(link.now()).messages_received, 20u);
    EXPECT_NEAR(double(client.round_trip_ms), 80.0, 10.0);
    EXPECT_GT(client.bytes_sent, 20u * 500);
    // About 5 datagrams of some 520 bytes a second went out in the last full second.
    auto busy = link.client().Stats(link.now() - 900);
    EXPECT_GT(busy.throughput_bps, 1000u);
    EXPECT_LT(busy.throughput_bps, 20000u);
    EXPECT_EQ(link.client().Stats(link.now() + 5000).throughput_bps, 0u);  // gone quiet
}

// A connected pair whose opening keep-alives (sequence 0 each way) are acknowledged, so the
// next frame either side expects is sequence 1.
SimulatedLink ConnectedPair(ConnectionConfig server_config = {}) {
    SimulatedLink link = Connected(1, {.delay = 1}, server_config);
    link.RunFor(1000);
    return link;
}

Bytes DataFrame(uint8_t command, uint8_t seq, const Bytes& payload, uint64_t send_mask = 0,
                uint8_t control = 0) {
    Bytes out;
    EncodeDataHeader({.command = command,
                      .control = control,
                      .seq = seq,
                      .next_recv = 1,
                      .send_mask = send_mask},
                     out);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

constexpr uint8_t kWhole = kCommandNewMsg | kCommandEndMsg;
constexpr uint8_t kReliableSequential = kCommandReliable | kCommandSequential;

std::vector<Event> Messages(Connection& c) {
    std::vector<Event> out;
    while (auto e = c.PollEvent()) {
        if (e->type == EventType::kMessage)
            out.push_back(*e);
    }
    return out;
}

std::vector<Bytes> Data(Connection& c) {
    std::vector<Bytes> out;
    for (auto& e : Messages(c))
        out.push_back(e.data);
    return out;
}

std::optional<SackFrame> NextSack(Connection& c, Millis now) {
    c.HandleTimeout(now);
    Bytes out;
    while (c.PollTransmit(now, out)) {
        if (auto s = DecodeSack(out))
            return s;
    }
    return std::nullopt;
}

TEST(Dplay8ConnectionWire, SackMaskBitZeroIsTheFrameAfterNextReceive) {
    SimulatedLink link = ConnectedPair();
    Connection& server = *link.server();
    Millis now = link.now();
    server.HandleDatagram(DataFrame(kReliableSequential | kWhole, 2, {'b'}), now);
    EXPECT_TRUE(Data(server).empty());          // waits for sequence 1
    EXPECT_EQ(server.NextTimeout(), now + 20);  // out of order: the quick acknowledgment
    auto sack = NextSack(server, now + 20);
    ASSERT_TRUE(sack);
    EXPECT_EQ(std::pair(sack->next_recv, sack->sack_mask), std::pair(uint8_t(1), uint64_t(0x1)));
    server.HandleDatagram(DataFrame(kReliableSequential | kWhole, 4, {'d'}), now + 30);
    sack = NextSack(server, now + 50);
    ASSERT_TRUE(sack);
    EXPECT_EQ(sack->sack_mask, 0x5u);  // sequences 2 and 4
    // In order and without a poll, the acknowledgment waits for the delayed-ack time.
    server.HandleDatagram(DataFrame(kReliableSequential | kWhole, 1, {'a'}), now + 60);
    EXPECT_EQ(Data(server), (std::vector<Bytes>{{'a'}, {'b'}}));
    EXPECT_EQ(server.NextTimeout(), now + 160);
}

TEST(Dplay8ConnectionWire, SendMaskBitZeroIsTheFrameBeforeTheSequence) {
    SimulatedLink link = ConnectedPair();
    Connection& server = *link.server();
    Millis now = link.now();
    // Sequence 2 says that sequence 1 was given up, so 2 is next in order.
    server.HandleDatagram(DataFrame(kCommandSequential | kWhole, 2, {'m', '2'}, 0x1), now);
    EXPECT_EQ(Data(server), (std::vector<Bytes>{{'m', '2'}}));
    auto sack = NextSack(server, now + 200);
    ASSERT_TRUE(sack);
    EXPECT_EQ(std::pair(sack->next_recv, sack->sack_mask), std::pair(uint8_t(3), uint64_t(0)));
    // A late copy of the given-up frame is not delivered.
    server.HandleDatagram(DataFrame(kCommandSequential | kWhole, 1, {'m', '1'}), now + 300);
    EXPECT_TRUE(Data(server).empty());
}

TEST(Dplay8ConnectionWire, NonSequentialFramesAreDeliveredBeforeTheGapCloses) {
    SimulatedLink link = ConnectedPair();
    Connection& server = *link.server();
    Millis now = link.now();
    server.HandleDatagram(DataFrame(kCommandReliable | kWhole, 2, {'n'}), now);
    EXPECT_EQ(Data(server), std::vector<Bytes>{{'n'}});
    server.HandleDatagram(DataFrame(kReliableSequential | kWhole, 1, {'s'}), now + 5);
    EXPECT_EQ(Data(server), std::vector<Bytes>{{'s'}});  // 'n' is not repeated
    server.HandleDatagram(DataFrame(kCommandReliable | kWhole, 2, {'n'}), now + 6);
    EXPECT_TRUE(Data(server).empty());
}

TEST(Dplay8ConnectionWire, CoalescedPartsArriveInOrderWithTheirOwnFlags) {
    SimulatedLink link = ConnectedPair();
    Connection& server = *link.server();
    Bytes a{'a', 'a', 'a'}, b{'b'}, payload;
    ASSERT_TRUE(EncodeCoalesced(
        {{uint8_t(kReliableSequential | kCommandUser1), a}, {kCommandSequential, b}}, payload));
    server.HandleDatagram(DataFrame(kReliableSequential | kWhole, 1, payload, 0, kControlCoalesce),
                          link.now());
    auto got = Messages(server);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(std::tuple(got[0].data, got[0].guaranteed, got[0].user_flags),
              std::tuple(a, true, kCommandUser1));
    EXPECT_EQ(std::tuple(got[1].data, got[1].guaranteed, got[1].user_flags),
              std::tuple(b, false, uint8_t(0)));
}

TEST(Dplay8ConnectionWire, KeepAliveForAnotherSessionIsIgnored) {
    SimulatedLink link = ConnectedPair();
    Connection& server = *link.server();
    DataFrameHeader h{.command = kReliableSequential | kWhole | kCommandPoll,
                      .seq = 1,
                      .next_recv = 1,
                      .session_id = server.session_id() ^ 1};
    Bytes frame;
    EncodeDataHeader(h, frame);
    server.HandleDatagram(frame, link.now());
    EXPECT_FALSE(server.PollTransmit(link.now(), frame));  // not even acknowledged
    h.session_id = server.session_id();
    frame.clear();
    EncodeDataHeader(h, frame);
    server.HandleDatagram(frame, link.now());
    auto sack = NextSack(server, link.now());
    ASSERT_TRUE(sack);
    EXPECT_EQ(sack->next_recv, 2);
    EXPECT_TRUE(Data(server).empty());  // a keep-alive carries no message
}

TEST(Dplay8ConnectionWire, MessagesBeyondTheSizeLimitAreRefusedOrEndTheConnection) {
    SimulatedLink link = ConnectedPair({.max_message_size = 3000});
    Connection& server = *link.server();
    EXPECT_FALSE(server.Send(Bytes(3001), {}, link.now()));
    EXPECT_TRUE(server.Send(Bytes(3000), {}, link.now()));
    EXPECT_FALSE(link.client().Send(Bytes{}, {}, link.now()));
    Bytes chunk(1000, 'x');
    server.HandleDatagram(DataFrame(kReliableSequential | kCommandNewMsg, 1, chunk), link.now());
    server.HandleDatagram(DataFrame(kReliableSequential, 2, chunk), link.now());
    server.HandleDatagram(DataFrame(kReliableSequential, 3, chunk), link.now());
    EXPECT_TRUE(server.is_connected());  // 3000 bytes so far
    server.HandleDatagram(DataFrame(kReliableSequential, 4, chunk), link.now());
    EXPECT_EQ(server.state(), ConnectionState::kClosed);
    std::optional<DisconnectReason> reason;
    while (auto e = server.PollEvent()) {
        if (e->type == EventType::kDisconnected)
            reason = e->reason;
    }
    EXPECT_EQ(reason, DisconnectReason::kProtocolError);
    Bytes out;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(server.PollTransmit(link.now(), out));
        EXPECT_EQ(CommandOpcode(out), kOpHardDisconnect);
    }
}

TEST(Dplay8ConnectionWire, ListenerRepairsTheHandshake) {
    Millis now = 5000;
    Connection connector = Connection::Connect({}, 77, now);
    EXPECT_FALSE(connector.Send(Bytes{1}, {}, now));  // not connected yet
    Bytes connect, connected, retry, again, confirm, keepalive, repeat;
    ASSERT_TRUE(connector.PollTransmit(now, connect));
    auto listener = Connection::Accept({}, connect, now);
    ASSERT_TRUE(listener);
    ASSERT_TRUE(listener->PollTransmit(now, connected));
    // A repeated CONNECT is answered at once, echoing its message id.
    connector.HandleTimeout(now + 200);
    ASSERT_TRUE(connector.PollTransmit(now + 200, retry));
    listener->HandleDatagram(retry, now + 201);
    ASSERT_TRUE(listener->PollTransmit(now + 201, again));
    auto f = DecodeHandshake(again);
    ASSERT_TRUE(f);
    EXPECT_EQ(std::pair(f->opcode, f->rsp_id), std::pair(kOpConnected, uint8_t(1)));
    // The connector's CONNECTED is lost; its first data frame completes the listener.
    connector.HandleDatagram(connected, now + 210);
    ASSERT_TRUE(connector.PollTransmit(now + 210, confirm));
    ASSERT_TRUE(connector.PollTransmit(now + 210, keepalive));
    EXPECT_EQ(ClassifyFrame(keepalive), FrameKind::kData);
    EXPECT_FALSE(listener->is_connected());
    listener->HandleDatagram(keepalive, now + 211);
    EXPECT_TRUE(listener->is_connected());
    // A listener that retries CONNECTED to an established connector gets CONNECTED back.
    connector.HandleDatagram(again, now + 220);
    ASSERT_TRUE(connector.PollTransmit(now + 220, repeat));
    auto r = DecodeHandshake(repeat);
    ASSERT_TRUE(r);
    EXPECT_EQ(std::pair(r->opcode, r->poll), std::pair(kOpConnected, false));
}

TEST(Dplay8ConnectionWire, OnlyAPlausibleFirstFrameCompletesTheListener) {
    Connection connector = Connection::Connect({}, 0xABCD, 0);
    Bytes connect, wrong, right;
    ASSERT_TRUE(connector.PollTransmit(0, connect));
    auto listener = Connection::Accept({}, connect, 0);
    ASSERT_TRUE(listener);
    listener->HandleDatagram(DataFrame(kReliableSequential | kWhole, 0x80, {1}), 1);
    listener->HandleDatagram(Bytes{0x01, 0x00, 0x00, 0x05}, 1);  // acknowledges our frame 4
    DataFrameHeader h{.command = kReliableSequential | kWhole, .session_id = 0xABCE};
    EncodeDataHeader(h, wrong);  // a keep-alive for another session
    listener->HandleDatagram(wrong, 1);
    EXPECT_EQ(listener->state(), ConnectionState::kAwaitingConfirm);
    h.session_id = 0xABCD;
    EncodeDataHeader(h, right);
    listener->HandleDatagram(right, 2);
    EXPECT_TRUE(listener->is_connected());
}

TEST(Dplay8ConnectionWire, AcceptRefusesAnythingButACompatibleConnect) {
    const std::pair<HandshakeFrame, bool> cases[] = {
        {{.session_id = 9}, true},
        {{.version = 0x00020006, .session_id = 9}, false},  // another major version
        {{.opcode = kOpConnected, .session_id = 9}, false},
    };
    for (const auto& [f, accepted] : cases) {
        Bytes wire;
        EncodeHandshake(f, wire);
        EXPECT_EQ(Connection::Accept({}, wire, 0).has_value(), accepted);
    }
    EXPECT_FALSE(Connection::Accept({}, Bytes{0x88, 0x01}, 0));
}

}  // namespace

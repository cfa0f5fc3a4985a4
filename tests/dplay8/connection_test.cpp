// The transport connection: seeded properties over a simulated lossy link (every promise under
// random traffic, the retry, keep-alive and window limits), then answers to hand-made datagrams.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "dplay8/frames.h"
#include "simulated_network.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace dplay8;
using dplay8_test::Side;
using dplay8_test::SimulatedLink;
using dplay8_test::WireRecord;

constexpr int kSeeds = 200;

// A message that names itself: a 4-byte index, then filler up to `size` bytes.
Bytes Tagged(uint32_t index, size_t size) {
    Bytes b(std::max<size_t>(size, 4), uint8_t(index * 7));
    for (int i = 0; i < 4; ++i)
        b[i] = uint8_t(index >> (8 * i));
    return b;
}

std::vector<const Event*> Of(SimulatedLink& link, Side side, EventType type = EventType::kMessage) {
    std::vector<const Event*> out;
    for (const auto& e : link.events(side)) {
        if (e.type == type)
            out.push_back(&e);
    }
    return out;
}

SimulatedLink Connected(uint32_t seed, dplay8_test::LinkConditions conditions,
                        ConnectionConfig server = {}) {
    SimulatedLink link(seed, conditions, server);
    EXPECT_TRUE(link.RunUntil([&] { return link.connected(); }, 120000)) << seed;
    for (Side side : {Side::kClient, Side::kServer})
        EXPECT_EQ(Of(link, side, EventType::kConnected).size(), 1u) << seed;
    return link;
}

std::optional<DisconnectReason> DisconnectOf(SimulatedLink& link, Side side) {
    auto d = Of(link, side, EventType::kDisconnected);
    EXPECT_LE(d.size(), 1u) << "one side disconnected twice";
    return d.empty() ? std::nullopt : std::optional(d[0]->reason);
}

bool RunToDisconnect(SimulatedLink& link, Millis within) {
    return link.RunUntil([&] { return DisconnectOf(link, Side::kClient).has_value(); },
                         link.now() + within);
}

// The result of every send, by id; each must come exactly once.
std::map<uint64_t, SendResult> Completions(SimulatedLink& link, Side side) {
    std::map<uint64_t, SendResult> out;
    for (const Event* e : Of(link, side, EventType::kSendComplete))
        EXPECT_TRUE(out.emplace(e->send_id, e->result).second) << "completed twice";
    return out;
}

std::vector<Millis> SentAt(SimulatedLink& link, Millis after, auto pick) {
    std::vector<Millis> at;
    for (const WireRecord& w : link.wire()) {
        if (w.at >= after && pick(w))
            at.push_back(w.at);
    }
    return at;
}

bool IsKeepAlive(const WireRecord& w) {
    ByteSpan payload;
    auto h = DecodeDataFrame(w.bytes, true, payload);
    return h && h->session_id;
}

// Random traffic both ways (single frames, coalesced, fragmented) under random loss,
// duplication, delay and jitter, ended by a graceful close on two seeds in three and else by a
// close or abort at a random moment: nothing arrives twice or altered, sequential messages keep
// their order, every send completes once, a graceful close delivers every guaranteed message,
// and both sides go quiet.
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
            SendOptions o;
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
                const size_t spans[] = {3000, 1300, 40, 40};
                Bytes data = Tagged(tag, 4 + rng() % spans[rng() % 4]);
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
        ASSERT_TRUE(link.RunUntil(
            [&] { return DisconnectOf(link, Side::kClient) && DisconnectOf(link, Side::kServer); },
            link.now() + 600000));
        link.RunFor(300000);  // late duplicates have every chance to show up
        if (graceful) {
            EXPECT_EQ(
                std::pair(DisconnectOf(link, Side::kClient), DisconnectOf(link, Side::kServer)),
                std::pair(std::optional(DisconnectReason::kClosedLocally),
                          std::optional(DisconnectReason::kClosedByPeer)));
        }
        for (Side from : {Side::kClient, Side::kServer}) {
            auto results = Completions(link, from);
            EXPECT_EQ(results.size(), sent[from].size());
            std::set<uint32_t> seen;
            std::optional<uint32_t> last_sequential;
            for (const Event* e : Of(link, from == Side::kClient ? Side::kServer : Side::kClient)) {
                const uint32_t t = LoadU32(e->data.data());
                ASSERT_TRUE(sent[from].count(t)) << t;
                const Sent& s = sent[from][t];
                EXPECT_TRUE(seen.insert(t).second) << "message " << t << " arrived twice";
                EXPECT_EQ(std::tuple(e->data, e->guaranteed, e->sequential),
                          std::tuple(s.data, s.o.guaranteed, s.o.sequential));
                if (e->sequential) {
                    EXPECT_TRUE(!last_sequential || t > *last_sequential) << t;
                    last_sequential = t;
                }
                unreliable_got += !e->guaranteed;
            }
            for (const auto& [t, s] : sent[from]) {
                if (graceful && s.o.guaranteed) {
                    EXPECT_EQ(std::pair(seen.count(t), results[s.id]),
                              std::pair(size_t(1), SendResult::kDelivered))
                        << "lost guaranteed " << t;
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
        std::vector<Bytes> sent;
        for (uint32_t i = 0; i < kCount; ++i) {
            sent.push_back(Tagged(i, 1500));
            ASSERT_TRUE(link.client().Send(sent.back(), {.guaranteed = true}, link.now()));
            if (i % 50 == 0)
                link.RunFor(100);
        }
        ASSERT_TRUE(link.RunUntil([&] { return Of(link, Side::kServer).size() == kCount; },
                                  link.now() + 3600000));
        std::vector<Bytes> got;
        for (const Event* e : Of(link, Side::kServer))
            got.push_back(e->data);
        EXPECT_EQ(got, sent);
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
        const Millis start = link.now(), rtt = link.client().Stats(start).round_trip_ms;
        auto id = link.client().Send(Tagged(1, 100), {.guaranteed = true}, start);
        ASSERT_TRUE(RunToDisconnect(link, 120000));
        EXPECT_EQ(DisconnectOf(link, Side::kClient), DisconnectReason::kConnectionLost);
        std::vector<Millis> want{start},
            sent = SentAt(link, start, [](auto&w) { return w.bytes.size() > 100; });
        sent.push_back(link.now());
        for (int i = 0; i <= 10; ++i)
            want.push_back(want.back() + DataRetryInterval(rtt, i, {}));
        EXPECT_EQ(sent, want);
        EXPECT_EQ(Completions(link, Side::kClient),
                  (std::map<uint64_t, SendResult>{{*id, SendResult::kCancelled}}));
    }
}

// On an idle link a keep-alive goes out 25 s after the last arrival; to a silent peer it is
// retried like data until the peer is declared lost.
TEST(Dplay8TransportSimulation, IdleLinksKeepAliveAndASilentPeerIsLostAfterTheRetries) {
    SimulatedLink link = Connected(11, {.delay = 25});
    link.RunFor(1000);
    Millis start = link.now();
    link.RunFor(300000);
    auto idle = SentAt(link, start, IsKeepAlive);
    ASSERT_GE(idle.size(), 11u);
    for (size_t i = 1; i < idle.size(); ++i)
        EXPECT_EQ(idle[i] - idle[i - 1], 25000 + 25) << i;
    EXPECT_TRUE(link.connected());
    EXPECT_TRUE(Of(link, Side::kServer).empty());

    link.Silence(Side::kServer);
    start = link.now();
    ASSERT_TRUE(RunToDisconnect(link, 200000));
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
    ASSERT_TRUE(RunToDisconnect(link, 200000));
    EXPECT_EQ(DisconnectOf(link, Side::kClient), DisconnectReason::kConnectFailed);
    auto connects = SentAt(link, 0, [](auto& w) { return CommandOpcode(w.bytes) == kOpConnect; });
    connects.push_back(link.now());
    EXPECT_EQ(connects,
              (std::vector<Millis>{1000, 1200, 1600, 2400, 4000, 7200, 12200, 17200, 22200, 27200,
                                   32200, 37200, 42200, 47200, 52200, 57200}));
}

TEST(Dplay8TransportSimulation, HandshakeCompletesDespiteHeavyLoss) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed)
        Connected(3000 + seed, {.loss = 0.5, .delay = 30, .jitter = 30});
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

// The window opens at two frames and grows by one per acknowledged frame, up to 64: behind a
// silent peer only three messages go out; on a long lossless link a burst needs no retry,
// which a window beyond the receiver's 64 would cause.
TEST(Dplay8TransportSimulation, TheWindowOpensAtTwoAndGrowsToSixtyFour) {
    SimulatedLink link = Connected(6, {.delay = 10});
    link.RunFor(500);
    link.Silence(Side::kServer);
    for (uint32_t i = 0; i < 70; ++i)
        ASSERT_TRUE(link.client().Send(Tagged(i, 1300), {.timeout = 300}, link.now()));
    link.RunFor(1000);
    auto stats = link.client().Stats(link.now());
    EXPECT_EQ(std::pair(stats.messages_sent, stats.messages_timed_out),
              std::pair(uint64_t(3), uint64_t(67)));
    size_t timed_out = 0;
    for (auto [id, result] : Completions(link, Side::kClient))
        timed_out += result == SendResult::kTimedOut;
    EXPECT_EQ(timed_out, 67u);

    SimulatedLink burst = Connected(12, {.delay = 50});
    const Millis start = burst.now();
    for (uint32_t i = 0; i < 2000; ++i)
        ASSERT_TRUE(burst.client().Send(Tagged(i, 1300), {.guaranteed = true}, start));
    ASSERT_TRUE(
        burst.RunUntil([&] { return Of(burst, Side::kServer).size() == 2000; }, start + 60000));
    EXPECT_LT(burst.now() - start, 2000 / 64 * 100 + 2000);
    EXPECT_EQ(std::pair(burst.client().Stats(burst.now()).retries,
                        burst.server()->Stats(burst.now()).duplicates),
              std::pair(uint64_t(0), uint64_t(0)));
}

TEST(Dplay8TransportSimulation, OnlyPeersFromVersion15GetCoalescingAndKeepAlivesWithSession) {
    for (uint32_t seed = 0; seed < 20; ++seed) {
        SCOPED_TRACE(seed);
        const uint32_t version = seed % 2 ? 0x00010004u : kProtocolVersion;
        SimulatedLink link = Connected(5000 + seed, {.loss = 0.2, .delay = 20, .jitter = 50},
                                       {.protocol_version = version});
        EXPECT_EQ(link.client().remote_version(), version);
        for (uint32_t i = 0; i < 300; ++i)
            ASSERT_TRUE(link.client().Send(Tagged(i, 10), {.guaranteed = true}, link.now()));
        ASSERT_TRUE(link.RunUntil([&] { return Of(link, Side::kServer).size() == 300; },
                                  link.now() + 300000));
        auto marked = SentAt(link, 0, [](auto& w) {
            return ClassifyFrame(w.bytes) == FrameKind::kData &&
                   (w.bytes[1] & (kControlCoalesce | kControlKeepAliveOrCorrelate));
        });
        EXPECT_EQ(marked.empty(), version != kProtocolVersion);
        EXPECT_TRUE(version != kProtocolVersion ||
                    link.client().Stats(link.now()).datagrams_sent < 300 / 4);
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
    EXPECT_EQ(std::tuple(client.messages_sent, client.messages_timed_out, client.retries,
                         link.server()->Stats(link.now()).messages_received),
              std::tuple(20u, 0u, 0u, 20u));
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
struct Dplay8ConnectionWire : ::testing::Test {
    SimulatedLink link = Connected(1, {.delay = 1}, {.max_message_size = 3000});
    Connection& server = (link.RunFor(1000), *link.server());
    Millis now = link.now();

    void Deliver(uint8_t command, uint8_t seq, const Bytes& payload, uint64_t send_mask = 0,
                 uint8_t control = 0, Millis at = 0) {
        Bytes out;
        EncodeDataHeader({.command = command,
                          .control = control,
                          .seq = seq,
                          .next_recv = 1,
                          .send_mask = send_mask},
                         out);
        out.insert(out.end(), payload.begin(), payload.end());
        server.HandleDatagram(out, now + at);
    }
    std::vector<Event> Messages() {
        std::vector<Event> out;
        while (auto e = server.PollEvent()) {
            if (e->type == EventType::kMessage)
                out.push_back(*e);
        }
        return out;
    }
    std::vector<Bytes> Data() {
        std::vector<Bytes> out;
        for (auto& e : Messages())
            out.push_back(e.data);
        return out;
    }
    // (next receive, SACK mask) of the next SACK the server sends at `at`.
    std::pair<int, uint64_t> NextSack(Millis at) {
        server.HandleTimeout(now + at);
        for (Bytes out; server.PollTransmit(now + at, out);) {
            if (auto s = DecodeSack(out))
                return {s->next_recv, s->sack_mask};
        }
        return {-1, 0};
    }
};

constexpr uint8_t kWhole = kCommandNewMsg | kCommandEndMsg;
constexpr uint8_t kRS = kCommandReliable | kCommandSequential;

TEST_F(Dplay8ConnectionWire, SackMaskBitZeroIsTheFrameAfterNextReceiveAndAcksWait20Or100Ms) {
    Deliver(kRS | kWhole, 2, {'b'});
    EXPECT_TRUE(Data().empty());                // waits for sequence 1
    EXPECT_EQ(server.NextTimeout(), now + 20);  // out of order: the quick acknowledgment
    EXPECT_EQ(NextSack(20), std::pair(1, uint64_t(0x1)));
    Deliver(kRS | kWhole, 4, {'d'}, 0, 0, 30);
    EXPECT_EQ(NextSack(50), std::pair(1, uint64_t(0x5)));  // sequences 2 and 4
    // In order and without a poll, the acknowledgment waits for the delayed-ack time.
    Deliver(kRS | kWhole, 1, {'a'}, 0, 0, 60);
    EXPECT_EQ(Data(), (std::vector<Bytes>{{'a'}, {'b'}}));
    EXPECT_EQ(server.NextTimeout(), now + 160);
}

TEST_F(Dplay8ConnectionWire, SendMaskBitZeroIsTheFrameBeforeTheSequence) {
    // Sequence 2 says that sequence 1 was given up, so 2 is next in order.
    Deliver(kCommandSequential | kWhole, 2, {'m', '2'}, 0x1);
    EXPECT_EQ(Data(), (std::vector<Bytes>{{'m', '2'}}));
    EXPECT_EQ(NextSack(200), std::pair(3, uint64_t(0)));
    Deliver(kCommandSequential | kWhole, 1, {'m', '1'}, 0, 0, 300);  // a late copy of it
    EXPECT_TRUE(Data().empty());
}

TEST_F(Dplay8ConnectionWire, NonSequentialFramesAreDeliveredBeforeTheGapCloses) {
    Deliver(kCommandReliable | kWhole, 2, {'n'});
    EXPECT_EQ(Data(), std::vector<Bytes>{{'n'}});
    Deliver(kRS | kWhole, 1, {'s'}, 0, 0, 5);
    EXPECT_EQ(Data(), std::vector<Bytes>{{'s'}});  // 'n' is not repeated
    Deliver(kCommandReliable | kWhole, 2, {'n'}, 0, 0, 6);
    EXPECT_TRUE(Data().empty());
}

TEST_F(Dplay8ConnectionWire, CoalescedPartsArriveInOrderWithTheirOwnFlags) {
    Bytes a{'a', 'a', 'a'}, b{'b'}, payload;
    ASSERT_TRUE(
        EncodeCoalesced({{uint8_t(kRS | kCommandUser1), a}, {kCommandSequential, b}}, payload));
    Deliver(kRS | kWhole, 1, payload, 0, kControlCoalesce);
    auto got = Messages();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(std::tuple(got[0].data, got[0].guaranteed, got[0].user_flags, got[1].data,
                         got[1].guaranteed, got[1].user_flags),
              std::tuple(a, true, kCommandUser1, b, false, uint8_t(0)));
}

TEST_F(Dplay8ConnectionWire, KeepAliveForAnotherSessionIsIgnored) {
    for (uint32_t session : {server.session_id() ^ 1, server.session_id()}) {
        Bytes frame;
        EncodeDataHeader({.command = kRS | kWhole | kCommandPoll,
                          .seq = 1,
                          .next_recv = 1,
                          .session_id = session},
                         frame);
        server.HandleDatagram(frame, now);
        // Not even acknowledged when for another session; a keep-alive carries no message.
        EXPECT_EQ(NextSack(0), std::pair(session == server.session_id() ? 2 : -1, uint64_t(0)));
        EXPECT_TRUE(Data().empty());
    }
}

TEST_F(Dplay8ConnectionWire, MessagesBeyondTheSizeLimitAreRefusedOrEndTheConnection) {
    EXPECT_FALSE(server.Send(Bytes(3001), {}, now));
    EXPECT_TRUE(server.Send(Bytes(3000), {}, now));
    EXPECT_FALSE(link.client().Send(Bytes{}, {}, now));
    Deliver(kRS | kCommandNewMsg, 1, Bytes(1000, 'x'));
    Deliver(kRS, 2, Bytes(1000, 'x'));
    Deliver(kRS, 3, Bytes(1000, 'x'));
    EXPECT_TRUE(server.is_connected());  // 3000 bytes so far
    Deliver(kRS, 4, Bytes(1000, 'x'));
    EXPECT_EQ(server.state(), ConnectionState::kClosed);
    std::optional<DisconnectReason> reason;
    while (auto e = server.PollEvent())
        reason = e->type == EventType::kDisconnected ? e->reason : reason;
    EXPECT_EQ(reason, DisconnectReason::kProtocolError);
    Bytes out;
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(server.PollTransmit(now, out) && CommandOpcode(out) == kOpHardDisconnect) << i;
}

TEST(Dplay8Handshake, ListenerRepairsTheHandshake) {
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

TEST(Dplay8Handshake, OnlyAPlausibleFirstFrameCompletesTheListener) {
    Connection connector = Connection::Connect({}, 0xABCD, 0);
    Bytes connect, first, wrong, right;
    ASSERT_TRUE(connector.PollTransmit(0, connect));
    auto listener = Connection::Accept({}, connect, 0);
    ASSERT_TRUE(listener);
    EncodeDataHeader({.command = kRS | kWhole, .seq = 0x80, .next_recv = 1}, first);
    EncodeDataHeader({.command = kRS | kWhole, .session_id = 0xABCE}, wrong);  // another session
    for (const Bytes& b : {first, Bytes{0x01, 0x00, 0x00, 0x05}, wrong})  // 2nd acks our frame 4
        listener->HandleDatagram(b, 1);
    EXPECT_EQ(listener->state(), ConnectionState::kAwaitingConfirm);
    EncodeDataHeader({.command = kRS | kWhole, .session_id = 0xABCD}, right);
    listener->HandleDatagram(right, 2);
    EXPECT_TRUE(listener->is_connected());
}

TEST(Dplay8Handshake, AcceptRefusesAnythingButACompatibleConnect) {
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

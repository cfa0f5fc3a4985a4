// The transport: seeded properties over a simulated lossy link, then hand-made datagrams.

#include <gtest/gtest.h>

#include <algorithm>
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

// clang-format off
// A message that names itself: a 4-byte index, then filler up to `size` bytes.
Bytes Tagged(uint32_t index, size_t size) {
    Bytes b(std::max<size_t>(size, 4), uint8_t(index * 7));
    for (int i = 0; i < 4; ++i) b[i] = uint8_t(index >> (8 * i));
    return b;
}

std::vector<const Event*> Of(SimulatedLink& link, Side side, EventType type = EventType::kMessage) {
    std::vector<const Event*> out;
    for (const auto& e : link.events[int(side)]) if (e.type == type) out.push_back(&e);
    return out;
}

// Room for the bursts some tests queue at once.
const ConnectionConfig kRoomyQueue{.max_queued_bytes = 8 << 20};

struct Connected : SimulatedLink {
    Connected(uint32_t seed, dplay8_test::LinkConditions conditions, ConnectionConfig server = {},
              const ConnectionConfig& client = {})
        : SimulatedLink(seed, conditions, server, client) {
        EXPECT_TRUE(RunUntil([&] { return connected(); }, 120000)) << seed;
        for (Side side : {Side::kClient, Side::kServer})
            EXPECT_EQ(Of(*this, side, EventType::kConnected).size(), 1u) << seed;
    }
};

std::optional<DisconnectReason> DisconnectOf(SimulatedLink& link, Side side) {
    auto d = Of(link, side, EventType::kDisconnected);
    EXPECT_LE(d.size(), 1u) << "one side disconnected twice";
    return d.empty() ? std::nullopt : std::optional(d[0]->reason);
}

bool RunToDisconnect(SimulatedLink& link, Millis within) {
    return link.RunUntil([&] { return DisconnectOf(link, Side::kClient).has_value(); },
                         link.now() + within);
}

std::map<uint64_t, SendResult> Completions(SimulatedLink& link, Side side) {
    std::map<uint64_t, SendResult> out;
    for (const Event* e : Of(link, side, EventType::kSendComplete))
        EXPECT_TRUE(out.emplace(e->send_id, e->result).second) << "completed twice";
    return out;
}

std::vector<Millis> SentAt(SimulatedLink& link, Millis after, auto pick) {
    std::vector<Millis> at;
    for (const WireRecord& w : link.wire) if (w.at >= after && pick(w)) at.push_back(w.at);
    return at;
}

struct Sent { uint64_t id; SendOptions o; Bytes data; };

bool IsKeepAlive(const WireRecord& w) { ByteSpan payload; auto h = DecodeDataFrame(w.bytes, true, payload); return h && h->session_id; }
// clang-format on

// Nothing arrives twice or altered, sequential keeps order, every send completes once, and a
// graceful close (two seeds in three; else a close or abort at random) delivers all guaranteed.
TEST(Dplay8TransportSimulation, RandomTrafficKeepsEveryPromise) {
    uint64_t retries = 0, duplicates = 0, unreliable_sent = 0, unreliable_got = 0;
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        // Half the servers hold the acknowledgment of a polled frame for their answer.
        Connected link(seed,
                       {.loss = (rng() % 30) / 100.0,
                        .duplicate = (rng() % 20) / 100.0,
                        .delay = Millis(1 + rng() % 60),
                        .jitter = Millis(rng() % 60)},
                       {.poll_ack_hold = Millis(seed % 2 * 2)});
        const bool graceful = seed % 3 != 0;
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
                const size_t span = spans[rng() % 4];  // drawn first in every build
                Bytes data = Tagged(tag, 4 + rng() % span);
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
            link.client.Close(link.now());
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
        retries += link.client.Stats(link.now()).retries;
        duplicates += link.server->Stats(link.now()).duplicates;
    }
    EXPECT_GT(retries, uint64_t(kSeeds));
    EXPECT_GT(duplicates, uint64_t(kSeeds));
    EXPECT_GT(unreliable_got, unreliable_sent / 2);
}

TEST(Dplay8TransportSimulation, SequenceNumbersWrapManyTimesWithoutLossOrReordering) {
    for (uint32_t seed = 0; seed < kSeeds / 10; ++seed) {
        SCOPED_TRACE(seed);
        Connected link(6000 + seed, {.loss = 0.2, .duplicate = 0.05, .delay = 20, .jitter = 50},
                       {}, kRoomyQueue);
        // Two frames a message: the 8-bit sequence goes round over ten times.
        const uint32_t kCount = 1500;
        std::vector<Bytes> sent;
        for (uint32_t i = 0; i < kCount; ++i) {
            sent.push_back(Tagged(i, 1500));
            ASSERT_TRUE(link.client.Send(sent.back(), {.guaranteed = true}, link.now()));
            if (i % 50 == 0)
                link.RunFor(100);
        }
        ASSERT_TRUE(link.RunUntil([&] { return Of(link, Side::kServer).size() == kCount; },
                                  link.now() + 3600000));
        std::vector<Bytes> got;
        for (const Event* e : Of(link, Side::kServer))
            got.push_back(e->data);
        EXPECT_EQ(got, sent);
        EXPECT_GT(link.client.Stats(link.now()).datagrams_sent, 10u * 256);
    }
}

// Keep-alive 25 s after the last arrival; to a silent peer data (odd seeds) or a keep-alive is
// retried ten times on the data schedule, then the peer is lost.
TEST(Dplay8TransportSimulation, SilentPeerIsDeclaredLostAfterTheRetrySchedule) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE(seed);
        const Millis delay = 5 + seed % 40;
        const bool data = seed % 2;
        Connected link(2000 + seed, {.delay = delay});
        link.RunFor(1000);
        if (!data) {
            const Millis from = link.now();
            link.RunFor(100000);
            auto idle = SentAt(link, from, IsKeepAlive);
            ASSERT_GE(idle.size(), 3u);
            for (size_t i = 1; i < idle.size(); ++i)
                EXPECT_EQ(idle[i] - idle[i - 1], 25000 + delay) << i;
            EXPECT_TRUE(link.connected() && Of(link, Side::kServer).empty());
        }
        link.nodes[1].silent = true;
        const Millis start = link.now(), rtt = link.client.Stats(start).round_trip_ms;
        std::map<uint64_t, SendResult> cancelled;
        if (data)
            cancelled[*link.client.Send(Tagged(1, 100), {.guaranteed = true}, start)] =
                SendResult::kCancelled;
        ASSERT_TRUE(RunToDisconnect(link, 200000));
        EXPECT_EQ(DisconnectOf(link, Side::kClient), DisconnectReason::kConnectionLost);
        auto sent = SentAt(link, start,
                           [&](auto& w) { return data ? w.bytes.size() > 100 : IsKeepAlive(w); });
        ASSERT_FALSE(sent.empty());
        EXPECT_LE(sent[0] - start, data ? 0 : 25000);
        std::vector<Millis> want{sent[0]};
        sent.push_back(link.now());
        for (int i = 0; i <= 10; ++i)
            want.push_back(want.back() + DataRetryInterval(rtt, i, {}));
        EXPECT_EQ(sent, want);
        EXPECT_EQ(Completions(link, Side::kClient), cancelled);
    }
}

// A peer that stops acknowledging holds at most the queue's bound: unguaranteed messages
// beyond it or past their time are dropped, a guaranteed one beyond it ends the connection.
TEST(Dplay8TransportSimulation, APeerThatStopsAcknowledgingCannotMakeTheQueueGrow) {
    Connected link(3, {.delay = 5}, {.max_queued_bytes = 10000, .max_queued_messages = 50});
    link.RunFor(1000);
    Connection& server = *link.server;
    link.nodes[0].silent = true;  // the client
    size_t most_messages = 0, most_bytes = 0;
    for (int i = 0; i < 300; ++i) {
        server.Send(Bytes(i % 2 ? 100 : 400), {}, link.now());
        most_messages = std::max(most_messages, server.queued_messages());
        most_bytes = std::max(most_bytes, server.queued_bytes());
        if (i % 30 == 0)
            link.RunFor(10);
    }
    link.RunFor(1100);
    const size_t after_expiry = server.queued_messages() + server.queued_bytes();
    int refused_at = -1;
    for (int i = 0; i < 100 && refused_at < 0; ++i) {
        if (!server.Send(Bytes(500), {.guaranteed = true}, link.now()))
            refused_at = i;
    }
    ASSERT_TRUE(link.RunUntil([&] { return DisconnectOf(link, Side::kServer).has_value(); },
                              link.now() + 5000));
    EXPECT_EQ(std::tuple(most_messages <= 50, most_bytes <= 10000, after_expiry, refused_at,
                         *DisconnectOf(link, Side::kServer), server.queued_bytes()),
              std::tuple(true, true, 0u, 20, DisconnectReason::kSendBacklog, 0u));
    const auto results = Completions(link, Side::kServer);
    EXPECT_EQ(results.size(), 320u);  // every send, dropped, timed out or cancelled
    EXPECT_EQ(server.Stats(link.now()).messages_timed_out,
              uint64_t(std::ranges::count(results, SendResult::kTimedOut,
                                          &std::pair<const uint64_t, SendResult>::second)));
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
    Connected link(5, {.delay = 10});
    auto id = link.client.Send(Tagged(1, 5000), {.guaranteed = true}, link.now());
    link.client.Abort(link.now());
    EXPECT_FALSE(link.client.Send(Tagged(2, 8), {.guaranteed = true}, link.now()));
    link.RunFor(10000);
    EXPECT_EQ(DisconnectOf(link, Side::kClient), DisconnectReason::kAbortedLocally);
    EXPECT_EQ(DisconnectOf(link, Side::kServer), DisconnectReason::kAbortedByPeer);
    EXPECT_EQ(Completions(link, Side::kClient),
              (std::map<uint64_t, SendResult>{{*id, SendResult::kCancelled}}));
    size_t hard[2] = {0, 0};  // ours, until the peer's first arrives; the peer's three
    for (const WireRecord& w : link.wire)
        hard[int(w.from)] += CommandOpcode(w.bytes) == kOpHardDisconnect;
    EXPECT_TRUE(hard[0] >= 1 && hard[1] == 3) << hard[0] << " " << hard[1];
}

// Behind a silent peer the window of two lets three messages out; a window past the receiver's
// 64 would make a lossless burst retry.
TEST(Dplay8TransportSimulation, TheWindowOpensAtTwoAndGrowsToSixtyFour) {
    Connected link(6, {.delay = 10});
    link.RunFor(500);
    link.nodes[1].silent = true;
    for (uint32_t i = 0; i < 70; ++i)
        ASSERT_TRUE(link.client.Send(Tagged(i, 1300), {.timeout = 300}, link.now()));
    link.RunFor(1000);
    auto stats = link.client.Stats(link.now());
    EXPECT_EQ(std::pair(stats.messages_sent, stats.messages_timed_out),
              std::pair(uint64_t(3), uint64_t(67)));
    auto results = Completions(link, Side::kClient);
    EXPECT_EQ(std::count_if(results.begin(), results.end(),
                            [](auto& r) { return r.second == SendResult::kTimedOut; }),
              67);

    Connected burst(12, {.delay = 50}, {}, kRoomyQueue);
    const Millis start = burst.now();
    for (uint32_t i = 0; i < 2000; ++i)
        ASSERT_TRUE(burst.client.Send(Tagged(i, 1300), {.guaranteed = true}, start));
    ASSERT_TRUE(
        burst.RunUntil([&] { return Of(burst, Side::kServer).size() == 2000; }, start + 60000));
    EXPECT_LT(burst.now() - start, 2000 / 64 * 100 + 2000);
    EXPECT_EQ(std::pair(burst.client.Stats(burst.now()).retries,
                        burst.server->Stats(burst.now()).duplicates),
              std::pair(uint64_t(0), uint64_t(0)));
}

TEST(Dplay8TransportSimulation, OnlyPeersFromVersion15GetCoalescingAndKeepAlivesWithSession) {
    for (uint32_t seed = 0; seed < 20; ++seed) {
        SCOPED_TRACE(seed);
        const uint32_t version = seed % 2 ? 0x00010004u : kProtocolVersion;
        Connected link(5000 + seed, {.loss = 0.2, .delay = 20, .jitter = 50},
                       {.protocol_version = version});
        EXPECT_EQ(link.client.remote_version(), version);
        for (uint32_t i = 0; i < 300; ++i)
            ASSERT_TRUE(link.client.Send(Tagged(i, 10), {.guaranteed = true}, link.now()));
        ASSERT_TRUE(link.RunUntil([&] { return Of(link, Side::kServer).size() == 300; },
                                  link.now() + 300000));
        auto marked = SentAt(link, 0, [](auto& w) {
            return ClassifyFrame(w.bytes) == FrameKind::kData &&
                   (w.bytes[1] & (kControlCoalesce | kControlKeepAliveOrCorrelate));
        });
        EXPECT_EQ(marked.empty(), version != kProtocolVersion);
        EXPECT_TRUE(version != kProtocolVersion ||
                    link.client.Stats(link.now()).datagrams_sent < 300 / 4);
    }
}

TEST(Dplay8TransportSimulation, StatisticsCountMessagesAndMeasureTheRoundTrip) {
    Connected link(9, {.delay = 40});
    for (int round = 0; round < 20; ++round) {
        link.client.Send(Tagged(round, 500), {.guaranteed = true}, link.now());
        link.RunFor(100);
    }
    link.RunFor(1000);
    auto client = link.client.Stats(link.now() - 200);
    EXPECT_EQ(std::tuple(client.messages_sent, client.messages_timed_out, client.retries,
                         link.server->Stats(link.now()).messages_received),
              std::tuple(20u, 0u, 0u, 20u));
    EXPECT_NEAR(double(client.round_trip_ms), 80.0, 10.0);
    EXPECT_GT(client.bytes_sent, 20u * 500);
    auto busy = link.client.Stats(link.now() - 900);
    EXPECT_GT(busy.throughput_bps, 1000u);
    EXPECT_LT(busy.throughput_bps, 20000u);
    EXPECT_EQ(link.client.Stats(link.now() + 5000).throughput_bps, 0u);  // gone quiet
}

constexpr uint8_t kWhole = kCommandNewMsg | kCommandEndMsg;
constexpr uint8_t kRS = kCommandReliable | kCommandSequential;

Bytes Frame(DataFrameHeader h, std::string_view payload = {}) {
    Bytes out;
    EncodeDataHeader(h, out);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

// A connected server's answer to each frame (expecting sequence 1) as text: messages ("!"
// guaranteed, "^n" user flags), its end, and datagrams out, "sack<next receive>/<mask>@<ms>".
TEST(Dplay8ConnectionWire, FramesInGiveMessagesAndAcknowledgmentsOut) {
    Bytes coalesced;
    ASSERT_TRUE(EncodeCoalesced(
        {{uint8_t(kRS | kCommandUser1), Bytes{'a', 'a', 'a'}}, {kCommandSequential, Bytes{'b'}}},
        coalesced));
    const std::string x(1000, 'x');
    using In = std::tuple<Millis, DataFrameHeader, std::string>;  // at, header, payload
    // clang-format off
    const std::tuple<const char*, std::vector<In>, std::string> cases[] = {
        // SACK mask bit 0 is the frame after next receive; acks wait 20 ms out of order, else 100.
        {"sack mask", {{0, {kRS | kWhole, 0, 2, 1}, "b"}, {30, {kRS | kWhole, 0, 4, 1}, "d"}, {60, {kRS | kWhole, 0, 1, 1}, "a"}},
            "sack1/1@20 | sack1/5@50 | a! b! sack3/1@160 | "},
        // Send mask bit 0 is the frame before: sequence 1 was given up; a late copy is dropped.
        {"send mask", {{0, {kCommandSequential | kWhole, 0, 2, 1, 0, 0x1}, "m2"}, {300, {kCommandSequential | kWhole, 0, 1, 1}, "m1"}},
            "m2 sack3/0@20 | sack3/0@320 | "},
        {"non-sequential first", {{0, {kCommandReliable | kWhole, 0, 2, 1}, "n"}, {5, {kRS | kWhole, 0, 1, 1}, "s"},
            {6, {kCommandReliable | kWhole, 0, 2, 1}, "n"}}, "n! | s! | sack3/0@20 | "},
        {"coalesced", {{0, {kRS | kWhole, kControlCoalesce, 1, 1}, std::string(coalesced.begin(), coalesced.end())}},
            "aaa!^64 b sack2/0@100 | "},
        // A keep-alive for another session is not even acknowledged.
        {"keep-alives", {{0, {kRS | kWhole | kCommandPoll, 0, 1, 1, 0, 0, 0x5EED0000}, ""},
            {10, {kRS | kWhole | kCommandPoll, 0, 1, 1, 0, 0, 0x5EED0001}, ""}}, "| sack2/0@10 | "},
        // 3000 bytes are allowed; the 3001st ends the connection with three HARD_DISCONNECTs.
        {"too long", {{0, {kRS | kCommandNewMsg, 0, 1, 1}, x}, {0, {kRS, 0, 2, 1}, x}, {0, {kRS, 0, 3, 1}, x}, {0, {kRS, 0, 4, 1}, x}},
            "| | | hd@0 hd@0 hd@0 end6 | "},
        // Refused before reassembly even when the byte too many comes with the last fragment.
        {"one over at the end", {{0, {kRS | kCommandNewMsg, 0, 1, 1}, x}, {0, {kRS, 0, 2, 1}, x}, {0, {kRS | kCommandEndMsg, 0, 3, 1}, x + "x"}},
            "| | hd@0 hd@0 hd@0 end6 | "},
    };
    // clang-format on
    for (const auto& [name, frames, want] : cases) {
        Connected link(1, {.delay = 1}, {.max_message_size = 3000});
        link.RunFor(1000);
        Connection& server = *link.server;
        const Millis now = link.now();
        while (server.PollEvent())
            continue;
        std::string log;
        for (size_t i = 0; i < frames.size(); ++i) {
            const auto& [at, header, payload] = frames[i];
            server.HandleDatagram(Frame(header, payload), now + at);
            const Millis until =
                now + (i + 1 < frames.size() ? std::get<0>(frames[i + 1]) : at + 200);
            for (Millis t = now + at;; server.HandleTimeout(t = server.NextTimeout())) {
                for (Bytes out; server.PollTransmit(t, out);) {
                    auto sack = DecodeSack(out);
                    log += sack ? "sack" + std::to_string(sack->next_recv) + "/" +
                                      std::to_string(sack->sack_mask)
                           : CommandOpcode(out) == kOpHardDisconnect ? "hd"
                                                                     : "?";
                    log += "@" + std::to_string(t - now) + " ";
                }
                while (auto e = server.PollEvent()) {
                    if (e->type == EventType::kMessage)
                        log += std::string(e->data.begin(), e->data.end()) +
                               (e->guaranteed ? "!" : "") +
                               (e->user_flags ? "^" + std::to_string(e->user_flags) : "") + " ";
                    if (e->type == EventType::kDisconnected)
                        log += "end" + std::to_string(int(e->reason)) + " ";
                }
                if (server.NextTimeout() >= until || log.size() > 1000)
                    break;
            }
            log += "| ";
        }
        EXPECT_EQ(log, want) << name;
    }
    Connected link(1, {.delay = 1}, {.max_message_size = 3000});
    Connection& server = *link.server;
    EXPECT_EQ(
        std::tuple(bool(server.Send(Bytes(3001), {}, 0)), bool(server.Send(Bytes(3000), {}, 0)),
                   bool(link.client.Send(Bytes{}, {}, 0))),
        std::tuple(false, true, false));
}

TEST(Dplay8ConnectionWire, AHeldAcknowledgmentOfAPollRidesOnTheAnswer) {
    Connected link(1, {.delay = 1}, {.poll_ack_hold = 2});
    link.RunFor(1000);
    Connection& server = *link.server;
    const Millis now = link.now();
    const auto next_recv = [](const Bytes& datagram) {
        ByteSpan payload;
        auto h = DecodeDataFrame(datagram, true, payload);
        return h ? int(h->next_recv) : -1;
    };
    Bytes out;
    // Answered within the hold: the answer is the only datagram and acknowledges the poll.
    server.HandleDatagram(Frame({kRS | kWhole | kCommandPoll, 0, 1, 1}, "q"), now);
    EXPECT_FALSE(server.PollTransmit(now, out));
    ASSERT_TRUE(server.Send(Bytes{'a'}, {}, now + 1));
    ASSERT_TRUE(server.PollTransmit(now + 1, out));
    EXPECT_EQ(std::pair(next_recv(out), out.back()), std::pair(2, uint8_t('a')));
    EXPECT_FALSE(server.PollTransmit(now + 1, out));
    // Not answered: acknowledged on its own when the hold ends.
    server.HandleDatagram(Frame({kRS | kWhole | kCommandPoll, 0, 2, 1}, "r"), now + 10);
    EXPECT_EQ(std::pair(server.PollTransmit(now + 10, out), server.NextTimeout()),
              std::pair(false, now + 12));
    server.HandleTimeout(now + 12);
    ASSERT_TRUE(server.PollTransmit(now + 12, out));
    EXPECT_EQ(DecodeSack(out).value().next_recv, 3);
}

TEST(Dplay8ConnectionWire, ALingeringConnectionAcknowledgesAgainAPeerStillGivingUpFrames) {
    Connected link(1, {.delay = 1});
    link.client.Close(link.now());
    ASSERT_TRUE(link.RunUntil(
        [&] { return DisconnectOf(link, Side::kClient) && DisconnectOf(link, Side::kServer); },
        link.now() + 10000));
    // The peer missed our last acknowledgment and repeats the send mask of a frame it gave up.
    Bytes repeat, out;
    EncodeSack({.next_seq = 3, .next_recv = 2, .send_mask = 1}, repeat);
    link.client.HandleDatagram(repeat, link.now());
    ASSERT_TRUE(link.client.PollTransmit(link.now(), out));
    EXPECT_TRUE(DecodeSack(out));
    link.client.HandleDatagram(repeat, link.now() + 600000);  // the linger is over
    EXPECT_FALSE(link.client.PollTransmit(link.now() + 600000, out));
}

Bytes Out(Connection& c, Millis now) {
    Bytes out;
    EXPECT_TRUE(c.PollTransmit(now, out));
    return out;
}

TEST(Dplay8Handshake, ListenerRepairsTheHandshakeAndWaitsForAPlausibleFirstFrame) {
    Connection connector = Connection::Connect({}, 0xABCD, 0);
    EXPECT_FALSE(connector.Send(Bytes{1}, {}, 0));  // not connected yet
    auto listener = Connection::Accept({}, Out(connector, 0), 0);
    ASSERT_TRUE(listener);
    const Bytes connected = Out(*listener, 0);
    connector.HandleTimeout(200);
    listener->HandleDatagram(Out(connector, 200), 201);  // a retried CONNECT, answered at once
    const Bytes again = Out(*listener, 201);
    auto f = DecodeHandshake(again).value();
    EXPECT_EQ(std::pair(f.opcode, f.rsp_id), std::pair(kOpConnected, uint8_t(1)));
    // CONNECTED lost: not a frame far ahead, acking one never sent, or of another session.
    connector.HandleDatagram(connected, 210);
    Out(connector, 210);
    const Bytes keepalive = Out(connector, 210);
    for (const Bytes& b :
         {Frame({.command = kRS | kWhole, .seq = 0x80, .next_recv = 1}),
          Bytes{0x01, 0x00, 0x00, 0x05}, Frame({.command = kRS | kWhole, .session_id = 0xABCE})})
        listener->HandleDatagram(b, 211);
    EXPECT_EQ(listener->state(), ConnectionState::kAwaitingConfirm);
    listener->HandleDatagram(keepalive, 211);
    EXPECT_TRUE(listener->is_connected());
    connector.HandleDatagram(again, 220);  // a retried CONNECTED once connected
    auto r = DecodeHandshake(Out(connector, 220)).value();
    EXPECT_EQ(std::pair(r.opcode, r.poll), std::pair(kOpConnected, false));
    const std::pair<HandshakeFrame, bool> cases[] = {
        {{.session_id = 9}, true},
        {{.version = 0x00020006, .session_id = 9}, false},  // another major version
        {{.opcode = kOpConnected, .session_id = 9}, false},
    };
    for (const auto& [h, accepted] : cases) {
        Bytes wire;
        EncodeHandshake(h, wire);
        EXPECT_EQ(Connection::Accept({}, wire, 0).has_value(), accepted);
    }
    EXPECT_FALSE(Connection::Accept({}, Bytes{0x88, 0x01}, 0));
}

}  // namespace

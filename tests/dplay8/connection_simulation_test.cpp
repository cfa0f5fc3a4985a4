// The transport over a simulated lossy link, many seeds per property: guaranteed delivery
// exactly once and in order, non-guaranteed messages never duplicated and never holding up
// later ones, loss of a silent peer within the retry limits, keep-alives on an idle link,
// and both ways of closing.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "dplay8/frames.h"
#include "simulated_network.h"

namespace {

using dplay8::Bytes;
using dplay8::Event;
using dplay8::EventType;
using dplay8::Millis;
using dplay8_test::LinkConditions;
using dplay8_test::Side;
using dplay8_test::SimulatedLink;

constexpr int kSeeds = 200;
const LinkConditions kHostile{.loss = 0.2, .duplicate = 0.05, .delay = 20, .jitter = 50};

// A message that names itself: a 4-byte index, then filler up to `size` bytes.
Bytes Tagged(uint32_t index, size_t size) {
    Bytes b(std::max<size_t>(size, 4), uint8_t(index * 7));
    for (int i = 0; i < 4; ++i)
        b[i] = uint8_t(index >> (8 * i));
    return b;
}

uint32_t TagOf(const Bytes& b) {
    return dplay8::LoadU32(b.data());
}

bool Connected(SimulatedLink& link) {
    return link.server() && link.client().is_connected() && link.server()->is_connected();
}

std::vector<const Event*> Of(SimulatedLink& link, Side side, EventType type) {
    std::vector<const Event*> out;
    for (const auto& e : link.events(side)) {
        if (e.type == type)
            out.push_back(&e);
    }
    return out;
}

std::optional<dplay8::DisconnectReason> DisconnectOf(SimulatedLink& link, Side side) {
    auto d = Of(link, side, EventType::kDisconnected);
    if (d.empty())
        return std::nullopt;
    EXPECT_EQ(d.size(), 1u) << "one side disconnected twice";
    return d.front()->reason;
}

// Sizes that exercise single frames, coalescing and fragmentation.
size_t RandomSize(std::mt19937& rng) {
    switch (rng() % 4) {
        case 0:
            return 4 + rng() % 3000;  // often fragmented
        case 1:
            return 4 + rng() % 1300;
        default:
            return 4 + rng() % 40;  // coalesced when several wait
    }
}

TEST(Dplay8TransportSimulation, GuaranteedMessagesArriveExactlyOnceAndInOrderUnderLossAndJitter) {
    uint64_t retries = 0, duplicates = 0;
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE(seed);
        SimulatedLink link(seed, kHostile);
        ASSERT_TRUE(link.RunUntil([&] { return Connected(link); }, 60000));
        std::mt19937 rng(seed);
        const uint32_t kCount = 150;
        std::map<Side, std::vector<uint32_t>> sent;
        std::map<uint32_t, size_t> sizes;
        for (uint32_t i = 0; i < kCount; ++i) {
            Side from = rng() % 3 ? Side::kClient : Side::kServer;
            dplay8::SendOptions options{.guaranteed = true};
            size_t size = RandomSize(rng);
            ASSERT_TRUE(link.side(from).Send(Tagged(i, size), options, link.now()));
            sent[from].push_back(i);
            sizes[i] = size;
            if (rng() % 4 == 0)
                link.RunFor(rng() % 200);
        }
        auto all_delivered = [&] {
            return Of(link, Side::kServer, EventType::kMessage).size() ==
                       sent[Side::kClient].size() &&
                   Of(link, Side::kClient, EventType::kMessage).size() ==
                       sent[Side::kServer].size();
        };
        ASSERT_TRUE(link.RunUntil(all_delivered, link.now() + 600000));
        link.RunFor(30000);  // late duplicates have every chance to show up
        for (Side to : {Side::kServer, Side::kClient}) {
            Side from = to == Side::kServer ? Side::kClient : Side::kServer;
            std::vector<uint32_t> got;
            for (const Event* e : Of(link, to, EventType::kMessage)) {
                EXPECT_TRUE(e->guaranteed);
                got.push_back(TagOf(e->data));
                EXPECT_EQ(e->data, Tagged(got.back(), sizes[got.back()]));  // byte for byte
            }
            EXPECT_EQ(got, sent[from]);
            size_t delivered = 0;
            for (const Event* e : Of(link, from, EventType::kSendComplete)) {
                delivered += e->result == dplay8::SendResult::kDelivered;
            }
            EXPECT_EQ(delivered, sent[from].size());
        }
        EXPECT_TRUE(Connected(link));
        retries += link.client().Stats(link.now()).retries;
        duplicates += link.server()->Stats(link.now()).duplicates;
    }
    // The link really did lose and repeat datagrams.
    EXPECT_GT(retries, uint64_t(kSeeds));
    EXPECT_GT(duplicates, uint64_t(kSeeds));
}

TEST(Dplay8TransportSimulation, SequenceNumbersWrapManyTimesWithoutLossOrReordering) {
    for (uint32_t seed = 0; seed < kSeeds / 10; ++seed) {
        SCOPED_TRACE(seed);
        SimulatedLink link(6000 + seed, kHostile);
        ASSERT_TRUE(link.RunUntil([&] { return Connected(link); }, 60000));
        // Messages just over a frame each: two frames apiece, never coalesced, so 1500
        // messages take the 8-bit sequence space round more than ten times.
        const uint32_t kCount = 1500;
        for (uint32_t i = 0; i < kCount; ++i) {
            ASSERT_TRUE(link.client().Send(Tagged(i, 1500), {.guaranteed = true}, link.now()));
            if (i % 50 == 0)
                link.RunFor(100);
        }
        ASSERT_TRUE(link.RunUntil(
            [&] { return Of(link, Side::kServer, EventType::kMessage).size() == kCount; },
            link.now() + 3600000));
        uint32_t expected = 0;
        for (const Event* e : Of(link, Side::kServer, EventType::kMessage)) {
            ASSERT_EQ(TagOf(e->data), expected++);
            ASSERT_EQ(e->data.size(), 1500u);
        }
        EXPECT_GT(link.client().Stats(link.now()).datagrams_sent, 10u * 256);
    }
}

TEST(Dplay8TransportSimulation, NonGuaranteedMessagesAreNeverDuplicatedNorStallLaterOnes) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE(seed);
        SimulatedLink link(
            1000 + seed, LinkConditions{.loss = 0.2, .duplicate = 0.2, .delay = 20, .jitter = 50});
        ASSERT_TRUE(link.RunUntil([&] { return Connected(link); }, 60000));
        std::mt19937 rng(seed);
        std::set<uint32_t> guaranteed, sequential;
        const uint32_t kCount = 200;
        for (uint32_t i = 0; i < kCount; ++i) {
            dplay8::SendOptions options;
            options.guaranteed = rng() % 4 == 0;
            options.sequential = rng() % 2 == 0;
            if (options.guaranteed)
                guaranteed.insert(i);
            if (options.sequential)
                sequential.insert(i);
            ASSERT_TRUE(link.client().Send(Tagged(i, RandomSize(rng)), options, link.now()));
            if (rng() % 3 == 0)
                link.RunFor(rng() % 100);
        }
        // A last guaranteed message goes out after all the others: it must get through
        // whatever became of the non-guaranteed ones before it.
        dplay8::SendOptions last{.guaranteed = true};
        ASSERT_TRUE(link.client().Send(Tagged(kCount, 8), last, link.now()));
        Millis sent_at = link.now();
        auto last_arrived = [&] {
            for (const Event* e : Of(link, Side::kServer, EventType::kMessage)) {
                if (TagOf(e->data) == kCount)
                    return true;
            }
            return false;
        };
        ASSERT_TRUE(link.RunUntil(last_arrived, sent_at + 120000));
        link.RunFor(30000);

        std::set<uint32_t> seen;
        uint32_t last_sequential = 0;
        bool any_sequential = false;
        for (const Event* e : Of(link, Side::kServer, EventType::kMessage)) {
            uint32_t tag = TagOf(e->data);
            EXPECT_TRUE(seen.insert(tag).second) << "message " << tag << " arrived twice";
            EXPECT_EQ(e->guaranteed, guaranteed.count(tag) > 0 || tag == kCount);
            if (e->sequential) {
                // Sequential messages keep their order among themselves.
                if (any_sequential) {
                    EXPECT_GT(tag, last_sequential);
                }
                last_sequential = tag;
                any_sequential = true;
            }
        }
        for (uint32_t g : guaranteed)
            EXPECT_TRUE(seen.count(g)) << "lost guaranteed " << g;
        EXPECT_GT(seen.size(), kCount / 2);  // most of the non-guaranteed traffic got through
        // Every send was accounted for exactly once.
        std::map<uint64_t, int> completions;
        for (const Event* e : Of(link, Side::kClient, EventType::kSendComplete)) {
            ++completions[e->send_id];
        }
        EXPECT_EQ(completions.size(), size_t(kCount + 1));
        for (auto [id, n] : completions)
            EXPECT_EQ(n, 1) << id;
    }
}

TEST(Dplay8TransportSimulation, SilentPeerIsDeclaredLostWithinTheRetryLimits) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE(seed);
        SimulatedLink link(2000 + seed, LinkConditions{.delay = 5 + seed % 40});
        ASSERT_TRUE(link.RunUntil([&] { return Connected(link); }, 60000));
        link.RunFor(1000);
        link.Silence(Side::kServer);
        Millis start = link.now();
        ASSERT_TRUE(link.client().Send(Tagged(1, 100), {.guaranteed = true}, start));
        ASSERT_TRUE(link.RunUntil([&] { return DisconnectOf(link, Side::kClient).has_value(); },
                                  start + 120000));
        EXPECT_EQ(*DisconnectOf(link, Side::kClient), dplay8::DisconnectReason::kConnectionLost);
        // The original and ten retries, each wait at most 5 s.
        Millis elapsed = link.now() - start;
        EXPECT_LE(elapsed, 11 * 5000);
        int transmissions = 0;
        for (const auto& w : link.wire()) {
            if (w.at >= start && w.from == Side::kClient && w.bytes.size() > 100)
                ++transmissions;
        }
        EXPECT_EQ(transmissions, 11);
        auto completes = Of(link, Side::kClient, EventType::kSendComplete);
        ASSERT_EQ(completes.size(), 1u);
        EXPECT_EQ(completes[0]->result, dplay8::SendResult::kCancelled);
    }
}

TEST(Dplay8TransportSimulation, IdleLinkToASilentPeerIsLostAfterKeepAliveAndRetries) {
    SimulatedLink link(7, LinkConditions{.delay = 15});
    ASSERT_TRUE(link.RunUntil([&] { return Connected(link); }, 60000));
    link.RunFor(1000);
    link.Silence(Side::kServer);
    Millis start = link.now();
    ASSERT_TRUE(link.RunUntil([&] { return DisconnectOf(link, Side::kClient).has_value(); },
                              start + 200000));
    EXPECT_EQ(*DisconnectOf(link, Side::kClient), dplay8::DisconnectReason::kConnectionLost);
    EXPECT_GE(link.now() - start, 25000 - 1000);
    EXPECT_LE(link.now() - start, 25000 + 11 * 5000);
}

TEST(Dplay8TransportSimulation, HandshakeToASilentListenerGivesUpAfterFourteenRetries) {
    SimulatedLink link(3, LinkConditions{.loss = 1.0});
    ASSERT_TRUE(
        link.RunUntil([&] { return DisconnectOf(link, Side::kClient).has_value(); }, 200000));
    EXPECT_EQ(*DisconnectOf(link, Side::kClient), dplay8::DisconnectReason::kConnectFailed);
    int connects = 0;
    for (const auto& w : link.wire())
        connects += dplay8::CommandOpcode(w.bytes) == dplay8::kOpConnect;
    EXPECT_EQ(connects, 15);
    // 200, 400, ... doubling to the 5 s cap, fifteen waits in all.
    EXPECT_LE(link.now() - 1000, 200 + 400 + 800 + 1600 + 3200 + 10 * 5000);
}

TEST(Dplay8TransportSimulation, HandshakeCompletesDespiteHeavyLoss) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE(seed);
        SimulatedLink link(3000 + seed, LinkConditions{.loss = 0.5, .delay = 30, .jitter = 30});
        ASSERT_TRUE(link.RunUntil([&] { return Connected(link); }, 120000));
        EXPECT_EQ(Of(link, Side::kClient, EventType::kConnected).size(), 1u);
        EXPECT_EQ(Of(link, Side::kServer, EventType::kConnected).size(), 1u);
    }
}

TEST(Dplay8TransportSimulation, KeepAlivesFlowOnAnIdleLink) {
    SimulatedLink link(11, LinkConditions{.delay = 25});
    ASSERT_TRUE(link.RunUntil([&] { return Connected(link); }, 60000));
    Millis start = link.now();
    link.RunFor(300000);
    int keepalives = 0;
    for (const auto& w : link.wire()) {
        dplay8::ByteSpan payload;
        auto h = dplay8::DecodeDataFrame(w.bytes, true, payload);
        if (w.at > start + 1000 && h && h->session_id)
            ++keepalives;
    }
    EXPECT_GE(keepalives, 300 / 25 - 1);
    EXPECT_LE(keepalives, 2 * 300 / 25 + 2);
    EXPECT_TRUE(Connected(link));
    EXPECT_TRUE(Of(link, Side::kServer, EventType::kMessage).empty());
}

TEST(Dplay8TransportSimulation, GracefulCloseDeliversEverythingAndCompletesOnBothSides) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE(seed);
        SimulatedLink link(4000 + seed, kHostile);
        ASSERT_TRUE(link.RunUntil([&] { return Connected(link); }, 60000));
        std::mt19937 rng(seed);
        for (uint32_t i = 0; i < 40; ++i) {
            ASSERT_TRUE(
                link.client().Send(Tagged(i, RandomSize(rng)), {.guaranteed = true}, link.now()));
        }
        link.client().Close(link.now());
        EXPECT_FALSE(link.client().Send(Tagged(99, 8), {.guaranteed = true}, link.now()));
        auto both_closed = [&] {
            return DisconnectOf(link, Side::kClient) && DisconnectOf(link, Side::kServer);
        };
        ASSERT_TRUE(link.RunUntil(both_closed, link.now() + 300000));
        EXPECT_EQ(*DisconnectOf(link, Side::kClient), dplay8::DisconnectReason::kClosedLocally);
        EXPECT_EQ(*DisconnectOf(link, Side::kServer), dplay8::DisconnectReason::kClosedByPeer);
        std::vector<uint32_t> got;
        for (const Event* e : Of(link, Side::kServer, EventType::kMessage))
            got.push_back(TagOf(e->data));
        ASSERT_EQ(got.size(), 40u);
        for (uint32_t i = 0; i < 40; ++i)
            EXPECT_EQ(got[i], i);
        link.RunFor(120000);
        EXPECT_TRUE(link.client().finished(link.now()));
        EXPECT_TRUE(link.server()->finished(link.now()));
    }
}

TEST(Dplay8TransportSimulation, HardDisconnectEndsBothSidesAtOnce) {
    SimulatedLink link(5, LinkConditions{.delay = 10});
    ASSERT_TRUE(link.RunUntil([&] { return Connected(link); }, 60000));
    ASSERT_TRUE(link.client().Send(Tagged(1, 5000), {.guaranteed = true}, link.now()));
    link.client().Abort(link.now());
    auto both = [&] {
        return DisconnectOf(link, Side::kClient) && DisconnectOf(link, Side::kServer);
    };
    ASSERT_TRUE(link.RunUntil(both, link.now() + 10000));
    EXPECT_EQ(*DisconnectOf(link, Side::kClient), dplay8::DisconnectReason::kAbortedLocally);
    EXPECT_EQ(*DisconnectOf(link, Side::kServer), dplay8::DisconnectReason::kAbortedByPeer);
    auto completes = Of(link, Side::kClient, EventType::kSendComplete);
    ASSERT_EQ(completes.size(), 1u);
    EXPECT_EQ(completes[0]->result, dplay8::SendResult::kCancelled);
    int hard = 0;
    for (const auto& w : link.wire())
        hard += dplay8::CommandOpcode(w.bytes) == dplay8::kOpHardDisconnect;
    EXPECT_GE(hard, 1 + 3);  // at least our first, then the peer's three
}

TEST(Dplay8TransportSimulation, UnsentMessagesTimeOutWhenTheWindowStalls) {
    SimulatedLink link(6, LinkConditions{.delay = 10});
    ASSERT_TRUE(link.RunUntil([&] { return Connected(link); }, 60000));
    link.RunFor(500);
    link.Silence(Side::kServer);
    // Two frames fill the initial window; everything behind them waits.
    Millis t = link.now();
    for (uint32_t i = 0; i < 70; ++i) {
        ASSERT_TRUE(link.client().Send(Tagged(i, 1300), {.timeout = 300}, t));
    }
    link.RunFor(1000);
    auto stats = link.client().Stats(link.now());
    EXPECT_GT(stats.messages_timed_out, 0u);
    size_t timed_out = 0;
    for (const Event* e : Of(link, Side::kClient, EventType::kSendComplete)) {
        timed_out += e->result == dplay8::SendResult::kTimedOut;
    }
    EXPECT_EQ(timed_out, stats.messages_timed_out);
    EXPECT_EQ(stats.messages_sent + stats.messages_timed_out, 70u);
}

TEST(Dplay8TransportSimulation, PeersBelowVersion15GetNoCoalescingAndBareKeepAlives) {
    for (uint32_t seed = 0; seed < 20; ++seed) {
        SCOPED_TRACE(seed);
        dplay8::ConnectionConfig old_peer;
        old_peer.protocol_version = 0x00010004;
        SimulatedLink link(5000 + seed, kHostile, {}, old_peer);
        ASSERT_TRUE(link.RunUntil([&] { return Connected(link); }, 60000));
        EXPECT_EQ(link.client().remote_version(), 0x00010004u);
        for (uint32_t i = 0; i < 60; ++i) {
            ASSERT_TRUE(link.client().Send(Tagged(i, 6), {.guaranteed = true}, link.now()));
        }
        ASSERT_TRUE(
            link.RunUntil([&] { return Of(link, Side::kServer, EventType::kMessage).size() == 60; },
                          link.now() + 300000));
        for (const auto& w : link.wire()) {
            if (dplay8::ClassifyFrame(w.bytes) != dplay8::FrameKind::kData)
                continue;
            EXPECT_EQ(
                w.bytes[1] & (dplay8::kControlCoalesce | dplay8::kControlKeepAliveOrCorrelate), 0);
        }
    }
}

TEST(Dplay8TransportSimulation, SmallMessagesToACurrentPeerAreCoalesced) {
    SimulatedLink link(8, LinkConditions{.delay = 10});
    ASSERT_TRUE(link.RunUntil([&] { return Connected(link); }, 60000));
    for (uint32_t i = 0; i < 300; ++i)
        link.client().Send(Tagged(i, 10), {}, link.now());
    ASSERT_TRUE(
        link.RunUntil([&] { return Of(link, Side::kServer, EventType::kMessage).size() == 300; },
                      link.now() + 60000));
    auto stats = link.client().Stats(link.now());
    EXPECT_LT(stats.datagrams_sent, 300u / 4);
}

TEST(Dplay8TransportSimulation, StatisticsCountMessagesAndMeasureTheRoundTrip) {
    SimulatedLink link(9, LinkConditions{.delay = 40});
    ASSERT_TRUE(link.RunUntil([&] { return Connected(link); }, 60000));
    for (int round = 0; round < 20; ++round) {
        link.client().Send(Tagged(round, 500), {.guaranteed = true}, link.now());
        link.RunFor(100);
    }
    link.RunFor(1000);
    auto client = link.client().Stats(link.now() - 200);
    auto server = link.server()->Stats(link.now() - 200);
    EXPECT_EQ(client.messages_sent, 20u);
    EXPECT_EQ(server.messages_received, 20u);
    EXPECT_EQ(client.messages_timed_out, 0u);
    EXPECT_NEAR(double(client.round_trip_ms), 80.0, 10.0);
    EXPECT_GT(client.bytes_sent, 20u * 500);
    EXPECT_EQ(client.retries, 0u);
    // About 5 datagrams of some 520 bytes a second went out in the last full second.
    auto busy = link.client().Stats(link.now() - 900);
    EXPECT_GT(busy.throughput_bps, 1000u);
    EXPECT_LT(busy.throughput_bps, 20000u);
    EXPECT_EQ(link.client().Stats(link.now() + 5000).throughput_bps, 0u);  // gone quiet
}

TEST(Dplay8TransportSimulation, LifecycleInvariantsHoldUnderRandomOperations) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        LinkConditions conditions{.loss = (rng() % 30) / 100.0,
                                  .duplicate = (rng() % 10) / 100.0,
                                  .delay = Millis(1 + rng() % 60),
                                  .jitter = Millis(rng() % 60)};
        SimulatedLink link(7000 + seed, conditions);
        if (!link.RunUntil([&] { return Connected(link); }, 120000))
            continue;
        std::map<Side, std::set<uint64_t>> send_ids;
        uint32_t tag = 0;
        bool ended = false;
        for (int step = 0; step < 200 && !ended; ++step) {
            Side side = rng() % 2 ? Side::kClient : Side::kServer;
            uint32_t action = rng() % 100;
            if (action < 80) {
                dplay8::SendOptions options{.guaranteed = rng() % 2 == 0,
                                            .sequential = rng() % 3 != 0,
                                            .timeout = rng() % 4 == 0 ? Millis(rng() % 300) : 0};
                if (auto id =
                        link.side(side).Send(Tagged(tag++, RandomSize(rng)), options, link.now())) {
                    send_ids[side].insert(*id);
                }
            } else if (action < 98) {
                link.RunFor(rng() % 500);
            } else if (action == 98) {
                link.side(side).Close(link.now());
                ended = true;
            } else {
                link.side(side).Abort(link.now());
                ended = true;
            }
        }
        if (!ended)
            link.client().Close(link.now());
        auto both_gone = [&] {
            return DisconnectOf(link, Side::kClient) && DisconnectOf(link, Side::kServer);
        };
        ASSERT_TRUE(link.RunUntil(both_gone, link.now() + 600000));
        link.RunFor(300000);
        for (Side side : {Side::kClient, Side::kServer}) {
            // Every accepted send is reported exactly once, whatever became of it.
            std::map<uint64_t, int> completions;
            for (const Event* e : Of(link, side, EventType::kSendComplete)) {
                ++completions[e->send_id];
            }
            EXPECT_EQ(completions.size(), send_ids[side].size());
            for (auto [id, n] : completions) {
                EXPECT_EQ(n, 1);
                EXPECT_TRUE(send_ids[side].count(id));
            }
            // No message arrives twice.
            std::set<uint32_t> seen;
            for (const Event* e : Of(link, side, EventType::kMessage)) {
                EXPECT_TRUE(seen.insert(TagOf(e->data)).second);
            }
            // Once closed, a connection goes quiet and may be forgotten.
            EXPECT_EQ(link.side(side).NextTimeout(), dplay8::kNever);
            EXPECT_TRUE(link.side(side).finished(link.now()));
        }
    }
}

}  // namespace

// The codecs: byte examples decode to the values they state and encode back to the same bytes;
// random messages round-trip whole; no truncation or corruption makes a decoder read outside its
// input (asan) or accept a field that does not fit. Also enumeration answers, join admission and
// the transport's timer schedule.

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <string>

#include "dplay8/coalesce.h"
#include "dplay8/connect_admission.h"
#include "dplay8/connect_info.h"
#include "dplay8/connection.h"
#include "dplay8/dpnid.h"
#include "dplay8/enum_messages.h"
#include "dplay8/enum_responder.h"
#include "dplay8/session_messages.h"
#include "dplay8/wide_string.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace dplay8;

// "88 01 ..." to bytes; anything but a pair of hex digits separates them.
Bytes Hex(std::string_view s) {
    Bytes out;
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        if (isxdigit(s[i]) && isxdigit(s[i + 1]))
            out.push_back(uint8_t(std::stoul(std::string(s.substr(i++, 2)), nullptr, 16)));
    }
    return out;
}

Bytes Drain(Connection& c, Millis now) {
    Bytes out;
    EXPECT_TRUE(c.PollTransmit(now, out));
    return out;
}

const Guid kInstance = *ParseGuid("{94BE8123-A1AB-48FB-A2E7-23859E658936}");
const Guid kApplication = *ParseGuid("{61EF80DA-691B-4247-9ADD-1C7BED2BC13E}");
const Guid kOther = *ParseGuid("{00000001-0000-0000-0000-000000000000}");

// [MC-DPL8R] 4.1: CONNECT, CONNECTED, CONNECTED, then a keep-alive each way.
const Bytes kConnect = Hex("88 01 00 00 06 00 01 00 C6 AE C9 79 9D 36 67 23");
const Bytes kListenerConnected = Hex("88 02 00 00 06 00 01 00 C6 AE C9 79 E1 DF 04 00");
const Bytes kConnectorConnected = Hex("80 02 01 00 06 00 01 00 C6 AE C9 79 9D 36 67 23");
const Bytes kKeepAlive = Hex("3F 02 00 00 C6 AE C9 79");

TEST(Dplay8ReliableExamples, ConnectionSequenceDecodesAndConnectionsReproduceIt) {
    const std::pair<Bytes, HandshakeFrame> frames[] = {
        {kConnect, {kOpConnect, true, 0, 0, 0x00010006, 0x79C9AEC6, 0x2367369D}},
        {kListenerConnected, {kOpConnected, true, 0, 0, 0x00010006, 0x79C9AEC6, 0x0004DFE1}},
        {kConnectorConnected, {kOpConnected, false, 1, 0, 0x00010006, 0x79C9AEC6, 0x2367369D}},
    };
    for (const auto& [bytes, want] : frames)
        EXPECT_EQ(DecodeHandshake(bytes), want);
    ByteSpan payload;
    EXPECT_EQ(DecodeDataFrame(kKeepAlive, true, payload),
              (DataFrameHeader{.command = 0x3F, .control = 0x02, .session_id = 0x79C9AEC6}));
    EXPECT_TRUE(payload.empty());

    const Millis connector_now = 0x2367369D, listener_now = 0x0004DFE1;
    auto connector = Connection::Connect({}, 0x79C9AEC6, connector_now);
    EXPECT_EQ(Drain(connector, connector_now), kConnect);
    auto listener = Connection::Accept({}, kConnect, listener_now);
    ASSERT_TRUE(listener);
    EXPECT_EQ(Drain(*listener, listener_now), kListenerConnected);
    connector.HandleDatagram(kListenerConnected, connector_now);
    EXPECT_EQ(Drain(connector, connector_now), kConnectorConnected);
    EXPECT_EQ(Drain(connector, connector_now), kKeepAlive);
    EXPECT_TRUE(connector.is_connected());
    listener->HandleDatagram(kConnectorConnected, listener_now);
    EXPECT_TRUE(listener->is_connected());
    EXPECT_EQ(Drain(*listener, listener_now), kKeepAlive);
}

// [MC-DPL8R] 4.2. The prose calls the payload five bytes "ABCDE" and the next receive 5; the
// bytes carry six payload bytes and acknowledge through 5, so bNRcv is 6.
TEST(Dplay8ReliableExamples, DataTransmissionAndAcknowledgment) {
    const Bytes data = Hex("3D 00 05 03 01 41 42 43 44 45");
    ByteSpan payload;
    auto h = DecodeDataFrame(data, true, payload);
    ASSERT_EQ(h, (DataFrameHeader{.command = 0x3D, .seq = 5, .next_recv = 3}));
    EXPECT_EQ(Bytes(payload.begin(), payload.end()), Hex("01 41 42 43 44 45"));
    Bytes encoded;
    EncodeDataHeader(*h, encoded);
    encoded.insert(encoded.end(), payload.begin(), payload.end());
    EXPECT_EQ(encoded, data);

    const Bytes sack = Hex("80 06 01 00 03 06 00 00 07 5D 11 00");
    auto s = DecodeSack(sack);
    ASSERT_EQ(s, (SackFrame{.next_seq = 3, .next_recv = 6, .timestamp = 0x00115D07}));
    Bytes again;
    EncodeSack(*s, again);
    EXPECT_EQ(again, sack);
}

// [MC-DPL8CS] 4: the UDP payload of a PLAYER_CONNECT_INFO_EX from a peer named "Test User".
const Bytes kConnectInfoFrame = Hex(R"(
7F 00 01 00 C1 00 00 00 04 00 00 00 08 00 00 00 60 00 00 00 14 00 00 00 00 00 00 00 00
00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 23 81
BE 94 AB A1 FB 48 A2 E7 23 85 9E 65 89 36 DA 80 EF 61 1B 69 47 42 9A DD 1C 7B ED 2B C1
3E 58 00 00 00 08 00 00 00 07 02 08 FE 41 34 EF 3D 54 00 65 00 73 00 74 00 20 00 55 00
73 00 65 00 72 00 00 00)");

TEST(Dplay8CoreExamples, PlayerConnectInfoExDecodesAndEncodesIdenticallyAndIsRefused) {
    ByteSpan payload;
    EXPECT_EQ(DecodeDataFrame(kConnectInfoFrame, true, payload),
              (DataFrameHeader{.command = 0x7F, .seq = 1}));
    auto m = DecodePlayerConnectInfo(payload);
    ASSERT_EQ(m, (PlayerConnectInfo{.flags = kConnectFlagPeer,
                                    .name = u"Test User",
                                    .instance = kInstance,
                                    .application = kApplication,
                                    .alternate_addresses = Hex("07 02 08 FE 41 34 EF 3D")}));
    EXPECT_EQ(Encode(*m), Bytes(payload.begin(), payload.end()));

    // A server refuses the peer as the wrong interface, and would take it as a client.
    const HostSettings host{.instance = kInstance, .application = kApplication};
    EXPECT_EQ(CheckConnectRequest(*m, host), kErrInvalidInterface);
    const Bytes failed = Hex("C5 00 00 00 90 83 15 80 00 00 00 00 00 00 00 00");
    EXPECT_EQ(Encode(ConnectFailed{kErrInvalidInterface, {}}), failed);
    EXPECT_EQ(DecodeConnectFailed(failed), (ConnectFailed{kErrInvalidInterface, {}}));
}

// [MC-DPL8CS] 4: the host's SEND_CONNECT_INFO answering it.
const Bytes kSendConnectInfoFrame = Hex(R"(
7F 00 01 02 C2 00 00 00 00 00 00 00 00 00 00 00 50 00 00 00 04 00 00 00 00 00 00 00 02
00 00 00 56 01 00 00 1A 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
00 00 00 00 00 00 23 81 BE 94 AB A1 FB 48 A2 E7 23 85 9E 65 89 36 DA 80 EF 61 1B 69 47
42 9A DD 1C 7B ED 2B C1 3E 20 81 8E 94 03 00 00 00 00 00 00 00 02 00 00 00 00 00 00 00
21 81 9E 94 00 00 00 00 02 01 00 00 02 00 00 00 00 00 00 00 07 00 00 00 42 01 00 00 14
00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 20 81 8E 94 00 00 00 00 00 01
00 00 03 00 00 00 00 00 00 00 08 00 00 00 2E 01 00 00 14 00 00 00 00 00 00 00 00 00 00
00 CC 00 00 00 62 00 00 00 78 2D 64 69 72 65 63 74 70 6C 61 79 3A 2F 70 72 6F 76 69 64
65 72 3D 25 37 42 45 42 46 45 37 42 41 30 2D 36 32 38 44 2D 31 31 44 32 2D 41 45 30 46
2D 30 30 36 30 39 37 42 30 31 34 31 31 25 37 44 3B 68 6F 73 74 6E 61 6D 65 3D 36 35 2E
35 32 2E 32 33 39 2E 36 31 3B 70 6F 72 74 3D 32 33 30 32 00 54 00 65 00 73 00 74 00 20
00 55 00 73 00 65 00 72 00 00 00 54 00 65 00 73 00 74 00 20 00 55 00 73 00 65 00 72 00
00 00 54 00 65 00 73 00 74 00 20 00 53 00 65 00 73 00 73 00 69 00 6F 00 6E 00 00 00)");

TEST(Dplay8CoreExamples, SendConnectInfoDecodesAndEncodesIdentically) {
    ByteSpan payload;
    EXPECT_EQ(DecodeDataFrame(kSendConnectInfoFrame, true, payload),
              (DataFrameHeader{.command = 0x7F, .seq = 1, .next_recv = 2}));
    // Reply, application description, the joining id, version 3, the host's entry and its own.
    // clang-format off
    const SendConnectInfo want{{}, {0x50, kSessionMigrateHost, 0, 2, u"Test Session", {}, {}, {},
        kInstance, kApplication}, 0x948E8120, 3, 0,
        {{0x949E8121, 0, kEntryHost | kEntryPeer, 2, 0, 7, u"Test User", {}, ""},
         {0x948E8120, 0, kEntryPeer, 3, 0, 8, u"Test User", {},
          "x-directplay:/provider=%7BEBFE7BA0-628D-11D2-AE0F-006097B01411%7D;"
          "hostname=65.52.239.61;port=2302"}}, {}};
    // clang-format on
    auto m = DecodeSendConnectInfo(payload);
    ASSERT_EQ(m, want);
    EXPECT_EQ(Encode(*m), Bytes(payload.begin(), payload.end()));
}

TEST(Dplay8CoreExamples, PlayerIdsAreIndexAndVersionXoredWithTheInstance) {
    EXPECT_EQ(MakeDpnid(3, 3, kInstance), 0x948E8120u);  // the joining peer above
    EXPECT_EQ(MakeDpnid(2, 2, kInstance), 0x949E8121u);  // its host
    EXPECT_EQ(DpnidIndex(0x948E8120u, kInstance), 3u);
    EXPECT_EQ(DpnidVersion(0x948E8120u, kInstance), 3u);
    EXPECT_EQ(MakeDpnid(5, 10, Guid{.data1 = 0xA1B2C3D4}), 0xA112C3D1u);  // the worked example
    // [MC-DPLNAT] 4.2 names two players of the instance {C0A65D4F-...}.
    const Guid nat = *ParseGuid("{C0A65D4F-9CE3-4F70-80DE-3AB4DF6F09B6}");
    EXPECT_EQ(DpnidIndex(0xC0965D4Cu, nat), 3u);
    EXPECT_EQ(DpnidIndex(0xC0F65D4Bu, nat), 4u);
}

// [MC-DPLNAT] 4.2: an instructed CONNECT and its retry 200 ms later, which repeats the timestamp.
TEST(Dplay8NatExamples, ConnectAndItsRetry) {
    const Bytes first = Hex("88 01 00 00 06 00 01 00 E4 1C B0 50 E4 CA 32 00");
    const Millis t0 = 0x0032CAE4;
    auto c = Connection::Connect({}, 0x50B01CE4, t0);
    EXPECT_EQ(Drain(c, t0), first);
    Bytes none;
    EXPECT_FALSE(c.PollTransmit(t0 + 199, none));
    EXPECT_EQ(c.NextTimeout(), t0 + 200);
    c.HandleTimeout(t0 + 200);
    EXPECT_EQ(Drain(c, t0 + 200), Hex("88 01 01 00 06 00 01 00 E4 1C B0 50 E4 CA 32 00"));
}

TEST(Dplay8RetryPolicy, TimersFollowTheSchedule) {
    RetryLimits limits;
    RetryLimits no_ack_delay{.delayed_ack = 0};
    std::vector<Millis> data, fast, connect;
    for (int attempt = 0; attempt < 10; ++attempt) {
        data.push_back(DataRetryInterval(40, attempt, limits));
        fast.push_back(DataRetryInterval(4, attempt, no_ack_delay));
        connect.push_back(ConnectRetryInterval(attempt, limits));
    }
    // 2.5 RTT plus the delayed-ack time, linear to the third, doubling to the eighth, capped.
    EXPECT_EQ(data, (std::vector<Millis>{200, 400, 600, 1200, 2400, 4800, 5000, 5000, 5000, 5000}));
    EXPECT_EQ(fast, (std::vector<Millis>{10, 20, 30, 60, 120, 240, 480, 960, 960, 960}));
    EXPECT_EQ(DataRetryInterval(Millis(1) << 58, 9, limits), 5000);  // no overflow
    EXPECT_EQ(connect,
              (std::vector<Millis>{200, 400, 800, 1600, 3200, 5000, 5000, 5000, 5000, 5000}));
    EXPECT_EQ(HardDisconnectInterval(0), 10);
    EXPECT_EQ(HardDisconnectInterval(999), 499);
    EXPECT_EQ(HardDisconnectInterval(1002), 500);
    RttEstimator rtt;
    EXPECT_EQ(std::pair(rtt.has_sample(), rtt.smoothed()), std::pair(false, Millis(200)));
    rtt.Sample(100);
    rtt.Sample(180);
    EXPECT_EQ(rtt.smoothed(), (100 * 7 + 180) / 8);
    rtt.Sample(-5);
    EXPECT_EQ(std::pair(rtt.latest(), rtt.smoothed()), std::pair(Millis(0), Millis(770 / 8)));
}

constexpr int kSeeds = 300;

struct Gen {
    std::mt19937 rng;
    uint32_t U32() { return rng(); }
    uint32_t Below(uint32_t n) { return rng() % n; }
    bool Coin() { return rng() & 1; }
    Bytes Blob(uint32_t max) {
        Bytes b(Below(max + 1));
        for (auto& x : b)
            x = uint8_t(rng());
        return b;
    }
    std::u16string Text(uint32_t max) {
        std::u16string s(Below(max + 1), u'a');
        for (auto& c : s)
            c = char16_t(1 + Below(0xD7FF));  // no terminator inside
        return s;
    }
    std::optional<std::u16string> MaybeText(uint32_t max) {
        return Coin() ? std::optional(Text(max)) : std::nullopt;
    }
    std::string Url() {
        return Coin() ? "x-directplay:/provider=%7BEBFE7BA0-628D-11D2-AE0F-006097B01411%7D;port=" +
                            std::to_string(Below(65536))
                      : "";
    }
    Guid Id() {
        Guid g{U32(), uint16_t(U32()), uint16_t(U32()), {}};
        for (auto& b : g.data4)
            b = uint8_t(rng());
        return g;
    }
};

// Every short prefix of `encoded` (those shorter than the fixed part must be refused), a few
// hundred longer ones and a batch of single-byte corruptions go through `decode`; on a fifth of
// the seeds only, as this is the slow part.
template <typename Decode>
void Torture(const Bytes& encoded, size_t fixed_size, Decode decode, Gen& g) {
    if (g.Below(5) != 0)
        return;
    size_t stride = std::max<size_t>(1, encoded.size() / 256);
    for (size_t n = 0; n < encoded.size(); n += n < fixed_size + 64 ? 1 : stride) {
        Bytes prefix(encoded.begin(), encoded.begin() + std::ptrdiff_t(n));  // asan sees overreads
        bool accepted = bool(decode(ByteSpan(prefix)));
        EXPECT_FALSE(accepted && n < fixed_size) << "accepted a " << n << "-byte prefix";
    }
    for (int i = 0; i < 64 && !encoded.empty(); ++i) {
        Bytes corrupt = encoded;
        corrupt[g.Below(uint32_t(corrupt.size()))] = uint8_t(g.U32());
        (void)decode(ByteSpan(corrupt));
    }
}

std::optional<DataFrameHeader> DecodeData(ByteSpan frame) {
    ByteSpan payload;
    return DecodeDataFrame(frame, true, payload);
}

template <typename T, typename Decode>
void RoundTrip(const T& m, Decode decode, size_t fixed_size, Gen& g) {
    Bytes wire = Encode(m);
    EXPECT_EQ(decode(wire), m);
    Torture(wire, fixed_size, decode, g);
}

TEST(Dplay8CoreCodec, RandomMessagesRoundTripWhole) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE(seed);
        Gen g{std::mt19937(seed)};
        RoundTrip(EnumQuery{uint16_t(g.U32()), g.Coin() ? std::optional(g.Id()) : std::nullopt,
                            g.Blob(40)},
                  DecodeEnumQuery, 5, g);
        RoundTrip(EnumResponse{uint16_t(g.U32()), g.U32(), g.U32(), g.U32(), g.U32(), g.Text(30),
                               g.MaybeText(10), g.Blob(20), g.Blob(20), g.Id(), g.Id(), g.Blob(50)},
                  DecodeEnumResponse, 92, g);

        PlayerConnectInfo c{g.Below(8), 1 + g.Below(8), g.Text(20), g.Blob(20), g.MaybeText(8),
                            g.Blob(10), g.Url(),        g.Id(),     g.Id(),     {}};
        if (c.dnet_version >= kFirstExDnetVersion)
            c.alternate_addresses = g.Blob(24);
        RoundTrip(c, DecodePlayerConnectInfo, 84, g);

        // clang-format off
        SendConnectInfo s{g.Blob(10), {g.U32(), g.U32(), g.U32(), g.U32(), g.Text(20),
            g.MaybeText(8), g.Blob(8), g.Blob(8), g.Id(), g.Id()}, g.U32(), g.U32(), g.U32()};
        s.entries.resize(g.Below(4));
        for (auto& e : s.entries)
            e = {g.U32(), g.U32(), g.U32(), g.U32(), g.U32(), g.U32(), g.Text(12), g.Blob(6), g.Url()};
        // clang-format on
        s.memberships.resize(g.Below(3));
        for (auto& m : s.memberships)
            m = {g.U32(), g.U32(), g.U32(), g.U32()};
        RoundTrip(s, DecodeSendConnectInfo, 112, g);
        RoundTrip(ConnectFailed{HResult(g.U32()), g.Blob(20)}, DecodeConnectFailed, 16, g);

        RoundTrip(TerminateSession{g.Blob(20)}, DecodeTerminateSession, 12, g);
        RoundTrip(DestroyPlayer{g.U32(), g.U32(), g.U32(), g.U32()}, DecodeDestroyPlayer, 20, g);
        RoundTrip(ReqUpdateInfo{g.U32(), g.U32(), g.U32(), g.Text(12), g.Blob(12)},
                  DecodeReqUpdateInfo, 32, g);
        RoundTrip(UpdateInfo{g.U32(), g.U32(), g.U32(), g.U32(), g.U32(), g.Text(12), g.Blob(12),
                             g.U32()},
                  DecodeUpdateInfo, 44, g);
        RoundTrip(ReqProcessCompletion{g.U32(), g.Blob(30)}, DecodeReqProcessCompletion, 8, g);
        RoundTrip(ProcessCompletion{g.U32()}, DecodeProcessCompletion, 8, g);
    }
}

TEST(Dplay8FrameCodec, RandomFramesRoundTripWhole) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE(seed);
        Gen g{std::mt19937(seed)};
        auto mask = [&] {
            return uint64_t(g.Coin() ? g.U32() : 0) << 32 | (g.Coin() ? g.U32() : 0);
        };
        const uint8_t opcodes[] = {kOpConnect, kOpConnected, kOpHardDisconnect};
        auto u8 = [&] { return uint8_t(g.U32()); };
        HandshakeFrame f{opcodes[g.Below(3)], g.Coin(), u8(), u8(), g.U32(), g.U32(), g.U32()};
        Bytes wire;
        EncodeHandshake(f, wire);
        EXPECT_EQ(DecodeHandshake(wire), f);
        Torture(wire, 16, DecodeHandshake, g);

        SackFrame s{g.Coin(), g.Coin(), u8(), u8(), u8(), g.U32(), mask(), mask()};
        wire.clear();
        EncodeSack(s, wire);
        EXPECT_EQ(DecodeSack(wire), s);
        Torture(wire, 12, DecodeSack, g);

        // A keep-alive (control 0x02) carries the session id and nothing after it.
        DataFrameHeader h{
            uint8_t(u8() | kCommandData), uint8_t(u8() & 15), u8(), u8(), mask(), mask()};
        const bool keepalive = h.control & kControlKeepAliveOrCorrelate;
        if (keepalive)
            h.control = kControlKeepAliveOrCorrelate, h.session_id = g.U32();
        Bytes payload = keepalive ? Bytes{} : g.Blob(30);
        wire.clear();
        EncodeDataHeader(h, wire);
        wire.insert(wire.end(), payload.begin(), payload.end());
        ByteSpan got;
        auto h2 = DecodeDataFrame(wire, true, got);
        ASSERT_TRUE(h2);
        EXPECT_EQ(std::tie(h2->command, h2->seq, h2->next_recv, h2->sack_mask, h2->send_mask,
                           h2->session_id),
                  std::tie(h.command, h.seq, h.next_recv, h.sack_mask, h.send_mask, h.session_id));
        EXPECT_EQ(Bytes(got.begin(), got.end()), payload);
        Torture(wire, 4, DecodeData, g);
    }
}

TEST(Dplay8FrameCodec, CommandFramesWithStrayBitsAreRefused) {
    Bytes wire;
    EncodeHandshake({}, wire);
    for (int b = 0; b < 256; ++b) {
        Bytes v = wire;
        v[0] = uint8_t(b);
        EXPECT_EQ(bool(DecodeHandshake(v)), b == 0x80 || b == 0x88) << b;
    }
    wire[1] = 0x05;  // no such opcode
    EXPECT_FALSE(DecodeHandshake(wire));
    Bytes sack;
    EncodeSack({}, sack);
    sack[2] = 0x20;  // no such flag
    EXPECT_FALSE(DecodeSack(sack));
}

TEST(Dplay8CoalesceCodec, RandomPartsRoundTripWithAlignment) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        SCOPED_TRACE(seed);
        Gen g{std::mt19937(seed)};
        std::vector<Bytes> blobs(1 + g.Below(32));
        std::vector<CoalescedPart> parts;
        // Headers pad to 32 bits; every payload but the last starts 32-bit aligned.
        size_t expected = PadTo4(blobs.size() * 2);
        for (auto& b : blobs) {
            b = g.Blob(g.Coin() ? 9 : 2047);
            parts.push_back({uint8_t(g.U32() & 0xC6), b});
            expected += &b == &blobs.back() ? b.size() : PadTo4(b.size());
        }
        Bytes wire;
        ASSERT_TRUE(EncodeCoalesced(parts, wire));
        EXPECT_EQ(wire.size(), expected);
        std::vector<CoalescedPart> back;
        ASSERT_TRUE(DecodeCoalesced(wire, back));
        ASSERT_EQ(back.size(), parts.size());
        for (size_t i = 0; i < parts.size(); ++i) {
            EXPECT_EQ(back[i].command, parts[i].command);
            EXPECT_EQ(Bytes(back[i].data.begin(), back[i].data.end()), blobs[i]);
        }
        auto decode = [](ByteSpan b) {
            std::vector<CoalescedPart> p;
            return DecodeCoalesced(b, p);
        };
        Torture(wire, 2, decode, g);
    }
    std::vector<CoalescedPart> parts;
    EXPECT_FALSE(DecodeCoalesced(Bytes(33 * 2, 0), parts));  // 33 headers
    Bytes big(2048), out;
    EXPECT_FALSE(EncodeCoalesced({{0, big}}, out));
    EXPECT_TRUE(out.empty());
}

TEST(Dplay8EnumCodec, OffsetsCountFromTheEndOfTheEnumPayload) {
    Bytes wire = Encode(EnumResponse{.session_name = u"S"});
    // The name follows the 92-byte fixed part; its offset leaves out the first four bytes.
    EXPECT_EQ(wire[28], 88);
    EXPECT_EQ(wire[92], 'S');
    Bytes bad = wire;
    bad[28] = 0xF0;  // past the end
    EXPECT_FALSE(DecodeEnumResponse(bad));
    bad = wire;
    std::fill(bad.begin() + 32, bad.begin() + 36, 0xFF);  // a size that overflows
    EXPECT_FALSE(DecodeEnumResponse(bad));
}

TEST(Dplay8CoreCodec, DecodersRefuseOtherPacketTypes) {
    Bytes terminate = Encode(TerminateSession{});
    EXPECT_FALSE(DecodeConnectFailed(terminate));
    EXPECT_FALSE(DecodePlayerConnectInfo(terminate));
    EXPECT_FALSE(IsAckConnectInfo(terminate));
    EXPECT_TRUE(IsAckConnectInfo(EncodeAckConnectInfo()));
    EXPECT_EQ(HandlingOf(0xC1), CoreHandling::kClientServer);
    EXPECT_EQ(HandlingOf(0xCD), CoreHandling::kIgnored);  // host migration
    EXPECT_EQ(HandlingOf(0xD7), CoreHandling::kIgnored);  // groups
    EXPECT_EQ(HandlingOf(0x42), CoreHandling::kUnknown);
}

TEST(Dplay8Primitives, GuidsAndWideStrings) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        Gen g{std::mt19937(seed)};
        Guid guid = g.Id();
        EXPECT_EQ(ParseGuid(ToString(guid)), guid);
    }
    for (auto bad :
         {"{94BE8123-A1AB-48FB-A2E7-23859E65893}", "{94BE8123-A1AB-48FB-A2E7-23859E65893G}",
          "94BE8123-A1AB-48FB-A2E7-23859E658936"})
        EXPECT_FALSE(ParseGuid(bad)) << bad;
    EXPECT_EQ(EncodeWide(u"Hé"), (Bytes{'H', 0, 0xE9, 0, 0, 0}));
    std::u16string s;
    EXPECT_FALSE(DecodeWide(Bytes{'H', 0, 0}, s));  // odd size
    ASSERT_TRUE(DecodeWide(Bytes{'a', 0, 0, 0, 'b', 0}, s));
    EXPECT_EQ(s, u"a");
}

HostDescription Host() {
    return {kApplication, kInstance, kSessionClientServer, 50, 7, u"EmberRealms", false, {9}};
}

TEST(Dplay8EnumResponder, AnswersItsApplicationOrAnyAndNeverSendsThePassword) {
    // clang-format off
    EXPECT_EQ(AnswerEnumQuery({.enum_payload = 0x1111}, Host()), (EnumResponse{.enum_payload = 0x1111,
        .flags = kSessionClientServer, .max_players = 50, .current_players = 7,
        .session_name = u"EmberRealms", .instance = kInstance, .application = kApplication,
        .reply = {9}}));
    // clang-format on
    EXPECT_TRUE(AnswerEnumQuery({.application = kApplication}, Host()));
    EXPECT_FALSE(AnswerEnumQuery({.application = kOther}, Host()));
    HostDescription host = Host();
    host.password_required = true;
    auto r = AnswerEnumQuery({}, host);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->flags, kSessionClientServer | kSessionRequirePassword);
    EXPECT_FALSE(r->password);
    host.flags |= kSessionNoEnums;
    EXPECT_FALSE(AnswerEnumQuery({}, host));
}

TEST(Dplay8ConnectAdmission, RefusesEachBadRequestWithItsCode) {
    const HostSettings host{.instance = kInstance, .application = kApplication};
    const PlayerConnectInfo good{.application = kApplication};  // a zero instance is fine
    struct Case {
        const char* what;
        void (*change)(PlayerConnectInfo&, HostSettings&);
        HResult expected;
    };
    const Case cases[] = {
        {"good", [](auto&, auto&) {}, kOk},
        {"peer", [](auto& m, auto&) { m.flags = kConnectFlagPeer; }, kErrInvalidInterface},
        {"both", [](auto& m, auto&) { m.flags = kConnectFlagClient | kConnectFlagPeer; },
         kErrInvalidInterface},
        {"neither", [](auto& m, auto&) { m.flags = 0; }, kErrInvalidInterface},
        {"other instance", [](auto& m, auto&) { m.instance = kOther; }, kErrInvalidInstance},
        {"our instance", [](auto& m, auto&) { m.instance = kInstance; }, kOk},
        {"other application", [](auto& m, auto&) { m.application = kOther; },
         kErrInvalidApplication},
        {"no version", [](auto& m, auto&) { m.dnet_version = 0; }, kErrInvalidVersion},
        {"missing password", [](auto&, auto& h) { h.password = u"secret"; }, kErrInvalidPassword},
        {"wrong password", [](auto& m, auto& h) { h.password = u"secret", m.password = u"Secret"; },
         kErrInvalidPassword},
        {"right password", [](auto& m, auto& h) { h.password = m.password = u"secret"; }, kOk},
        {"unasked password", [](auto& m, auto&) { m.password = u"x"; }, kOk},
        {"full", [](auto&, auto& h) { h.max_players = h.current_players = 4; },
         kErrHostRejectedConnection},
        {"one place left", [](auto&, auto& h) { h.max_players = 4, h.current_players = 3; }, kOk},
        {"closing", [](auto&, auto& h) { h.closing = true; }, kErrAlreadyClosing},
    };
    for (const Case& c : cases) {
        PlayerConnectInfo m = good;
        HostSettings h = host;
        c.change(m, h);
        EXPECT_EQ(CheckConnectRequest(m, h), c.expected) << c.what;
    }
}

}  // namespace

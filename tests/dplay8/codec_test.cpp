// The codecs: document examples, whole round trips, truncation and corruption (asan watches).

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
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

// clang-format off
using Frame = std::pair<DataFrameHeader, Bytes>;
std::optional<Frame> DecodeFrame(ByteSpan b) { ByteSpan p; auto h = DecodeDataFrame(b, true, p); return h ? std::optional(Frame{*h, Bytes(p.begin(), p.end())}) : std::nullopt; }
template <class... F> struct Overload : F... { using F::operator()...; };
const Overload Enc{
    [](const Frame& f, Bytes b = {}) { return EncodeDataHeader(f.first, b), b.insert(b.end(), f.second.begin(), f.second.end()), b; },
    [](const HandshakeFrame& f, Bytes b = {}) { return EncodeHandshake(f, b), b; },
    [](const SackFrame& f, Bytes b = {}) { return EncodeSack(f, b), b; },
    [](const auto& m) { return Encode(m); }};

using Check = std::function<Bytes(ByteSpan)>;  // decodes, compares, encodes again
template <typename T, typename Decode>
Check Is(T want, Decode decode) { return [=](ByteSpan b) { auto got = decode(b); EXPECT_EQ(got, want); return got ? Enc(*got) : Bytes{}; }; }
Check Framed(DataFrameHeader h, Check inner) {
    return [=](ByteSpan b) { auto f = DecodeFrame(b); EXPECT_EQ(f ? f->first : DataFrameHeader{.command = 0}, h); return f ? Enc(Frame{h, inner(f->second)}) : Bytes{}; };
}
// clang-format on

Bytes Drain(Connection& c, Millis now) {
    Bytes out;
    EXPECT_TRUE(c.PollTransmit(now, out));
    return out;
}

const Guid kInstance = *ParseGuid("{94BE8123-A1AB-48FB-A2E7-23859E658936}");
const Guid kApplication = *ParseGuid("{61EF80DA-691B-4247-9ADD-1C7BED2BC13E}");
const Guid kOther = *ParseGuid("{00000001-0000-0000-0000-000000000000}");

// The protocol document's handshake: CONNECT, CONNECTED, CONNECTED, then a keep-alive each way.
const Bytes kConnect = Hex("88 01 00 00 06 00 01 00 C6 AE C9 79 9D 36 67 23");
const Bytes kListenerConnected = Hex("88 02 00 00 06 00 01 00 C6 AE C9 79 E1 DF 04 00");
const Bytes kConnectorConnected = Hex("80 02 01 00 06 00 01 00 C6 AE C9 79 9D 36 67 23");
const Bytes kKeepAlive = Hex("3F 02 00 00 C6 AE C9 79");

TEST(Dplay8Examples, DocumentExamplesDecodeToTheirValuesAndEncodeToTheSameBytes) {
    // clang-format off
    const SendConnectInfo send_connect_info{{}, {0x50, kSessionMigrateHost, 0, 2, u"Test Session",
        {}, {}, {}, kInstance, kApplication}, 0x948E8120, 3, 0,
        {{0x949E8121, 0, kEntryHost | kEntryPeer, 2, 0, 7, u"Test User", {}, ""},
         {0x948E8120, 0, kEntryPeer, 3, 0, 8, u"Test User", {},
          "x-directplay:/provider=%7BEBFE7BA0-628D-11D2-AE0F-006097B01411%7D;"
          "hostname=65.52.239.61;port=2302"}}, {}};
    const std::tuple<const char*, Bytes, Check> examples[] = {
        {"CONNECT", kConnect, Is(HandshakeFrame{kOpConnect, true, 0, 0, 0x00010006, 0x79C9AEC6, 0x2367369D}, DecodeHandshake)},
        {"CONNECTED", kListenerConnected, Is(HandshakeFrame{kOpConnected, true, 0, 0, 0x00010006, 0x79C9AEC6, 0x0004DFE1}, DecodeHandshake)},
        {"CONNECTED back", kConnectorConnected, Is(HandshakeFrame{kOpConnected, false, 1, 0, 0x00010006, 0x79C9AEC6, 0x2367369D}, DecodeHandshake)},
        {"keep-alive", kKeepAlive, Is(Frame{{.command = 0x3F, .control = 0x02, .session_id = 0x79C9AEC6}, {}}, DecodeFrame)},
        // The prose calls the payload five bytes and the next receive 5; the bytes say six and 6.
        {"data", Hex("3D 00 05 03 01 41 42 43 44 45"), Is(Frame{{.command = 0x3D, .seq = 5, .next_recv = 3}, Hex("01 41 42 43 44 45")}, DecodeFrame)},
        {"SACK", Hex("80 06 01 00 03 06 00 00 07 5D 11 00"), Is(SackFrame{.next_seq = 3, .next_recv = 6, .timestamp = 0x00115D07}, DecodeSack)},
        {"NAT CONNECT", Hex("88 01 00 00 06 00 01 00 E4 1C B0 50 E4 CA 32 00"), Is(HandshakeFrame{kOpConnect, true, 0, 0, 0x00010006, 0x50B01CE4, 0x0032CAE4}, DecodeHandshake)},
        {"CONNECT_FAILED", Hex("C5 00 00 00 90 83 15 80 00 00 00 00 00 00 00 00"), Is(ConnectFailed{kErrInvalidInterface, {}}, DecodeConnectFailed)},
        {"PLAYER_CONNECT_INFO_EX", Hex(R"(7F000100C100000004000000080000006000000014000000000000000000000000000000000000000000000000000000
00000000000000002381BE94ABA1FB48A2E723859E658936DA80EF611B6947429ADD1C7BED2BC13E5800000008000000
070208FE4134EF3D5400650073007400200055007300650072000000)"), Framed({.command = 0x7F, .seq = 1}, Is(PlayerConnectInfo{.flags = kConnectFlagPeer,
            .name = u"Test User", .instance = kInstance, .application = kApplication,
            .alternate_addresses = Hex("07 02 08 FE 41 34 EF 3D")}, DecodePlayerConnectInfo))},
        {"SEND_CONNECT_INFO", Hex(R"(7F000102C2000000000000000000000050000000040000000000000002000000560100001A0000000000000000000000
000000000000000000000000000000002381BE94ABA1FB48A2E723859E658936DA80EF611B6947429ADD1C7BED2BC13E
20818E940300000000000000020000000000000021819E94000000000201000002000000000000000700000042010000
140000000000000000000000000000000000000020818E9400000000000100000300000000000000080000002E010000
140000000000000000000000CC00000062000000782D646972656374706C61793A2F70726F76696465723D2537424542
4645374241302D363238442D313144322D414530462D3030363039374230313431312537443B686F73746E616D653D36
352E35322E3233392E36313B706F72743D32333032005400650073007400200055007300650072000000540065007300
740020005500730065007200000054006500730074002000530065007300730069006F006E000000)"),
            Framed({.command = 0x7F, .seq = 1, .next_recv = 2}, Is(send_connect_info, DecodeSendConnectInfo))},
    };
    // clang-format on
    for (const auto& [name, bytes, check] : examples)
        EXPECT_EQ(check(bytes), bytes) << name;
    const Guid nat = *ParseGuid("{C0A65D4F-9CE3-4F70-80DE-3AB4DF6F09B6}");
    const std::tuple<uint32_t, uint32_t, Guid, uint32_t> ids[] = {
        {3, 3, kInstance, 0x948E8120u},
        {2, 2, kInstance, 0x949E8121u},
        {5, 10, Guid{.data1 = 0xA1B2C3D4}, 0xA112C3D1u}};
    for (auto [index, version, instance, id] : ids) {
        EXPECT_EQ(MakeDpnid(index, version, instance), id);
        EXPECT_EQ(std::pair(DpnidIndex(id, instance), DpnidVersion(id, instance)),
                  std::pair(index, version));
    }
    EXPECT_EQ(std::pair(DpnidIndex(0xC0965D4Cu, nat), DpnidIndex(0xC0F65D4Bu, nat)),
              std::pair(3u, 4u));
}

TEST(Dplay8Examples, ConnectionsReproduceTheHandshakeAndTheRetryOfTheirExamples) {
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
    // The NAT document's CONNECT: its retry 200 ms later repeats the timestamp.
    const Millis t0 = 0x0032CAE4;
    auto c = Connection::Connect({}, 0x50B01CE4, t0);
    EXPECT_EQ(Drain(c, t0), Hex("88 01 00 00 06 00 01 00 E4 1C B0 50 E4 CA 32 00"));
    Bytes none;
    EXPECT_FALSE(c.PollTransmit(t0 + 199, none));
    EXPECT_EQ(c.NextTimeout(), t0 + 200);
    c.HandleTimeout(t0 + 200);
    EXPECT_EQ(Drain(c, t0 + 200), Hex("88 01 01 00 06 00 01 00 E4 1C B0 50 E4 CA 32 00"));
}

TEST(Dplay8RetryPolicy, TimersFollowTheSchedule) {
    RetryLimits limits;
    std::vector<Millis> data, fast, connect;
    for (int attempt = 0; attempt < 10; ++attempt) {
        data.push_back(DataRetryInterval(40, attempt, limits));
        fast.push_back(DataRetryInterval(4, attempt, {.delayed_ack = 0}));
        connect.push_back(ConnectRetryInterval(attempt, limits));
    }
    // 2.5 RTT plus the delayed-ack time, linear to the third, doubling to the eighth, capped.
    // clang-format off
    EXPECT_EQ(std::tuple(data, fast, connect), std::tuple(std::vector<Millis>{200, 400, 600, 1200, 2400, 4800, 5000, 5000, 5000, 5000},
        std::vector<Millis>{10, 20, 30, 60, 120, 240, 480, 960, 960, 960}, std::vector<Millis>{200, 400, 800, 1600, 3200, 5000, 5000, 5000, 5000, 5000}));
    // clang-format on
    EXPECT_EQ(DataRetryInterval(Millis(1) << 58, 9, limits), 5000);  // no overflow
    EXPECT_EQ(std::tuple(HardDisconnectInterval(0), HardDisconnectInterval(999),
                         HardDisconnectInterval(1002)),
              std::tuple(10, 499, 500));
    RttEstimator rtt;
    EXPECT_EQ(std::pair(rtt.has_sample(), rtt.smoothed()), std::pair(false, Millis(200)));
    rtt.Sample(100);
    rtt.Sample(180);
    EXPECT_EQ(rtt.smoothed(), (100 * 7 + 180) / 8);
    rtt.Sample(-5);
    EXPECT_EQ(std::pair(rtt.latest(), rtt.smoothed()), std::pair(Millis(0), Millis(770 / 8)));
}

constexpr int kSeeds = 300;

// clang-format off
template <class C> C Fill(C c, auto f) { return std::generate(c.begin(), c.end(), f), c; }

struct Gen {
    std::mt19937 rng;
    uint32_t U32() { return rng(); }
    uint8_t U8() { return uint8_t(rng()); }
    uint32_t Below(uint32_t n) { return rng() % n; }
    bool Coin() { return rng() & 1; }
    uint64_t Mask() { return uint64_t(Coin() ? U32() : 0) << 32 | (Coin() ? U32() : 0); }
    Bytes Blob(uint32_t max) { return Fill(Bytes(Below(max + 1)), [&] { return U8(); }); }
    std::u16string Text(uint32_t max) { return Fill(std::u16string(Below(max + 1), u'a'), [&] { return char16_t(1 + Below(0xD7FF)); }); }  // no terminator inside
    std::optional<std::u16string> MaybeText(uint32_t max) { return Coin() ? std::optional(Text(max)) : std::nullopt; }
    std::string Url() { return Coin() ? "x-directplay:/provider=%7BEBFE7BA0-628D-11D2-AE0F-006097B01411%7D;port=" + std::to_string(Below(65536)) : ""; }
    Guid Id() { return {U32(), uint16_t(U32()), uint16_t(U32()), Fill(decltype(Guid::data4){}, [&] { return U8(); })}; }
};
// clang-format on

// Prefixes (shorter than the fixed part refused) and corruptions, on a fifth of the seeds.
template <typename Decode>
void Torture(const Bytes& encoded, size_t fixed_size, Decode decode, Gen& g) {
    if (g.Below(5) != 0)
        return;
    size_t stride = std::max<size_t>(1, encoded.size() / 256);
    for (size_t n = 0; n < encoded.size(); n += n < fixed_size + 64 ? 1 : stride) {
        Bytes prefix(encoded.begin(), encoded.begin() + std::ptrdiff_t(n));  // asan sees overreads
        EXPECT_FALSE(decode(ByteSpan(prefix)) && n < fixed_size) << "accepted " << n << " bytes";
    }
    for (int i = 0; i < 64 && !encoded.empty(); ++i) {
        Bytes corrupt = encoded;
        corrupt[g.Below(uint32_t(corrupt.size()))] = g.U8();
        (void)decode(ByteSpan(corrupt));
    }
}

template <typename Make, typename Decode>
std::function<void(Gen&)> Kind(size_t fixed_size, Make make, Decode decode) {
    return [=](Gen& g) {
        auto m = make(g);
        Bytes wire = Enc(m);
        EXPECT_EQ(decode(wire), m);
        Torture(wire, fixed_size, decode, g);
    };
}

TEST(Dplay8Codec, RandomMessagesAndFramesRoundTripWhole) {
    // clang-format off
    const std::pair<const char*, std::function<void(Gen&)>> kinds[] = {
        {"EnumQuery", Kind(5, [](Gen& g) { return EnumQuery{uint16_t(g.U32()), g.Coin() ? std::optional(g.Id()) : std::nullopt, g.Blob(40)}; }, DecodeEnumQuery)},
        {"EnumResponse", Kind(92, [](Gen& g) { return EnumResponse{uint16_t(g.U32()), g.U32(), g.U32(), g.U32(), g.U32(), g.Text(30),
            g.MaybeText(10), g.Blob(20), g.Blob(20), g.Id(), g.Id(), g.Blob(50)}; }, DecodeEnumResponse)},
        {"PlayerConnectInfo", Kind(84, [](Gen& g) {
            PlayerConnectInfo c{g.Below(8), 1 + g.Below(8), g.Text(20), g.Blob(20), g.MaybeText(8), g.Blob(10), g.Url(), g.Id(), g.Id(), {}};
            if (c.dnet_version >= kFirstExDnetVersion)
                c.alternate_addresses = g.Blob(24);
            return c; }, DecodePlayerConnectInfo)},
        {"SendConnectInfo", Kind(112, [](Gen& g) {
            SendConnectInfo s{g.Blob(10), {g.U32(), g.U32(), g.U32(), g.U32(), g.Text(20), g.MaybeText(8), g.Blob(8), g.Blob(8), g.Id(), g.Id()}, g.U32(), g.U32(), g.U32()};
            s.entries.resize(g.Below(4));
            for (auto& e : s.entries)
                e = {g.U32(), g.U32(), g.U32(), g.U32(), g.U32(), g.U32(), g.Text(12), g.Blob(6), g.Url()};
            s.memberships.resize(g.Below(3));
            for (auto& m : s.memberships)
                m = {g.U32(), g.U32(), g.U32(), g.U32()};
            return s; }, DecodeSendConnectInfo)},
        {"ConnectFailed", Kind(16, [](Gen& g) { return ConnectFailed{HResult(g.U32()), g.Blob(20)}; }, DecodeConnectFailed)},
        {"TerminateSession", Kind(12, [](Gen& g) { return TerminateSession{g.Blob(20)}; }, DecodeTerminateSession)},
        {"DestroyPlayer", Kind(20, [](Gen& g) { return DestroyPlayer{g.U32(), g.U32(), g.U32(), g.U32()}; }, DecodeDestroyPlayer)},
        {"ReqUpdateInfo", Kind(32, [](Gen& g) { return ReqUpdateInfo{g.U32(), g.U32(), g.U32(), g.Text(12), g.Blob(12)}; }, DecodeReqUpdateInfo)},
        {"UpdateInfo", Kind(44, [](Gen& g) { return UpdateInfo{g.U32(), g.U32(), g.U32(), g.U32(), g.U32(), g.Text(12), g.Blob(12), g.U32()}; }, DecodeUpdateInfo)},
        {"ReqProcessCompletion", Kind(8, [](Gen& g) { return ReqProcessCompletion{g.U32(), g.Blob(30)}; }, DecodeReqProcessCompletion)},
        {"ProcessCompletion", Kind(8, [](Gen& g) { return ProcessCompletion{g.U32()}; }, DecodeProcessCompletion)},
        {"Handshake", Kind(16, [](Gen& g) { const uint8_t ops[] = {kOpConnect, kOpConnected, kOpHardDisconnect};
            return HandshakeFrame{ops[g.Below(3)], g.Coin(), g.U8(), g.U8(), g.U32(), g.U32(), g.U32()}; }, DecodeHandshake)},
        {"Sack", Kind(12, [](Gen& g) { return SackFrame{g.Coin(), g.Coin(), g.U8(), g.U8(), g.U8(), g.U32(), g.Mask(), g.Mask()}; }, DecodeSack)},
        // A keep-alive carries the session id alone; the encoder sets the mask bits in control.
        {"Data", Kind(4, [](Gen& g) {
            Frame f{{uint8_t(g.U8() | kCommandData), uint8_t(g.U8() & 15), g.U8(), g.U8(), g.Mask(), g.Mask()}, g.Blob(30)};
            if (f.first.control & kControlKeepAliveOrCorrelate)
                f.first.control = kControlKeepAliveOrCorrelate, f.first.session_id = g.U32(), f.second.clear();
            f.first.control = Enc(f)[1];
            return f; }, DecodeFrame)},
    };
    // clang-format on
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        Gen g{std::mt19937(seed)};
        for (const auto& [name, check] : kinds) {
            SCOPED_TRACE(std::string(name) + " seed " + std::to_string(seed));
            check(g);
        }
    }
}

TEST(Dplay8Codec, FramesWithStrayBitsAndMessagesOfOtherTypesAreRefused) {
    Bytes wire = Enc(HandshakeFrame{});
    for (int b = 0; b < 256; ++b) {
        Bytes v = wire;
        v[0] = uint8_t(b);
        EXPECT_EQ(bool(DecodeHandshake(v)), b == 0x80 || b == 0x88) << b;
    }
    wire[1] = 0x05;  // no such opcode
    EXPECT_FALSE(DecodeHandshake(wire));
    Bytes sack = Enc(SackFrame{});
    sack[2] = 0x20;  // no such flag
    EXPECT_FALSE(DecodeSack(sack));
    Bytes terminate = Encode(TerminateSession{});
    EXPECT_FALSE(DecodeConnectFailed(terminate) || DecodePlayerConnectInfo(terminate) ||
                 IsAckConnectInfo(terminate));
    EXPECT_TRUE(IsAckConnectInfo(EncodeAckConnectInfo()));
    EXPECT_EQ(
        std::vector({HandlingOf(0xC1), HandlingOf(0xCD), HandlingOf(0xD7), HandlingOf(0x42)}),
        std::vector({CoreHandling::kClientServer, CoreHandling::kIgnored, CoreHandling::kIgnored,
                     CoreHandling::kUnknown}));  // 0xCD migration, 0xD7 groups
    // Offsets count from after the 4-byte enum payload.
    wire = Encode(EnumResponse{.session_name = u"S"});
    EXPECT_EQ(std::pair(wire[28], wire[92]), std::pair(uint8_t(88), uint8_t('S')));
    Bytes bad = wire;
    bad[28] = 0xF0;  // past the end
    EXPECT_FALSE(DecodeEnumResponse(bad));
    bad = wire;
    std::fill(bad.begin() + 32, bad.begin() + 36, 0xFF);  // a size that overflows
    EXPECT_FALSE(DecodeEnumResponse(bad));
}

TEST(Dplay8Codec, CoalescedPartsRoundTripWithAlignment) {
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
        for (size_t i = 0; i < parts.size(); ++i)
            EXPECT_EQ(std::pair(back[i].command, Bytes(back[i].data.begin(), back[i].data.end())),
                      std::pair(parts[i].command, blobs[i]));
        Torture(
            wire, 2, [&](ByteSpan b) { return DecodeCoalesced(b, back); }, g);
    }
    std::vector<CoalescedPart> parts;
    EXPECT_FALSE(DecodeCoalesced(Bytes(33 * 2, 0), parts));  // 33 headers
    Bytes big(2048), out;
    EXPECT_FALSE(EncodeCoalesced({{0, big}}, out));
    EXPECT_TRUE(out.empty());
}

TEST(Dplay8Primitives, GuidsAndWideStrings) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        Guid guid = Gen{std::mt19937(seed)}.Id();
        EXPECT_EQ(ParseGuid(ToString(guid)), guid);
    }
    EXPECT_FALSE(ParseGuid("{94BE8123-A1AB-48FB-A2E7-23859E65893}") ||
                 ParseGuid("{94BE8123-A1AB-48FB-A2E7-23859E65893G}") ||
                 ParseGuid("94BE8123-A1AB-48FB-A2E7-23859E658936"));
    EXPECT_EQ(EncodeWide(u"Hé"), (Bytes{'H', 0, 0xE9, 0, 0, 0}));
    std::u16string s;
    EXPECT_FALSE(DecodeWide(Bytes{'H', 0, 0}, s));  // odd size
    EXPECT_TRUE(DecodeWide(Bytes{'a', 0, 0, 0, 'b', 0}, s) && s == u"a");
}

TEST(Dplay8EnumResponder, AnswersItsApplicationOrAnyAndNeverSendsThePassword) {
    // clang-format off
    HostDescription host{kApplication, kInstance, kSessionClientServer, 50, 7, u"EmberRealms", false, {9}};
    EXPECT_EQ(AnswerEnumQuery({.enum_payload = 0x1111}, host), (EnumResponse{.enum_payload = 0x1111,
        .flags = kSessionClientServer, .max_players = 50, .current_players = 7,
        .session_name = u"EmberRealms", .instance = kInstance, .application = kApplication,
        .reply = {9}}));
    // clang-format on
    EXPECT_TRUE(AnswerEnumQuery({.application = kApplication}, host));
    EXPECT_FALSE(AnswerEnumQuery({.application = kOther}, host));
    host.password_required = true;
    auto r = AnswerEnumQuery({}, host);
    ASSERT_TRUE(r);
    EXPECT_EQ(std::pair(r->flags, r->password.has_value()),
              std::pair(kSessionClientServer | kSessionRequirePassword, false));
    host.flags |= kSessionNoEnums;
    EXPECT_FALSE(AnswerEnumQuery({}, host));
}

TEST(Dplay8ConnectAdmission, RefusesEachBadRequestWithItsCode) {
    using Change = void (*)(PlayerConnectInfo&, HostSettings&);
    // clang-format off
    const std::tuple<const char*, Change, HResult> cases[] = {{"good", [](auto&, auto&) {}, kOk},
        {"peer", [](auto& m, auto&) { m.flags = kConnectFlagPeer; }, kErrInvalidInterface}, {"neither", [](auto& m, auto&) { m.flags = 0; }, kErrInvalidInterface},
        {"both", [](auto& m, auto&) { m.flags = kConnectFlagClient | kConnectFlagPeer; }, kErrInvalidInterface},
        {"other instance", [](auto& m, auto&) { m.instance = kOther; }, kErrInvalidInstance}, {"our instance", [](auto& m, auto&) { m.instance = kInstance; }, kOk},
        {"other application", [](auto& m, auto&) { m.application = kOther; }, kErrInvalidApplication},
        {"no version", [](auto& m, auto&) { m.dnet_version = 0; }, kErrInvalidVersion}, {"missing password", [](auto&, auto& h) { h.password = u"secret"; }, kErrInvalidPassword},
        {"wrong password", [](auto& m, auto& h) { h.password = u"secret", m.password = u"Secret"; }, kErrInvalidPassword},
        {"right password", [](auto& m, auto& h) { h.password = m.password = u"secret"; }, kOk}, {"unasked password", [](auto& m, auto&) { m.password = u"x"; }, kOk},
        {"full", [](auto&, auto& h) { h.max_players = h.current_players = 4; }, kErrHostRejectedConnection},
        {"one place left", [](auto&, auto& h) { h.max_players = 4, h.current_players = 3; }, kOk}, {"closing", [](auto&, auto& h) { h.closing = true; }, kErrAlreadyClosing}};
    // clang-format on
    for (const auto& [what, change, expected] : cases) {
        PlayerConnectInfo m{.application = kApplication};  // a zero instance is fine
        HostSettings h{.instance = kInstance, .application = kApplication};
        change(m, h);
        EXPECT_EQ(CheckConnectRequest(m, h), expected) << what;
    }
}

}  // namespace
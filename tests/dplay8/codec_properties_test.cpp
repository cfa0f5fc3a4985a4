// Properties of every codec over many random messages: what is encoded decodes to the same
// fields, and no truncation or corruption of a valid message makes a decoder read outside
// its input (run under the asan preset) or accept a field that does not fit.

#include <gtest/gtest.h>

#include <random>

#include "dplay8/coalesce.h"
#include "dplay8/connect_info.h"
#include "dplay8/enum_messages.h"
#include "dplay8/frames.h"
#include "dplay8/session_messages.h"
#include "dplay8/wide_string.h"

namespace {

using dplay8::Bytes;
using dplay8::ByteSpan;

constexpr int kSeeds = 300;

struct Gen {
    explicit Gen(uint32_t seed) : rng(seed) {}
    std::mt19937 rng;
    uint32_t U32() { return rng(); }
    uint32_t Below(uint32_t n) { return n ? rng() % n : 0; }
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
    std::string Url() {
        std::string s = "x-directplay:/provider=%7BEBFE7BA0-628D-11D2-AE0F-006097B01411%7D;port=";
        s += std::to_string(Below(65536));
        return Coin() ? s : std::string();
    }
    dplay8::Guid Guid() {
        dplay8::Guid g;
        g.data1 = U32();
        g.data2 = uint16_t(U32());
        g.data3 = uint16_t(U32());
        for (auto& b : g.data4)
            b = uint8_t(U32());
        return g;
    }
};

// Every prefix and a batch of single-byte corruptions of `encoded` go through `decode`; the
// prefixes shorter than the fixed part must be refused.
template <typename Decode>
void Torture(const Bytes& encoded, size_t fixed_size, Decode decode, Gen& g) {
    // Every seed round-trips; a fifth of them also go through the (slower) torture.
    if (g.Below(5) != 0)
        return;
    // Every short prefix, then a few hundred spread over the rest of a long message.
    size_t stride = std::max<size_t>(1, encoded.size() / 256);
    for (size_t n = 0; n < encoded.size(); n += n < fixed_size + 64 ? 1 : stride) {
        Bytes prefix(encoded.begin(), encoded.begin() + std::ptrdiff_t(n));
        auto result = decode(ByteSpan(prefix));
        if (n < fixed_size) {
            EXPECT_FALSE(result) << "accepted a " << n << "-byte prefix";
        }
    }
    for (int i = 0; i < 64 && !encoded.empty(); ++i) {
        Bytes corrupt = encoded;
        corrupt[g.Below(uint32_t(corrupt.size()))] = uint8_t(g.U32());
        (void)decode(ByteSpan(corrupt));
    }
}

TEST(Dplay8EnumCodec, RandomQueriesAndResponsesRoundTrip) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        Gen g(seed);
        dplay8::EnumQuery q;
        q.enum_payload = uint16_t(g.U32());
        if (g.Coin())
            q.application = g.Guid();
        q.application_payload = g.Blob(40);
        auto q2 = dplay8::DecodeEnumQuery(dplay8::Encode(q));
        ASSERT_TRUE(q2);
        EXPECT_EQ(q2->enum_payload, q.enum_payload);
        EXPECT_EQ(q2->application, q.application);
        EXPECT_EQ(q2->application_payload, q.application_payload);

        dplay8::EnumResponse r;
        r.enum_payload = uint16_t(g.U32());
        r.flags = g.U32();
        r.max_players = g.U32();
        r.current_players = g.U32();
        r.session_name = g.Text(30);
        if (g.Coin())
            r.password = g.Text(10);
        r.reserved_data = g.Blob(20);
        r.application_reserved_data = g.Blob(20);
        r.instance = g.Guid();
        r.application = g.Guid();
        r.reply = g.Blob(50);
        Bytes wire = dplay8::Encode(r);
        auto r2 = dplay8::DecodeEnumResponse(wire);
        ASSERT_TRUE(r2);
        EXPECT_EQ(r2->session_name, r.session_name);
        EXPECT_EQ(r2->password, r.password);
        EXPECT_EQ(r2->reserved_data, r.reserved_data);
        EXPECT_EQ(r2->application_reserved_data, r.application_reserved_data);
        EXPECT_EQ(r2->reply, r.reply);
        EXPECT_EQ(r2->instance, r.instance);
        EXPECT_EQ(r2->flags, r.flags);
        Torture(wire, 92, dplay8::DecodeEnumResponse, g);
    }
}

TEST(Dplay8EnumCodec, OffsetsCountFromTheEndOfTheEnumPayload) {
    dplay8::EnumResponse r;
    r.session_name = u"S";
    Bytes wire = dplay8::Encode(r);
    // The name follows the 92-byte fixed part; its offset leaves out the first four bytes.
    EXPECT_EQ(wire[28], 88);
    EXPECT_EQ(wire[92], 'S');
    // An offset that points past the end, or a size that overflows, is refused.
    Bytes bad = wire;
    bad[28] = 0xF0;
    EXPECT_FALSE(dplay8::DecodeEnumResponse(bad));
    bad = wire;
    bad[32] = 0xFF, bad[33] = 0xFF, bad[34] = 0xFF, bad[35] = 0xFF;
    EXPECT_FALSE(dplay8::DecodeEnumResponse(bad));
}

TEST(Dplay8FrameCodec, RandomSacksAndDataHeadersRoundTrip) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        Gen g(seed);
        dplay8::SackFrame s;
        s.retry = uint8_t(g.Below(2));
        s.next_seq = uint8_t(g.U32());
        s.next_recv = uint8_t(g.U32());
        s.timestamp = g.U32();
        s.sack_mask = g.Coin() ? uint64_t(g.U32()) << (g.Coin() ? 32 : 0) : 0;
        s.send_mask = g.Coin() ? uint64_t(g.U32()) << 32 | g.U32() : 0;
        Bytes wire;
        dplay8::EncodeSack(s, wire);
        auto s2 = dplay8::DecodeSack(wire);
        ASSERT_TRUE(s2);
        EXPECT_EQ(s2->sack_mask, s.sack_mask);
        EXPECT_EQ(s2->send_mask, s.send_mask);
        EXPECT_EQ(s2->next_seq, s.next_seq);
        EXPECT_EQ(s2->next_recv, s.next_recv);
        EXPECT_EQ(s2->timestamp, s.timestamp);
        Torture(wire, 12, dplay8::DecodeSack, g);

        dplay8::DataFrameHeader h;
        h.command = uint8_t(g.U32() | dplay8::kCommandData);
        h.control = uint8_t(g.Below(16) & ~dplay8::kControlKeepAliveOrCorrelate);
        h.seq = uint8_t(g.U32());
        h.next_recv = uint8_t(g.U32());
        h.sack_mask = g.Coin() ? uint64_t(g.U32()) << 32 | g.U32() : 0;
        h.send_mask = g.Coin() ? uint64_t(g.U32()) : 0;
        Bytes payload = g.Blob(30);
        Bytes frame;
        dplay8::EncodeDataHeader(h, frame);
        frame.insert(frame.end(), payload.begin(), payload.end());
        ByteSpan got;
        auto h2 = dplay8::DecodeDataFrame(frame, true, got);
        ASSERT_TRUE(h2);
        EXPECT_EQ(h2->seq, h.seq);
        EXPECT_EQ(h2->sack_mask, h.sack_mask);
        EXPECT_EQ(h2->send_mask, h.send_mask);
        EXPECT_EQ(Bytes(got.begin(), got.end()), payload);
        auto decode = [](ByteSpan b) {
            ByteSpan p;
            return dplay8::DecodeDataFrame(b, true, p);
        };
        Torture(frame, 4, decode, g);
    }
}

TEST(Dplay8FrameCodec, CommandFramesWithStrayBitsAreRefused) {
    dplay8::HandshakeFrame f;
    Bytes wire;
    dplay8::EncodeHandshake(f, wire);
    for (int b = 0; b < 256; ++b) {
        Bytes v = wire;
        v[0] = uint8_t(b);
        bool valid = b == 0x80 || b == 0x88;
        EXPECT_EQ(bool(dplay8::DecodeHandshake(v)), valid) << b;
    }
    wire[1] = 0x05;  // no such opcode
    EXPECT_FALSE(dplay8::DecodeHandshake(wire));
}

TEST(Dplay8CoalesceCodec, RandomPartsRoundTripWithAlignment) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        Gen g(seed);
        std::vector<Bytes> blobs(1 + g.Below(32));
        std::vector<dplay8::CoalescedPart> parts;
        for (auto& b : blobs) {
            b = g.Blob(g.Coin() ? 9 : 2047);
            parts.push_back({uint8_t(g.U32() & 0xC6), b});
        }
        Bytes wire;
        ASSERT_TRUE(dplay8::EncodeCoalesced(parts, wire));
        // Headers pad to 32 bits; every payload but the last starts 32-bit aligned.
        size_t expected = dplay8::PadTo4(parts.size() * 2);
        for (size_t i = 0; i < parts.size(); ++i) {
            expected += i + 1 < parts.size() ? dplay8::PadTo4(blobs[i].size()) : blobs[i].size();
        }
        EXPECT_EQ(wire.size(), expected);
        std::vector<dplay8::CoalescedPart> back;
        ASSERT_TRUE(dplay8::DecodeCoalesced(wire, back));
        ASSERT_EQ(back.size(), parts.size());
        for (size_t i = 0; i < parts.size(); ++i) {
            EXPECT_EQ(back[i].command, parts[i].command);
            EXPECT_EQ(Bytes(back[i].data.begin(), back[i].data.end()), blobs[i]);
        }
        auto decode = [](ByteSpan b) {
            std::vector<dplay8::CoalescedPart> p;
            return dplay8::DecodeCoalesced(b, p);
        };
        Torture(wire, 2, decode, g);
    }
}

TEST(Dplay8CoalesceCodec, MoreThan32HeadersOrOversizedPartsAreRefused) {
    Bytes headers;
    for (int i = 0; i < 33; ++i)
        headers.insert(headers.end(), {0, 0});
    std::vector<dplay8::CoalescedPart> parts;
    EXPECT_FALSE(dplay8::DecodeCoalesced(headers, parts));
    Bytes big(2048);
    std::vector<dplay8::CoalescedPart> one{{0, big}};
    Bytes out;
    EXPECT_FALSE(dplay8::EncodeCoalesced(one, out));
    EXPECT_TRUE(out.empty());
}

TEST(Dplay8CoreCodec, RandomConnectMessagesRoundTrip) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        Gen g(seed);
        dplay8::PlayerConnectInfo c;
        c.flags = g.Below(8);
        c.dnet_version = 1 + g.Below(8);
        c.name = g.Text(20);
        c.data = g.Blob(20);
        if (g.Coin())
            c.password = g.Text(8);
        c.connect_data = g.Blob(10);
        c.url = g.Url();
        c.instance = g.Guid();
        c.application = g.Guid();
        if (c.dnet_version >= dplay8::kFirstExDnetVersion)
            c.alternate_addresses = g.Blob(24);
        Bytes wire = dplay8::Encode(c);
        auto c2 = dplay8::DecodePlayerConnectInfo(wire);
        ASSERT_TRUE(c2);
        EXPECT_EQ(c2->name, c.name);
        EXPECT_EQ(c2->data, c.data);
        EXPECT_EQ(c2->password, c.password);
        EXPECT_EQ(c2->connect_data, c.connect_data);
        EXPECT_EQ(c2->url, c.url);
        EXPECT_EQ(c2->instance, c.instance);
        EXPECT_EQ(c2->alternate_addresses, c.alternate_addresses);
        Torture(wire, 84, dplay8::DecodePlayerConnectInfo, g);

        dplay8::SendConnectInfo s;
        s.reply = g.Blob(10);
        s.desc.flags = g.U32();
        s.desc.session_name = g.Text(20);
        if (g.Coin())
            s.desc.password = g.Text(8);
        s.desc.reserved_data = g.Blob(8);
        s.desc.application_reserved_data = g.Blob(8);
        s.desc.instance = g.Guid();
        s.dpnid = g.U32();
        s.version = g.U32();
        s.entries.resize(g.Below(4));
        for (auto& e : s.entries) {
            e.dpnid = g.U32();
            e.flags = g.U32();
            e.name = g.Text(12);
            e.data = g.Blob(6);
            e.url = g.Url();
        }
        s.memberships.resize(g.Below(3));
        for (auto& m : s.memberships)
            m.group = g.U32();
        wire = dplay8::Encode(s);
        auto s2 = dplay8::DecodeSendConnectInfo(wire);
        ASSERT_TRUE(s2);
        EXPECT_EQ(s2->reply, s.reply);
        EXPECT_EQ(s2->desc.session_name, s.desc.session_name);
        EXPECT_EQ(s2->desc.password, s.desc.password);
        EXPECT_EQ(s2->desc.reserved_data, s.desc.reserved_data);
        ASSERT_EQ(s2->entries.size(), s.entries.size());
        for (size_t i = 0; i < s.entries.size(); ++i) {
            EXPECT_EQ(s2->entries[i].name, s.entries[i].name);
            EXPECT_EQ(s2->entries[i].data, s.entries[i].data);
            EXPECT_EQ(s2->entries[i].url, s.entries[i].url);
            EXPECT_EQ(s2->entries[i].dpnid, s.entries[i].dpnid);
        }
        ASSERT_EQ(s2->memberships.size(), s.memberships.size());
        Torture(wire, 112, dplay8::DecodeSendConnectInfo, g);
    }
}

TEST(Dplay8CoreCodec, RandomSessionMessagesRoundTrip) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        Gen g(seed);
        dplay8::TerminateSession t{g.Blob(20)};
        auto t2 = dplay8::DecodeTerminateSession(dplay8::Encode(t));
        ASSERT_TRUE(t2);
        EXPECT_EQ(t2->data, t.data);
        Torture(dplay8::Encode(t), 12, dplay8::DecodeTerminateSession, g);

        dplay8::ReqUpdateInfo r{g.U32(), g.U32(), g.Below(4), g.Text(12), g.Blob(12)};
        auto r2 = dplay8::DecodeReqUpdateInfo(dplay8::Encode(r));
        ASSERT_TRUE(r2);
        EXPECT_EQ(r2->name, r.name);
        EXPECT_EQ(r2->data, r.data);
        EXPECT_EQ(r2->context, r.context);
        Torture(dplay8::Encode(r), 32, dplay8::DecodeReqUpdateInfo, g);

        dplay8::UpdateInfo u{g.U32(),    g.U32(),    g.U32(),    0,
                             g.Below(4), g.Text(12), g.Blob(12), g.U32()};
        auto u2 = dplay8::DecodeUpdateInfo(dplay8::Encode(u));
        ASSERT_TRUE(u2);
        EXPECT_EQ(u2->name, u.name);
        EXPECT_EQ(u2->data, u.data);
        EXPECT_EQ(u2->requesting, u.requesting);
        Torture(dplay8::Encode(u), 44, dplay8::DecodeUpdateInfo, g);

        dplay8::ReqProcessCompletion p{g.U32(), g.Blob(30)};
        auto p2 = dplay8::DecodeReqProcessCompletion(dplay8::Encode(p));
        ASSERT_TRUE(p2);
        EXPECT_EQ(p2->context, p.context);
        EXPECT_EQ(p2->payload, p.payload);
        auto c2 =
            dplay8::DecodeProcessCompletion(dplay8::Encode(dplay8::ProcessCompletion{p.context}));
        ASSERT_TRUE(c2);
        EXPECT_EQ(c2->context, p.context);

        dplay8::DestroyPlayer d{g.U32(), g.U32(), 0, 1 + g.Below(4)};
        auto d2 = dplay8::DecodeDestroyPlayer(dplay8::Encode(d));
        ASSERT_TRUE(d2);
        EXPECT_EQ(d2->leaving, d.leaving);
        EXPECT_EQ(d2->reason, d.reason);
    }
}

TEST(Dplay8CoreCodec, DecodersRefuseOtherPacketTypes) {
    Bytes terminate = dplay8::Encode(dplay8::TerminateSession{});
    EXPECT_FALSE(dplay8::DecodeConnectFailed(terminate));
    EXPECT_FALSE(dplay8::DecodePlayerConnectInfo(terminate));
    EXPECT_FALSE(dplay8::IsAckConnectInfo(terminate));
    EXPECT_TRUE(dplay8::IsAckConnectInfo(dplay8::EncodeAckConnectInfo()));
    EXPECT_EQ(dplay8::HandlingOf(0xC1), dplay8::CoreHandling::kClientServer);
    EXPECT_EQ(dplay8::HandlingOf(0xCD), dplay8::CoreHandling::kIgnored);  // host migration
    EXPECT_EQ(dplay8::HandlingOf(0xD7), dplay8::CoreHandling::kIgnored);  // groups
    EXPECT_EQ(dplay8::HandlingOf(0x42), dplay8::CoreHandling::kUnknown);
}

TEST(Dplay8Primitives, GuidsPrintAndParseInWindowsForm) {
    for (uint32_t seed = 0; seed < kSeeds; ++seed) {
        Gen g(seed);
        dplay8::Guid guid = g.Guid();
        auto back = dplay8::ParseGuid(dplay8::ToString(guid));
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, guid);
    }
    EXPECT_FALSE(dplay8::ParseGuid("{94BE8123-A1AB-48FB-A2E7-23859E65893}"));
    EXPECT_FALSE(dplay8::ParseGuid("{94BE8123-A1AB-48FB-A2E7-23859E65893G}"));
    EXPECT_FALSE(dplay8::ParseGuid("94BE8123-A1AB-48FB-A2E7-23859E658936"));
}

TEST(Dplay8Primitives, WideStringsStopAtTheTerminatorAndRefuseOddSizes) {
    Bytes w = dplay8::EncodeWide(u"Hé");
    EXPECT_EQ(w, (Bytes{'H', 0, 0xE9, 0, 0, 0}));
    std::u16string s;
    ASSERT_TRUE(dplay8::DecodeWide(w, s));
    EXPECT_EQ(s, u"Hé");
    EXPECT_FALSE(dplay8::DecodeWide(Bytes{'H', 0, 0}, s));
    ASSERT_TRUE(dplay8::DecodeWide(Bytes{'a', 0, 0, 0, 'b', 0}, s));
    EXPECT_EQ(s, u"a");
}

}  // namespace

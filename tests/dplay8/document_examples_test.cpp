// The byte examples of the protocol documents decode to the fields the documents give, and
// our encoders and connections produce the same bytes where we send the same message.

#include <gtest/gtest.h>

#include "dplay8/connect_admission.h"
#include "dplay8/connect_info.h"
#include "dplay8/connection.h"
#include "dplay8/dpnid.h"
#include "dplay8/frames.h"
#include "dplay8/guid.h"
#include "hex.h"

namespace {

using dplay8::Bytes;
using dplay8::ByteSpan;
using dplay8_test::Hex;
using dplay8_test::ToHex;

constexpr size_t kUdpPayloadInFrame = 14 + 20 + 8;  // Ethernet, IPv4, UDP headers

Bytes UdpPayload(const Bytes& frame) {
    return Bytes(frame.begin() + kUdpPayloadInFrame, frame.end());
}

Bytes Drain(dplay8::Connection& c, dplay8::Millis now) {
    Bytes out;
    EXPECT_TRUE(c.PollTransmit(now, out));
    return out;
}

// [MC-DPL8R] 4.1: CONNECT, CONNECTED, CONNECTED, then a keep-alive each way.
const Bytes kConnect = Hex("88 01 00 00 06 00 01 00 C6 AE C9 79 9D 36 67 23");
const Bytes kListenerConnected = Hex("88 02 00 00 06 00 01 00 C6 AE C9 79 E1 DF 04 00");
const Bytes kConnectorConnected = Hex("80 02 01 00 06 00 01 00 C6 AE C9 79 9D 36 67 23");
const Bytes kKeepAlive = Hex("3F 02 00 00 C6 AE C9 79");

TEST(Dplay8ReliableExamples, ConnectionSequenceDecodesToTheStatedFields) {
    auto connect = dplay8::DecodeHandshake(kConnect);
    ASSERT_TRUE(connect);
    EXPECT_EQ(connect->opcode, dplay8::kOpConnect);
    EXPECT_TRUE(connect->poll);
    EXPECT_EQ(connect->msg_id, 0);
    EXPECT_EQ(connect->rsp_id, 0);
    EXPECT_EQ(connect->version, 0x00010006u);
    EXPECT_EQ(connect->session_id, 0x79C9AEC6u);
    EXPECT_EQ(connect->timestamp, 0x2367369Du);

    auto connected = dplay8::DecodeHandshake(kListenerConnected);
    ASSERT_TRUE(connected);
    EXPECT_EQ(connected->opcode, dplay8::kOpConnected);
    EXPECT_TRUE(connected->poll);
    EXPECT_EQ(connected->timestamp, 0x0004DFE1u);

    auto confirm = dplay8::DecodeHandshake(kConnectorConnected);
    ASSERT_TRUE(confirm);
    EXPECT_FALSE(confirm->poll);
    EXPECT_EQ(confirm->msg_id, 1);
    EXPECT_EQ(confirm->rsp_id, 0);

    ByteSpan payload;
    auto keepalive = dplay8::DecodeDataFrame(kKeepAlive, true, payload);
    ASSERT_TRUE(keepalive);
    EXPECT_EQ(keepalive->command, 0x3F);  // data, reliable, sequential, poll, new, end
    EXPECT_EQ(keepalive->seq, 0);
    EXPECT_EQ(keepalive->next_recv, 0);
    ASSERT_TRUE(keepalive->session_id);
    EXPECT_EQ(*keepalive->session_id, 0x79C9AEC6u);
    EXPECT_TRUE(payload.empty());
}

TEST(Dplay8ReliableExamples, ConnectionsReproduceTheConnectionSequence) {
    dplay8::ConnectionConfig config;
    const dplay8::Millis connector_now = 0x2367369D;
    const dplay8::Millis listener_now = 0x0004DFE1;
    auto connector = dplay8::Connection::Connect(config, 0x79C9AEC6, connector_now);
    EXPECT_EQ(ToHex(Drain(connector, connector_now)), ToHex(kConnect));

    auto listener = dplay8::Connection::Accept(config, kConnect, listener_now);
    ASSERT_TRUE(listener);
    EXPECT_EQ(ToHex(Drain(*listener, listener_now)), ToHex(kListenerConnected));

    connector.HandleDatagram(kListenerConnected, connector_now);
    EXPECT_EQ(ToHex(Drain(connector, connector_now)), ToHex(kConnectorConnected));
    EXPECT_EQ(ToHex(Drain(connector, connector_now)), ToHex(kKeepAlive));
    EXPECT_TRUE(connector.is_connected());

    listener->HandleDatagram(kConnectorConnected, listener_now);
    EXPECT_TRUE(listener->is_connected());
    EXPECT_EQ(ToHex(Drain(*listener, listener_now)), ToHex(kKeepAlive));
}

// [MC-DPL8R] 4.2. The prose calls the payload five bytes "ABCDE" and the next receive 5; the
// bytes carry six payload bytes and acknowledge through 5, so bNRcv is 6.
TEST(Dplay8ReliableExamples, DataTransmissionAndAcknowledgment) {
    const Bytes data = Hex("3D 00 05 03 01 41 42 43 44 45");
    ByteSpan payload;
    auto h = dplay8::DecodeDataFrame(data, true, payload);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->command & dplay8::kCommandReliable, 0);
    EXPECT_NE(h->command & dplay8::kCommandSequential, 0);
    EXPECT_NE(h->command & dplay8::kCommandPoll, 0);
    EXPECT_NE(h->command & dplay8::kCommandNewMsg, 0);
    EXPECT_NE(h->command & dplay8::kCommandEndMsg, 0);
    EXPECT_EQ(h->control, 0);
    EXPECT_EQ(h->seq, 5);
    EXPECT_EQ(h->next_recv, 3);
    EXPECT_EQ(ToHex(Bytes(payload.begin(), payload.end())), "01 41 42 43 44 45");
    Bytes encoded;
    dplay8::EncodeDataHeader(*h, encoded);
    encoded.insert(encoded.end(), payload.begin(), payload.end());
    EXPECT_EQ(ToHex(encoded), ToHex(data));

    const Bytes sack = Hex("80 06 01 00 03 06 00 00 07 5D 11 00");
    auto s = dplay8::DecodeSack(sack);
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->response);
    EXPECT_EQ(s->retry, 0);
    EXPECT_EQ(s->next_seq, 3);
    EXPECT_EQ(s->next_recv, 6);
    EXPECT_EQ(s->timestamp, 0x00115D07u);
    EXPECT_EQ(s->sack_mask, 0u);
    EXPECT_EQ(s->send_mask, 0u);
    Bytes again;
    dplay8::EncodeSack(*s, again);
    EXPECT_EQ(ToHex(again), ToHex(sack));
}

// [MC-DPL8CS] 4: PLAYER_CONNECT_INFO_EX from a peer named "Test User".
const Bytes kConnectInfoFrame = Hex(R"(
00 0A E4 03 27 73 00 0B DB 5C 3F 45 08 00 45 00
00 98 3A 4C 00 00 80 11 9F B1 41 34 EF 3D 41 34
EE B1 08 FE 08 FE 00 84 C2 BF 7F 00 01 00 C1 00
00 00 04 00 00 00 08 00 00 00 60 00 00 00 14 00
00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
00 00 23 81 BE 94 AB A1 FB 48 A2 E7 23 85 9E 65
89 36 DA 80 EF 61 1B 69 47 42 9A DD 1C 7B ED 2B
C1 3E 58 00 00 00 08 00 00 00 07 02 08 FE 41 34
EF 3D 54 00 65 00 73 00 74 00 20 00 55 00 73 00
65 00 72 00 00 00)");

const char* kInstance = "{94BE8123-A1AB-48FB-A2E7-23859E658936}";
const char* kApplication = "{61EF80DA-691B-4247-9ADD-1C7BED2BC13E}";

TEST(Dplay8CoreExamples, PlayerConnectInfoExDecodesAndEncodesIdentically) {
    Bytes udp = UdpPayload(kConnectInfoFrame);
    ByteSpan payload;
    auto h = dplay8::DecodeDataFrame(udp, true, payload);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->command, 0x7F);  // reliable, sequential, poll, whole message, USER_1
    EXPECT_EQ(h->seq, 1);
    EXPECT_EQ(h->next_recv, 0);

    auto m = dplay8::DecodePlayerConnectInfo(payload);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->flags, dplay8::kConnectFlagPeer);
    EXPECT_EQ(m->dnet_version, 8u);
    EXPECT_EQ(m->name, u"Test User");
    EXPECT_TRUE(m->data.empty());
    EXPECT_FALSE(m->password);
    EXPECT_TRUE(m->url.empty());
    EXPECT_EQ(dplay8::ToString(m->instance), kInstance);
    EXPECT_EQ(dplay8::ToString(m->application), kApplication);
    EXPECT_EQ(ToHex(m->alternate_addresses), "07 02 08 FE 41 34 EF 3D");
    EXPECT_EQ(ToHex(dplay8::Encode(*m)), ToHex(Bytes(payload.begin(), payload.end())));
}

TEST(Dplay8CoreExamples, ServerRefusesThePeerOfTheExampleAsTheWrongInterface) {
    Bytes udp = UdpPayload(kConnectInfoFrame);
    auto m = dplay8::DecodePlayerConnectInfo(ByteSpan(udp).subspan(4));  // after the DFRAME
    ASSERT_TRUE(m);
    dplay8::HostSettings host;
    host.instance = *dplay8::ParseGuid(kInstance);
    host.application = *dplay8::ParseGuid(kApplication);
    EXPECT_EQ(dplay8::CheckConnectRequest(*m, host), dplay8::kErrInvalidInterface);
    m->flags = dplay8::kConnectFlagClient;
    EXPECT_EQ(dplay8::CheckConnectRequest(*m, host), dplay8::kOk);

    dplay8::ConnectFailed failed{dplay8::kErrInvalidInterface, {}};
    auto back = dplay8::DecodeConnectFailed(dplay8::Encode(failed));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->result, dplay8::kErrInvalidInterface);
    EXPECT_EQ(ToHex(dplay8::Encode(failed)), "C5 00 00 00 90 83 15 80 00 00 00 00 00 00 00 00");
}

// [MC-DPL8CS] 4: the host's SEND_CONNECT_INFO answering it.
const Bytes kSendConnectInfoFrame = Hex(R"(
00 0B DB 5C 3F 45 00 0A E4 03 27 73 08 00 45 00
01 94 06 95 00 00 80 11 D2 6C 41 34 EE B1 41 34
EF 3D 08 FE 08 FE 01 80 0D 9F 7F 00 01 02 C2 00
00 00 00 00 00 00 00 00 00 00 50 00 00 00 04 00
00 00 00 00 00 00 02 00 00 00 56 01 00 00 1A 00
00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
00 00 00 00 00 00 00 00 00 00 23 81 BE 94 AB A1
FB 48 A2 E7 23 85 9E 65 89 36 DA 80 EF 61 1B 69
47 42 9A DD 1C 7B ED 2B C1 3E 20 81 8E 94 03 00
00 00 00 00 00 00 02 00 00 00 00 00 00 00 21 81
9E 94 00 00 00 00 02 01 00 00 02 00 00 00 00 00
00 00 07 00 00 00 42 01 00 00 14 00 00 00 00 00
00 00 00 00 00 00 00 00 00 00 00 00 00 00 20 81
8E 94 00 00 00 00 00 01 00 00 03 00 00 00 00 00
00 00 08 00 00 00 2E 01 00 00 14 00 00 00 00 00
00 00 00 00 00 00 CC 00 00 00 62 00 00 00 78 2D
64 69 72 65 63 74 70 6C 61 79 3A 2F 70 72 6F 76
69 64 65 72 3D 25 37 42 45 42 46 45 37 42 41 30
2D 36 32 38 44 2D 31 31 44 32 2D 41 45 30 46 2D
30 30 36 30 39 37 42 30 31 34 31 31 25 37 44 3B
68 6F 73 74 6E 61 6D 65 3D 36 35 2E 35 32 2E 32
33 39 2E 36 31 3B 70 6F 72 74 3D 32 33 30 32 00
54 00 65 00 73 00 74 00 20 00 55 00 73 00 65 00
72 00 00 00 54 00 65 00 73 00 74 00 20 00 55 00
73 00 65 00 72 00 00 00 54 00 65 00 73 00 74 00
20 00 53 00 65 00 73 00 73 00 69 00 6F 00 6E 00
00 00)");

TEST(Dplay8CoreExamples, SendConnectInfoDecodesAndEncodesIdentically) {
    Bytes udp = UdpPayload(kSendConnectInfoFrame);
    ByteSpan payload;
    auto h = dplay8::DecodeDataFrame(udp, true, payload);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->seq, 1);
    EXPECT_EQ(h->next_recv, 2);
    auto m = dplay8::DecodeSendConnectInfo(payload);
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->reply.empty());
    EXPECT_EQ(m->desc.size, 0x50u);
    EXPECT_EQ(m->desc.flags, dplay8::kSessionMigrateHost);
    EXPECT_EQ(m->desc.max_players, 0u);
    EXPECT_EQ(m->desc.current_players, 2u);
    EXPECT_EQ(m->desc.session_name, u"Test Session");
    EXPECT_FALSE(m->desc.password);
    EXPECT_EQ(dplay8::ToString(m->desc.instance), kInstance);
    EXPECT_EQ(dplay8::ToString(m->desc.application), kApplication);
    EXPECT_EQ(m->dpnid, 0x948E8120u);
    EXPECT_EQ(m->version, 3u);
    ASSERT_EQ(m->entries.size(), 2u);
    EXPECT_TRUE(m->memberships.empty());
    const auto& host = m->entries[0];
    EXPECT_EQ(host.dpnid, 0x949E8121u);
    EXPECT_EQ(host.flags, dplay8::kEntryHost | dplay8::kEntryPeer);
    EXPECT_EQ(host.version, 2u);
    EXPECT_EQ(host.dnet_version, 7u);
    EXPECT_EQ(host.name, u"Test User");
    EXPECT_TRUE(host.url.empty());
    const auto& joining = m->entries[1];
    EXPECT_EQ(joining.dpnid, 0x948E8120u);
    EXPECT_EQ(joining.flags, dplay8::kEntryPeer);
    EXPECT_EQ(joining.version, 3u);
    EXPECT_EQ(joining.dnet_version, 8u);
    EXPECT_EQ(joining.name, u"Test User");
    EXPECT_EQ(joining.url,
              "x-directplay:/provider=%7BEBFE7BA0-628D-11D2-AE0F-006097B01411%7D;"
              "hostname=65.52.239.61;port=2302");
    EXPECT_EQ(ToHex(dplay8::Encode(*m)), ToHex(Bytes(payload.begin(), payload.end())));
}

TEST(Dplay8CoreExamples, PlayerIdsAreIndexAndVersionXoredWithTheInstance) {
    dplay8::Guid instance = *dplay8::ParseGuid(kInstance);
    EXPECT_EQ(dplay8::MakeDpnid(3, 3, instance), 0x948E8120u);  // the joining peer
    EXPECT_EQ(dplay8::MakeDpnid(2, 2, instance), 0x949E8121u);  // the host
    EXPECT_EQ(dplay8::DpnidIndex(0x948E8120u, instance), 3u);
    EXPECT_EQ(dplay8::DpnidVersion(0x948E8120u, instance), 3u);
    dplay8::Guid worked;  // the document's worked example: index 5, version 10
    worked.data1 = 0xA1B2C3D4;
    EXPECT_EQ(dplay8::MakeDpnid(5, 10, worked), 0xA112C3D1u);
    // [MC-DPLNAT] 4.2 names two players of the instance {C0A65D4F-...}.
    dplay8::Guid nat = *dplay8::ParseGuid("{C0A65D4F-9CE3-4F70-80DE-3AB4DF6F09B6}");
    EXPECT_EQ(dplay8::DpnidIndex(0xC0965D4Cu, nat), 3u);
    EXPECT_EQ(dplay8::DpnidIndex(0xC0F65D4Bu, nat), 4u);
}

// [MC-DPL8CS] 4: application data between peers, 400 bytes that start with "HI THERE".
TEST(Dplay8CoreExamples, ApplicationDataTravelsWithoutSessionHeader) {
    const Bytes start =
        Hex("3D 00 05 03 01 00 48 00 49 00 20 00 54 00 48 00 45 00 52 00 45 00 00 00");
    ByteSpan payload;
    auto h = dplay8::DecodeDataFrame(start, true, payload);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->command & dplay8::kCommandUser1, 0);  // not a session message
    EXPECT_EQ(h->seq, 5);
    EXPECT_EQ(h->next_recv, 3);
    EXPECT_EQ(payload.size(), start.size() - 4);
}

// [MC-DPLNAT] 4.2: an instructed CONNECT and its retry, which repeats the timestamp.
TEST(Dplay8NatExamples, ConnectAndItsRetry) {
    const Bytes first = Hex("88 01 00 00 06 00 01 00 E4 1C B0 50 E4 CA 32 00");
    const Bytes retry = Hex("88 01 01 00 06 00 01 00 E4 1C B0 50 E4 CA 32 00");
    auto f = dplay8::DecodeHandshake(first);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->session_id, 0x50B01CE4u);
    EXPECT_EQ(f->timestamp, 0x0032CAE4u);

    dplay8::ConnectionConfig config;
    const dplay8::Millis t0 = 0x0032CAE4;
    auto c = dplay8::Connection::Connect(config, 0x50B01CE4, t0);
    EXPECT_EQ(ToHex(Drain(c, t0)), ToHex(first));
    Bytes none;
    EXPECT_FALSE(c.PollTransmit(t0 + 199, none));
    EXPECT_EQ(c.NextTimeout(), t0 + 200);  // the first connect retry comes after 200 ms
    c.HandleTimeout(t0 + 200);
    EXPECT_EQ(ToHex(Drain(c, t0 + 200)), ToHex(retry));
}

}  // namespace

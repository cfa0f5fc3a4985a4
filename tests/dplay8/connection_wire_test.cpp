// A connection's answers to hand-made datagrams: which sequence numbers the bits of SACK
// and send masks stand for, early delivery of non-sequential frames, coalesced parts, the
// handshake's repair paths and the limits that protect a receiver.

#include <gtest/gtest.h>

#include "dplay8/coalesce.h"
#include "dplay8/frames.h"
#include "simulated_network.h"

namespace {

using dplay8::Bytes;
using dplay8::Connection;
using dplay8::EventType;
using dplay8::Millis;
using dplay8_test::LinkConditions;
using dplay8_test::Side;
using dplay8_test::SimulatedLink;

// A connected pair whose opening keep-alives (sequence 0 each way) are acknowledged, so the
// next frame either side expects is sequence 1.
SimulatedLink ConnectedPair(dplay8::ConnectionConfig server_config = {}) {
    SimulatedLink link(1, LinkConditions{.delay = 1}, {}, server_config);
    link.RunUntil([&] { return link.server() && link.server()->is_connected(); }, 10000);
    link.RunFor(1000);
    return link;
}

Bytes DataFrame(uint8_t command, uint8_t seq, const Bytes& payload, uint64_t send_mask = 0,
                uint8_t control = 0) {
    dplay8::DataFrameHeader h;
    h.command = command;
    h.control = control;
    h.seq = seq;
    h.next_recv = 1;
    h.send_mask = send_mask;
    Bytes out;
    dplay8::EncodeDataHeader(h, out);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

constexpr uint8_t kWhole = dplay8::kCommandNewMsg | dplay8::kCommandEndMsg;
constexpr uint8_t kReliableSequential = dplay8::kCommandReliable | dplay8::kCommandSequential;

std::vector<Bytes> Messages(Connection& c) {
    std::vector<Bytes> out;
    while (auto e = c.PollEvent()) {
        if (e->type == EventType::kMessage)
            out.push_back(e->data);
    }
    return out;
}

std::optional<dplay8::SackFrame> NextSack(Connection& c, Millis now) {
    c.HandleTimeout(now);
    Bytes out;
    while (c.PollTransmit(now, out)) {
        if (auto s = dplay8::DecodeSack(out))
            return s;
    }
    return std::nullopt;
}

TEST(Dplay8ConnectionWire, SackMaskBitZeroIsTheFrameAfterNextReceive) {
    SimulatedLink link = ConnectedPair();
    Connection& server = *link.server();
    Millis now = link.now();
    server.HandleDatagram(DataFrame(kReliableSequential | kWhole, 2, {'b'}), now);
    EXPECT_TRUE(Messages(server).empty());   // waits for sequence 1
    auto sack = NextSack(server, now + 20);  // out of order: the short acknowledgment delay
    ASSERT_TRUE(sack);
    EXPECT_EQ(sack->next_recv, 1);
    EXPECT_EQ(sack->sack_mask, 0x1u);
    server.HandleDatagram(DataFrame(kReliableSequential | kWhole, 4, {'d'}), now + 30);
    sack = NextSack(server, now + 50);
    ASSERT_TRUE(sack);
    EXPECT_EQ(sack->sack_mask, 0x5u);  // sequences 2 and 4
}

TEST(Dplay8ConnectionWire, SendMaskBitZeroIsTheFrameBeforeTheSequence) {
    SimulatedLink link = ConnectedPair();
    Connection& server = *link.server();
    Millis now = link.now();
    // Sequence 2 says that sequence 1 was given up, so 2 is next in order.
    server.HandleDatagram(DataFrame(dplay8::kCommandSequential | kWhole, 2, {'m', '2'}, 0x1), now);
    auto got = Messages(server);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], (Bytes{'m', '2'}));
    auto sack = NextSack(server, now + 200);
    ASSERT_TRUE(sack);
    EXPECT_EQ(sack->next_recv, 3);
    EXPECT_EQ(sack->sack_mask, 0u);
    // A late copy of the given-up frame is not delivered.
    server.HandleDatagram(DataFrame(dplay8::kCommandSequential | kWhole, 1, {'m', '1'}), now + 300);
    EXPECT_TRUE(Messages(server).empty());
}

TEST(Dplay8ConnectionWire, NonSequentialFramesAreDeliveredBeforeTheGapCloses) {
    SimulatedLink link = ConnectedPair();
    Connection& server = *link.server();
    Millis now = link.now();
    server.HandleDatagram(DataFrame(dplay8::kCommandReliable | kWhole, 2, {'n'}), now);
    EXPECT_EQ(Messages(server), std::vector<Bytes>{{'n'}});
    server.HandleDatagram(DataFrame(kReliableSequential | kWhole, 1, {'s'}), now + 5);
    EXPECT_EQ(Messages(server), std::vector<Bytes>{{'s'}});  // 'n' is not repeated
    server.HandleDatagram(DataFrame(dplay8::kCommandReliable | kWhole, 2, {'n'}), now + 6);
    EXPECT_TRUE(Messages(server).empty());
}

TEST(Dplay8ConnectionWire, CoalescedPartsArriveInOrderWithTheirOwnFlags) {
    SimulatedLink link = ConnectedPair();
    Connection& server = *link.server();
    Bytes a{'a', 'a', 'a'}, b{'b'};
    std::vector<dplay8::CoalescedPart> parts{
        {uint8_t(kReliableSequential | dplay8::kCommandUser1), a}, {dplay8::kCommandSequential, b}};
    Bytes payload;
    ASSERT_TRUE(dplay8::EncodeCoalesced(parts, payload));
    server.HandleDatagram(
        DataFrame(kReliableSequential | kWhole, 1, payload, 0, dplay8::kControlCoalesce),
        link.now());
    std::vector<dplay8::Event> events;
    while (auto e = server.PollEvent()) {
        if (e->type == EventType::kMessage)
            events.push_back(*e);
    }
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].data, a);
    EXPECT_TRUE(events[0].guaranteed);
    EXPECT_EQ(events[0].user_flags, dplay8::kCommandUser1);
    EXPECT_EQ(events[1].data, b);
    EXPECT_FALSE(events[1].guaranteed);
    EXPECT_EQ(events[1].user_flags, 0);
}

TEST(Dplay8ConnectionWire, KeepAliveForAnotherSessionIsIgnored) {
    SimulatedLink link = ConnectedPair();
    Connection& server = *link.server();
    dplay8::DataFrameHeader h;
    h.command = kReliableSequential | kWhole | dplay8::kCommandPoll;
    h.seq = 1;
    h.next_recv = 1;
    h.session_id = server.session_id() ^ 1;
    Bytes frame;
    dplay8::EncodeDataHeader(h, frame);
    server.HandleDatagram(frame, link.now());
    Bytes out;
    EXPECT_FALSE(server.PollTransmit(link.now(), out));  // not even acknowledged
    h.session_id = server.session_id();
    frame.clear();
    dplay8::EncodeDataHeader(h, frame);
    server.HandleDatagram(frame, link.now());
    auto sack = NextSack(server, link.now());
    ASSERT_TRUE(sack);
    EXPECT_EQ(sack->next_recv, 2);
    EXPECT_TRUE(Messages(server).empty());  // a keep-alive carries no message
}

TEST(Dplay8ConnectionWire, OversizedIncomingMessageEndsTheConnection) {
    dplay8::ConnectionConfig small;
    small.max_message_size = 3000;
    SimulatedLink link = ConnectedPair(small);
    Connection& server = *link.server();
    Bytes chunk(1300, 'x');
    server.HandleDatagram(DataFrame(kReliableSequential | dplay8::kCommandNewMsg, 1, chunk),
                          link.now());
    server.HandleDatagram(DataFrame(kReliableSequential, 2, chunk), link.now());
    EXPECT_TRUE(server.is_connected());
    server.HandleDatagram(DataFrame(kReliableSequential, 3, chunk), link.now());
    EXPECT_EQ(server.state(), dplay8::ConnectionState::kClosed);
    bool disconnected = false;
    while (auto e = server.PollEvent()) {
        if (e->type == EventType::kDisconnected) {
            disconnected = true;
            EXPECT_EQ(e->reason, dplay8::DisconnectReason::kProtocolError);
        }
    }
    EXPECT_TRUE(disconnected);
    Bytes out;
    ASSERT_TRUE(server.PollTransmit(link.now(), out));
    EXPECT_EQ(dplay8::CommandOpcode(out), dplay8::kOpHardDisconnect);
}

TEST(Dplay8ConnectionWire, ListenerRepairsTheHandshake) {
    dplay8::ConnectionConfig config;
    Millis now = 5000;
    Connection connector = Connection::Connect(config, 77, now);
    Bytes connect;
    ASSERT_TRUE(connector.PollTransmit(now, connect));
    auto listener = Connection::Accept(config, connect, now);
    ASSERT_TRUE(listener);
    Bytes connected;
    ASSERT_TRUE(listener->PollTransmit(now, connected));

    // A repeated CONNECT is answered at once, echoing its message id.
    connector.HandleTimeout(now + 200);
    Bytes retry;
    ASSERT_TRUE(connector.PollTransmit(now + 200, retry));
    listener->HandleDatagram(retry, now + 201);
    Bytes again;
    ASSERT_TRUE(listener->PollTransmit(now + 201, again));
    auto f = dplay8::DecodeHandshake(again);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->opcode, dplay8::kOpConnected);
    EXPECT_EQ(f->rsp_id, 1);

    // The connector's CONNECTED is lost; its first data frame completes the listener.
    connector.HandleDatagram(connected, now + 210);
    Bytes confirm, keepalive;
    ASSERT_TRUE(connector.PollTransmit(now + 210, confirm));
    ASSERT_TRUE(connector.PollTransmit(now + 210, keepalive));
    EXPECT_EQ(dplay8::ClassifyFrame(keepalive), dplay8::FrameKind::kData);
    EXPECT_FALSE(listener->is_connected());
    listener->HandleDatagram(keepalive, now + 211);
    EXPECT_TRUE(listener->is_connected());

    // A listener that retries CONNECTED to an established connector gets CONNECTED back.
    connector.HandleDatagram(again, now + 220);
    Bytes repeat;
    ASSERT_TRUE(connector.PollTransmit(now + 220, repeat));
    auto r = dplay8::DecodeHandshake(repeat);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->opcode, dplay8::kOpConnected);
    EXPECT_FALSE(r->poll);
}

TEST(Dplay8ConnectionWire, OnlyAPlausibleFirstFrameCompletesTheListener) {
    dplay8::ConnectionConfig config;
    Connection connector = Connection::Connect(config, 0xABCD, 0);
    Bytes connect;
    ASSERT_TRUE(connector.PollTransmit(0, connect));
    auto listener = Connection::Accept(config, connect, 0);
    ASSERT_TRUE(listener);
    listener->HandleDatagram(DataFrame(kReliableSequential | kWhole, 0x80, {1}), 1);
    listener->HandleDatagram(Bytes{0x01, 0x00, 0x00, 0x05}, 1);  // acknowledges our frame 4
    dplay8::DataFrameHeader h;
    h.command = kReliableSequential | kWhole;
    h.session_id = 0xABCE;  // a keep-alive for another session
    Bytes wrong;
    dplay8::EncodeDataHeader(h, wrong);
    listener->HandleDatagram(wrong, 1);
    EXPECT_EQ(listener->state(), dplay8::ConnectionState::kAwaitingConfirm);
    h.session_id = 0xABCD;
    Bytes right;
    dplay8::EncodeDataHeader(h, right);
    listener->HandleDatagram(right, 2);
    EXPECT_TRUE(listener->is_connected());
}

TEST(Dplay8ConnectionWire, AcceptRefusesAnythingButACompatibleConnect) {
    dplay8::ConnectionConfig config;
    dplay8::HandshakeFrame f;
    f.session_id = 9;
    Bytes wire;
    dplay8::EncodeHandshake(f, wire);
    EXPECT_TRUE(Connection::Accept(config, wire, 0));
    f.version = 0x00020006;  // another major version
    wire.clear();
    dplay8::EncodeHandshake(f, wire);
    EXPECT_FALSE(Connection::Accept(config, wire, 0));
    f.version = dplay8::kProtocolVersion;
    f.opcode = dplay8::kOpConnected;
    wire.clear();
    dplay8::EncodeHandshake(f, wire);
    EXPECT_FALSE(Connection::Accept(config, wire, 0));
    EXPECT_FALSE(Connection::Accept(config, Bytes{0x88, 0x01}, 0));
}

TEST(Dplay8ConnectionWire, SendRefusesWhatCannotGo) {
    SimulatedLink link = ConnectedPair();
    EXPECT_FALSE(link.client().Send(Bytes{}, {}, link.now()));
    dplay8::ConnectionConfig config;
    Connection connecting = Connection::Connect(config, 1, 0);
    EXPECT_FALSE(connecting.Send(Bytes{1}, {}, 0));
}

}  // namespace

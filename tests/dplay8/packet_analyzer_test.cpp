// Wireshark's DirectPlay 8 dissector reads a capture of an enumeration, a handshake and a
// lossy exchange the way we meant it: nothing malformed, and the fields of every
// enumeration message and command frame equal what was sent. Skipped when tshark is not
// installed.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "dplay8/core_types.h"
#include "dplay8/enum_messages.h"
#include "dplay8/frames.h"
#include "pcap_writer.h"
#include "simulated_network.h"
#include "support/temp_dir.h"

namespace {

using dplay8::Bytes;
using dplay8_test::CapturedDatagram;
using dplay8_test::UdpEndpoint;

constexpr uint16_t kServerPort = 25857;
const char* kFields[] = {"frame.number",
                         "dpnet.command",
                         "dpnet.payload",
                         "dpnet.application",
                         "dpnet.cframe.control",
                         "dpnet.cframe.msg_id",
                         "dpnet.cframe.rsp_id",
                         "dpnet.cframe.protocol",
                         "dpnet.cframe.session",
                         "dpnet.cframe.timestamp",
                         "dpnet.cframe.nseq",
                         "dpnet.cframe.nrcv",
                         "dpnet.cframe.sack.mask1",
                         "dpnet.cframe.send.mask1",
                         "dpnet.session_name",
                         "dpnet.instance",
                         "dpnet.max_players",
                         "dpnet.current_players",
                         "_ws.malformed",
                         "_ws.expert.severity"};
constexpr size_t kFieldCount = sizeof kFields / sizeof kFields[0];

std::string Hex(uint32_t v, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*x", digits, v);
    return buf;
}

// The dissector prints a GUID as its 16 bytes in wire order for the query's application,
// and in the Windows reading for the response; both from the same bytes.
std::string WireOrderGuid(const dplay8::Guid& g) {
    Bytes b;
    dplay8::ByteWriter w(b);
    dplay8::WriteGuid(w, g);
    std::string s;
    char buf[4];
    for (size_t i = 0; i < b.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            s += '-';
        std::snprintf(buf, sizeof buf, "%02x", b[i]);
        s += buf;
    }
    return s;
}

std::string WindowsGuid(const dplay8::Guid& g) {
    std::string s = dplay8::ToString(g).substr(1, 36);
    for (char& c : s)
        c = char(std::tolower(c));
    return s;
}

std::string Ascii(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

// The row we expect tshark to print for one datagram we sent, from our own decoders.
std::vector<std::string> Expected(size_t number, const Bytes& d) {
    std::vector<std::string> row(kFieldCount);
    row[0] = std::to_string(number);
    // Enumeration messages start with a zero lead byte and have their command second.
    row[1] = Hex(d[0] == 0 ? d[1] : d[0], 2);
    if (auto q = dplay8::DecodeEnumQuery(d)) {
        row[2] = Hex(q->enum_payload, 4);
        if (q->application)
            row[3] = WireOrderGuid(*q->application);
    } else if (auto r = dplay8::DecodeEnumResponse(d)) {
        row[2] = Hex(r->enum_payload, 4);
        row[3] = WindowsGuid(r->application);
        row[14] = Ascii(r->session_name);
        row[15] = WindowsGuid(r->instance);
        row[16] = std::to_string(r->max_players);
        row[17] = std::to_string(r->current_players);
    } else if (auto h = dplay8::DecodeHandshake(d)) {
        row[4] = Hex(h->opcode, 2);
        row[5] = Hex(h->msg_id, 2);
        row[6] = Hex(h->rsp_id, 2);
        row[7] = Hex(h->version, 8);
        row[8] = Hex(h->session_id, 8);
        row[9] = std::to_string(h->timestamp);
    } else if (auto s = dplay8::DecodeSack(d)) {
        row[4] = Hex(dplay8::kOpSack, 2);
        row[9] = std::to_string(s->timestamp);
        row[10] = Hex(s->next_seq, 2);
        row[11] = Hex(s->next_recv, 2);
        if (uint32_t(s->sack_mask))
            row[12] = Hex(uint32_t(s->sack_mask), 8);
        if (uint32_t(s->send_mask))
            row[13] = Hex(uint32_t(s->send_mask), 8);
    }
    return row;
}

std::vector<CapturedDatagram> Capture() {
    UdpEndpoint client{0x0A000001, 2302}, server{0x0A000002, kServerPort};
    std::vector<CapturedDatagram> out;
    dplay8::EnumQuery query;
    query.enum_payload = 0x4E2A;
    query.application = dplay8::ParseGuid("{61EF80DA-691B-4247-9ADD-1C7BED2BC13E}");
    out.push_back({0, client, server, dplay8::Encode(query)});
    dplay8::EnumQuery broad;
    broad.enum_payload = 0x4E2B;
    out.push_back({5, client, server, dplay8::Encode(broad)});
    dplay8::EnumResponse response;
    response.enum_payload = 0x4E2A;
    response.flags = dplay8::kSessionClientServer;
    response.max_players = 32;
    response.current_players = 5;
    response.session_name = u"EmberRealms";
    response.instance = *dplay8::ParseGuid("{94BE8123-A1AB-48FB-A2E7-23859E658936}");
    response.application = *query.application;
    response.reply = {1, 2, 3, 4};
    out.push_back({10, server, client, dplay8::Encode(response)});

    // A handshake, then traffic over a lossy link so that SACKs carry masks.
    dplay8_test::SimulatedLink link(42, {.loss = 0.15, .delay = 15, .jitter = 20});
    link.RunUntil([&] { return link.server() && link.server()->is_connected(); }, 60000);
    for (uint32_t i = 0; i < 120; ++i) {
        dplay8::SendOptions options{.guaranteed = i % 3 != 0};
        link.client().Send(Bytes(8 + i % 40, uint8_t(i)), options, link.now());
        if (i % 10 == 0)
            link.RunFor(30);
    }
    link.RunFor(5000);
    for (const auto& w : link.wire()) {
        bool from_client = w.from == dplay8_test::Side::kClient;
        out.push_back(
            {w.at, from_client ? client : server, from_client ? server : client, w.bytes});
    }
    return out;
}

std::vector<std::vector<std::string>> RunTshark(const std::string& pcap) {
    std::string command = "tshark -r '" + pcap + "' -d udp.port==" + std::to_string(kServerPort) +
                          ",dpnet -T fields -E separator='|' -E occurrence=f";
    for (const char* f : kFields)
        command += std::string(" -e ") + f;
    command += " 2>/dev/null";
    std::vector<std::vector<std::string>> rows;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return rows;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        text.append(buf, n);
    pclose(pipe);
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> row;
        std::string cell;
        std::istringstream cells(line);
        while (std::getline(cells, cell, '|'))
            row.push_back(cell);
        row.resize(kFieldCount);
        rows.push_back(row);
    }
    return rows;
}

TEST(Dplay8PacketAnalyzer, TsharkReadsEnumerationHandshakeAndAcknowledgmentsAsSent) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "tshark is not installed";
    }
    er_test::TempDir dir;
    std::string pcap = (dir.path() / "dplay8.pcap").string();
    auto captured = Capture();
    ASSERT_TRUE(dplay8_test::WritePcap(pcap, captured));
    auto rows = RunTshark(pcap);
    ASSERT_EQ(rows.size(), captured.size());

    int connects = 0, connecteds = 0, sacks = 0, masked_sacks = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const Bytes& d = captured[i].payload;
        auto expected = Expected(i + 1, d);
        for (size_t f = 0; f < kFieldCount; ++f) {
            EXPECT_EQ(rows[i][f], expected[f]) << kFields[f] << " of packet " << i + 1;
        }
        uint8_t op = dplay8::CommandOpcode(d);
        connects += op == dplay8::kOpConnect;
        connecteds += op == dplay8::kOpConnected;
        sacks += op == dplay8::kOpSack;
        masked_sacks += op == dplay8::kOpSack && (!expected[12].empty() || !expected[13].empty());
    }
    EXPECT_GE(connects, 1);
    EXPECT_GE(connecteds, 2);
    EXPECT_GT(sacks, 0);
    EXPECT_GT(masked_sacks, 0);
}

}  // namespace

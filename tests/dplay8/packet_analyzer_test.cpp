// Wireshark's DirectPlay 8 dissector reads a capture of an enumeration, a handshake and a lossy
// exchange the way we meant it: nothing malformed, and the fields of every enumeration message
// and command frame equal what was sent. Skipped when tshark is not installed.

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "dplay8/core_types.h"
#include "dplay8/enum_messages.h"
#include "dplay8/frames.h"
#include "simulated_network.h"
#include "support/temp_dir.h"

// Designated initializers name only the fields that matter.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace dplay8;

constexpr uint16_t kServerPort = 25857;
const char* kFields[] = {
    "dpnet.command",           "dpnet.payload",         "dpnet.application",
    "dpnet.cframe.control",    "dpnet.cframe.msg_id",   "dpnet.cframe.rsp_id",
    "dpnet.cframe.protocol",   "dpnet.cframe.session",  "dpnet.cframe.timestamp",
    "dpnet.cframe.nseq",       "dpnet.cframe.nrcv",     "dpnet.cframe.sack.mask1",
    "dpnet.cframe.send.mask1", "dpnet.session_name",    "dpnet.instance",
    "dpnet.max_players",       "dpnet.current_players", "_ws.malformed",
    "_ws.expert.severity"};
constexpr size_t kFieldCount = std::size(kFields);

struct Captured {
    Millis at;
    bool from_client;
    Bytes payload;
};

// Each datagram as Ethernet, IPv4 (10.0.0.1 client, 10.0.0.2 server) and UDP in a pcap file.
void WritePcap(const std::string& path, const std::vector<Captured>& datagrams) {
    Bytes file;
    auto le = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            file.push_back(uint8_t(v >> (8 * i)));
    };
    le(0xA1B2C3D4, 4), le(2, 2), le(4, 2), le(0, 4), le(0, 4), le(65535, 4), le(1, 4);
    for (const auto& d : datagrams) {
        Bytes f = {2, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0, 1, 0x08, 0x00, 0x45, 0};
        auto be = [&](uint32_t v, int n) {
            for (int i = n - 1; i >= 0; --i)
                f.push_back(uint8_t(v >> (8 * i)));
        };
        const uint32_t client = 0x0A000001, server = 0x0A000002;
        be(uint32_t(28 + d.payload.size()), 2), be(0, 4), be(0x4011, 2), be(0, 2);
        be(d.from_client ? client : server, 4), be(d.from_client ? server : client, 4);
        uint32_t sum = 0;  // the IPv4 header checksum
        for (size_t i = 14; i < 34; i += 2)
            sum += uint32_t(f[i] << 8 | f[i + 1]);
        while (sum >> 16)
            sum = (sum & 0xFFFF) + (sum >> 16);
        sum = ~sum;
        f[24] = uint8_t(sum >> 8), f[25] = uint8_t(sum);
        be(d.from_client ? 2302 : kServerPort, 2), be(d.from_client ? kServerPort : 2302, 2);
        be(uint32_t(8 + d.payload.size()), 2), be(0, 2);
        f.insert(f.end(), d.payload.begin(), d.payload.end());
        le(uint32_t(d.at / 1000), 4), le(uint32_t(d.at % 1000 * 1000), 4);
        le(uint32_t(f.size()), 4), le(uint32_t(f.size()), 4);
        file.insert(file.end(), f.begin(), f.end());
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
}

std::string Hex(uint32_t v, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*x", digits, v);
    return buf;
}

// The dissector prints the query's application GUID as its 16 bytes in wire order, the
// response's GUIDs in the Windows reading.
std::string GuidText(const Guid& g, bool wire_order) {
    if (!wire_order) {
        std::string s = ToString(g).substr(1, 36);
        for (char& c : s)
            c = char(std::tolower(c));
        return s;
    }
    Bytes b;
    ByteWriter w(b);
    WriteGuid(w, g);
    std::string s;
    for (size_t i = 0; i < b.size(); ++i)
        s += (i == 4 || i == 6 || i == 8 || i == 10 ? "-" : "") + Hex(b[i], 2).substr(2);
    return s;
}

// The row we expect tshark to print for one datagram we sent, from our own decoders.
std::vector<std::string> Expected(const Bytes& d) {
    std::vector<std::string> row(kFieldCount);
    row[0] = Hex(d[0] == 0 ? d[1] : d[0], 2);  // enumeration has its command second
    if (auto q = DecodeEnumQuery(d)) {
        row[1] = Hex(q->enum_payload, 4);
        row[2] = q->application ? GuidText(*q->application, true) : "";
    } else if (auto r = DecodeEnumResponse(d)) {
        row[1] = Hex(r->enum_payload, 4);
        row[2] = GuidText(r->application, false);
        row[13] = std::string(r->session_name.begin(), r->session_name.end());
        row[14] = GuidText(r->instance, false);
        row[15] = std::to_string(r->max_players);
        row[16] = std::to_string(r->current_players);
    } else if (auto h = DecodeHandshake(d)) {
        row[3] = Hex(h->opcode, 2), row[4] = Hex(h->msg_id, 2), row[5] = Hex(h->rsp_id, 2);
        row[6] = Hex(h->version, 8), row[7] = Hex(h->session_id, 8);
        row[8] = std::to_string(h->timestamp);
    } else if (auto s = DecodeSack(d)) {
        row[3] = Hex(kOpSack, 2), row[8] = std::to_string(s->timestamp);
        row[9] = Hex(s->next_seq, 2), row[10] = Hex(s->next_recv, 2);
        row[11] = uint32_t(s->sack_mask) ? Hex(uint32_t(s->sack_mask), 8) : "";
        row[12] = uint32_t(s->send_mask) ? Hex(uint32_t(s->send_mask), 8) : "";
    }
    return row;
}

std::vector<Captured> Capture() {
    const EnumQuery query{0x4E2A, ParseGuid("{61EF80DA-691B-4247-9ADD-1C7BED2BC13E}"), {}};
    const EnumResponse response{0x4E2A,
                                0x50,
                                kSessionClientServer,
                                32,
                                5,
                                u"EmberRealms",
                                {},
                                {},
                                {},
                                *ParseGuid("{94BE8123-A1AB-48FB-A2E7-23859E658936}"),
                                *query.application,
                                {1, 2, 3, 4}};
    std::vector<Captured> out = {{0, true, Encode(query)},
                                 {5, true, Encode(EnumQuery{.enum_payload = 0x4E2B})},
                                 {10, false, Encode(response)}};
    // A handshake, then traffic over a lossy link so that SACKs carry masks.
    dplay8_test::SimulatedLink link(42, {.loss = 0.15, .delay = 15, .jitter = 20});
    link.RunUntil([&] { return link.connected(); }, 60000);
    for (uint32_t i = 0; i < 120; ++i) {
        link.client().Send(Bytes(8 + i % 40, uint8_t(i)), {.guaranteed = i % 3 != 0}, link.now());
        if (i % 10 == 0)
            link.RunFor(30);
    }
    link.RunFor(5000);
    for (const auto& w : link.wire())
        out.push_back({w.at, w.from == dplay8_test::Side::kClient, w.bytes});
    return out;
}

std::vector<std::vector<std::string>> RunTshark(const std::string& pcap) {
    std::string command = "tshark -r '" + pcap + "' -d udp.port==" + std::to_string(kServerPort) +
                          ",dpnet -T fields -E separator='|' -E occurrence=f";
    for (const char* f : kFields)
        command += std::string(" -e ") + f;
    std::vector<std::vector<std::string>> rows;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    std::string text;
    char buf[4096];
    for (size_t n; pipe && (n = fread(buf, 1, sizeof buf, pipe)) > 0;)
        text.append(buf, n);
    if (pipe)
        pclose(pipe);
    std::istringstream lines(text);
    for (std::string line, cell; std::getline(lines, line);) {
        std::istringstream cells(line);
        rows.emplace_back();
        while (std::getline(cells, cell, '|'))
            rows.back().push_back(cell);
        rows.back().resize(kFieldCount);
    }
    return rows;
}

TEST(Dplay8PacketAnalyzer, TsharkReadsEnumerationHandshakeAndAcknowledgmentsAsSent) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tshark is not installed";
    er_test::TempDir dir;
    const std::string pcap = (dir.path() / "dplay8.pcap").string();
    auto captured = Capture();
    WritePcap(pcap, captured);
    auto rows = RunTshark(pcap);
    ASSERT_EQ(rows.size(), captured.size());
    int connects = 0, connecteds = 0, masked_sacks = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        auto expected = Expected(captured[i].payload);
        for (size_t f = 0; f < kFieldCount; ++f)
            EXPECT_EQ(rows[i][f], expected[f]) << kFields[f] << " of packet " << i + 1;
        const uint8_t op = CommandOpcode(captured[i].payload);
        connects += op == kOpConnect;
        connecteds += op == kOpConnected;
        masked_sacks += op == kOpSack && !(expected[11] + expected[12]).empty();
    }
    EXPECT_GE(connects, 1);
    EXPECT_GE(connecteds, 2);
    EXPECT_GT(masked_sacks, 0);
}

}  // namespace

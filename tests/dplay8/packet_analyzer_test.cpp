// Wireshark's dissector shows every field of our datagrams as our decoders read them.

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

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace dplay8;

// clang-format off
const char* kFields[] = {"dpnet.command", "dpnet.payload", "dpnet.application", "dpnet.cframe.control", "dpnet.cframe.msg_id",
    "dpnet.cframe.rsp_id", "dpnet.cframe.protocol", "dpnet.cframe.session", "dpnet.cframe.timestamp", "dpnet.cframe.nseq",
    "dpnet.cframe.nrcv", "dpnet.cframe.sack.mask1", "dpnet.cframe.send.mask1", "dpnet.session_name", "dpnet.instance",
    "dpnet.max_players", "dpnet.current_players", "_ws.malformed", "_ws.expert.severity"};
// clang-format on
constexpr size_t kFieldCount = std::size(kFields);

std::string Hex(uint32_t v, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*x", digits, v);
    return buf;
}

// The dissector prints the query's application GUID as its 16 bytes in wire order, the
// response's GUIDs in the Windows reading.
std::string GuidText(const Guid& g, bool wire_order) {
    std::string s = ToString(g).substr(1, 36);
    for (char& c : s)
        c = char(std::tolower(c));
    if (wire_order) {
        Bytes b;
        ByteWriter w(b);
        WriteGuid(w, g);
        s.clear();
        for (size_t i = 0; i < b.size(); ++i)
            s += (i == 4 || i == 6 || i == 8 || i == 10 ? "-" : "") + Hex(b[i], 2).substr(2);
    }
    return s;
}

std::vector<std::string> Expected(const Bytes& d) {
    std::vector<std::string> row(kFieldCount);
    row[0] = Hex(d[0] == 0 ? d[1] : d[0], 2);  // enumeration has its command second
    if (auto q = DecodeEnumQuery(d)) {
        row[1] = Hex(q->enum_payload, 4);
        row[2] = q->application ? GuidText(*q->application, true) : "";
    } else if (auto r = DecodeEnumResponse(d)) {
        row[1] = Hex(r->enum_payload, 4), row[2] = GuidText(r->application, false);
        row[13] = std::string(r->session_name.begin(), r->session_name.end());
        row[14] = GuidText(r->instance, false);
        row[15] = std::to_string(r->max_players), row[16] = std::to_string(r->current_players);
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

std::vector<Bytes> Capture() {
    const EnumQuery query{0x4E2A, ParseGuid("{61EF80DA-691B-4247-9ADD-1C7BED2BC13E}"), {}};
    // clang-format off
    const EnumResponse response{0x4E2A, 0x50, kSessionClientServer, 32, 5, u"EmberRealms", {}, {},
        {}, *ParseGuid("{94BE8123-A1AB-48FB-A2E7-23859E658936}"), *query.application, {1, 2, 3, 4}};
    // clang-format on
    std::vector<Bytes> out = {Encode(query), Encode(EnumQuery{.enum_payload = 0x4E2B}),
                              Encode(response)};
    dplay8_test::SimulatedLink link(42, {.loss = 0.15, .delay = 15, .jitter = 20});  // SACK masks
    link.RunUntil([&] { return link.connected(); }, 60000);
    for (uint32_t i = 0; i < 120; ++i) {
        link.client.Send(Bytes(8 + i % 40, uint8_t(i)), {.guaranteed = i % 3 != 0}, link.now());
        if (i % 10 == 0)
            link.RunFor(30);
    }
    link.RunFor(5000);
    for (const auto& w : link.wire)
        out.push_back(w.bytes);
    return out;
}

TEST(Dplay8PacketAnalyzer, TsharkReadsEnumerationHandshakeAndAcknowledgmentsAsSent) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "tshark is not installed";
    er_test::TempDir dir;
    const std::string base = (dir.path() / "dplay8").string();
    auto captured = Capture();
    {
        std::ofstream dump(base + ".txt");  // text2pcap's hex dump: an offset, then the bytes
        for (const Bytes& d : captured) {
            dump << "000000";
            for (uint8_t b : d)
                dump << ' ' << Hex(b, 2).substr(2);
            dump << "\n";
        }
    }
    std::string command = "text2pcap -q -u 2302,25857 '" + base + ".txt' '" + base +
                          ".pcap' && tshark -r '" + base +
                          ".pcap' -d udp.port==25857,dpnet -T fields -E separator='|' "
                          "-E occurrence=f";
    for (const char* f : kFields)
        command += std::string(" -e ") + f;
    ASSERT_EQ(std::system((command + " >'" + base + ".out' 2>/dev/null").c_str()), 0);
    std::ifstream lines(base + ".out");
    size_t i = 0;
    int connects = 0, connecteds = 0, masked_sacks = 0;
    for (std::string line; std::getline(lines, line); ++i) {
        ASSERT_LT(i, captured.size());
        std::vector<std::string> row;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '|');)
            row.push_back(cell);
        row.resize(kFieldCount);
        auto expected = Expected(captured[i]);
        for (size_t f = 0; f < kFieldCount; ++f)
            EXPECT_EQ(row[f], expected[f]) << kFields[f] << " of packet " << i + 1;
        const uint8_t op = CommandOpcode(captured[i]);
        connects += op == kOpConnect;
        connecteds += op == kOpConnected;
        masked_sacks += op == kOpSack && !(expected[11] + expected[12]).empty();
    }
    EXPECT_EQ(i, captured.size());
    EXPECT_TRUE(connects >= 1 && connecteds >= 2 && masked_sacks > 0)
        << connects << " " << connecteds << " " << masked_sacks;
}

}  // namespace

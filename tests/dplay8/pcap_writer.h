#pragma once
// Writes UDP datagrams into a classic pcap file (Ethernet, IPv4, UDP) so that packet
// analysers can read what the transport sent.

#include <cstdint>
#include <string>
#include <vector>

namespace dplay8_test {

struct UdpEndpoint {
    uint32_t ip = 0;  // host order, 10.0.0.1 is 0x0A000001
    uint16_t port = 0;
};

struct CapturedDatagram {
    int64_t at_ms = 0;
    UdpEndpoint from;
    UdpEndpoint to;
    std::vector<uint8_t> payload;
};

// False when the file cannot be written.
bool WritePcap(const std::string& path, const std::vector<CapturedDatagram>& datagrams);

}  // namespace dplay8_test

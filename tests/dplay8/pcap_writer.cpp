#include "pcap_writer.h"

#include <fstream>

namespace dplay8_test {

namespace {

void Le32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
void Le16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Be16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}
void Be32(std::vector<uint8_t>& b, uint32_t v) {
    Be16(b, uint16_t(v >> 16));
    Be16(b, uint16_t(v));
}

uint16_t Ipv4Checksum(const uint8_t* header) {
    uint32_t sum = 0;
    for (int i = 0; i < 20; i += 2)
        sum += uint32_t(header[i] << 8 | header[i + 1]);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}

}  // namespace

bool WritePcap(const std::string& path, const std::vector<CapturedDatagram>& datagrams) {
    std::vector<uint8_t> file;
    Le32(file, 0xA1B2C3D4);  // microsecond timestamps
    Le16(file, 2);
    Le16(file, 4);
    Le32(file, 0);
    Le32(file, 0);
    Le32(file, 65535);
    Le32(file, 1);  // Ethernet
    uint16_t ip_id = 1;
    for (const auto& d : datagrams) {
        std::vector<uint8_t> frame;
        const uint8_t macs[12] = {2, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0, 1};
        frame.insert(frame.end(), macs, macs + 12);
        Be16(frame, 0x0800);
        size_t ip_at = frame.size();
        frame.push_back(0x45);
        frame.push_back(0);
        Be16(frame, uint16_t(20 + 8 + d.payload.size()));
        Be16(frame, ip_id++);
        Be16(frame, 0);
        frame.push_back(64);
        frame.push_back(17);  // UDP
        Be16(frame, 0);
        Be32(frame, d.from.ip);
        Be32(frame, d.to.ip);
        uint16_t sum = Ipv4Checksum(frame.data() + ip_at);
        frame[ip_at + 10] = uint8_t(sum >> 8);
        frame[ip_at + 11] = uint8_t(sum);
        Be16(frame, d.from.port);
        Be16(frame, d.to.port);
        Be16(frame, uint16_t(8 + d.payload.size()));
        Be16(frame, 0);  // no UDP checksum
        frame.insert(frame.end(), d.payload.begin(), d.payload.end());

        Le32(file, uint32_t(d.at_ms / 1000));
        Le32(file, uint32_t(d.at_ms % 1000 * 1000));
        Le32(file, uint32_t(frame.size()));
        Le32(file, uint32_t(frame.size()));
        file.insert(file.end(), frame.begin(), frame.end());
    }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    return bool(out);
}

}  // namespace dplay8_test

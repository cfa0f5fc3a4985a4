#pragma once
// A UDP endpoint (IPv4 address and port, both in host byte order) and the socket a datagram
// travelled on. The sans-IO host and client route by it; only the UDP loop knows sockaddr.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "dplay8/byte_io.h"

namespace dplay8 {

struct Endpoint {
    uint32_t address = 0;  // 127.0.0.1 is 0x7F000001
    uint16_t port = 0;
    friend bool operator==(const Endpoint&, const Endpoint&) = default;
};

struct EndpointHash {
    size_t operator()(const Endpoint& e) const noexcept {
        return std::hash<uint64_t>{}(uint64_t(e.address) << 16 | e.port);
    }
};

// "65.52.239.61"
std::string AddressText(uint32_t address);
// The DirectPlay address of an IP endpoint ([MC-DPL8CS] 2.2.8), as a host describes a
// joining player in the name table.
std::string EndpointUrl(const Endpoint& e);

// Which of the host's sockets a datagram arrived on or leaves from.
enum class SocketRole : uint8_t { kSession, kEnumeration };

struct Datagram {
    Endpoint peer;
    SocketRole socket = SocketRole::kSession;
    Bytes bytes;
};

}  // namespace dplay8

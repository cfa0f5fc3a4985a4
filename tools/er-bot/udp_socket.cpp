#include "udp_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace er_bot {

std::optional<sockaddr_in> Resolve(const std::string& host, uint16_t port, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found); rc != 0) {
        error = "cannot resolve '" + host + "': " + gai_strerror(rc);
        return std::nullopt;
    }
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    freeaddrinfo(found);
    address.sin_port = htons(port);
    return address;
}

int OpenUdpSocket(const sockaddr_in* connectTo, std::string& error, const sockaddr_in* bindTo) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("cannot open a UDP socket: ") + std::strerror(errno);
        return -1;
    }
    if (bindTo != nullptr &&
        bind(fd, reinterpret_cast<const sockaddr*>(bindTo), sizeof *bindTo) != 0) {
        error = "cannot send from " + AddressText(*bindTo) + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    if (connectTo != nullptr &&
        connect(fd, reinterpret_cast<const sockaddr*>(connectTo), sizeof *connectTo) != 0) {
        error = "cannot address " + AddressText(*connectTo) + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

std::string AddressText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

}  // namespace er_bot

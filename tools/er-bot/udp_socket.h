#pragma once
// The few socket calls the bot makes, IPv4 like the server: resolving the host, and opening a
// non-blocking UDP socket, connected to the server when one player uses it alone (so that the
// kernel keeps other senders out and reports a closed port).

#include <netinet/in.h>

#include <optional>
#include <string>

namespace er_bot {

std::optional<sockaddr_in> Resolve(const std::string& host, uint16_t port, std::string& error);
// -1 with `error` set on failure. `bindTo`, when given, is the local address to send from.
int OpenUdpSocket(const sockaddr_in* connectTo, std::string& error,
                  const sockaddr_in* bindTo = nullptr);
// "127.0.0.1:2302"
std::string AddressText(const sockaddr_in& address);

}  // namespace er_bot

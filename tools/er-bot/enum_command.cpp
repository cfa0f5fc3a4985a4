// er-bot enum: host enumeration, repeated until every port asked has answered or the time is up.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "commands.h"
#include "dplay8/core_types.h"
#include "dplay8/enum_messages.h"
#include "dplay8/udp_host.h"
#include "game_session.h"
#include "udp_socket.h"
#include "visible_text.h"

namespace er_bot {

namespace {

// Queries go out again at this interval until the answers are in, as a datagram may be lost.
constexpr dplay8::Millis kResendInterval = 500;

std::string PlayersText(const dplay8::EnumResponse& r) {
    return std::to_string(r.current_players) + "/" +
           (r.max_players == 0 ? std::string("unlimited") : std::to_string(r.max_players));
}

}  // namespace

int RunEnum(const EnumOptions& options) {
    std::string error;
    std::vector<sockaddr_in> targets;
    std::vector<uint16_t> ports;
    if (options.target.port)
        ports = {*options.target.port};
    else
        ports = {kDefaultGamePort, kEnumerationPort};
    for (uint16_t port : ports) {
        const auto address = Resolve(options.target.host, port, error);
        if (!address) {
            std::fprintf(stderr, "er-bot: %s\n", error.c_str());
            return 1;
        }
        targets.push_back(*address);
    }
    const int fd = OpenUdpSocket(nullptr, error);
    if (fd < 0) {
        std::fprintf(stderr, "er-bot: %s\n", error.c_str());
        return 1;
    }
    const auto payload = uint16_t(std::random_device{}());
    const dplay8::Bytes query = dplay8::Encode(dplay8::EnumQuery{payload, GameApplication(), {}});

    std::set<std::tuple<uint32_t, uint16_t, std::string>> seen;  // source and instance
    std::vector<uint8_t> buffer(65536);
    const dplay8::Millis deadline = dplay8::MonotonicMillis() + options.timeoutMs;
    dplay8::Millis nextSend = 0;
    for (dplay8::Millis now = dplay8::MonotonicMillis();
         now < deadline && seen.size() < targets.size(); now = dplay8::MonotonicMillis()) {
        if (now >= nextSend) {
            for (const sockaddr_in& to : targets)
                sendto(fd, query.data(), query.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                       sizeof to);
            nextSend = now + kResendInterval;
        }
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, int(std::max<dplay8::Millis>(0, std::min(deadline, nextSend) - now)));
        for (;;) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t got = recvfrom(fd, buffer.data(), buffer.size(), 0,
                                         reinterpret_cast<sockaddr*>(&from), &length);
            if (got < 0)
                break;
            const auto response =
                dplay8::DecodeEnumResponse(dplay8::ByteSpan(buffer.data(), size_t(got)));
            if (!response || response->enum_payload != payload)
                continue;
            const std::string instance = dplay8::ToString(response->instance);
            if (!seen.emplace(from.sin_addr.s_addr, from.sin_port, instance).second)
                continue;
            std::printf(
                "Session name=\"%s\" players=%s instance=%s%s from=%s\n",
                Visible(response->session_name).c_str(), PlayersText(*response).c_str(),
                instance.c_str(),
                (response->flags & dplay8::kSessionRequirePassword) ? " password=required" : "",
                AddressText(from).c_str());
        }
    }
    close(fd);
    if (seen.empty()) {
        std::string asked;
        for (const sockaddr_in& to : targets)
            asked += (asked.empty() ? "" : ", ") + AddressText(to);
        std::fprintf(stderr, "er-bot: no session answered at %s within %d ms\n", asked.c_str(),
                     options.timeoutMs);
        return 1;
    }
    return 0;
}

}  // namespace er_bot

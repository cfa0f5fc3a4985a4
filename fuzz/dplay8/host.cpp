// libFuzzer target: a hosting session takes arbitrary input, cut into records, as raw
// datagrams from a few endpoints on either socket, and as session or game messages carried
// by two real transport connections, one of a joined player and one not yet joined (so the
// join exchange and everything after it see hostile bytes too), with a moving clock.
// Nothing may crash, read outside its input or hang.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "dplay8/connect_info.h"
#include "dplay8/connection.h"
#include "dplay8/host_session.h"

namespace {

using dplay8::Bytes;
using dplay8::ByteSpan;
using dplay8::Millis;

const dplay8::Endpoint kClients[2] = {{0x0A000001, 2302}, {0x0A000002, 2302}};

// Moves datagrams both ways between the host and the honest connections until quiet.
void Exchange(dplay8::HostSession& host, dplay8::Connection* clients, Millis now) {
    for (int round = 0; round < 64; ++round) {
        bool moved = false;
        Bytes out;
        for (int i = 0; i < 2; ++i) {
            while (clients[i].PollTransmit(now, out)) {
                host.HandleDatagram(kClients[i], dplay8::SocketRole::kSession, out, now);
                moved = true;
            }
        }
        dplay8::Datagram d;
        while (host.PollTransmit(d)) {
            for (int i = 0; i < 2; ++i) {
                if (d.peer == kClients[i] && d.socket == dplay8::SocketRole::kSession)
                    clients[i].HandleDatagram(d.bytes, now);
            }
            moved = true;
        }
        for (int i = 0; i < 2; ++i) {
            while (clients[i].PollEvent()) {
            }
        }
        while (host.PollEvent()) {
        }
        if (!moved)
            return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    dplay8::HostConfig config;
    config.application.data1 = 0xEDE9493E;
    config.instance.data1 = 0x94BE8123;
    config.session_name = u"fuzz";
    Millis now = 1000;
    dplay8::HostSession host(config, now);
    dplay8::Connection clients[2] = {dplay8::Connection::Connect({}, 77, now),
                                     dplay8::Connection::Connect({}, 78, now)};
    Exchange(host, clients, now);
    // The first connection joins; the second stays at the start of the join exchange.
    dplay8::SendOptions core;
    core.guaranteed = true;
    core.user_flags = dplay8::kCommandUser1;
    dplay8::PlayerConnectInfo request;
    request.application = config.application;
    request.name = u"joined";
    clients[0].Send(dplay8::Encode(request), core, now);
    Exchange(host, clients, now);
    clients[0].Send(dplay8::EncodeAckConnectInfo(), core, now);
    Exchange(host, clients, now);
    if (host.player_count() != 1)
        __builtin_trap();  // the set-up itself must join, or the fuzzing misses the joined state

    size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t head = data[at];
        const size_t length =
            std::min<size_t>(data[at + 1] | size_t(data[at + 2]) << 8, size - at - 3);
        const ByteSpan body(data + at + 3, length);
        at += 3 + length;
        now += head >> 4;
        switch (head & 0x03) {
            case 0: {
                const dplay8::Endpoint from{0x0A000001u + ((head >> 2) & 1), 2302};
                host.HandleDatagram(
                    from,
                    (head & 0x08) ? dplay8::SocketRole::kEnumeration : dplay8::SocketRole::kSession,
                    body, now);
                break;
            }
            case 1:
            case 2: {
                dplay8::SendOptions options;
                options.guaranteed = true;
                options.user_flags = (head & 0x03) == 1 ? dplay8::kCommandUser1 : 0;
                clients[(head >> 2) & 1].Send(body, options, now);
                break;
            }
            case 3:
                if (head & 0x04)
                    host.Send(host.Players().empty() ? 1 : host.Players()[0], body, {}, now);
                else
                    host.Close(now);
                break;
        }
        if (now >= host.NextTimeout())
            host.HandleTimeout(now);
        for (auto& client : clients) {
            if (now >= client.NextTimeout())
                client.HandleTimeout(now);
        }
        Exchange(host, clients, now);
    }
    return 0;
}

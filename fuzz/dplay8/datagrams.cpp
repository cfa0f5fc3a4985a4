// libFuzzer target: arbitrary bytes go to every decoder, then, cut into datagrams, to a
// connected transport connection with a moving clock. Nothing may crash, read outside its
// input or hang.

#include <cstddef>
#include <cstdint>

#include "dplay8/coalesce.h"
#include "dplay8/connect_info.h"
#include "dplay8/connection.h"
#include "dplay8/enum_messages.h"
#include "dplay8/frames.h"
#include "dplay8/session_messages.h"

namespace {

using namespace dplay8;

void Decoders(ByteSpan in) {
    ByteSpan payload;
    std::vector<CoalescedPart> parts;
    volatile int accepted = bool(DecodeEnumQuery(in)) + bool(DecodeEnumResponse(in)) +
                            bool(DecodeHandshake(in)) + bool(DecodeSignedConnected(in)) +
                            bool(DecodeSack(in)) + bool(DecodeDataFrame(in, true, payload)) +
                            bool(DecodeDataFrame(in, false, payload)) + DecodeCoalesced(in, parts) +
                            bool(DecodePlayerConnectInfo(in)) + bool(DecodeSendConnectInfo(in)) +
                            bool(DecodeConnectFailed(in)) + bool(DecodeTerminateSession(in)) +
                            bool(DecodeDestroyPlayer(in)) + bool(DecodeReqUpdateInfo(in)) +
                            bool(DecodeUpdateInfo(in)) + bool(DecodeReqProcessCompletion(in)) +
                            bool(DecodeProcessCompletion(in));
    (void)accepted;
}

void Drain(Connection& c, Millis now, Connection* peer) {
    Bytes out;
    for (int i = 0; i < 1000 && c.PollTransmit(now, out); ++i) {
        if (peer)
            peer->HandleDatagram(out, now);
    }
    for (int i = 0; i < 10000 && c.PollEvent(); ++i) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteSpan in(data, size);
    Decoders(in);

    ConnectionConfig config;
    config.max_message_size = 64 * 1024;
    Millis now = 1000;

    // The handshake states: a connector waiting for CONNECTED and a listener waiting for
    // the confirmation get the whole input as one datagram, then run their timers out.
    {
        Connection connecting = Connection::Connect(config, 0x1234, now);
        Bytes first;
        connecting.PollTransmit(now, first);
        auto awaiting = Connection::Accept(config, first, now);
        connecting.HandleDatagram(in, now + 1);
        Drain(connecting, now + 1, nullptr);
        if (awaiting) {
            awaiting->HandleDatagram(in, now + 1);
            Drain(*awaiting, now + 1, nullptr);
        }
        (void)Connection::Accept(config, in, now);
    }

    Connection client = Connection::Connect(config, 0x1234, now);
    Bytes connect;
    client.PollTransmit(now, connect);
    auto server = Connection::Accept(config, connect, now);
    if (!server)
        return 0;
    for (int round = 0; round < 4; ++round) {
        Drain(*server, now, &client);
        Drain(client, now, &*server);
    }
    // Each datagram: a length byte, a time step byte, then the bytes; the odd one out is
    // answered by a send, so the connection has its own traffic in flight too.
    size_t pos = 0;
    while (pos + 2 <= size) {
        size_t len = data[pos];
        Millis step = data[pos + 1] * 37;
        pos += 2;
        len = std::min(len, size - pos);
        now += step;
        server->HandleDatagram(in.subspan(pos, len), now);
        if (len % 7 == 3) {
            SendOptions options{.guaranteed = len % 2 == 1, .timeout = 50};
            (void)server->Send(in.subspan(pos, len), options, now);
        }
        pos += len;
        if (server->NextTimeout() <= now)
            server->HandleTimeout(now);
        Drain(*server, now, nullptr);
        // A connection that still wants the present instant would spin its owner forever.
        if (server->NextTimeout() <= now)
            __builtin_trap();
    }
    // Let every timer run out; the connection must reach a quiet state in bounded steps.
    for (int i = 0; i < 200 && server->NextTimeout() != kNever; ++i) {
        now = std::max(now, server->NextTimeout());
        server->HandleTimeout(now);
        Drain(*server, now, nullptr);
        if (server->NextTimeout() <= now)
            __builtin_trap();
    }
    return 0;
}

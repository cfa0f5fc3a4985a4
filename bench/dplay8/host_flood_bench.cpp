// What floods cost the host, without sockets: forged CONNECTs from ever new sources once every
// pending place is taken (each one evicts the oldest), enumeration queries from forged sources
// beyond the reply limits, and a joined client's messages beyond its rate. The figures are
// datagrams or messages handled per second on one core, next to the real traffic they must
// not crowd out.

#include <benchmark/benchmark.h>

#include "dplay8/enum_messages.h"
#include "dplay8/frames.h"
#include "dplay8/host_session.h"

namespace {

using namespace dplay8;

HostConfig Config() {
    HostConfig config;
    config.application = *ParseGuid("{EDE9493E-6AC8-4F15-8D01-8B163200B966}");
    config.instance = *ParseGuid("{94BE8123-A1AB-48FB-A2E7-23859E658936}");
    config.session_name = u"Ember Realms";
    return config;
}

void Drain(HostSession& host) {
    Datagram d;
    while (host.PollTransmit(d))
        benchmark::DoNotOptimize(d.bytes.data());
    while (host.PollEvent())
        continue;
}

void BM_ForgedConnectsAtTheCap(benchmark::State& state) {
    HostSession host(Config(), 0);
    Bytes connect;
    EncodeHandshake({.session_id = 1}, connect);
    uint32_t source = 0x0A000000;
    for (auto _ : state) {
        host.HandleDatagram({source++, 2302}, SocketRole::kSession, connect, 0);
        Drain(host);
    }
    state.counters["pending"] = double(host.pending_count());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ForgedConnectsAtTheCap);

void BM_EnumerationQueriesBeyondTheLimits(benchmark::State& state) {
    HostSession host(Config(), 0);
    const Bytes query = Encode(EnumQuery{});
    uint32_t source = 0x0A000000;
    for (auto _ : state) {
        host.HandleDatagram({source++ & 0x0A00FFFF, 2302}, SocketRole::kEnumeration, query, 0);
        Drain(host);
    }
    state.counters["answered"] =
        benchmark::Counter(double(state.iterations() - host.counters().enum_replies_refused));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EnumerationQueriesBeyondTheLimits);

}  // namespace

// Game messages from one DirectPlay 8 client to the UDP host over loopback: guaranteed
// 32-byte messages per second, all the way from the client's queue to the host's handler
// threads. The transport coalesces, so this measures the host, not one system call per
// message.

#include <benchmark/benchmark.h>

#include <atomic>
#include <vector>

#include "dplay8/udp_host.h"
#include "support/udp_test_client.h"

namespace {

void BM_UdpLoopbackGuaranteedMessages(benchmark::State& state) {
    std::atomic<int64_t> received{0};
    dplay8::HostConfig config;
    config.application.data1 = 0xEDE9493E;
    config.instance.data1 = 0x12345678;
    dplay8::UdpHostOptions options;
    options.bind_address = 0x7F000001;
    options.enumeration_port = false;
    dplay8::UdpHost host;
    if (host.Start(config, options, [&](dplay8::HostEvent& e) {
            if (e.type == dplay8::HostEventType::kMessage)
                received.fetch_add(1, std::memory_order_relaxed);
        }) != 0) {
        state.SkipWithError("cannot bind");
        return;
    }
    er_test::UdpTestClient client(host.port());
    if (!client.Join(u"bench", config.application)) {
        state.SkipWithError("join failed");
        return;
    }
    const std::vector<uint8_t> message(32, 0xAB);
    const int64_t batch = state.range(0);
    int64_t sent = 0;
    for (auto _ : state) {
        for (int64_t i = 0; i < batch; ++i)
            client.Queue(message);
        sent += batch;
        if (!client.PumpUntil([&] { return received.load() >= sent; }, 10000)) {
            state.SkipWithError("messages lost");
            break;
        }
    }
    state.SetItemsProcessed(sent);
    client.Leave(1000);
    host.Close();
}
BENCHMARK(BM_UdpLoopbackGuaranteedMessages)->Arg(1000)->Arg(10000)->UseRealTime();

}  // namespace

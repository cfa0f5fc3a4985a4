// Throughput of the transport alone: two connections joined in memory, no sockets, no loss.
// Every message is queued, framed (coalesced where it can be), decoded, delivered and
// acknowledged, with its send completion reported; the figure is messages per second on
// one core.

#include <benchmark/benchmark.h>

#include "dplay8/connection.h"
#include "dplay8/frames.h"

namespace {

using dplay8::Bytes;
using dplay8::Connection;
using dplay8::Millis;

class InMemoryPair {
public:
    InMemoryPair() : client_(Connection::Connect({}, 0xBE7C4, now_)), server_(Accept()) {
        Pump();
        delivered_ = 0;
    }

    Connection& client() { return client_; }
    Millis now() const { return now_; }
    uint64_t delivered() const { return delivered_; }

    // Moves datagrams both ways until neither side has anything to say, firing timers
    // that are due, then advances the clock by a millisecond.
    void Pump() {
        bool moved = true;
        while (moved) {
            moved = false;
            for (Connection* c : {&client_, &*server_}) {
                if (c->NextTimeout() <= now_)
                    c->HandleTimeout(now_);
            }
            while (client_.PollTransmit(now_, buffer_)) {
                server_->HandleDatagram(buffer_, now_);
                moved = true;
            }
            while (server_->PollTransmit(now_, buffer_)) {
                client_.HandleDatagram(buffer_, now_);
                moved = true;
            }
            while (auto e = server_->PollEvent()) {
                delivered_ += e->type == dplay8::EventType::kMessage;
            }
            while (client_.PollEvent()) {
            }
        }
        ++now_;
    }

private:
    std::optional<Connection> Accept() {
        Bytes connect;
        client_.PollTransmit(now_, connect);
        return Connection::Accept({}, connect, now_);
    }

    Millis now_ = 1000;
    Connection client_;
    std::optional<Connection> server_;
    Bytes buffer_;
    uint64_t delivered_ = 0;
};

void RunMessages(benchmark::State& state, bool guaranteed) {
    InMemoryPair pair;
    const Bytes message(size_t(state.range(0)), 0x5A);
    const int batch = int(state.range(1));
    dplay8::SendOptions options{.guaranteed = guaranteed};
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i)
            pair.client().Send(message, options, pair.now());
        pair.Pump();
    }
    uint64_t sent = uint64_t(state.iterations()) * uint64_t(batch);
    if (pair.delivered() != sent)
        state.SkipWithError("messages were lost in memory");
    state.SetItemsProcessed(int64_t(sent));
    state.SetBytesProcessed(int64_t(sent) * state.range(0));
}

void BM_SmallGuaranteedMessages(benchmark::State& state) {
    RunMessages(state, true);
}
void BM_SmallUnguaranteedMessages(benchmark::State& state) {
    RunMessages(state, false);
}
void BM_LargeGuaranteedMessages(benchmark::State& state) {
    RunMessages(state, true);
}

// Message size, messages queued per pump.
BENCHMARK(BM_SmallGuaranteedMessages)->Args({32, 1})->Args({32, 16})->Args({32, 256});
BENCHMARK(BM_SmallUnguaranteedMessages)->Args({32, 16})->Args({32, 256});
BENCHMARK(BM_LargeGuaranteedMessages)->Args({16384, 4});

void BM_DecodeDataFrame(benchmark::State& state) {
    dplay8::DataFrameHeader h;
    h.command = dplay8::kCommandReliable | dplay8::kCommandSequential | dplay8::kCommandNewMsg |
                dplay8::kCommandEndMsg;
    h.seq = 7;
    h.sack_mask = 0x5;
    Bytes frame;
    dplay8::EncodeDataHeader(h, frame);
    frame.resize(frame.size() + 64, 0x11);
    for (auto _ : state) {
        dplay8::ByteSpan payload;
        benchmark::DoNotOptimize(dplay8::DecodeDataFrame(frame, true, payload));
        benchmark::DoNotOptimize(payload);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_DecodeDataFrame);

}  // namespace

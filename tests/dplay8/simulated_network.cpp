#include "simulated_network.h"

#include <algorithm>

namespace dplay8_test {

using dplay8::Millis;

SimulatedLink::SimulatedLink(uint32_t seed, LinkConditions conditions,
                             dplay8::ConnectionConfig client_config,
                             dplay8::ConnectionConfig server_config)
    : rng_(seed),
      conditions_(conditions),
      server_config_(server_config),
      client_(dplay8::Connection::Connect(client_config, 0x5EED0000u ^ seed, 1000)) {
    Flush();
}

void SimulatedLink::Transmit(Side from, dplay8::Bytes bytes) {
    WireRecord record{now_, from, bytes, false};
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    if (silent_[int(from)])
        return;
    if (unit(rng_) < conditions_.loss) {
        record.lost = true;
        wire_.push_back(std::move(record));
        return;
    }
    wire_.push_back(record);
    Side to = from == Side::kClient ? Side::kServer : Side::kClient;
    int copies = unit(rng_) < conditions_.duplicate ? 2 : 1;
    for (int i = 0; i < copies; ++i) {
        Millis extra =
            conditions_.jitter > 0 ? Millis(rng_() % uint64_t(conditions_.jitter + 1)) : 0;
        in_flight_.push(InFlight{now_ + conditions_.delay + extra, order_++, to, bytes});
    }
}

void SimulatedLink::Flush() {
    dplay8::Bytes out;
    // Everything either side has to send goes on the wire now; what it sends arrives
    // through the in-flight queue, never straight away.
    for (int side = 0; side < 2; ++side) {
        dplay8::Connection* c = side == 0 ? &client_ : server();
        if (!c)
            continue;
        while (c->PollTransmit(now_, out))
            Transmit(Side(side), out);
        while (auto e = c->PollEvent())
            events_[side].push_back(std::move(*e));
    }
}

void SimulatedLink::Deliver(const InFlight& d) {
    if (silent_[int(d.to)])
        return;
    if (d.to == Side::kServer) {
        if (!server_) {
            server_ = dplay8::Connection::Accept(server_config_, d.bytes, now_);
            return;
        }
        server_->HandleDatagram(d.bytes, now_);
    } else {
        client_.HandleDatagram(d.bytes, now_);
    }
}

Millis SimulatedLink::NextWake() const {
    Millis t = dplay8::kNever;
    if (!silent_[0])
        t = client_.NextTimeout();
    if (server_ && !silent_[1])
        t = std::min(t, server_->NextTimeout());
    if (!in_flight_.empty())
        t = std::min(t, in_flight_.top().arrival);
    return t;
}

bool SimulatedLink::RunUntil(const std::function<bool()>& done, Millis deadline) {
    Flush();
    Millis last_now = now_;
    int stalled_steps = 0;
    while (!done()) {
        Millis wake = NextWake();
        if (wake > deadline) {
            now_ = std::max(now_, deadline);
            return done();
        }
        now_ = std::max(now_, wake);
        while (!in_flight_.empty() && in_flight_.top().arrival <= now_) {
            InFlight d = in_flight_.top();
            in_flight_.pop();
            Deliver(d);
            Flush();
        }
        if (client_.NextTimeout() <= now_ && !silent_[0])
            client_.HandleTimeout(now_);
        if (server_ && server_->NextTimeout() <= now_ && !silent_[1]) {
            server_->HandleTimeout(now_);
        }
        Flush();
        // A connection that keeps asking for the same instant would hang the test.
        if (now_ == last_now) {
            if (++stalled_steps > 100000)
                return false;
        } else {
            last_now = now_;
            stalled_steps = 0;
        }
    }
    return true;
}

void SimulatedLink::RunFor(Millis duration) {
    Millis end = now_ + duration;
    RunUntil([] { return false; }, end);
}

}  // namespace dplay8_test

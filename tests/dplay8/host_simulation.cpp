#include "host_simulation.h"

#include <algorithm>

namespace dplay8_test {

using dplay8::Millis;

HostSimulation::HostSimulation(dplay8::HostConfig config, uint32_t seed, double loss, Millis delay,
                               Millis jitter)
    : host_(std::move(config), 1000), random_(seed), loss_(loss), delay_(delay), jitter_(jitter) {}

SimClient& HostSimulation::AddClient(const std::u16string& name, const dplay8::Guid& application) {
    auto c = std::make_unique<SimClient>();
    c->endpoint = dplay8::Endpoint{0x0A000000u + uint32_t(clients_.size() + 1), 2302};
    dplay8::ClientConfig config;
    config.application = application;
    config.name = name;
    config.session_id = 0x1000 + uint32_t(clients_.size());
    c->session = std::make_unique<dplay8::ClientSession>(config, now_);
    clients_.push_back(std::move(c));
    Collect();
    return *clients_.back();
}

void HostSimulation::Inject(const dplay8::Endpoint& from, dplay8::SocketRole socket,
                            dplay8::Bytes bytes) {
    host_.HandleDatagram(from, socket, bytes, now_);
    Collect();
}

SimClient* HostSimulation::ClientAt(const dplay8::Endpoint& e) {
    for (auto& c : clients_) {
        if (c->endpoint == e)
            return c.get();
    }
    return nullptr;
}

void HostSimulation::Transmit(bool to_host, dplay8::Datagram d) {
    if (loss_ > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < loss_)
        return;
    Millis extra = jitter_ > 0 ? std::uniform_int_distribution<Millis>(0, jitter_)(random_) : 0;
    in_flight_.push(InFlight{now_ + delay_ + extra, order_++, to_host, std::move(d)});
}

// Moves everything the host and the clients want to send onto the wire and gathers events.
void HostSimulation::Collect() {
    dplay8::Datagram d;
    while (host_.PollTransmit(d)) {
        host_sent_.push_back(d);
        Transmit(false, d);
    }
    while (auto e = host_.PollEvent())
        host_events_.push_back(std::move(*e));
    for (auto& c : clients_) {
        if (!c->session)
            continue;
        dplay8::Bytes out;
        while (c->session->PollTransmit(now_, out)) {
            if (!c->silent)
                Transmit(true, dplay8::Datagram{c->endpoint, dplay8::SocketRole::kSession, out});
        }
        while (auto e = c->session->PollEvent()) {
            if (e->type == dplay8::ClientEventType::kMessage)
                c->messages.push_back(e->data);
            c->events.push_back(std::move(*e));
        }
    }
}

void HostSimulation::Step() {
    Millis next = host_.NextTimeout();
    for (auto& c : clients_) {
        if (c->session)
            next = std::min(next, c->session->NextTimeout());
    }
    if (!in_flight_.empty())
        next = std::min(next, in_flight_.top().arrival);
    const Millis before = now_;
    now_ = std::max(now_, std::min(next, now_ + 1000));
    // Something due that handling does not clear would stop the clock; move it on.
    stalled_ = now_ == before ? stalled_ + 1 : 0;
    if (stalled_ > 1000) {
        ++now_;
        stalled_ = 0;
    }
    while (!in_flight_.empty() && in_flight_.top().arrival <= now_) {
        InFlight f = in_flight_.top();
        in_flight_.pop();
        if (f.to_host) {
            host_.HandleDatagram(f.datagram.peer, f.datagram.socket, f.datagram.bytes, now_);
        } else if (SimClient* c = ClientAt(f.datagram.peer); c && !c->silent) {
            if (!f.datagram.bytes.empty() && f.datagram.bytes[0] == 0) {
                if (auto r = dplay8::DecodeEnumResponse(f.datagram.bytes))
                    c->enum_responses.push_back(*r);
            } else if (c->session) {
                c->session->HandleDatagram(f.datagram.bytes, now_);
            }
        }
        Collect();
    }
    if (now_ >= host_.NextTimeout())
        host_.HandleTimeout(now_);
    for (auto& c : clients_) {
        if (c->session && now_ >= c->session->NextTimeout())
            c->session->HandleTimeout(now_);
    }
    Collect();
}

bool HostSimulation::RunUntil(const std::function<bool()>& done, Millis deadline) {
    while (!done()) {
        if (now_ >= deadline)
            return false;
        Step();
    }
    return true;
}

void HostSimulation::RunFor(Millis duration) {
    const Millis end = now_ + duration;
    RunUntil([] { return false; }, end);
}

}  // namespace dplay8_test

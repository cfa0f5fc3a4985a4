#pragma once
// A sans-IO host and sans-IO clients on a seeded lossy, reordering network with an injected clock.

#include <functional>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "dplay8/client_session.h"
#include "dplay8/enum_messages.h"
#include "dplay8/host_session.h"

namespace dplay8_test {

using dplay8::Bytes;
using dplay8::Millis;

struct SimClient {
    dplay8::Endpoint endpoint;
    std::unique_ptr<dplay8::ClientSession> session;
    std::vector<dplay8::ClientEvent> events;
    std::vector<Bytes> messages;
    bool silent = false;  // neither receives nor sends
};

class HostSimulation {
public:
    HostSimulation(dplay8::HostConfig config, uint32_t seed = 1, double loss = 0.0,
                   Millis delay = 5, Millis jitter = 0)
        : host_(std::move(config), now_),
          random_(seed),
          loss_(loss),
          delay_(delay),
          jitter_(jitter) {}

    dplay8::HostSession& host() { return host_; }
    Millis now() const { return now_; }
    std::vector<dplay8::HostEvent>& host_events() { return host_events_; }
    const std::vector<dplay8::Datagram>& host_sent() const { return host_sent_; }
    SimClient& client(size_t i) { return *clients_[i]; }

    // A client at 10.0.0.n:2302 that starts connecting now.
    SimClient& AddClient(const std::u16string& name, const dplay8::Guid& application,
                         uint32_t session_id = 0) {
        auto c = std::make_unique<SimClient>();
        c->endpoint = {0x0A000000u + uint32_t(clients_.size() + 1), 2302};
        clients_.push_back(std::move(c));
        return Restart(clients_.size() - 1, name, application, session_id);
    }
    // The client's process starts over on the same endpoint.
    SimClient& Restart(size_t i, const std::u16string& name, const dplay8::Guid& application,
                       uint32_t session_id) {
        dplay8::ClientConfig config;
        config.application = application, config.name = name;
        config.session_id = session_id ? session_id : 0x1000 + uint32_t(i);
        clients_[i]->session = std::make_unique<dplay8::ClientSession>(config, now_);
        Collect();
        return *clients_[i];
    }
    void Inject(const dplay8::Endpoint& from, dplay8::SocketRole socket, const Bytes& bytes) {
        host_.HandleDatagram(from, socket, bytes, now_);
        Collect();
    }

    void Collect() {
        dplay8::Datagram d;
        while (host_.PollTransmit(d)) {
            host_sent_.push_back(d);
            Transmit(false, d);
        }
        while (auto e = host_.PollEvent())
            host_events_.push_back(std::move(*e));
        for (auto& c : clients_) {
            Bytes out;
            while (c->session->PollTransmit(now_, out)) {
                if (!c->silent)
                    Transmit(true, {c->endpoint, dplay8::SocketRole::kSession, out});
            }
            while (auto e = c->session->PollEvent()) {
                if (e->type == dplay8::ClientEventType::kMessage)
                    c->messages.push_back(e->data);
                c->events.push_back(std::move(*e));
            }
        }
    }
    bool RunUntil(const std::function<bool()>& done, Millis deadline) {
        for (int stalled = 0; !done();) {
            if (now_ >= deadline)
                return false;
            Millis next = host_.NextTimeout();
            for (auto& c : clients_)
                next = std::min(next, c->session->NextTimeout());
            if (!in_flight_.empty())
                next = std::min(next, in_flight_.begin()->first.first);
            const Millis before = now_;
            now_ = std::max(now_, std::min(next, now_ + 1000));
            stalled = now_ == before ? stalled + 1 : 0;  // something due that handling keeps due
            if (stalled > 1000)
                ++now_, stalled = 0;
            while (!in_flight_.empty() && in_flight_.begin()->first.first <= now_) {
                auto [to_host, d] = in_flight_.begin()->second;
                in_flight_.erase(in_flight_.begin());
                if (to_host)
                    host_.HandleDatagram(d.peer, d.socket, d.bytes, now_);
                for (auto& c : clients_) {
                    if (!to_host && c->endpoint == d.peer && !c->silent)
                        c->session->HandleDatagram(d.bytes, now_);
                }
                Collect();
            }
            if (now_ >= host_.NextTimeout())
                host_.HandleTimeout(now_);
            for (auto& c : clients_) {
                if (now_ >= c->session->NextTimeout())
                    c->session->HandleTimeout(now_);
            }
            Collect();
        }
        return true;
    }
    void RunFor(Millis duration) {
        RunUntil([] { return false; }, now_ + duration);
    }

private:
    void Transmit(bool to_host, dplay8::Datagram d) {
        if (std::uniform_real_distribution<double>(0, 1)(random_) < loss_)
            return;
        Millis extra = std::uniform_int_distribution<Millis>(0, jitter_)(random_);
        in_flight_.emplace(std::pair(now_ + delay_ + extra, order_++),
                           std::pair(to_host, std::move(d)));
    }

    Millis now_ = 1000;
    dplay8::HostSession host_;
    std::vector<std::unique_ptr<SimClient>> clients_;
    // By arrival, then send order: to the host (peer is the sender) or to a client (the receiver).
    std::map<std::pair<Millis, uint64_t>, std::pair<bool, dplay8::Datagram>> in_flight_;
    std::vector<dplay8::HostEvent> host_events_;
    std::vector<dplay8::Datagram> host_sent_;
    std::mt19937 random_;
    double loss_;
    Millis delay_, jitter_;
    uint64_t order_ = 0;
};

}  // namespace dplay8_test

#pragma once
// Sans-IO nodes on a seeded lossy, duplicating, reordering network with an injected clock: two
// connections (SimulatedLink), or a host and its clients (HostSimulation).

#include <functional>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "dplay8/client_session.h"
#include "dplay8/connection.h"
#include "dplay8/enum_messages.h"
#include "dplay8/host_session.h"

namespace dplay8_test {

using dplay8::Bytes;
using dplay8::Datagram;
using dplay8::Millis;

struct LinkConditions {
    double loss = 0.0, duplicate = 0.0;  // probabilities per datagram
    Millis delay = 10, jitter = 0;       // jitter: extra delay drawn from [0, jitter]
};

// A node by its callbacks; transmit names the receiver as the datagram's peer, receive the
// sender. A silent node neither receives nor sends nor wakes.
struct Node {
    dplay8::Endpoint address;
    std::function<void(const Datagram&, Millis)> receive;
    std::function<bool(Millis, Datagram&)> transmit;
    std::function<Millis()> next;
    std::function<void(Millis)> fire;
    std::function<void()> collect;  // takes the node's events
    bool silent = false;
};

struct WireRecord : Datagram {  // sent, perhaps lost on the way
    Millis at;
    size_t from;  // node index
};

class Network {
public:
    Network(uint64_t seed, LinkConditions conditions) : rng_(seed), conditions_(conditions) {}
    Network(const Network&) = delete;  // the nodes' callbacks hold `this`

    Millis now() const { return now_; }
    const std::vector<WireRecord>& wire() const { return wire_; }
    std::vector<Node> nodes;

    void Flush() {
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (size_t i = 0; i < nodes.size(); ++i) {
            for (Datagram d; nodes[i].transmit(now_, d);) {
                if (nodes[i].silent)
                    continue;
                wire_.push_back({d, now_, i});
                if (unit(rng_) < conditions_.loss)
                    continue;
                for (int n = unit(rng_) < conditions_.duplicate ? 2 : 1; n > 0; --n) {
                    Millis at =
                        now_ + conditions_.delay + Millis(rng_() % (conditions_.jitter + 1));
                    in_flight_.emplace(std::pair(at, order_++), std::pair(i, d));
                }
            }
            nodes[i].collect();
        }
    }
    bool RunUntil(const std::function<bool()>& done, Millis deadline) {
        Flush();
        for (int stalled = 0; !done();) {
            Millis wake = in_flight_.empty() ? dplay8::kNever : in_flight_.begin()->first.first;
            for (Node& n : nodes)
                wake = n.silent ? wake : std::min(wake, n.next());
            if (wake > deadline) {
                now_ = std::max(now_, deadline);
                return done();
            }
            stalled = wake <= now_ ? stalled + 1 : 0;  // something due that handling keeps due
            now_ = std::max(now_, wake) + (stalled > 1000);
            while (!in_flight_.empty() && in_flight_.begin()->first.first <= now_) {
                auto [from, d] = in_flight_.begin()->second;
                in_flight_.erase(in_flight_.begin());
                for (Node& n : nodes) {
                    if (n.address == d.peer && !n.silent)
                        n.receive({nodes[from].address, d.socket, d.bytes}, now_);
                }
                Flush();
            }
            for (Node& n : nodes) {
                if (!n.silent && n.next() <= now_)
                    n.fire(now_);
            }
            Flush();
        }
        return true;
    }
    void RunFor(Millis duration) {
        RunUntil([] { return false; }, now_ + duration);
    }

private:
    std::mt19937_64 rng_;
    LinkConditions conditions_;
    Millis now_ = 1000;
    // By arrival, then send order: the sender's index and the datagram to its receiver.
    std::map<std::pair<Millis, uint64_t>, std::pair<size_t, Datagram>> in_flight_;
    uint64_t order_ = 0;
    std::vector<WireRecord> wire_;
};

enum class Side { kClient, kServer };

// A connection that connects at once and the one its CONNECT makes the other side accept.
class SimulatedLink : public Network {
public:
    SimulatedLink(uint32_t seed, LinkConditions conditions, dplay8::ConnectionConfig accept = {})
        : Network(seed, conditions),
          client_(dplay8::Connection::Connect({}, 0x5EED0000u ^ seed, now())) {
        for (int s = 0; s < 2; ++s) {
            auto c = [this, s] { return s ? server() : &client_; };
            nodes.push_back({{uint32_t(s), 1},
                             [this, s, accept](const Datagram& d, Millis now) {
                                 if (s && !server_)
                                     server_ = dplay8::Connection::Accept(accept, d.bytes, now);
                                 else
                                     side(Side(s)).HandleDatagram(d.bytes, now);
                             },
                             [c, s](Millis now, Datagram& d) {
                                 d.peer = {uint32_t(!s), 1};
                                 return c() && c()->PollTransmit(now, d.bytes);
                             },
                             [c] { return c() ? c()->NextTimeout() : dplay8::kNever; },
                             [c](Millis now) { c()->HandleTimeout(now); },
                             [this, c, s] {
                                 while (auto e = c() ? c()->PollEvent() : std::nullopt)
                                     events_[s].push_back(std::move(*e));
                             },
                             false});
        }
    }

    dplay8::Connection& client() { return client_; }
    dplay8::Connection* server() { return server_ ? &*server_ : nullptr; }
    dplay8::Connection& side(Side s) { return s == Side::kClient ? client_ : *server_; }
    bool connected() const { return server_ && client_.is_connected() && server_->is_connected(); }
    void Silence(Side s) { nodes[int(s)].silent = true; }
    std::vector<dplay8::Event>& events(Side s) { return events_[int(s)]; }

private:
    dplay8::Connection client_;
    std::optional<dplay8::Connection> server_;
    std::vector<dplay8::Event> events_[2];
};

struct SimClient {
    dplay8::Endpoint endpoint;
    std::unique_ptr<dplay8::ClientSession> session;
    std::vector<dplay8::ClientEvent> events;
    std::vector<Bytes> messages;
};

// A host at 10.0.0.0 and clients at 10.0.0.n:2302, node n.
class HostSimulation : public Network {
public:
    HostSimulation(dplay8::HostConfig config, uint32_t seed = 1, double loss = 0.0,
                   Millis delay = 5, Millis jitter = 0)
        : Network(seed, {.loss = loss, .delay = delay, .jitter = jitter}),
          host_(std::move(config), now()) {
        nodes.push_back({{0x0A000000u, 2302},
                         [this](const Datagram& d, Millis now) {
                             host_.HandleDatagram(d.peer, d.socket, d.bytes, now);
                         },
                         [this](Millis, Datagram& d) {
                             return host_.PollTransmit(d) ? host_sent_.push_back(d), true : false;
                         },
                         [this] { return host_.NextTimeout(); },
                         [this](Millis now) { host_.HandleTimeout(now); },
                         [this] {
                             while (auto e = host_.PollEvent())
                                 host_events_.push_back(std::move(*e));
                         },
                         false});
    }

    dplay8::HostSession& host() { return host_; }
    std::vector<dplay8::HostEvent>& host_events() { return host_events_; }
    const std::vector<Datagram>& host_sent() const { return host_sent_; }
    SimClient& client(size_t i) { return *clients_[i]; }
    void Silence(size_t i) { nodes[i + 1].silent = true; }

    SimClient& AddClient(const std::u16string& name, const dplay8::Guid& application) {
        auto& c = *clients_.emplace_back(std::make_unique<SimClient>());
        c.endpoint = {0x0A000000u + uint32_t(clients_.size()), 2302};
        nodes.push_back(
            {c.endpoint,
             [&c](const Datagram& d, Millis now) { c.session->HandleDatagram(d.bytes, now); },
             [this, &c](Millis now, Datagram& d) {
                 d.peer = nodes[0].address;
                 return c.session->PollTransmit(now, d.bytes);
             },
             [&c] { return c.session->NextTimeout(); },
             [&c](Millis now) { c.session->HandleTimeout(now); },
             [&c] {
                 while (auto e = c.session->PollEvent()) {
                     if (e->type == dplay8::ClientEventType::kMessage)
                         c.messages.push_back(e->data);
                     c.events.push_back(std::move(*e));
                 }
             },
             false});
        return Restart(clients_.size() - 1, name, application, 0);
    }
    // The client's process starts over on the same endpoint.
    SimClient& Restart(size_t i, const std::u16string& name, const dplay8::Guid& application,
                       uint32_t session_id) {
        dplay8::ClientConfig config;
        config.application = application, config.name = name;
        config.session_id = session_id ? session_id : 0x1000 + uint32_t(i);
        clients_[i]->session = std::make_unique<dplay8::ClientSession>(config, now());
        Flush();
        return *clients_[i];
    }
    void Inject(const dplay8::Endpoint& from, dplay8::SocketRole socket, const Bytes& bytes) {
        host_.HandleDatagram(from, socket, bytes, now());
        Flush();
    }

private:
    dplay8::HostSession host_;
    std::vector<std::unique_ptr<SimClient>> clients_;
    std::vector<dplay8::HostEvent> host_events_;
    std::vector<Datagram> host_sent_;
};

}  // namespace dplay8_test

#pragma once
// Sans-IO nodes on a seeded lossy, duplicating, reordering network with an injected clock.

#include <functional>
#include <map>
#include <memory>
#include <random>

#include "dplay8/client_session.h"
#include "dplay8/connection.h"
#include "dplay8/host_session.h"

namespace dplay8_test {

using dplay8::Datagram;
using dplay8::Millis;

struct LinkConditions {
    double loss = 0.0, duplicate = 0.0;
    Millis delay = 10, jitter = 0;  // jitter: extra delay drawn from [0, jitter]
};

// transmit names the receiver as peer and, with nothing left to send, takes the node's events;
// receive names the sender. A silent node neither receives nor sends nor wakes.
struct Node {
    dplay8::Endpoint address;
    std::function<void(const Datagram&, Millis)> receive;
    std::function<bool(Millis, Datagram&)> transmit;
    std::function<Millis()> next;
    std::function<void(Millis)> fire;
    bool silent = false;
};

struct WireRecord : Datagram {
    Millis at;
    size_t from;
};

class Network {
public:
    Network(uint64_t seed, LinkConditions conditions) : rng_(seed), conditions_(conditions) {}
    Network(const Network&) = delete;  // the nodes' callbacks hold `this`

    Millis now() const { return now_; }
    std::vector<Node> nodes;
    std::vector<WireRecord> wire;  // every datagram sent, lost or not

    void Flush() {
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (size_t i = 0; i < nodes.size(); ++i) {
            for (Datagram d; nodes[i].transmit(now_, d);) {
                if (nodes[i].silent)
                    continue;
                wire.push_back({d, now_, i});
                if (unit(rng_) < conditions_.loss)
                    continue;
                for (int n = unit(rng_) < conditions_.duplicate ? 2 : 1; n > 0; --n) {
                    Millis at =
                        now_ + conditions_.delay + Millis(rng_() % (conditions_.jitter + 1));
                    in_flight_.emplace(std::pair(at, order_++), std::pair(i, d));
                }
            }
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
    // By arrival, then send order: the sender's index and the datagram.
    std::map<std::pair<Millis, uint64_t>, std::pair<size_t, Datagram>> in_flight_;
    uint64_t order_ = 0;
};

// A node around a Connection or a ClientSession (from `get`, perhaps none yet) that sends to `to`.
Node Around(dplay8::Endpoint address, dplay8::Endpoint to, auto get, auto take) {
    return {address, [=](const Datagram& d, Millis now) { get()->HandleDatagram(d.bytes, now); },
            [=](Millis now, Datagram& d) {
                d.peer = to;
                if (get() && get()->PollTransmit(now, d.bytes))
                    return true;
                while (auto e = get() ? get()->PollEvent() : std::nullopt)
                    take(std::move(*e));
                return false;
            },
            [=] { return get() ? get()->NextTimeout() : dplay8::kNever; },
            [=](Millis now) { get()->HandleTimeout(now); }};
}

enum class Side { kClient, kServer };

// A connection that connects at once and the one its CONNECT makes the other side accept.
class SimulatedLink : public Network {
public:
    SimulatedLink(uint32_t seed, LinkConditions conditions, dplay8::ConnectionConfig accept = {},
                  const dplay8::ConnectionConfig& connect = {})
        : Network(seed, conditions),
          client(dplay8::Connection::Connect(connect, 0x5EED0000u ^ seed, now())) {
        for (uint32_t s = 0; s < 2; ++s) {
            nodes.push_back(Around(
                {s, 1}, {!s, 1}, [this, s] { return s ? (server ? &*server : nullptr) : &client; },
                [this, s](dplay8::Event e) { events[s].push_back(std::move(e)); }));
        }
        nodes[1].receive = [this, accept](const Datagram& d, Millis now) {
            server ? server->HandleDatagram(d.bytes, now)
                   : void(server = dplay8::Connection::Accept(accept, d.bytes, now));
        };
    }

    dplay8::Connection client;
    std::optional<dplay8::Connection> server;
    std::vector<dplay8::Event> events[2];  // by Side
    dplay8::Connection& side(Side s) { return s == Side::kClient ? client : *server; }
    bool connected() const { return server && client.is_connected() && server->is_connected(); }
};

struct SimClient {
    std::unique_ptr<dplay8::ClientSession> session;
    std::vector<dplay8::ClientEvent> events;
    std::vector<dplay8::Bytes> messages;
};

// A host at 10.0.0.0 and clients at 10.0.0.n:2302, node n.
// clang-format off
class HostSimulation : public Network {
public:
    HostSimulation(dplay8::HostConfig config, uint32_t seed = 1, LinkConditions link = {.delay = 5})
        : Network(seed, link), host(std::move(config), now()) {
        nodes.push_back({{0x0A000000u, 2302}, [this](const Datagram& d, Millis now) { host.HandleDatagram(d.peer, d.socket, d.bytes, now); },
                         [this](Millis, Datagram& d) {
                             if (host.PollTransmit(d)) return true;
                             while (auto e = host.PollEvent()) host_events.push_back(std::move(*e));
                             return false;
                         },
                         [this] { return host.NextTimeout(); }, [this](Millis now) { host.HandleTimeout(now); }});
    }

    dplay8::HostSession host;
    std::vector<dplay8::HostEvent> host_events;
    std::vector<std::unique_ptr<SimClient>> clients;

    SimClient& AddClient(const std::u16string& name, const dplay8::Guid& application) {
        auto& c = *clients.emplace_back(std::make_unique<SimClient>());
        nodes.push_back(Around({0x0A000000u + uint32_t(clients.size()), 2302}, nodes[0].address, [&c] { return c.session.get(); },
                               [&c](dplay8::ClientEvent e) {
                                   if (e.type == dplay8::ClientEventType::kMessage) c.messages.push_back(e.data);
                                   c.events.push_back(std::move(e));
                               }));
        return Restart(clients.size() - 1, name, application, 0x1000 + uint32_t(clients.size() - 1));
    }
    // The client's process starts over on the same endpoint.
    SimClient& Restart(size_t i, const std::u16string& name, const dplay8::Guid& application, uint32_t session_id) {
        dplay8::ClientConfig config;
        config.application = application, config.name = name, config.session_id = session_id;
        clients[i]->session = std::make_unique<dplay8::ClientSession>(config, now());
        Flush();
        return *clients[i];
    }
    void Inject(const dplay8::Endpoint& from, dplay8::SocketRole socket, const dplay8::Bytes& bytes) {
        host.HandleDatagram(from, socket, bytes, now());
        Flush();
    }
};
// clang-format on

}  // namespace dplay8_test

#pragma once
// A sans-IO host and any number of sans-IO clients on a simulated network with an injected
// clock: datagrams may be lost or delayed (which reorders them), drawn from a seeded
// generator, so every run is repeatable and takes no real time.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <queue>
#include <random>
#include <vector>

#include "dplay8/client_session.h"
#include "dplay8/enum_messages.h"
#include "dplay8/host_session.h"

namespace dplay8_test {

struct SimClient {
    dplay8::Endpoint endpoint;
    std::unique_ptr<dplay8::ClientSession> session;
    std::vector<dplay8::ClientEvent> events;
    std::vector<dplay8::Bytes> messages;
    std::vector<dplay8::EnumResponse> enum_responses;
    bool silent = false;  // neither receives nor sends
};

class HostSimulation {
public:
    HostSimulation(dplay8::HostConfig config, uint32_t seed = 1, double loss = 0.0,
                   dplay8::Millis delay = 5, dplay8::Millis jitter = 0);

    dplay8::HostSession& host() { return host_; }
    dplay8::Millis now() const { return now_; }
    std::vector<dplay8::HostEvent>& host_events() { return host_events_; }

    // A client at 10.0.0.n:2302 that starts connecting now.
    SimClient& AddClient(const std::u16string& name, const dplay8::Guid& application);
    SimClient& client(size_t i) { return *clients_[i]; }
    size_t client_count() const { return clients_.size(); }

    // A datagram from any endpoint to the host, as if from the network.
    void Inject(const dplay8::Endpoint& from, dplay8::SocketRole socket, dplay8::Bytes bytes);
    // Datagrams the host sent, with their destination, in order.
    const std::vector<dplay8::Datagram>& host_sent() const { return host_sent_; }

    // Takes what the host and clients produced after a direct call on them.
    void Collect();
    bool RunUntil(const std::function<bool()>& done, dplay8::Millis deadline);
    void RunFor(dplay8::Millis duration);

private:
    struct InFlight {
        dplay8::Millis arrival;
        uint64_t order;
        bool to_host;
        dplay8::Datagram datagram;  // peer: the sender (to the host) or receiver (to a client)
        bool operator>(const InFlight& o) const {
            return arrival != o.arrival ? arrival > o.arrival : order > o.order;
        }
    };

    void Transmit(bool to_host, dplay8::Datagram d);
    void Step();
    SimClient* ClientAt(const dplay8::Endpoint& e);

    dplay8::HostSession host_;
    std::vector<std::unique_ptr<SimClient>> clients_;
    std::priority_queue<InFlight, std::vector<InFlight>, std::greater<>> in_flight_;
    std::vector<dplay8::HostEvent> host_events_;
    std::vector<dplay8::Datagram> host_sent_;
    std::mt19937 random_;
    double loss_;
    dplay8::Millis delay_;
    dplay8::Millis jitter_;
    dplay8::Millis now_ = 1000;
    uint64_t order_ = 0;
    int stalled_ = 0;
};

}  // namespace dplay8_test

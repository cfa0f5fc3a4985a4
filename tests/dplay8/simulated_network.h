#pragma once
// Two sans-IO connections joined by a simulated link with an injected clock: every datagram
// may be lost, duplicated or delayed by a random amount (which reorders them), all drawn
// from a seeded generator, so a run is exactly repeatable and takes no real time.

#include <cstdint>
#include <functional>
#include <optional>
#include <queue>
#include <random>
#include <vector>

#include "dplay8/connection.h"

namespace dplay8_test {

struct LinkConditions {
    double loss = 0.0;       // probability that a datagram vanishes
    double duplicate = 0.0;  // probability that it arrives twice
    dplay8::Millis delay = 10;
    dplay8::Millis jitter = 0;  // extra delay drawn uniformly from [0, jitter]
};

enum class Side { kClient, kServer };

struct WireRecord {
    dplay8::Millis at = 0;
    Side from = Side::kClient;
    dplay8::Bytes bytes;
    bool lost = false;
};

class SimulatedLink {
public:
    SimulatedLink(uint32_t seed, LinkConditions conditions,
                  dplay8::ConnectionConfig client_config = {},
                  dplay8::ConnectionConfig server_config = {});

    dplay8::Connection& client() { return client_; }
    // The listener's connection, once the first CONNECT has reached it.
    dplay8::Connection* server() { return server_ ? &*server_ : nullptr; }
    dplay8::Connection& side(Side s) { return s == Side::kClient ? client_ : *server_; }
    dplay8::Millis now() const { return now_; }

    // Runs until `done` holds (checked after every step) or the clock passes `deadline`;
    // returns whether `done` held.
    bool RunUntil(const std::function<bool()>& done, dplay8::Millis deadline);
    void RunFor(dplay8::Millis duration);

    // A silent side neither receives nor sends from now on.
    void Silence(Side s) { silent_[int(s)] = true; }
    void SetConditions(LinkConditions c) { conditions_ = c; }

    std::vector<dplay8::Event>& events(Side s) { return events_[int(s)]; }
    const std::vector<WireRecord>& wire() const { return wire_; }

private:
    struct InFlight {
        dplay8::Millis arrival;
        uint64_t order;
        Side to;
        dplay8::Bytes bytes;
        bool operator>(const InFlight& o) const {
            return arrival != o.arrival ? arrival > o.arrival : order > o.order;
        }
    };

    void Flush();
    void Transmit(Side from, dplay8::Bytes bytes);
    void Deliver(const InFlight& d);
    dplay8::Millis NextWake() const;

    std::mt19937_64 rng_;
    LinkConditions conditions_;
    dplay8::ConnectionConfig server_config_;
    dplay8::Millis now_ = 1000;
    dplay8::Connection client_;
    std::optional<dplay8::Connection> server_;
    std::priority_queue<InFlight, std::vector<InFlight>, std::greater<>> in_flight_;
    uint64_t order_ = 0;
    bool silent_[2] = {false, false};
    std::vector<dplay8::Event> events_[2];
    std::vector<WireRecord> wire_;
};

}  // namespace dplay8_test

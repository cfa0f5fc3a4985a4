#pragma once
// Two sans-IO connections on a seeded lossy, duplicating, reordering link with an injected clock.

#include <functional>
#include <optional>
#include <queue>
#include <random>
#include <tuple>
#include <vector>

#include "dplay8/connection.h"

namespace dplay8_test {

using dplay8::Bytes;
using dplay8::Millis;

struct LinkConditions {
    double loss = 0.0, duplicate = 0.0;  // probabilities per datagram
    Millis delay = 10, jitter = 0;       // jitter: extra delay drawn from [0, jitter]
};

enum class Side { kClient, kServer };

struct WireRecord {
    Millis at;
    Side from;
    Bytes bytes;  // sent, perhaps lost on the way
};

class SimulatedLink {
public:
    SimulatedLink(uint32_t seed, LinkConditions conditions, dplay8::ConnectionConfig server = {})
        : rng_(seed),
          conditions_(conditions),
          server_config_(server),
          client_(dplay8::Connection::Connect({}, 0x5EED0000u ^ seed, now_)) {}

    dplay8::Connection& client() { return client_; }
    dplay8::Connection* server() { return server_ ? &*server_ : nullptr; }
    dplay8::Connection& side(Side s) { return s == Side::kClient ? client_ : *server_; }
    bool connected() const { return server_ && client_.is_connected() && server_->is_connected(); }
    Millis now() const { return now_; }
    void Silence(Side s) { silent_[int(s)] = true; }  // neither receives nor sends from now on
    std::vector<dplay8::Event>& events(Side s) { return events_[int(s)]; }
    const std::vector<WireRecord>& wire() const { return wire_; }

    bool RunUntil(const std::function<bool()>& done, Millis deadline) {
        Flush();
        for (int stalled = 0; !done();) {
            Millis wake = silent_[0] ? dplay8::kNever : client_.NextTimeout();
            if (server_ && !silent_[1])
                wake = std::min(wake, server_->NextTimeout());
            if (!in_flight_.empty())
                wake = std::min(wake, std::get<0>(in_flight_.top()));
            if (wake > deadline) {
                now_ = std::max(now_, deadline);
                return done();
            }
            stalled = wake <= now_ ? stalled + 1 : 0;  // a connection asking for the same instant
            if (stalled > 100000)
                return false;
            now_ = std::max(now_, wake);
            while (!in_flight_.empty() && std::get<0>(in_flight_.top()) <= now_) {
                auto [at, order, to, bytes] = in_flight_.top();
                in_flight_.pop();
                if (silent_[int(to)])
                    continue;
                if (to == Side::kClient)
                    client_.HandleDatagram(bytes, now_);
                else if (server_)
                    server_->HandleDatagram(bytes, now_);
                else
                    server_ = dplay8::Connection::Accept(server_config_, bytes, now_);
                Flush();
            }
            for (int s = 0; s < 2; ++s) {
                if (dplay8::Connection* c = s ? server() : &client_;
                    c && !silent_[s] && c->NextTimeout() <= now_)
                    c->HandleTimeout(now_);
            }
            Flush();
        }
        return true;
    }
    void RunFor(Millis duration) {
        RunUntil([] { return false; }, now_ + duration);
    }

private:
    void Flush() {
        Bytes out;
        for (int s = 0; s < 2; ++s) {
            dplay8::Connection* c = s ? server() : &client_;
            while (c && c->PollTransmit(now_, out)) {
                if (silent_[s])
                    continue;
                wire_.push_back({now_, Side(s), out});
                std::uniform_real_distribution<double> unit(0.0, 1.0);
                if (unit(rng_) < conditions_.loss)
                    continue;
                for (int n = unit(rng_) < conditions_.duplicate ? 2 : 1; n > 0; --n)
                    in_flight_.emplace(now_ + conditions_.delay +
                                           Millis(rng_() % uint64_t(conditions_.jitter + 1)),
                                       order_++, Side(!s), out);
            }
            while (auto e = c ? c->PollEvent() : std::nullopt)
                events_[s].push_back(std::move(*e));
        }
    }

    std::mt19937_64 rng_;
    LinkConditions conditions_;
    dplay8::ConnectionConfig server_config_;
    Millis now_ = 1000;
    dplay8::Connection client_;
    std::optional<dplay8::Connection> server_;
    using InFlight = std::tuple<Millis, uint64_t, Side, Bytes>;  // arrival, then send order
    std::priority_queue<InFlight, std::vector<InFlight>, std::greater<>> in_flight_;
    uint64_t order_ = 0;
    bool silent_[2] = {false, false};
    std::vector<dplay8::Event> events_[2];
    std::vector<WireRecord> wire_;
};

}  // namespace dplay8_test

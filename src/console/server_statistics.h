#pragma once
// The server's figures for the `stats` command: players, how the game tick keeps time, and
// what goes through the network each way per second.

#include <cstdint>
#include <optional>
#include <string>

#include "net/session_types.h"
#include "world/tick_timing.h"

struct TrafficRates {
    double messagesIn = 0, messagesOut = 0;
    double datagramsIn = 0, datagramsOut = 0;
    double bytesIn = 0, bytesOut = 0;
    bool operator==(const TrafficRates&) const = default;
};

// Per-second rates from the session's running totals, sampled about once a second: each
// sample gives the rates since the one before.
class TrafficMeter {
public:
    void Sample(double nowMs, const SessionTraffic& totals);
    void Reset() { *this = TrafficMeter(); }
    const TrafficRates& rates() const { return rates_; }

private:
    std::optional<SessionTraffic> last_;
    double lastMs_ = 0;
    TrafficRates rates_;
};

struct ServerStatistics {
    int32_t players = 0;
    TickTiming::Summary tick;
    std::optional<SessionTraffic> traffic;  // nothing while not hosting
    TrafficRates rates;
};

// One figure a line, as the terminal console prints them.
std::string FormatServerStatistics(const ServerStatistics& stats);

#pragma once
// The server's figures in the Prometheus text format, for monitoring systems that scrape
// /metrics.

#include <cstdint>
#include <optional>
#include <string>

#include "console/server_statistics.h"
#include "net/session_types.h"
#include "world/tick_timing.h"

struct ServerMetrics {
    double uptimeSeconds = 0;
    bool hosting = false;
    int32_t players = 0;
    int32_t npcs = 0;
    bool raining = false;
    double rainVolume = 0;
    TickTiming::Summary tick;
    TrafficRates rates;                     // per second, over the last second sampled
    std::optional<SessionTraffic> traffic;  // running totals while hosting
};

std::string FormatMetrics(const ServerMetrics& metrics);

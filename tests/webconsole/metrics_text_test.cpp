#include "webconsole/metrics_text.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

// The text format's rules: each family declared once by HELP then TYPE before its samples,
// names and labels well formed, every value a number; and the values are the server's.
TEST(MetricsText, EveryFamilyIsDeclaredBeforeItsSamplesAndCarriesTheServersFigures) {
    ServerMetrics m;
    m.uptimeSeconds = 12.5, m.hosting = true, m.players = 3, m.npcs = 23, m.raining = true;
    m.rainVolume = 4.5;
    m.tick.lateP50Ms = 0.25, m.tick.lateP99Ms = 2, m.tick.lateMaxMs = 7;
    m.rates.messagesIn = 40, m.rates.messagesOut = 44, m.rates.datagramsIn = 80;
    m.traffic = SessionTraffic{.messagesIn = 1000, .messagesOut = 1100, .datagramsIn = 2000};

    const std::regex help(R"(# HELP ([a-z_]+) .+)"), type(R"(# TYPE ([a-z_]+) (gauge|counter))");
    const std::regex sample(R"(([a-z_]+)(\{[a-z]+="[a-z0-9]+"\})? (-?[0-9.e+-]+|NaN))");
    std::set<std::string> declared;
    std::string helped, current;
    std::map<std::string, double> values;
    std::istringstream text(FormatMetrics(m));
    for (std::string line; std::getline(text, line);) {
        std::smatch match;
        if (std::regex_match(line, match, help)) {
            EXPECT_TRUE(declared.insert(match[1]).second) << "declared twice: " << line;
            helped = match[1];
        } else if (std::regex_match(line, match, type)) {
            EXPECT_EQ(match[1], helped) << line;
            current = match[1];
        } else {
            ASSERT_TRUE(std::regex_match(line, match, sample)) << line;
            EXPECT_EQ(match[1], current) << line;
            values[std::string(match[1]) + std::string(match[2])] = std::stod(match[3]);
        }
    }
    const std::map<std::string, double> expected = {
        {"emberrealms_uptime_seconds", 12.5},
        {"emberrealms_hosting", 1},
        {"emberrealms_players", 3},
        {"emberrealms_npcs", 23},
        {"emberrealms_raining", 1},
        {"emberrealms_rain_volume", 4.5},
        {"emberrealms_tick_lateness_seconds{stat=\"p50\"}", 0.00025},
        {"emberrealms_tick_lateness_seconds{stat=\"p99\"}", 0.002},
        {"emberrealms_tick_lateness_seconds{stat=\"max\"}", 0.007},
        {"emberrealms_messages_per_second{direction=\"in\"}", 40},
        {"emberrealms_messages_per_second{direction=\"out\"}", 44},
        {"emberrealms_datagrams_per_second{direction=\"in\"}", 80},
        {"emberrealms_messages_total{direction=\"in\"}", 1000},
        {"emberrealms_datagrams_total{direction=\"in\"}", 2000},
    };
    for (const auto& [name, value] : expected) {
        EXPECT_DOUBLE_EQ(values[name], value) << name;
    }
    m.traffic.reset();  // not hosting: no totals
    EXPECT_EQ(FormatMetrics(m).find("_total"), std::string::npos);
}

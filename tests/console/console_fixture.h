#pragma once
// A console with its world and actions that count what they are asked to do, and the
// terminal on top of it: the commands' tests and the window's share it.

#include <gtest/gtest.h>

#include <optional>
#include <utility>
#include <vector>

#include "console/console_commands.h"
#include "console/player_list.h"
#include "console/terminal_commands.h"
#include "net/player_record.h"
#include "world/game_weather.h"
#include "world/night_day.h"
#include "world/random.h"
#include "world/time_source.h"

struct ConsoleCommandsTest : ::testing::Test {
    // Three players joined one after the other and the second left: Ann on line 0, Zed on 1.
    ConsoleCommandsTest() {
        clock.InitNightDay(), weather.InitWeather();
        list.Add(101, "Ann"), list.Add(202, "Bob"), list.Add(303, "Zed"), list.Remove(202);
    }

    ManualTimeSource time;
    RuntimeRandom random;
    NightDay clock{time};
    GameWeather weather{random};
    ConsoleModel model;
    ServerRates rates;
    PlayerList list{model};
    int32_t players = 0;
    int toggles = 0, closes = 0;
    std::vector<std::pair<float, float>> rateMessages;
    ConsoleCommands commands{
        model, rates, clock, weather,
        ConsoleActions{[this] { ++toggles; }, [this] { ++closes; }, [this] { return players; },
                       [this](float u, float t) { rateMessages.emplace_back(u, t); },
                       [this](int line) { return list.PlayerAtLine(line); },
                       [this](DPNID player) { return player == 303 ? zed : std::nullopt; },
                       [this] { return statistics; }}};
    ServerStatistics statistics;  // what the stats command is given
    // What the player on line 1 shows; nothing once it has left.
    std::optional<PlayerInfoTexts> zed = FormatPlayerInfo({.name = "Zed",
                                                           .throughput = 3400,
                                                           .latency = 120,
                                                           .msgsSent = 5,
                                                           .msgsReceived = 7,
                                                           .msgsTimedOut = 1});
    TerminalCommands terminal{commands};
};

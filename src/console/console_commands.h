#pragma once
// What the console's buttons, menu and terminal commands do, shared by both views.

#include <cstdint>
#include <functional>
#include <optional>

#include "console/console_model.h"
#include "console/player_info.h"
#include "console/server_statistics.h"
#include "net/server_rates.h"
#include "net/session_types.h"
#include "world/game_tick.h"

class NightDay;
class GameWeather;

// What the console reaches outside itself; the shell fills these in. An empty action does
// nothing.
struct ConsoleActions {
    std::function<void()> toggleServer;
    // Ends the program through the normal shutdown path.
    std::function<void()> close;
    std::function<int32_t()> playerCount;
    // RateSettings to every player.
    std::function<void(float updateRate, float messageTimeout)> sendRateSettings;
    // The player on a line of the player list, if any.
    std::function<std::optional<DPNID>(int line)> playerAtLine;
    // The player's name and fresh statistics; nothing once the player has left.
    std::function<std::optional<PlayerInfoTexts>(DPNID player)> playerInfo;
    // The server's figures for the statistics command.
    std::function<ServerStatistics()> statistics;
};

class ConsoleCommands {
public:
    ConsoleCommands(ConsoleModel& model, ServerRates& rates, NightDay& clock, GameWeather& weather,
                    ConsoleActions actions);

    // Once the console exists: shows the stored settings and applies the rate fields.
    void Initialise(const char* sessionName, uint32_t serverPort);
    // Reads the four rate fields and the day length, and tells the players the new rates.
    void ApplyConfig();
    // Starts rain with the New Rain Volume field as its target.
    void ApplyRain();
    void Press(ConsoleButton button);
    void Exit();
    void RefreshPlayerCount();
    // Kick does nothing to the player: it only refreshes "Players in Game: ".
    void Kick() { RefreshPlayerCount(); }
    std::optional<DPNID> PlayerAtLine(int line) const;
    std::optional<PlayerInfoTexts> PlayerInfo(DPNID player) const;
    ServerStatistics Statistics() const {
        return actions_.statistics ? actions_.statistics() : ServerStatistics{};
    }
    // Where the game tick's status texts go.
    void ShowTickField(TickField field, const char* text);

    // A console that is shutting down takes no more commands.
    void SetClosed() { closed_ = true; }
    bool closed() const { return closed_; }

    ConsoleModel& model() { return model_; }

private:
    ConsoleModel& model_;
    ServerRates& rates_;
    NightDay& clock_;
    GameWeather& weather_;
    ConsoleActions actions_;
    bool closed_ = false;
};

#include "console/console_commands.h"

#include <cstdio>
#include <utility>

#include "world/game_weather.h"
#include "world/night_day.h"

namespace {

// The rate fields are read from their first four characters, the day length from nineteen.
constexpr std::size_t kRateChars = 4;
constexpr std::size_t kDayLengthChars = 19;

ConsoleField ConsoleFieldOf(TickField field) {
    switch (field) {
        case TickField::TimeDelta:
            return ConsoleField::TimeDelta;
        case TickField::GameTime:
            return ConsoleField::GameTime;
        case TickField::DaysRunning:
            return ConsoleField::DaysRunning;
        case TickField::RainDuration:
            return ConsoleField::RainDuration;
        case TickField::RainVolume:
            return ConsoleField::RainVolume;
        case TickField::RainProgress:
            return ConsoleField::RainProgress;
        case TickField::IsItRaining:
            break;
    }
    return ConsoleField::IsItRaining;
}

}  // namespace

ConsoleCommands::ConsoleCommands(ConsoleModel& model, ServerRates& rates, NightDay& clock,
                                 GameWeather& weather, ConsoleActions actions)
    : model_(model), rates_(rates), clock_(clock), weather_(weather), actions_(std::move(actions)) {}

void ConsoleCommands::Initialise(const char* sessionName, uint32_t serverPort) {
    model_.SetText(ConsoleField::SessionName, sessionName);
    ApplyConfig();
    char port[20] = {};
    if (serverPort != 0) {
        std::snprintf(port, sizeof port, "%d", static_cast<int32_t>(serverPort));
    }
    model_.SetText(ConsoleField::PortNumber, port);
    RefreshPlayerCount();
}

void ConsoleCommands::ApplyConfig() {
    if (closed_) {
        return;
    }
    const int32_t reliable = ReadFieldNumber(model_.Text(ConsoleField::ReliableRate), kRateChars);
    const int32_t npcUpdate = ReadFieldNumber(model_.Text(ConsoleField::NpcUpdateRate), kRateChars);
    const int32_t update = ReadFieldNumber(model_.Text(ConsoleField::UpdateRate), kRateChars);
    const int32_t timeout = ReadFieldNumber(model_.Text(ConsoleField::MessageTimeout), kRateChars);
    const int32_t dayLength = ReadFieldNumber(model_.Text(ConsoleField::DayLength), kDayLengthChars);

    rates_.reliableRate = reliable;
    rates_.npcUpdateRate = npcUpdate;
    rates_.updateRate = static_cast<float>(update);
    rates_.messageTimeout = static_cast<float>(timeout);
    clock_.SetDayLength(dayLength);

    const int32_t players = actions_.playerCount ? actions_.playerCount() : 0;
    if (players > 0 && actions_.sendRateSettings) {
        actions_.sendRateSettings(rates_.updateRate, rates_.messageTimeout);
    }
}

void ConsoleCommands::ApplyRain() {
    if (closed_) {
        return;
    }
    weather_.BeginRain(ReadFieldNumber(model_.Text(ConsoleField::NewRainVolume), kRateChars),
                       clock_);
}

void ConsoleCommands::Press(ConsoleButton button) {
    if (closed_) {
        return;
    }
    switch (button) {
        case ConsoleButton::Start:
            if (actions_.toggleServer) {
                actions_.toggleServer();
            }
            break;
        case ConsoleButton::ApplyChanges:
            ApplyConfig();
            break;
        case ConsoleButton::RainApply:
            ApplyRain();
            break;
    }
}

void ConsoleCommands::Exit() {
    if (!closed_ && actions_.close) {
        actions_.close();
    }
}

void ConsoleCommands::RefreshPlayerCount() {
    char count[20] = {};
    std::snprintf(count, sizeof count, "%d", actions_.playerCount ? actions_.playerCount() : 0);
    model_.SetText(ConsoleField::PlayersInGame, count);
}

std::optional<DPNID> ConsoleCommands::PlayerAtLine(int line) const {
    if (line < 0 || !actions_.playerAtLine) {
        return std::nullopt;
    }
    return actions_.playerAtLine(line);
}

std::optional<PlayerInfoTexts> ConsoleCommands::PlayerInfo(DPNID player) const {
    return actions_.playerInfo ? actions_.playerInfo(player) : std::nullopt;
}

void ConsoleCommands::ShowTickField(TickField field, const char* text) {
    model_.SetText(ConsoleFieldOf(field), text);
}

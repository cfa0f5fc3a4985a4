#include "console/terminal_commands.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace {

struct SettableField {
    const char* name;
    ConsoleField field;
};

constexpr SettableField kSettableFields[] = {
    {"session", ConsoleField::SessionName},      {"port", ConsoleField::PortNumber},
    {"update", ConsoleField::UpdateRate},        {"reliable", ConsoleField::ReliableRate},
    {"npcupdate", ConsoleField::NpcUpdateRate},  {"timeout", ConsoleField::MessageTimeout},
    {"daylength", ConsoleField::DayLength},      {"rainvolume", ConsoleField::NewRainVolume},
};

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// Splits off the first word.
std::string_view NextWord(std::string_view& text) {
    text = Trim(text);
    const std::size_t end = std::min(text.find_first_of(" \t"), text.size());
    const std::string_view word = text.substr(0, end);
    text = Trim(text.substr(end));
    return word;
}

bool AllDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string TrimmedLabel(ConsoleField field) {
    std::string label = FieldLabel(field);
    while (!label.empty() && label.back() == ' ') {
        label.pop_back();
    }
    return label;
}

}  // namespace

const char* TerminalCommands::HelpText() {
    return "commands:\n"
           "  status                 show every console field\n"
           "  players                list the connected players: LINE NAME\n"
           "  info LINE              the name and connection statistics of the player on LINE\n"
           "  kick                   Kick (refreshes the player count; nobody is removed)\n"
           "  stats                  players, the game tick's timing and the network traffic\n"
           "  set FIELD TEXT         type TEXT into a field; FIELD is one of session, port,\n"
           "                         update, reliable, npcupdate, timeout, daylength, rainvolume\n"
           "  apply                  Apply Changes (rates and day length)\n"
           "  rain [VOLUME]          start rain (New Rain Volume, 0-60)\n"
           "  start | stop           start or stop hosting\n"
           "  exit                   shut the server down\n";
}

std::string TerminalCommands::Execute(std::string_view line) {
    std::string_view arguments = line;
    const std::string_view command = NextWord(arguments);
    if (command.empty()) {
        return {};
    }
    if (command == "help" || command == "?") {
        return HelpText();
    }
    if (command == "status") {
        return Status();
    }
    if (command == "players") {
        return Players();
    }
    if (command == "info") {
        return Info(arguments);
    }
    if (command == "stats") {
        return FormatServerStatistics(commands_.Statistics());
    }
    if (command == "kick") {
        commands_.Kick();
        return {};
    }
    if (command == "set") {
        return Set(arguments);
    }
    if (command == "apply") {
        commands_.Press(ConsoleButton::ApplyChanges);
        return {};
    }
    if (command == "rain") {
        return Rain(arguments);
    }
    if (command == "start" || command == "stop") {
        return PressStart(command == "start");
    }
    if (command == "exit" || command == "quit") {
        commands_.Exit();
        return {};
    }
    return "unknown command '" + std::string(command) + "'; type help for the list\n";
}

std::string TerminalCommands::Status() const {
    std::string out;
    const ConsoleModel& model = commands_.model();
    for (std::size_t i = 0; i < kConsoleFieldCount; ++i) {
        const auto field = static_cast<ConsoleField>(i);
        out += TrimmedLabel(field) + " " + model.Text(field) + "\n";
    }
    return out;
}

std::string TerminalCommands::Players() const {
    std::string out;
    const std::vector<std::string>& lines = commands_.model().PlayerLines();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        out += std::to_string(i) + " " + lines[i] + "\n";
    }
    return out.empty() ? "no players\n" : out;
}

std::string TerminalCommands::Info(std::string_view arguments) const {
    const std::string_view line = NextWord(arguments);
    if (line.empty() || line.size() > 9 || !AllDigits(line) || !arguments.empty()) {
        return "info: give the LINE number that players shows\n";
    }
    const std::optional<DPNID> player = commands_.PlayerAtLine(std::stoi(std::string(line)));
    const std::optional<PlayerInfoTexts> info =
        player ? commands_.PlayerInfo(*player) : std::nullopt;
    if (!info) {
        return "info: no player on line " + std::string(line) + "\n";
    }
    std::string out;
    for (int i = 0; i < PlayerInfoTexts::kCount; ++i) {
        out += std::string(kPlayerInfoLabels[i]) + " " + info->values[i] + "\n";
    }
    return out;
}

std::string TerminalCommands::Set(std::string_view arguments) {
    const std::string_view name = NextWord(arguments);
    const auto* found = std::find_if(std::begin(kSettableFields), std::end(kSettableFields),
                                     [&](const SettableField& f) { return name == f.name; });
    if (found == std::end(kSettableFields)) {
        return "set: unknown field '" + std::string(name) + "'; type help for the list\n";
    }
    ConsoleModel& model = commands_.model();
    if (!model.Enabled(found->field)) {
        return "set: " + std::string(name) + " cannot be changed while the server is hosting\n";
    }
    if (FieldControl(found->field).kind == ControlKind::DigitsEdit && !AllDigits(arguments)) {
        return "set: " + std::string(name) + " takes digits only\n";
    }
    model.SetText(found->field, arguments);
    return {};
}

std::string TerminalCommands::Rain(std::string_view arguments) {
    if (!arguments.empty()) {
        std::string error = Set("rainvolume " + std::string(arguments));
        if (!error.empty()) {
            return error;
        }
    }
    commands_.Press(ConsoleButton::RainApply);
    return {};
}

std::string TerminalCommands::PressStart(bool wantHosting) {
    const bool hosting = commands_.model().StartButtonText() == "Stop Server";
    if (hosting == wantHosting) {
        return wantHosting ? "the server is already started\n" : "the server is not started\n";
    }
    commands_.Press(ConsoleButton::Start);
    return {};
}

#include "console/console_model.h"


ConsoleModel::ConsoleModel() {
    for (std::size_t i = 0; i < kConsoleFieldCount; ++i) {
        const auto field = static_cast<ConsoleField>(i);
        texts_[i] = FieldControl(field).text;
        enabled_[i] = true;
    }
}

void ConsoleModel::SetText(ConsoleField field, std::string_view text) {
    std::string& current = texts_[Index(field)];
    if (current == text) {
        return;
    }
    current.assign(text);
    Notify(Change::Field, field);
}

void ConsoleModel::SetEnabled(ConsoleField field, bool enabled) {
    if (enabled_[Index(field)] == enabled) {
        return;
    }
    enabled_[Index(field)] = enabled;
    Notify(Change::Enabled, field);
}

void ConsoleModel::SetStartButtonText(std::string_view text) {
    startButtonText_.assign(text);
    Notify(Change::StartButton, ConsoleField::ServerStatus);
}

int ConsoleModel::AddPlayerLine(std::string_view text) {
    playerLines_.emplace_back(text);
    Notify(Change::PlayerList, ConsoleField::PlayersInGame);
    return static_cast<int>(playerLines_.size()) - 1;
}

void ConsoleModel::DeletePlayerLine(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= playerLines_.size()) {
        return;
    }
    playerLines_.erase(playerLines_.begin() + index);
    Notify(Change::PlayerList, ConsoleField::PlayersInGame);
}

void ConsoleModel::Notify(Change change, ConsoleField field) const {
    if (observer_) {
        observer_(change, field);
    }
}

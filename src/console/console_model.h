#pragma once
// The console's state without a toolkit: the text of every field, which fields are enabled,
// the start button's text and the player list. The Qt window and the terminal console are
// two views of it. Lives on the window thread.

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_layout.h"
#include "base/field_number.h"

class ConsoleModel {
public:
    // Which part of the console changed, for the views.
    enum class Change { Field, Enabled, StartButton, PlayerList };
    using Observer = std::function<void(Change change, ConsoleField field)>;

    ConsoleModel();

    const std::string& Text(ConsoleField field) const { return texts_[Index(field)]; }
    void SetText(ConsoleField field, std::string_view text);

    bool Enabled(ConsoleField field) const { return enabled_[Index(field)]; }
    void SetEnabled(ConsoleField field, bool enabled);

    const std::string& StartButtonText() const { return startButtonText_; }
    void SetStartButtonText(std::string_view text);

    const std::vector<std::string>& PlayerLines() const { return playerLines_; }
    // Appends a line and returns its index.
    int AddPlayerLine(std::string_view text);
    // Removes a line; later lines move up by one.
    void DeletePlayerLine(int index);

    void SetObserver(Observer observer) { observer_ = std::move(observer); }

private:
    static std::size_t Index(ConsoleField field) { return static_cast<std::size_t>(field); }
    void Notify(Change change, ConsoleField field) const;

    std::array<std::string, kConsoleFieldCount> texts_;
    std::array<bool, kConsoleFieldCount> enabled_;
    std::string startButtonText_ = "Start Server";
    std::vector<std::string> playerLines_;
    Observer observer_;
};

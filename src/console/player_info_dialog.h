#pragma once
// "Info on Player": a modal dialog with the name and live connection statistics of one player,
// refreshed on opening and every 300 ms. Only OK closes it; once the player has left, the
// fields keep the values they last showed.

#include <QDialog>

#include <array>

#include "console/console_commands.h"

class QLabel;

class PlayerInfoDialog final : public QDialog {
public:
    static constexpr int kRefreshMs = 300;

    PlayerInfoDialog(ConsoleCommands& commands, DPNID player);
    void Refresh();
    // The six value fields, in the order of PlayerInfoTexts::values.
    const std::array<QLabel*, PlayerInfoTexts::kCount>& values() const { return values_; }

protected:
    void reject() override {}  // Escape and the close box do nothing

private:
    ConsoleCommands& commands_;
    DPNID player_;
    std::array<QLabel*, PlayerInfoTexts::kCount> values_{};
};

#include "console/player_info_dialog.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "console/console_window.h"

namespace {

// Dialog units of the 8-point dialog font in pixels: 6/4 across, 13/8 down.
QRect Units(int x, int y, int width, int height) {
    return QRect(x * 3 / 2, y * 13 / 8, width * 3 / 2, height * 13 / 8);
}

}  // namespace

PlayerInfoDialog::PlayerInfoDialog(ConsoleCommands& commands, DPNID player)
    : commands_(commands), player_(player) {
    setWindowTitle("Info on Player");
    setModal(true);
    setFixedSize(Units(0, 0, 145, 234).size());
    // The layout is made for a narrow 8-point font: take the largest size, 8 points at most, at
    // which the longest label fits its 120 units.
    QFont small = font();
    for (int points = 8; points > 5; --points) {
        small.setPointSize(points);
        if (QFontMetrics(small).horizontalAdvance(kPlayerInfoLabels[4]) <=
            Units(0, 0, 120, 8).width())
            break;
    }
    setFont(small);
    (new QGroupBox("General Info", this))->setGeometry(Units(7, 7, 130, 41));
    (new QGroupBox("Connection Details", this))->setGeometry(Units(7, 52, 130, 136));
    // Label rows, each followed 13 units lower by its value field.
    const int rows[PlayerInfoTexts::kCount] = {20, 65, 89, 113, 137, 161};
    for (int i = 0; i < PlayerInfoTexts::kCount; ++i) {
        auto* label = new QLabel(kPlayerInfoLabels[i], this);
        label->setGeometry(Units(10, rows[i], i == 5 ? 81 : 120, 8));
        values_[i] = new QLabel(" ", this);
        values_[i]->setGeometry(Units(10, rows[i] + 13, 120, 8));
    }
    auto* ok = new QPushButton("OK", this);
    ok->setDefault(true);
    ok->setGeometry(Units(46, 213, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &PlayerInfoDialog::Refresh);
    timer->start(kRefreshMs);
    Refresh();
}

void PlayerInfoDialog::Refresh() {
    const std::optional<PlayerInfoTexts> info = commands_.PlayerInfo(player_);
    if (!info) {
        return;  // the player has left: keep what was shown
    }
    for (int i = 0; i < PlayerInfoTexts::kCount; ++i) {
        values_[i]->setText(ToQString(info->values[i]));
    }
}

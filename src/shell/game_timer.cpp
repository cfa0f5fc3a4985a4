#include "shell/game_timer.h"

#include "world/game_tick.h"

std::unique_ptr<QTimer> MakeGameTimer(std::function<void()> onTick) {
    auto timer = std::make_unique<QTimer>();
    // A coarse timer may fire up to 5 % early or late; the tick measures real time anyway, but
    // a steady 20 Hz keeps NPC movement smooth for the clients.
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(static_cast<int>(GameTick::kIntervalMs));
    QObject::connect(timer.get(), &QTimer::timeout, std::move(onTick));
    return timer;
}

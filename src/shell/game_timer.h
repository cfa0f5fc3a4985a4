#pragma once
// The console's timer 1: the game tick every 50 ms, as precise as the event loop allows.

#include <QTimer>

#include <functional>
#include <memory>

std::unique_ptr<QTimer> MakeGameTimer(std::function<void()> onTick);

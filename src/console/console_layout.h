#pragma once
// The console window's controls: kind, text at creation, position and size in pixels. Both
// the window and the terminal console are built from this one table.

#include <cstddef>
#include <span>

enum class ConsoleField {
    SessionName,
    PortNumber,
    ServerStatus,
    UpdateRate,
    ReliableRate,
    NpcUpdateRate,
    MessageTimeout,
    GameTime,
    DaysRunning,
    DayLength,
    PlayersInGame,
    TimeDelta,
    IsItRaining,
    RainDuration,
    RainProgress,
    RainVolume,
    NewRainVolume,
};
inline constexpr std::size_t kConsoleFieldCount = 17;

enum class ConsoleButton { Start, ApplyChanges, RainApply };

enum class ControlKind {
    Frame,        // an etched rectangle with no text
    Label,        // 8 pixels a character wide, 20 high
    Edit,         // an editable field
    DigitsEdit,   // an editable field that takes digits only
    Status,       // a read-only text the server writes
    Button,
    PlayerList,
};

struct ControlSpec {
    ControlKind kind;
    const char* text;  // text at creation
    int x, y, width, height;
    ConsoleField field;    // Edit, DigitsEdit, Status
    ConsoleButton button;  // Button
};

// In creation order.
std::span<const ControlSpec> ConsoleControls();

// The spec of the field's control, and the label placed before it (nullptr when none).
const ControlSpec& FieldControl(ConsoleField field);
const char* FieldLabel(ConsoleField field);

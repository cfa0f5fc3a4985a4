#include "console/console_layout.h"

#include <string_view>

namespace {

using F = ConsoleField;
using B = ConsoleButton;
using K = ControlKind;

constexpr int LabelWidth(const char* text) { return 8 * static_cast<int>(std::string_view(text).size()); }

constexpr ControlSpec Frame(int x, int y, int w, int h) { return {K::Frame, "", x, y, w, h, F::SessionName, B::Start}; }
constexpr ControlSpec Label(const char* text, int x, int y) { return {K::Label, text, x, y, LabelWidth(text), 20, F::SessionName, B::Start}; }
constexpr ControlSpec Field(K kind, F field, const char* text, int x, int y, int w, int h) { return {kind, text, x, y, w, h, field, B::Start}; }
constexpr ControlSpec Button(B button, const char* text, int x, int y, int w, int h) { return {K::Button, text, x, y, w, h, F::SessionName, button}; }

// clang-format off
constexpr ControlSpec kControls[] = {
    Frame(0, 0, 2000, 1),
    Label("Session Name:", 10, 10),
    Field(K::Edit, F::SessionName, "EmberRealms Game", 10, 30, 200, 20),
    Label("Port Number:", 10, 60),
    Field(K::DigitsEdit, F::PortNumber, "25858", 10, 80, 50, 20),
    Button(B::Start, "Start Server", 10, 120, 100, 25),
    Label("Server Status: ", 10, 160),
    Field(K::Status, F::ServerStatus, "Server Stopped", 110, 160, 130, 20),
    Frame(5, 5, 250, 180),
    Label("Update Rate:", 10, 200),
    Label("Reliable Rate:", 140, 200),
    Field(K::DigitsEdit, F::UpdateRate, "50", 10, 220, 50, 20),
    Field(K::DigitsEdit, F::ReliableRate, "0", 140, 220, 50, 20),
    Label("% ", 195, 220),
    Label("NPC Update Rate:", 10, 250),
    Field(K::DigitsEdit, F::NpcUpdateRate, "50", 10, 270, 50, 20),
    Label("Message Timout (ms):", 10, 300),
    Field(K::DigitsEdit, F::MessageTimeout, "60", 10, 320, 50, 20),
    Button(B::ApplyChanges, "Apply Changes", 10, 350, 120, 25),
    Frame(5, 190, 250, 200),
    Label("Game Time:", 10, 405),
    Field(K::Status, F::GameTime, "0:00", 100, 405, 120, 25),
    Label("Days Running:", 10, 425),
    Field(K::Status, F::DaysRunning, "0", 115, 425, 120, 25),
    Label("Day Length (Program Cycles):", 10, 455),
    Field(K::DigitsEdit, F::DayLength, "1000", 10, 475, 70, 20),
    Frame(5, 395, 250, 110),
    Label("Player List: ", 275, 10),
    {K::PlayerList, "", 275, 30, 355, 100, F::SessionName, B::Start},
    Label("Players in Game: ", 275, 140),
    Field(K::Status, F::PlayersInGame, "0", 395, 140, 50, 20),
    Label("Time Delta:", 275, 160),
    Field(K::Status, F::TimeDelta, "0", 365, 160, 100, 20),
    Frame(265, 5, 380, 180),
    Label("Is it Raining?:", 275, 200),
    Field(K::Status, F::IsItRaining, "No", 385, 200, 50, 20),
    Label("Rain Duration:", 275, 220),
    Field(K::Status, F::RainDuration, "0", 385, 220, 50, 20),
    Label("Rain Progress:", 275, 240),
    Field(K::Status, F::RainProgress, "0", 385, 240, 50, 20),
    Label("Rain Volume:", 275, 260),
    Field(K::Status, F::RainVolume, "0", 385, 260, 50, 20),
    Label("New Rain Volume (0-60):", 275, 290),
    Field(K::DigitsEdit, F::NewRainVolume, "0", 275, 310, 21, 20),
    Button(B::RainApply, "Apply", 275, 350, 60, 25),
    Frame(265, 190, 180, 200),
};
// clang-format on

bool HoldsField(const ControlSpec& control) {
    return control.kind == K::Edit || control.kind == K::DigitsEdit || control.kind == K::Status;
}

}  // namespace

std::span<const ControlSpec> ConsoleControls() { return kControls; }

const ControlSpec& FieldControl(ConsoleField field) {
    for (const ControlSpec& control : kControls) {
        if (HoldsField(control) && control.field == field) {
            return control;
        }
    }
    return kControls[0];  // unreachable: every field has a control
}

const char* FieldLabel(ConsoleField field) {
    // A field's label is the last label created before it, except for the two rate fields
    // whose labels stand side by side above them.
    if (field == F::UpdateRate) {
        return "Update Rate:";
    }
    if (field == F::ReliableRate) {
        return "Reliable Rate:";
    }
    const char* label = nullptr;
    for (const ControlSpec& control : kControls) {
        if (control.kind == K::Label) {
            label = control.text;
        } else if (HoldsField(control) && control.field == field) {
            return label;
        }
    }
    return nullptr;
}

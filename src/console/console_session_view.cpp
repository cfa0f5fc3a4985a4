#include "console/console_session_view.h"

#include <cstdio>
#include <utility>

ConsoleSessionView::ConsoleSessionView(ConsoleCommands& commands, PlayerList& players, Post post)
    : commands_(commands), players_(players), post_(std::move(post)) {}

std::string ConsoleSessionView::SessionNameField() {
    return commands_.model().Text(ConsoleField::SessionName);
}

std::string ConsoleSessionView::PortNumberField() {
    return commands_.model().Text(ConsoleField::PortNumber);
}

void ConsoleSessionView::SetServerStatus(const char* text) {
    commands_.model().SetText(ConsoleField::ServerStatus, text);
}

void ConsoleSessionView::SetWaitCursor(bool wait) {
    if (showWaitCursor) {
        showWaitCursor(wait);
    }
}

void ConsoleSessionView::ShowHosting(bool hosting) {
    ConsoleModel& model = commands_.model();
    model.SetStartButtonText(hosting ? "Stop Server" : "Start Server");
    model.SetEnabled(ConsoleField::SessionName, !hosting);
    model.SetEnabled(ConsoleField::PortNumber, !hosting);
    if (hostingChanged) {
        hostingChanged(hosting);
    }
}

void ConsoleSessionView::Close(const char* reason) {
    // Said on standard error in every mode: the window closes at once, and a service
    // manager's log keeps what the debug log would only hold in the data directory.
    std::fprintf(stderr, "%s\n", reason);
    if (closing) {
        closing(reason);
    }
    // Posted, not called: the failed start returns before the shutdown begins.
    post_([this] { commands_.Exit(); });
}

void ConsoleSessionView::PostPlayerCountChanged() {
    post_([this] { commands_.RefreshPlayerCount(); });
}

void ConsoleSessionView::PostPlayerJoined(DPNID player, const char* name) {
    post_([this, player, line = std::string(name != nullptr ? name : "")] {
        players_.Add(player, line.c_str());
    });
}

void ConsoleSessionView::PostPlayerLeft(DPNID player) {
    post_([this, player] { players_.Remove(player); });
}

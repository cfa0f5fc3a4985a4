#pragma once
// The console as the network session sees it: the status texts, the start button and the two
// session fields, the player count and the player list. Notifications from the session's
// threads are posted to the window thread; nothing here waits for it.

#include <functional>
#include <string>

#include "console/console_commands.h"
#include "console/player_list.h"
#include "net/session_console.h"

class ConsoleSessionView final : public SessionConsole {
public:
    // Runs a function later on the window thread.
    using Post = std::function<void(std::function<void()> work)>;

    ConsoleSessionView(ConsoleCommands& commands, PlayerList& players, Post post);

    std::string SessionNameField() override;
    std::string PortNumberField() override;
    void SetServerStatus(const char* text) override;
    void SetWaitCursor(bool wait) override;
    void ShowHosting(bool hosting) override;
    void Close(const char* reason) override;
    void PostPlayerCountChanged() override;
    void PostPlayerJoined(DPNID player, const char* name) override;
    void PostPlayerLeft(DPNID player) override;

    // How the views show a busy server; the window sets it, headless has none.
    std::function<void(bool wait)> showWaitCursor;
    // Told of every start and stop of hosting, and of the reason a start failed.
    std::function<void(bool hosting)> hostingChanged;
    std::function<void(const char* reason)> closing;

private:
    ConsoleCommands& commands_;
    PlayerList& players_;
    Post post_;
};

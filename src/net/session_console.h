#pragma once
// What the network session shows on the console and reads from it. The shell implements it
// over the console model.

#include <string>

#include "net/session_types.h"

class SessionConsole {
public:
    virtual ~SessionConsole() = default;

    // --- window thread only ---
    virtual std::string SessionNameField() = 0;
    virtual std::string PortNumberField() = 0;
    virtual void SetServerStatus(const char* text) = 0;
    virtual void SetWaitCursor(bool wait) = 0;
    // The start button reads "Stop Server" and the two session fields are disabled while hosting.
    virtual void ShowHosting(bool hosting) = 0;
    // A failed start closes the console, which shuts the program down; `reason` is one line
    // for the operator ("Error Starting Server! ...").
    virtual void Close(const char* reason) = 0;

    // --- any thread; these only post to the window thread, never wait for it ---
    virtual void PostPlayerCountChanged() = 0;
    virtual void PostPlayerJoined(DPNID player, const char* name) = 0;
    virtual void PostPlayerLeft(DPNID player) = 0;
};

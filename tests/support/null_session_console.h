#pragma once
// A console that shows nothing, for benchmarks and tests that only drive the session.

#include "net/session_console.h"

class NullSessionConsole final : public SessionConsole {
public:
    std::string SessionNameField() override { return "bench"; }
    std::string PortNumberField() override { return "0"; }
    void SetServerStatus(const char*) override {}
    void SetWaitCursor(bool) override {}
    void ShowHosting(bool) override {}
    void Close(const char*) override {}
    void PostPlayerCountChanged() override {}
    void PostPlayerJoined(DPNID, const char*) override {}
    void PostPlayerLeft(DPNID) override {}
};

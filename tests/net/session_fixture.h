#pragma once
// A network session hosted by default on the fake session, with a console that logs.

#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "net/game_messages.h"
#include "net/network_session.h"
#include "support/fake_session.h"
#include "support/session_test_world.h"
#include "support/temp_dir.h"

// clang-format off
// Logs statuses, "wait 0/1", "hosting 0/1", "close", "#" (count), "+<id> <name>" and "-<id>", each ended by "|".
struct RecordingConsole : SessionConsole {
    std::string sessionNameField = "Ember Realms Game", portNumberField = "25857";

    std::string SessionNameField() override { return sessionNameField; }
    std::string PortNumberField() override { return portNumberField; }
    void SetServerStatus(const char* text) override { Log(text); }
    void SetWaitCursor(bool wait) override { Log("wait " + std::to_string(wait)); }
    void ShowHosting(bool hosting) override { Log("hosting " + std::to_string(hosting)); }
    void Close(const char* reason) override { Log(std::string("close ") + reason); }
    void PostPlayerCountChanged() override { Log("#"); }
    void PostPlayerJoined(DPNID id, const char* name) override { Log("+" + std::to_string(id) + " " + name); }
    void PostPlayerLeft(DPNID id) override { Log("-" + std::to_string(id)); }
    void Log(const std::string& entry) { std::lock_guard lock(mutex); log += entry + "|"; }
    std::string Take() { std::lock_guard lock(mutex); return std::exchange(log, {}); }  // since the last call
    std::mutex mutex; std::string log;
};

struct SessionRig : SessionTestWorld {
    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
    RecordingConsole console;
    FakeSession* fake = nullptr;
    NetworkSession::SessionFactory factory = [this] { return std::unique_ptr<SessionService>(fake = new FakeSession); };
    NetworkSession session{settings, rates, random, World(), console, [this] { return factory(); }};
};

inline std::vector<uint8_t> V(std::span<const uint8_t> m) { return {m.begin(), m.end()}; }
// A client message: type, an unread word, then the payload.
inline std::vector<uint8_t> Msg(uint32_t type, std::vector<uint8_t> payload = {}) {
    payload.insert(payload.begin(), 8, 0xEF);
    return PutU32(payload.data(), type), payload;
}
inline std::vector<uint8_t> Pos(uint32_t type, float x, float y, uint8_t byte = 7, uint32_t word = 0x01020304) {
    auto m = Msg(type, std::vector<uint8_t>(13, byte));
    return PutF32(&m[8], x), PutF32(&m[12], y), PutU32(&m[17], word), m;
}
// clang-format on

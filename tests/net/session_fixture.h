#pragma once
// A network session with a console that logs what it is told, hosted by default on the fake
// session.

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "net/game_messages.h"
#include "net/network_session.h"
#include "support/fake_session.h"
#include "support/session_test_world.h"
#include "support/temp_dir.h"

// Logs statuses as shown, "wait 0/1", "hosting 0/1", "close", "#" for a count change,
// "+<id> <name>" for a join and "-<id>" for a leave.
class RecordingConsole : public SessionConsole {
public:
    std::string sessionNameField = "Ember Realms Game", portNumberField = "25857";

    std::string SessionNameField() override { return sessionNameField; }
    std::string PortNumberField() override { return portNumberField; }
    void SetServerStatus(const char* text) override { Log(text); }
    void SetWaitCursor(bool wait) override { Log("wait " + std::to_string(wait)); }
    void ShowHosting(bool hosting) override { Log("hosting " + std::to_string(hosting)); }
    void Close() override { Log("close"); }
    void PostPlayerCountChanged() override { Log("#"); }
    void PostPlayerJoined(DPNID id, const char* name) override {
        Log("+" + std::to_string(id) + " " + name);
    }
    void PostPlayerLeft(DPNID id) override { Log("-" + std::to_string(id)); }

    std::vector<std::string> Entries(const std::string& prefix = "") {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        std::copy_if(log_.begin(), log_.end(), std::back_inserter(out),
                     [&](const std::string& entry) { return entry.starts_with(prefix); });
        return out;
    }

private:
    void Log(std::string entry) {
        std::lock_guard lock(mutex_);
        log_.push_back(std::move(entry));
    }
    std::mutex mutex_;
    std::vector<std::string> log_;
};

struct SessionRig : SessionTestWorld {
    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
    RecordingConsole console;
    FakeSession* fake = nullptr;
    std::function<void(FakeSession&)> configure = [](FakeSession&) {};
    NetworkSession::SessionFactory factory = [this] {
        auto created = std::make_unique<FakeSession>();
        configure(*(fake = created.get()));
        return created;
    };
    NetworkSession session{settings, rates, random, World(), console, [this] { return factory(); }};
};

// A client message: type, an unread word, then the payload.
inline std::vector<uint8_t> Msg(uint32_t type, std::vector<uint8_t> payload = {}) {
    std::vector<uint8_t> bytes(8, 0);
    PutU32(bytes.data(), type);
    PutU32(bytes.data() + 4, 0xDEADBEEF);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}
inline std::vector<uint8_t> Pos(uint32_t type, float x, float y, uint8_t byte = 7,
                                uint32_t word = 0x01020304) {
    std::vector<uint8_t> payload(13, byte);
    PutF32(payload.data(), x);
    PutF32(payload.data() + 4, y);
    PutU32(payload.data() + 9, word);
    return Msg(type, payload);
}

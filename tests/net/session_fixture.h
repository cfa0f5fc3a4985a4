#pragma once
// A network session hosted on the fake session, with a recording console and a world.

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "support/fake_session.h"
#include "net/game_messages.h"
#include "net/network_session.h"
#include "support/session_test_world.h"
#include "base/debug_log.h"
#include "support/temp_dir.h"

class RecordingConsole : public SessionConsole {
public:
    std::string sessionNameField = "Ember Realms Game";
    std::string portNumberField = "25857";
    std::vector<std::string> statuses;
    int closes = 0;
    bool hostingShown = false;
    bool waitCursor = false;

    std::string SessionNameField() override { return sessionNameField; }
    std::string PortNumberField() override { return portNumberField; }
    void SetServerStatus(const char* text) override { statuses.emplace_back(text); }
    void SetWaitCursor(bool wait) override { waitCursor = wait; }
    void ShowHosting(bool hosting) override { hostingShown = hosting; }
    void Close() override { ++closes; }

    void PostPlayerCountChanged() override {
        std::lock_guard lock(mutex);
        ++countPosts;
    }
    void PostPlayerJoined(DPNID player, const char* name) override {
        std::lock_guard lock(mutex);
        lines.push_back(std::to_string(player) + " " + name);
    }
    void PostPlayerLeft(DPNID player) override {
        std::lock_guard lock(mutex);
        left.push_back(player);
    }

    std::mutex mutex;
    int countPosts = 0;
    std::vector<std::string> lines;
    std::vector<DPNID> left;
};

class SessionTest : public ::testing::Test, protected SessionTestWorld {
protected:
    // Starts hosting on a fresh fake session.
    void Host() {
        ASSERT_EQ(session.StartServer(), S_OK);
        ASSERT_NE(fake, nullptr);
    }

    // A client message: type, an unread word, then the payload.
    static std::vector<uint8_t> Message(uint32_t type, std::vector<uint8_t> payload = {}) {
        std::vector<uint8_t> bytes(8, 0);
        PutU32(bytes.data(), type);
        PutU32(bytes.data() + 4, 0xDEADBEEF);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        return bytes;
    }
    static std::vector<uint8_t> Position(uint32_t type, float x, float y, uint8_t byte = 7,
                                         uint32_t word = 0x01020304) {
        std::vector<uint8_t> payload(13, 0);
        PutF32(payload.data(), x);
        PutF32(payload.data() + 4, y);
        payload[8] = byte;
        PutU32(payload.data() + 9, word);
        return Message(type, payload);
    }
    void MoveTo(DPNID player, float x, float y) {
        fake->Deliver(player, Position(kMsgPlayerStopped, x, y));
    }

    // Messages of one type that reached a player.
    std::vector<FakeSession::Sent> Received(DPNID player, uint32_t type) const {
        std::vector<FakeSession::Sent> out;
        for (const auto& sent : fake->SentTo(player)) {
            if (sent.bytes.size() >= 4 && GetU32(sent.bytes.data()) == type) {
                out.push_back(sent);
            }
        }
        return out;
    }

    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
    RecordingConsole console;
    FakeSession* fake = nullptr;
    NetworkSession session{settings, rates, random, World(), console, [this] {
                               auto created = std::make_unique<FakeSession>();
                               fake = created.get();
                               configure(*created);
                               return created;
                           }};
    std::function<void(FakeSession&)> configure = [](FakeSession&) {};
};

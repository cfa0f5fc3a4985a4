#pragma once
// An in-process session for tests: the test plays the clients (connects them, sends their
// messages, disconnects them) and reads every byte the server sent each of them.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "net/session_service.h"

class FakeSession final : public SessionService {
public:
    static constexpr DPNID kServerPlayer = 0x00200001;

    struct Sent {
        DPNID target;  // the player it reached (a send to all players reaches each of them)
        bool toAll;
        std::vector<uint8_t> bytes;
        uint32_t timeoutMs;
        uint32_t flags;
    };

    // --- what the test controls ---
    HRESULT hostResult = S_OK;
    HRESULT enumerateResult = S_OK;  // a failure to report from EnumPlayersAndGroups
    int enumerateGrowth = 0;         // players "joining" between the two enumeration calls
    HRESULT clientInfoResult = S_OK;  // a failure to report from GetClientInfo
    std::atomic<HRESULT> lastCreateResult{S_OK};  // the handler's answer to the last CREATE_PLAYER
    ConnectionInfo connectionInfo;

    // --- the test plays the clients; each returns what the server's handler returned ---
    DPNID Connect(const std::u16string& name);
    HRESULT Disconnect(DPNID player);
    HRESULT Deliver(DPNID from, const std::vector<uint8_t>& bytes);

    // What reached a player, in order.
    std::vector<Sent> SentTo(DPNID player) const;
    std::vector<Sent> AllSent() const;
    void ClearSent();
    bool closed() const { return closed_; }
    uint32_t hostedPort() const { return port_; }
    ApplicationDesc hostedDesc() const;
    int handlerCalls() const { return handlerCalls_; }

    // --- the session interface ---
    HRESULT Initialize(MessageHandler handler) override;
    HRESULT Host(const ApplicationDesc& desc, uint32_t port) override;
    HRESULT SendTo(DPNID target, const uint8_t* data, uint32_t size, uint32_t timeoutMs,
                   uint32_t flags) override;
    HRESULT GetClientInfo(DPNID player, PlayerInfo& info) override;
    HRESULT EnumPlayersAndGroups(DPNID* ids, uint32_t* count, uint32_t flags) override;
    HRESULT GetPlayerContext(DPNID player, void** context, uint32_t flags) override;
    HRESULT GetConnectionInfo(DPNID player, ConnectionInfo& info) override;
    HRESULT Close(uint32_t flags) override;

private:
    struct Player {
        std::u16string name;
        void* context = nullptr;
    };

    HRESULT Call(uint32_t messageId, void* message);

    mutable std::mutex mutex_;
    std::condition_variable idle_;
    MessageHandler handler_;
    std::map<DPNID, Player> players_;  // the server's own player and the clients
    std::vector<Sent> sent_;
    ApplicationDesc desc_;
    uint32_t port_ = 0;
    DPNID nextId_ = 0x00300001;
    int running_ = 0;
    std::atomic<bool> closed_{false};
    std::atomic<int> handlerCalls_{0};
};

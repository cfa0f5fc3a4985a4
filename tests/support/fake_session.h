#pragma once
// An in-process session for tests: the test plays the clients (connects them, sends their
// messages, disconnects them) and reads every send the server made, as it made it.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "net/session_service.h"

class FakeSession final : public SessionService {
public:
    static constexpr DPNID kServerPlayer = 0x00200001;
    static constexpr DPNID kFirstClient = 0x00300001;  // then one more for each Connect

    struct Sent {
        DPNID target;  // kAllPlayers for a send to every player
        std::vector<uint8_t> bytes;
        uint32_t timeoutMs;
        uint32_t flags;
        bool operator==(const Sent&) const = default;
        friend std::ostream& operator<<(std::ostream& out, const Sent& s) {
            out << "{to " << s.target << " timeout " << s.timeoutMs << " flags " << s.flags << ":";
            for (uint8_t b : s.bytes) {
                out << ' ' << int(b);
            }
            return out << '}';
        }
    };

    HRESULT hostResult = S_OK;
    HRESULT enumerateResult = S_OK;
    int enumerateGrowth = 0;  // players "joining" between the two enumeration calls
    HRESULT clientInfoResult = S_OK;
    std::atomic<HRESULT> lastCreateResult{S_OK};  // the handler's answer to the last CREATE_PLAYER
    ConnectionInfo connectionInfo;
    ApplicationDesc hostedDesc;
    uint32_t hostedPort = 0;

    // The test plays the clients; each returns what the server's handler returned.
    DPNID Connect(const std::u16string& name);
    HRESULT Disconnect(DPNID player);
    HRESULT Deliver(DPNID from, const std::vector<uint8_t>& bytes);
    std::vector<Sent> TakeSent();  // every send since the last call, in order

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

    // Runs a notification the caller has counted in running_ under the mutex.
    HRESULT Call(uint32_t messageId, void* message);

    mutable std::mutex mutex_;
    std::condition_variable idle_;
    MessageHandler handler_;
    std::map<DPNID, Player> players_;  // the server's own player and the clients
    std::vector<Sent> sent_;
    DPNID nextId_ = kFirstClient;
    int running_ = 0;
    bool closed_ = false;
};

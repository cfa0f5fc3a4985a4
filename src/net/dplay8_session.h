#pragma once
// The session seam on the DirectPlay 8 transport: hosts a client/server session over UDP
// with dplay8::UdpHost and turns its events into the four notifications. Names cross as
// UTF-16, ids are DirectPlay player ids, statistics are the transport's.
//
// The handler runs on the host's handler threads (one player's calls in order and one at a
// time); the server's own player is created in Host and destroyed in Close, on the caller's
// thread. Close must not be called from the handler.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "dplay8/udp_host.h"
#include "net/session_service.h"

struct Dplay8SessionOptions {
    bool enumerationPort = true;  // also answer enumeration on UDP 6073 when it is free
    uint32_t bindAddress = 0;     // host byte order; 0: every interface
    size_t handlerThreads = 2;
    uint32_t closeLingerMs = 1000;  // Close waits this long at most for clients to acknowledge
    // What one client, or a flood from forged sources, can make the host hold or do.
    dplay8::HostLimits limits;
    size_t sendQueueBytes = 256 * 1024;  // per player, not yet sent
    // A client's position report asks for an acknowledgment at once; its NearbyPlayers reply
    // follows within a millisecond or two and carries it, saving a datagram a report.
    uint32_t pollAckHoldMs = 2;
};

class Dplay8Session final : public SessionService {
public:
    Dplay8Session() = default;
    explicit Dplay8Session(Dplay8SessionOptions options) : options_(options) {}
    ~Dplay8Session() override;

    // The port hosted on (the one the system chose for port 0); 0 while not hosting.
    uint16_t port() const { return port_.load(); }
    DPNID serverPlayer() const { return serverPlayer_.load(); }

    HRESULT Initialize(MessageHandler handler) override;
    HRESULT Host(const ApplicationDesc& desc, uint32_t port) override;
    HRESULT SendTo(DPNID target, const uint8_t* data, uint32_t size, uint32_t timeoutMs,
                   uint32_t flags) override;
    HRESULT GetClientInfo(DPNID player, PlayerInfo& info) override;
    HRESULT EnumPlayersAndGroups(DPNID* ids, uint32_t* count, uint32_t flags) override;
    HRESULT GetPlayerContext(DPNID player, void** context, uint32_t flags) override;
    HRESULT GetConnectionInfo(DPNID player, ConnectionInfo& info) override;
    HRESULT Close(uint32_t flags) override;
    bool GetTraffic(SessionTraffic& traffic) override;

private:
    struct Player {
        std::u16string name;
        void* context = nullptr;
    };

    void OnHostEvent(dplay8::HostEvent& event);
    HRESULT Notify(uint32_t messageId, void* message);

    Dplay8SessionOptions options_;
    MessageHandler handler_;
    std::unique_ptr<dplay8::UdpHost> host_;
    std::atomic<uint16_t> port_{0};
    std::atomic<DPNID> serverPlayer_{0};
    std::atomic<bool> hosting_{false};

    std::mutex mutex_;
    std::map<DPNID, Player> players_;  // clients whose CREATE_PLAYER has begun
    void* serverContext_ = nullptr;
};

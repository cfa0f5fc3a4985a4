#pragma once
// The hosted game session: starting and stopping it, the record of every connected player,
// what each received message does, and the two ways a message goes out.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/player_record.h"
#include "net/player_roster.h"
#include "net/server_rates.h"
#include "net/session_console.h"
#include "net/session_service.h"
#include "npc/main_object_set.h"

class CRandom;
class NightDay;
class GameWeather;
struct NpcTextRequest;

// The two persistent settings, owned by the shell; the session takes them from the console's
// fields when it starts.
struct SessionSettings {
    static constexpr uint32_t kSessionNameSize = 260;
    char sessionName[kSessionNameSize] = {};
    uint32_t serverPort = 0;
};

// The world state the session reads: the NPCs, and the sky and rain a joining player is sent.
struct SessionWorld {
    CMainObjectSet& npcs;
    const NightDay& clock;
    const GameWeather& weather;
};

class NetworkSession final : public NpcAudience {
public:
    using SessionFactory = std::function<std::unique_ptr<SessionService>()>;

    // Box sizes, in world units on each axis.
    static constexpr int32_t kNearbyPlayersRange = 300;
    static constexpr float kChatRange = 200.0f;
    static constexpr int32_t kNpcUpdateRange = 300;
    static constexpr int32_t kNpcSayRange = 80;

    NetworkSession(SessionSettings& settings, const ServerRates& rates, CRandom& random,
                   SessionWorld world, SessionConsole& console, SessionFactory factory);
    // Stops hosting quietly.
    ~NetworkSession() override;
    NetworkSession(const NetworkSession&) = delete;
    NetworkSession& operator=(const NetworkSession&) = delete;

    // --- hosting (window thread) ---
    HRESULT StartServer();
    // With `showOnConsole` false (shutdown) nothing is written to the console.
    void StopServer(bool showOnConsole);
    // The console's Start/Stop command; a failed start closes the program.
    void ToggleServer();
    bool hosting() const { return hostingActive_.load() != 0; }
    int32_t playerCount() const { return playerCount_.load(); }

    // The one lock of player data: every PlayerRecord and its destruction.
    std::recursive_mutex& playerLock() { return playerLock_; }

    // The handler the session calls for every notification, on its own threads.
    HRESULT OnNetworkMessage(uint32_t messageId, void* message);

    // --- sending ---
    // Not guaranteed, no time-out, never back to the server.
    void SendPlain(DPNID target, std::span<const uint8_t> message);
    // Guaranteed at the "Reliable Rate:" percentage, or when asked.
    void SendWithReliableRate(DPNID target, std::span<const uint8_t> message, bool guaranteed,
                              uint32_t timeoutMs);
    // Apply Changes with players connected.
    void SendRateSettings();
    // The clock's sky message to every player; nothing while not hosting.
    void SendSkyWeather(uint32_t skyColour, float rainVolume, uint32_t lightning);

    // --- the NPC set's audience (window thread) ---
    void Broadcast(const CMainObjectSet& set) override;
    void SayToNearbyPlayers(const CMainObjectSet& set, int32_t slot, int32_t x, int32_t y) override;

    // Refreshes the record's connection statistics and calls `show` with it, under playerLock;
    // false when the player has no record.
    bool WithPlayerStatistics(DPNID player, const std::function<void(const PlayerRecord&)>& show);

    // The hosted session's traffic so far; nothing while not hosting (window thread).
    std::optional<SessionTraffic> Traffic();

    // The ids of every player (the server's own among them), following the session's
    // enumeration protocol; a failure leaves `ids` empty.
    HRESULT EnumeratePlayers(std::vector<DPNID>& ids);

private:
    HRESULT JoinPlayer(CreatePlayerMessage& message);
    void LeavePlayer(DestroyPlayerMessage& message);
    void WelcomeNewPlayer(DPNID newcomer);
    void HandleGameMessage(PlayerRecord& sender, std::span<const uint8_t> data);
    void ReplyNearbyPlayers(const PlayerRecord& sender, int32_t px, int32_t py);
    void RelayChat(const PlayerRecord& sender, const std::string& text);
    void ReplyNpcText(const PlayerRecord& sender, const NpcTextRequest& request);
    void BuildUpdateFor(const CMainObjectSet& set, const PlayerRecord& player);
    void SendSayText(DPNID player, const CMainObjectSet& set, int32_t slot);
    // The record of a player, or null; the caller holds playerLock.
    PlayerRecord* RecordOf(DPNID player);
    uint32_t MessageTimeoutMs() const;
    SessionService* server() const { return server_.load(); }

    SessionSettings& settings_;
    const ServerRates& rates_;
    CRandom& random_;
    SessionWorld world_;
    SessionConsole& console_;
    SessionFactory factory_;

    std::unique_ptr<SessionService> ownedServer_;
    std::atomic<SessionService*> server_{nullptr};
    std::atomic<int32_t> hostingActive_{0};
    std::atomic<int32_t> playerCount_{0};
    std::recursive_mutex playerLock_;
    PlayerRoster roster_;  // guarded by playerLock
};

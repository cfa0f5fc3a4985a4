#pragma once
// The world's fifty NPCs. Each game tick every placed NPC acts, and whenever more than the NPC
// update rate in milliseconds has passed, every connected player is told about the NPCs near
// it. Everything here belongs to the window thread, except the message maps, which network
// threads read under `messageMapLock`.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "npc/server_npc.h"

class CMainObjectSet;

// The connected players as the NPC set sees them; the network session supplies it. Both calls
// send nothing while no session is hosted.
class NpcAudience {
public:
    virtual ~NpcAudience() = default;
    // Sends each player the NPCs near it.
    virtual void Broadcast(const CMainObjectSet& set) = 0;
    // Sends the say text of the NPC in `slot` to each player near (x, y).
    virtual void SayToNearbyPlayers(const CMainObjectSet& set, int32_t slot, int32_t x,
                                    int32_t y) = 0;
};

class CMainObjectSet {
public:
    static constexpr int32_t kSlotCount = 50;

    // `appTime` is the application clock in seconds; `npcUpdateRate` the milliseconds that must
    // pass between broadcasts (the console's setting, read on every tick).
    CMainObjectSet(std::function<double()> appTime, const std::atomic<int32_t>& npcUpdateRate);

    // Every placed NPC acts, then the broadcast runs when it is due.
    void Tick(float frameTime);
    // True, and restarts the interval, when more than the update rate has passed.
    bool BroadcastDue();
    void Broadcast();
    // Sends the say text of the NPC in `slot` to the players within 80 units of (x, y).
    void SayToNearbyPlayers(int32_t slot, int32_t x, int32_t y);

    // The players the set talks to; none until a session exists.
    void SetAudience(NpcAudience* audience) { audience_ = audience; }

    // Slot 0-49; callers check the range.
    CServerNPC& Npc(int32_t slot) { return *npcs_[slot]; }
    const CServerNPC& Npc(int32_t slot) const { return *npcs_[slot]; }
    static bool ValidSlot(int32_t slot) { return slot >= 0 && slot < kSlotCount; }

    // A copy of one message-map entry, consistent even while the window thread rewrites it.
    // False for a slot outside 0-49 or an entry outside 0-9.
    bool CopyMessageEntry(int32_t slot, int32_t entry, MessageMapEntry& copy) const;

    double lastBroadcastTime = 0.0;  // application clock of the last broadcast
    int32_t npcCount = 0;
    // Held by the window thread while it writes a message map, and by readers on other threads.
    mutable std::mutex messageMapLock;

private:
    std::function<double()> appTime_;
    const std::atomic<int32_t>& npcUpdateRate_;
    std::unique_ptr<CServerNPC> npcs_[kSlotCount];
    NpcAudience* audience_ = nullptr;
};

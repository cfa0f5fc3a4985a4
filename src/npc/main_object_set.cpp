#include "npc/main_object_set.h"

#include <cmath>
#include <utility>

CMainObjectSet::CMainObjectSet(std::function<double()> appTime,
                               const std::atomic<int32_t>& npcUpdateRate)
    : appTime_(std::move(appTime)), npcUpdateRate_(npcUpdateRate) {
    for (auto& npc : npcs_) {
        npc = std::make_unique<CServerNPC>();
    }
}

void CMainObjectSet::Tick(float frameTime) {
    // npcCount never exceeds the slots; the quest loader refuses to place a 51st NPC.
    const int32_t placed = npcCount < kSlotCount ? npcCount : kSlotCount;
    for (int32_t slot = 0; slot < placed; ++slot) {
        npcs_[slot]->Update(frameTime);
    }
    if (BroadcastDue()) {
        Broadcast();
    }
}

bool CMainObjectSet::BroadcastDue() {
    const double now = appTime_ ? appTime_() : 0.0;
    // Whole microseconds: seconds such as 1.10 - 1.05 are not exact in binary, and without
    // the rounding 50 ms ticks would sometimes count as more than 50 ms apart.
    const double elapsedMs = std::round((now - lastBroadcastTime) * 1e6) / 1e3;
    if (static_cast<double>(npcUpdateRate_.load()) >= elapsedMs) {
        return false;
    }
    lastBroadcastTime = now;
    return true;
}

void CMainObjectSet::Broadcast() {
    if (audience_ != nullptr) {
        audience_->Broadcast(*this);
    }
}

void CMainObjectSet::SayToNearbyPlayers(int32_t slot, int32_t x, int32_t y) {
    if (audience_ != nullptr && ValidSlot(slot)) {
        audience_->SayToNearbyPlayers(*this, slot, x, y);
    }
}

bool CMainObjectSet::CopyMessageEntry(int32_t slot, int32_t entry, MessageMapEntry& copy) const {
    if (!ValidSlot(slot) || entry < 0 || entry >= kNpcMessageMapSize) {
        return false;
    }
    std::lock_guard lock(messageMapLock);
    copy = npcs_[slot]->messageMap[entry];
    return true;
}

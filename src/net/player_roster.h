#pragma once
// The players that have a record, in the session's enumeration order, with their positions
// kept side by side. The range searches of every position report, chat line, NPC broadcast and
// NPC speech walk these two flat arrays instead of asking the session for each player's
// context, and find exactly the players, in exactly the order, that walk would.
// The caller holds playerLock for every call.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "net/player_record.h"

class PlayerRoster {
public:
    // Adds a record. `order` is the session's enumeration of player ids, taken under
    // playerLock after the record's player has joined the session: it lists every record
    // already here, except one whose leave is under way, which goes last until it is removed.
    void Add(PlayerRecord& record, std::span<const DPNID> order);
    void Remove(const PlayerRecord& record);
    // Stores a reported position in the record and beside it here.
    void Place(PlayerRecord& record, float x, float y);

    std::size_t size() const { return records_.size(); }
    std::span<PlayerRecord* const> records() const { return records_; }
    std::span<const float> xs() const { return xs_; }
    std::span<const float> ys() const { return ys_; }

private:
    bool Holds(const PlayerRecord& record) const {
        return record.rosterIndex < records_.size() && records_[record.rosterIndex] == &record;
    }
    // Rebuilds the positions and indices from the records, from `first` on.
    void Renumber(std::size_t first);

    std::vector<PlayerRecord*> records_;
    std::vector<float> xs_, ys_;
};

// An open interval of world units around a whole-unit reference, its bounds formed without
// overflow: reference - range < value < reference + range.
struct OpenRange {
    float low, high;
    OpenRange(int32_t reference, int32_t range)
        : low(static_cast<float>(static_cast<int64_t>(reference) - range)),
          high(static_cast<float>(static_cast<int64_t>(reference) + range)) {}
    OpenRange(float reference, float range) : low(reference - range), high(reference + range) {}
    bool Contains(float value) const { return low < value && value < high; }
};

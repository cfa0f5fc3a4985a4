#include "net/player_roster.h"

#include <algorithm>
#include <limits>
#include <unordered_map>

void PlayerRoster::Add(PlayerRecord& record, std::span<const DPNID> order) {
    if (Holds(record)) {
        return;
    }
    std::unordered_map<DPNID, std::size_t> rank;
    rank.reserve(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        rank.emplace(order[i], i);
    }
    const auto rankOf = [&](const PlayerRecord* r) {
        const auto it = rank.find(r->dpnid);
        return it == rank.end() ? std::numeric_limits<std::size_t>::max() : it->second;
    };
    records_.push_back(&record);
    std::stable_sort(
        records_.begin(), records_.end(),
        [&](const PlayerRecord* a, const PlayerRecord* b) { return rankOf(a) < rankOf(b); });
    Renumber(0);
}

void PlayerRoster::Remove(const PlayerRecord& record) {
    if (!Holds(record)) {
        return;
    }
    const std::size_t index = record.rosterIndex;
    records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(index));
    Renumber(index);
}

void PlayerRoster::Place(PlayerRecord& record, float x, float y) {
    record.posX = x;
    record.posY = y;
    if (Holds(record)) {
        xs_[record.rosterIndex] = x;
        ys_[record.rosterIndex] = y;
    }
}

void PlayerRoster::Renumber(std::size_t first) {
    xs_.resize(records_.size());
    ys_.resize(records_.size());
    for (std::size_t i = first; i < records_.size(); ++i) {
        records_[i]->rosterIndex = static_cast<uint32_t>(i);
        xs_[i] = records_[i]->posX;
        ys_[i] = records_[i]->posY;
    }
}

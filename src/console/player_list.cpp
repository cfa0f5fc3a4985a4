#include "console/player_list.h"

#include "console/visible_text.h"

PlayerList::PlayerList(ConsoleModel& model) : model_(model), slots_(kSlots) {}

void PlayerList::Clear() {
    for (Slot& slot : slots_) {
        slot = Slot{};
    }
}

void PlayerList::Add(DPNID player, const char* name) {
    for (Slot& slot : slots_) {
        if (slot.line < 0) {
            slot.line = model_.AddPlayerLine(VisibleText(name != nullptr ? name : ""));
            slot.player = player;
            return;
        }
    }
}

void PlayerList::Remove(DPNID player) {
    for (Slot& slot : slots_) {
        if (slot.line >= 0 && slot.player == player) {
            const int32_t removed = slot.line;
            slot.line = -1;
            slot.player = static_cast<DPNID>(-1);
            model_.DeletePlayerLine(removed);
            for (Slot& other : slots_) {
                if (other.line > removed) {
                    other.line -= 1;
                }
            }
            return;
        }
    }
}

std::optional<DPNID> PlayerList::PlayerAtLine(int line) const {
    if (line < 0) {
        return std::nullopt;
    }
    for (const Slot& slot : slots_) {
        if (slot.line == line) {
            return slot.player;
        }
    }
    return std::nullopt;
}

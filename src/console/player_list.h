#pragma once
// The console's list of connected players and the table that ties each line to its player.
// Joins and leaves are posted to the window thread, so the table is only touched there.

#include <cstdint>
#include <optional>
#include <vector>

#include "console/console_model.h"
#include "net/session_types.h"

class PlayerList {
public:
    static constexpr int kSlots = 10000;

    explicit PlayerList(ConsoleModel& model);

    // Appends the player's line, the name with its control characters made visible
    // (VisibleText); with every slot taken no line is added.
    void Add(DPNID player, const char* name);
    // Removes the player's line; the lines after it move up and keep naming their players.
    void Remove(DPNID player);
    // The player shown on a line, if any.
    std::optional<DPNID> PlayerAtLine(int line) const;
    // Marks every slot free.
    void Clear();

private:
    struct Slot {
        int32_t line = -1;  // negative: free
        DPNID player = 0;
    };

    ConsoleModel& model_;
    std::vector<Slot> slots_;
};

#pragma once
// What the "Info on Player" dialog and the terminal's `info` show of one player: the name and
// the connection statistics, with the dialog's labels and number formats.

#include <array>
#include <optional>
#include <string>

#include "net/session_types.h"

class NetworkSession;
struct PlayerRecord;

struct PlayerInfoTexts {
    static constexpr int kCount = 6;
    // Name (control characters made visible, VisibleText), latency, messages sent, received,
    // timed out, throughput: in the dialog's order.
    std::array<std::string, kCount> values;

    bool operator==(const PlayerInfoTexts&) const = default;
};

// The dialog's labels, in the order of PlayerInfoTexts::values.
extern const std::array<const char*, PlayerInfoTexts::kCount> kPlayerInfoLabels;

// "%d ms" for the latency, "%d Bytes/Sec" for the throughput, bare numbers for the counts.
PlayerInfoTexts FormatPlayerInfo(const PlayerRecord& record);

// The player's statistics refreshed from the connection under playerLock, formatted; nothing
// once the player has left.
std::optional<PlayerInfoTexts> FreshPlayerInfo(NetworkSession& session, DPNID player);

#pragma once
// The players a client knows of, from what the server told it: PlayerJoined adds one (or
// renames it), PlayerLeft removes it, PlayerTag sets its tag, Welcome says which is us.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace er_bot {

class Roster {
public:
    // A server could announce players without end; beyond this many the oldest are forgotten.
    static constexpr size_t kMaxPlayers = 4096;

    struct Player {
        uint32_t id = 0;
        std::string name;  // as received: Windows-1252
        std::optional<uint32_t> tag;
        bool operator==(const Player&) const = default;
    };

    // Our name as the server keeps it: Windows-1252, cut to 13 characters.
    explicit Roster(std::string ownName = {});

    // Any received game message; those that say nothing of the players are ignored.
    void Apply(std::span<const uint8_t> message);

    const std::vector<Player>& players() const { return players_; }  // in the order they came
    std::optional<uint32_t> self() const { return self_; }
    // "Who count=N", then one "Player id=0x... name="..." tag=N" line each, "(you)" marking us.
    std::vector<std::string> Lines() const;

private:
    std::vector<Player> players_;
    std::optional<uint32_t> self_;
    std::string ownName_;
};

}  // namespace er_bot

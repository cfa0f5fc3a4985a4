#pragma once
// Where each load-test player walks, decided by its index alone so that every run (and every
// machine) puts the same players in the same places.
//   spread: homes scattered evenly over a 3,000 x 3,000 area from (0, 0), far enough apart
//           that most players see a handful of others, as in a busy but open world;
//   crowd:  every home inside one 300 x 300 box around the village square, where each
//           player sees the fifteen others the NearbyPlayers list can hold and the NPCs.
// Each player walks a small circle around its home at an ordinary walking pace.

#include <cstdint>

namespace er_bot {

enum class Pattern { kSpread, kCrowd };

struct Area {
    float left, top, size;
};

inline constexpr Area kSpreadArea{0.0f, 0.0f, 3000.0f};
inline constexpr Area kCrowdArea{100.0f, 0.0f, 300.0f};
inline constexpr float kWalkRadius = 20.0f;
inline constexpr float kWalkSpeed = 60.0f;  // units a second

struct WalkPoint {
    float x = 0, y = 0;
    uint8_t facing = 0;  // 0 north, 1 east, 2 south, 3 west: the way the player goes
    bool operator==(const WalkPoint&) const = default;
};

Area AreaOf(Pattern pattern);
// The centre of the player's circle.
WalkPoint HomeOf(Pattern pattern, uint32_t index);
// Where the player is `seconds` after it started walking.
WalkPoint WalkAt(Pattern pattern, uint32_t index, double seconds);

}  // namespace er_bot

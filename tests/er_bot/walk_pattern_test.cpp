// Where load-test players walk: inside their area, at walking pace, facing the way they go,
// spread evenly or crowded, and the same on every run.

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "walk_pattern.h"

namespace er_bot {
namespace {

TEST(ErBotWalkPattern, EveryPlayerStaysInsideItsAreaAtWalkingPaceFacingItsWay) {
    for (Pattern pattern : {Pattern::kSpread, Pattern::kCrowd}) {
        const Area area = AreaOf(pattern);
        for (uint32_t index = 0; index < 3000; index += 7) {
            for (double t = 0; t < 20; t += 1.37) {
                SCOPED_TRACE("player " + std::to_string(index) + " at " + std::to_string(t));
                const WalkPoint p = WalkAt(pattern, index, t);
                EXPECT_TRUE(p.x >= area.left && p.x < area.left + area.size && p.y >= area.top &&
                            p.y < area.top + area.size)
                    << p.x << "," << p.y;
                // Over a tenth of a second the player covers a tenth of its speed (a chord of
                // the circle, a little shorter than the arc).
                const WalkPoint q = WalkAt(pattern, index, t + 0.1);
                const double dx = q.x - p.x, dy = q.y - p.y;
                EXPECT_NEAR(std::hypot(dx, dy), kWalkSpeed * 0.1, 0.2);
                // Facing: the main direction of a short step (y grows south), away from the
                // diagonals where either would do.
                const WalkPoint r = WalkAt(pattern, index, t + 0.01);
                const double sx = r.x - p.x, sy = r.y - p.y;
                const uint8_t facing =
                    std::fabs(sx) >= std::fabs(sy) ? (sx > 0 ? 1 : 3) : (sy > 0 ? 2 : 0);
                if (std::fabs(std::fabs(sx) - std::fabs(sy)) > 0.1) {
                    EXPECT_EQ(p.facing, facing);
                }
                EXPECT_EQ(WalkAt(pattern, index, t), p);  // the same every time
            }
        }
    }
}

TEST(ErBotWalkPattern, SpreadHomesCoverTheWholeAreaAndCrowdHomesOneBox) {
    // Every 300 x 300 cell of the spread area gets some of the first thousand players, and no
    // two of them share a home.
    std::set<std::pair<int, int>> cells;
    std::set<std::pair<float, float>> homes;
    for (uint32_t index = 0; index < 1000; ++index) {
        const WalkPoint home = HomeOf(Pattern::kSpread, index);
        cells.emplace(int(home.x / 300), int(home.y / 300)), homes.emplace(home.x, home.y);
    }
    EXPECT_EQ(std::pair(cells.size(), homes.size()), std::pair(size_t(100), size_t(1000)));
    // Every crowd player is within 300 units of every other on both axes: each sees the others.
    for (uint32_t a = 0; a < 200; a += 3) {
        for (uint32_t b = 0; b < 200; b += 5) {
            const WalkPoint p = WalkAt(Pattern::kCrowd, a, a * 0.1);
            const WalkPoint q = WalkAt(Pattern::kCrowd, b, b * 0.3);
            EXPECT_TRUE(std::fabs(p.x - q.x) < 300.0f && std::fabs(p.y - q.y) < 300.0f) << a << b;
        }
    }
    EXPECT_EQ(HomeOf(Pattern::kSpread, 0), (WalkPoint{1500, 1500, 0}));
}

}  // namespace
}  // namespace er_bot

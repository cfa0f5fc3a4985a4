#include "walk_pattern.h"

#include <cmath>

namespace er_bot {

namespace {

// The plastic number's low-discrepancy sequence: consecutive indices fill a square evenly,
// with no clumps and no grid lines.
constexpr double kStepX = 0.7548776662466927;
constexpr double kStepY = 0.5698402909980532;
constexpr double kGoldenAngle = 2.399963229728653;

double Fraction(double value) {
    return value - std::floor(value);
}

}  // namespace

Area AreaOf(Pattern pattern) {
    return pattern == Pattern::kSpread ? kSpreadArea : kCrowdArea;
}

WalkPoint HomeOf(Pattern pattern, uint32_t index) {
    const Area area = AreaOf(pattern);
    const double inner = double(area.size) - 2 * double(kWalkRadius);
    const double fx = Fraction(0.5 + kStepX * double(index));
    const double fy = Fraction(0.5 + kStepY * double(index));
    return {float(area.left + kWalkRadius + inner * fx), float(area.top + kWalkRadius + inner * fy),
            0};
}

WalkPoint WalkAt(Pattern pattern, uint32_t index, double seconds) {
    const WalkPoint home = HomeOf(pattern, index);
    const double turn = index % 2 == 0 ? 1.0 : -1.0;  // half go clockwise
    const double angle = kGoldenAngle * double(index) + turn * seconds * kWalkSpeed / kWalkRadius;
    const double dx = std::cos(angle), dy = std::sin(angle);
    // The way the player goes: along the circle's tangent.
    const double vx = -dy * turn, vy = dx * turn;
    const uint8_t facing = std::fabs(vx) >= std::fabs(vy) ? (vx > 0 ? 1 : 3) : (vy > 0 ? 2 : 0);
    return {float(home.x + kWalkRadius * dx), float(home.y + kWalkRadius * dy), facing};
}

}  // namespace er_bot

#include <cmath>

#include "npc/float_truncate.h"
#include "npc/heading.h"
#include "npc/server_npc.h"

// Every intermediate is a float, so that an NPC arrives on the same tick and at the same
// fraction of a unit on every machine.
void CServerNPC::WalkStep(float frameTime) {
    const float targetXf = static_cast<float>(targetX);
    const float targetYf = static_cast<float>(targetY);
    const float dx = posX - targetXf;
    const float dy = posY - targetYf;
    const float distance = std::sqrt(dx * dx + dy * dy);
    const float step = speed * frameTime;

    // A step that would reach or pass the target lands on it; the NPC keeps facing the way
    // it walked. A step of exactly the remaining distance is an ordinary step.
    if (step > distance) {
        posX = targetXf;
        posY = targetYf;
        return;
    }

    // The heading is taken from the whole units the NPC stands on. When those equal the
    // target the angle is undefined; the position then becomes not-a-number, which the
    // guard below turns into an arrival facing WEST.
    const float a = HeadingAngle(TruncateToInt32(posX), TruncateToInt32(posY), targetX, targetY);
    posX = posX - std::cos(a) * step;
    posY = posY - std::sin(a) * step;

    // Negative coordinates lie outside every world; an NPC that would step there arrives.
    if (!(posX >= 0.0f) || !(posY >= 0.0f)) {
        posX = targetXf;
        posY = targetYf;
    }

    facing = FacingFromAngle(a);
    headFacing = facing;
}

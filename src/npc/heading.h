#pragma once
// Directions of a walking NPC: the angle from its target to where it stands, and the
// compass facing that angle shows.

#include <cstdint>

// The direction from (tx, ty) to (x, y) in radians, in [0, 2 pi): 0 when the NPC stands due
// east of the target (it walks west), pi / 2 when it stands due north, and so on.
// Not a number when the two points coincide.
float HeadingAngle(int32_t x, int32_t y, int32_t tx, int32_t ty);

// The facing a walk along heading angle a shows. Ranges share their bounds and the later
// range wins a bound: exactly 2.356194 is EAST, exactly 5.497786 is WEST. An angle that is
// not a number faces WEST.
int32_t FacingFromAngle(float a);

// The axis-aligned box of a point set, as every index and the query order
// need it.
#pragma once

#include <algorithm>
#include <cmath>
#include "geometry/point_span.h"
#include "geometry/vector3.h"

// The box of `points`; lo > hi when there are none. (Mesh's own box is not
// this box after a scale by a factor below 1.)
inline void pointBounds(PointSpan points, float lo[3], float hi[3])
{
    for (int i = 0; i < 3; ++i)
        lo[i] = HUGE_VALF, hi[i] = -HUGE_VALF;
    for (const Vector3& v : points) {
        lo[0] = std::min(lo[0], v.x), hi[0] = std::max(hi[0], v.x);
        lo[1] = std::min(lo[1], v.y), hi[1] = std::max(hi[1], v.y);
        lo[2] = std::min(lo[2], v.z), hi[2] = std::max(hi[2], v.z);
    }
}

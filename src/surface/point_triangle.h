// The distance from a point to a triangle: the one routine that every
// surface figure is computed with, so that the exhaustive loop and any index
// agree bit for bit.
#pragma once

#include "geometry/vector3.h"

// A query point in double: vertices convert exactly, area samples are placed
// in double.
struct Point3d {
    double x, y, z;
};

inline Point3d toPoint3d(const Vector3& v) { return {v.x, v.y, v.z}; }

// The squared Euclidean distance from `p` to the closest point of the
// triangle (a, b, c), in double from the float corners. The closest point is
// found by Voronoi region (Ericson, Real-Time Collision Detection, 5.1.5); a
// degenerate triangle (repeated corners, collinear, or so thin that the
// region tests cannot decide) is measured as the union of its three edges,
// each edge of zero length as a point. A thin one (a needle or a cap) is
// measured inside again from its largest angle, and its edges too, so the
// value stays within a few ulps of the true distance except on a cap whose
// plane its float corners barely define. Never NaN for finite input.
double pointTriangleDistanceSquared(const Point3d& p, const Vector3& a, const Vector3& b,
                                    const Vector3& c);

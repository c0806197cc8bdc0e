// How far the convex hull of the faces around one point of a mesh (its
// star) lies from those faces: the margin that lets the certified
// Hausdorff bound measure a piece of the other mesh against the hull, whose
// distance is convex, instead of against the faces one by one.
#pragma once

#include <cstdint>

#include "geometry/edge_neighbours.h"
#include "geometry/mesh.h"

// An upper bound on sup over y in conv(S) of d(y, S), S the union of the
// faces with a corner at `position` (EdgeNeighbours), or HUGE_VAL where the
// star is not one it can bound: it must be a closed fan (each face meets the
// next across an edge, the last the first), consistently oriented, with no
// repeated corner, whose projection along the coordinate axis nearest its
// normal is a strictly convex polygon that the projected faces cover once.
// Then the bound is the spread of the star's corners about a plane through
// the point (0 for a flat convex star); the argument is in the .cpp.
double fanGapAbove(const Mesh& mesh, const EdgeNeighbours& neighbours, std::uint32_t position);

// The two rounding-sensitive steps, exposed for their tests. Coordinates
// are numbered 0, 1, 2 for x, y, z.
//
// The sign of the turn p -> q -> r in the plane of coordinates (one, two),
// or 0 where the rounding leaves it in doubt (then the real turn may go
// either way or none).
int turnSign(const Vector3& p, const Vector3& q, const Vector3& r, int one, int two);

// An enclosure [low, high] of the real dev(x) = (x_a - v_a) - g1 (x_1 - v_1)
// - g2 (x_2 - v_2), a = axis, 1 = one, 2 = two, for the doubles g1, g2.
void deviationEnclosure(const Vector3& x, const Vector3& v, double g1, double g2, int axis,
                        int one, int two, double& low, double& high);

// Bounds on the exact Euclidean distance from a point to a triangle, sound
// under rounding: what a certified Hausdorff interval is built from. The
// routine (point_triangle.h) only approximates the real distance; these turn
// its values, or an independent computation, into enclosures.
//
// ud = 2^-53. Every routine below is monotone in the direction it bounds,
// and none returns NaN for finite input.
#pragma once

#include <algorithm>
#include <cmath>

#include "geometry/mesh.h"
#include "surface/point_triangle.h"

// The largest coordinate magnitude of the mesh's vertices (0 without any).
double largestCoordinate(const Mesh& mesh);

// An upper bound on the diameter of every triangle of a mesh whose largest
// coordinate magnitude is m: a triangle lies in [-m, m]^3, whose diagonal
// 2 sqrt(3) m is below 4 m.
inline double triangleDiameterBound(double m) { return 4.0 * m; }

// An upper bound on the exact distance dist(p, T) from d = fl(sqrt(D(p, T))),
// the correctly rounded root of the routine's value for a triangle T of
// diameter at most `diameter`.
//
// The routine's lower error bound (index/kernels.h, analysis 1, proven for
// every branch) is sqrt(D) >= (1 - 5 ud) dist - 9 ud diam(T) - 2^-535, and
// sqrt(D) <= d (1 + ud), so
//     dist <= (d (1 + ud) + 9 ud diam(T) + 2^-535) / (1 - 5 ud).
// Computed here as (d + 2^-49 diameter + 2^-530)(1 + 2^-49): the scaling by
// 2^-49 is exact (or underflows by 2^-1075, inside 2^-530), the two sums and
// the product round down by at most (1 - ud)^3, and (1 - ud)^3 (1 + 16 ud)
// >= 1 + 12.9 ud > (1 + ud) / (1 - 5 ud), 16 ud > 9 ud / (1 - 5 ud).
inline double distanceAbove(double d, double diameter)
{
    return (d + diameter * 0x1p-49 + 0x1p-530) * (1.0 + 0x1p-49);
}

// x + y for x, y >= 0, rounded so that the result is not below the real sum:
// fl(fl(x + y)(1 + 2^-50)) >= (x + y)(1 - ud)^2 (1 + 8 ud) > x + y.
inline double addUp(double x, double y) { return (x + y) * (1.0 + 0x1p-50); }

// x - y for x, y >= 0, rounded so that the result is not above the real
// difference, and never below 0: fl(fl(x - y)(1 - 2^-50)) <= (x - y)(1 + ud)^2
// (1 - 8 ud) < x - y when x > y.
inline double subtractDown(double x, double y)
{
    const double r = (x - y) * (1.0 - 0x1p-50);
    return r > 0.0 ? r : 0.0;
}

// An upper bound on |x - y| for the doubles x, y: each difference rounds by
// ud, the squares and sums by 3 ud more, the root halves that and adds ud, so
// the computed length times 1 + 2^-50 (8 ud) covers it, and 2^-530 covers
// squares that underflow (at most sqrt(3 2^-1075) < 2^-536).
inline double lengthAbove(const Point3d& x, const Point3d& y)
{
    const double dx = x.x - y.x, dy = x.y - y.y, dz = x.z - y.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz) * (1.0 + 0x1p-50) + 0x1p-530;
}

// The squared gap from p to the box [lo, hi] as computed in double, for
// rootBelowFromGap.
inline double boxGapSquared(const Point3d& p, const double lo[3], const double hi[3])
{
    const double x[3] = {p.x, p.y, p.z};
    double sum = 0.0;
    for (int i = 0; i < 3; ++i) {
        const double gap = std::max({lo[i] - x[i], x[i] - hi[i], 0.0});
        sum += gap * gap;
    }
    return sum;
}

// A lower bound on sqrt(D(p, T)), the root of the routine's value, for every
// triangle T of diameter at most `diameter` inside a box, from s =
// boxGapSquared(p, box) for a finite p and box: the routine's lower error
// bound (index/kernels.h, analysis 1) applied to the box's gap, which no
// point of T is nearer than. Monotone in s; may be negative. Argued in the
// .cpp.
double rootBelowFromGap(double s, double diameter);

// An upper bound on sqrt(x) for x >= 0: fl(sqrt(x)) >= sqrt(x)(1 - ud), and
// the product rounds to at least (1 - ud)^2 (1 + 8 ud) > 1 times that.
inline double rootAbove(double x) { return std::sqrt(x) * (1.0 + 0x1p-50); }

// An upper bound on the exact distance to a mesh (triangles of diameter at
// most `diameter`) of every point of the box [lo, hi], from the routine's
// distance d at the point r: d(x, B) <= d(r, B) + |x - r|, and |x - r| is
// largest at the corner of the box farthest from r (a distance is convex).
// distanceAbove covers d, lengthAbove the corner's distance, addUp the sum.
double boxDistanceAbove(double d, double diameter, const Point3d& r, const float lo[3],
                        const float hi[3]);

// A lower bound on the exact distance from p to the triangle (a, b, c),
// computed independently of the routine, whose value can exceed the real
// distance by more than rounding for slivers. For any vector n and every
// point q of the triangle, n . (q - p) >= min_k n . (c_k - p) (a linear
// function is least at a corner), and n . (q - p) <= |n| |q - p|, so
//     dist(p, T) >= min_k n . (c_k - p) / |n|   when that is positive.
// With n along p's approximate closest point minus p the bound is the
// distance up to rounding; how good the approximation is affects only how
// tight the bound is. The rounding of the evaluation is argued in the .cpp.
double distanceBelow(const Point3d& p, const Vector3& a, const Vector3& b, const Vector3& c);

// The closest point of the triangle (a, b, c) to p in double (Ericson,
// Real-Time Collision Detection, 5.1.5; a degenerate triangle as its three
// edges): an approximation, for directions and for reports.
Point3d closestPointOnTriangle(const Point3d& p, const Vector3& a, const Vector3& b,
                               const Vector3& c);

// The point a + u (b - a) + v (c - a) for u, v >= 0 with u + v <= 1,
// as computed in double, and its error bound: within
// barycentricPointError(m) of the real point, m the largest coordinate
// magnitude of a, b and c (argued in the .cpp).
Point3d barycentricPoint(const Vector3& a, const Vector3& b, const Vector3& c, double u,
                         double v);
inline double barycentricPointError(double m) { return m * 0x1p-48 + 0x1p-1060; }

// An upper bound on the distance between the segments [a, b] and [c, d]:
// the length between a point of each, chosen near the closest pair
// (Ericson, 5.1.9). Any pair bounds the distance, so how well the pair is
// chosen affects only how tight the bound is. Each point is formed by
// barycentricPoint, within barycentricPointError(m) of a real point of its
// segment (m the largest coordinate magnitude of the four ends), and
// lengthAbove covers the length between the computed points.
double segmentGapAbove(const Vector3& a, const Vector3& b, const Vector3& c, const Vector3& d);

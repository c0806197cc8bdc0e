// The bounds of the nearest-surface search (8 child boxes of a node against a
// box of queries; 8 triangle boxes of a leaf against one query), in a portable
// version and an AVX2 version chosen at run time, and the limit they are
// compared with. Both kernel sets perform the same IEEE float operations in
// the same order (no FMA: the build has -ffp-contract=off and no kernel uses a
// fused intrinsic), so they return the same bits.
//
// Rounding-error analysis. u = 2^-24 (float), ud = 2^-53 (double). p is a
// query (double), T a triangle with float corners a, b, c, dist the exact
// Euclidean distance, D(p, T) the value pointTriangleDistanceSquared returns.
//
// 1. The routine (point_triangle.cpp). Whatever branch it takes, it returns
//    fl(|r|^2) for a computed r that approximates p - q for a point q with
//    real coordinates: q = a vertex; q = x + t (y - x) on an edge with a
//    double t in [0, 1]; or q = a + v (b - a) + w (c - a) with v, w >= 0,
//    v + w <= 1 + 3.01 ud (v = fl(vb / sum) with va, vb, vc >= 0 and
//    sum = fl(fl(va + vb) + vc) >= (va + vb + vc)(1 - ud)^2), so q is within
//    3.01 ud diam(T) of T. Each component of r is formed by at most two
//    products and three subtractions from p_i - a_i and the edge components,
//    each rounding relatively (differences are exact in the subnormal range;
//    an underflowing product adds at most 2^-1075): componentwise
//        |r_i/(1 + d_i) - (p_i - q_i)| <= 2.01 ud |p_i - x_i| + 3.02 ud (v |b_i - a_i|
//                                          + w |c_i - a_i|) + 2^-1072,
//    x the vertex the edge or face is measured from (t takes the place of v on
//    an edge). In norm, with v + w <= 1.0001: |r| >= (1 - ud)(|p - q|
//    - 2.01 ud |p - x| - 3.03 ud diam(T) - 2^-1070), and fl(|r|^2) >=
//    (1 - 3.01 ud)|r|^2 - 2^-1072 (three squares that may underflow), whose
//    root loses at most 2^-536. With |p - q| >= dist - 3.01 ud diam and
//    |p - x| <= dist + diam:
//        sqrt(D(p, T)) >= (1 - 5 ud) dist(p, T) - 9 ud diam(T) - 2^-535.    (R)
//    The bound does not depend on which branch the region tests chose, so
//    their own rounding errors do not enter it.
//
// 2. Scaled space. With the index's s = 2^k, P = s p is exact in double and
//    P_f = float(P) (to nearest). Every triangle's box B_T contains s T (the
//    build rounds outwards). If D(p, T) <= best then, by (R),
//        dist(P_f, B_T) <= dist(P, s T) + |P - P_f|
//                       <= s sqrt(best)(1 + 6.1 ud) + 9.01 ud s diam(T) + e + 2^-300 =: R,
//    with sqrt(best) correctly rounded, e = |P - P_f| <= sum_i |P_i - P_f,i|
//    (each term exact in double), and s 2^-535 <= 2^-376 as k <= 159 (the
//    least positive float scaled to 2^10).
//    searchLimit below adds the slack 2^-49 Diam + e + 2^-300 (Diam >= s diam(T) for
//    every T, 2^-49 = 16 ud) and multiplies by 1 + 2^-47 (64 ud), which covers
//    the factor 1 + 6.1 ud and the three roundings of its own evaluation.
//
// 3. A box bound. The float gap g_i = max(max(lo_i - x_i, x_i - hi_i), 0) of a
//    point x to a box rounds once, relatively (differences of floats are exact
//    in the subnormal range), and is at most (1 + u) times the exact gap; for
//    a box of queries [qlo, qhi] the gap max(lo_i - qhi_i, qlo_i - hi_i, 0) is
//    at most the gap of each query inside it. The squares round with relative
//    error u or absolute 2^-150, the two sums relatively, so the computed
//        lb2 <= (1 + 5.01 u) dist(x, B)^2 + 2^-148.
//    Inside the domain (surface_index.h) every gap is below 2^41, nothing
//    overflows; an unused node lane has an empty box and lb2 = +inf, which the
//    mask excludes by count.
//
// 4. The limit. searchLimit computes, in double with upward margins,
//        L = floatUp(fl(fl(fl(r r)(1 + 2^-21)) + 2^-146)),   r = the reach >= R,
//    and 2^-21 = 8 u covers 5.01 u and the roundings, 2^-146 covers 2^-148, so
//    D(p, T) <= best implies lb2 <= L for T's box, for every box above it and
//    for every query box holding P_f. A lane or a triangle is skipped only when
//    lb2 > L: none that could beat or tie the best is ever skipped.
//
// surface_index_test checks the node and leaf bounds directly against every
// triangle beneath them.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <vector>

#include "query/packets.h"
#include "surface/index/surface_index.h"
#include "surface/point_triangle.h"

namespace surface_index {

// Up to kMaxPacket queries, neighbours on a space-filling curve, searched
// together: one traversal with bounds over their box, each leaf filtered for
// each of them.
constexpr int kMaxPacket = 16;

struct SurfacePacket {
    float x[kMaxPacket], y[kMaxPacket], z[kMaxPacket];  // P_f, scaled float queries
    Point3d p[kMaxPacket];                              // the queries themselves
    double slack[kMaxPacket];                           // 2^-49 Diam + e + 2^-300 (analysis 2)
    double best[kMaxPacket];                            // out: the least D(p, T)
    float limit[kMaxPacket];                            // searchLimit(best)
    int count;
};

// Float rounding that cannot move a value inwards: x moved out by
// 2^-23 |x| + 2^-149 in double rounds to a float on the far side of x (the
// float rounding error is at most 2^-24 |x'| for a normal result and 2^-150
// for a subnormal one; the double steps add about 2^-52 |x|).
inline float floatDown(double x) { return float(x - std::fabs(x) * 0x1p-23 - 0x1p-149); }
inline float floatUp(double x) { return float(x + std::fabs(x) * 0x1p-23 + 0x1p-149); }

// Fills slot q of `packet` with query p (which must be inside the domain)
// for an index of scale `scale` and diameter bound `diameter`.
inline void setQuery(SurfacePacket& packet, int q, const Point3d& p, double scale,
                     double diameter)
{
    const double P[3] = {p.x * scale, p.y * scale, p.z * scale};
    const float f[3] = {float(P[0]), float(P[1]), float(P[2])};
    packet.x[q] = f[0], packet.y[q] = f[1], packet.z[q] = f[2];
    packet.p[q] = p;
    // Each |P_i - f_i| is exact: a double minus its nearest float.
    double e = std::fabs(P[0] - f[0]) + std::fabs(P[1] - f[1]) + std::fabs(P[2] - f[2]);
    packet.slack[q] = diameter * 0x1p-49 + e + 0x1p-300;
    packet.best[q] = HUGE_VAL;
    packet.limit[q] = HUGE_VALF;
}

// The limit L of analysis 4 for a query whose best so far is `best`.
inline float searchLimit(double best, double scale, double slack)
{
    if (!(best < HUGE_VAL))
        return HUGE_VALF;
    const double reach = (scale * std::sqrt(best) + slack) * (1.0 + 0x1p-47);
    return floatUp(reach * reach * (1.0 + 0x1p-21) + 0x1p-146);
}

struct StackEntry {
    std::int32_t child;  // as SurfaceNode::child
    float lb2;           // the bound that admitted it, rechecked when popped
};

struct SurfaceKernels {
    // lb2[j] for each lane j of `node` against the query box (analysis 3);
    // returns the mask of lanes j < node.count with lb2[j] <= limit.
    unsigned (*nodeBounds)(const SurfaceNode& node, const QueryBox& box, float limit,
                           float* lb2);
    // lb2[j] for each triangle j of `leaf` against the scaled float query
    // (x, y, z); returns the mask of lanes with lb2[j] <= limit.
    unsigned (*leafBounds)(const SurfaceLeaf& leaf, float x, float y, float z, float limit,
                           float* lb2);
    // Fills packet.best with nearestSurfaceDistanceSquared of each query
    // (slots set with setQuery).
    void (*searchPacket)(const SurfaceIndex& index, SurfacePacket& packet,
                         std::vector<StackEntry>& stack);
    const char* name;
};

const SurfaceKernels& portableSurfaceKernels();
// Null when the CPU lacks AVX2.
const SurfaceKernels* avx2SurfaceKernels();

} // namespace surface_index

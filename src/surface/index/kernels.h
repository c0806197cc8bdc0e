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
//    updateLimits below adds the slack 2^-49 Diam + e + 2^-300 (Diam >= s diam(T) for
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
// 4. The limit. updateLimits computes, in double with upward margins,
//        L = floatUp(fl(fl(fl(r r)(1 + 2^-21)) + 2^-146)),   r = the reach >= R,
//    and 2^-21 = 8 u covers 5.01 u and the roundings, 2^-146 covers 2^-148, so
//    D(p, T) <= best implies lb2 <= L for T's box, for every box above it and
//    for every query box holding P_f. A lane or a triangle is skipped only when
//    lb2 > L: none that could beat or tie the best is ever skipped.
//
// 5. The prism bound of a leaf triangle (SurfaceLeaf). For unit-like float
//    vectors n, m with Gram matrix G, (n . w)^2 + (m . w)^2 = |A w|^2 <=
//    lambda_max(G) |w|^2 <= lambda |w|^2, lambda = 1 + 2^-20 (Gershgorin, as
//    the build checks). For x in s T, |n . (P_f - x)| >= dn := max(n . (P_f - c)
//    - ohi, olo - n . (P_f - c), 0) and m_e . (P_f - x) >= h_e := m_e . (P_f - c)
//    - om_e, so with h = max(h_0, h_1, h_2, 0) and x the point of s T nearest
//    to P_f:  dn^2 + h^2 <= lambda dist(P_f, s T)^2.
//    Computed: v = fl(P_f - c) errs by at most 1.01 u |v_i| per axis, the
//    three-term dot products by 3.01 u sum |n_i||v_i| plus 3 2^-150 of
//    underflow, |n_i|, |m_i| <= 1; so with V1 = sum |v_i| the computed t for
//    n (and each m_e) is within alpha = 4.04 u V1 + 2^-147 of the exact value,
//    and the subtractions and maxima give dn_c <= (1 + u)(dn + alpha),
//    h_c <= (1 + u)(h + alpha). The squares and their sum add (1 + u)^2 and
//    2^-149, and by Minkowski sqrt((dn + alpha)^2 + (h + alpha)^2) <=
//    sqrt(dn^2 + h^2) + 1.42 alpha, so
//        p2 = fl(dn_c^2 + h_c^2) <= (1 + 4.01 u)(sqrt(lambda) R + 1.42 alpha)^2 + 2^-148
//    whenever D(p, T) <= best. prismLimit takes rho = floatUp(r (1 + 2^-20))
//    >= sqrt(lambda) R and a = fl(fl(V1_c 2^-21) + 2^-145) >= 1.42 alpha
//    (V1_c >= V1 (1 - u)^2, 2^-21 = 8 u), and returns
//    fl(fl(fl(fl(rho + a)^2)(1 + 2^-20)) + 2^-146) >= (1 + 11.9 u)(rho + a)^2
//    (1 - u) + 2^-148: not less than the bound on p2. A triangle is measured
//    only when both its box bound is within the limit and p2 <= prismLimit.
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
#include "surface/surface_distance.h"

namespace surface_index {

// Up to kMaxPacket queries, neighbours on a space-filling curve, searched
// together: one traversal with bounds over their box, each leaf filtered for
// each of them.
constexpr int kMaxPacket = 32;
// packetBounds reads the packet's arrays in blocks of 8.
static_assert(kMaxPacket % 8 == 0 && kMaxPacket <= 32);

struct SurfacePacket {
    float x[kMaxPacket], y[kMaxPacket], z[kMaxPacket];  // P_f, scaled float queries
    Point3d p[kMaxPacket];                              // the queries themselves
    double slack[kMaxPacket];                           // 2^-49 Diam + e + 2^-300 (analysis 2)
    double best[kMaxPacket];                            // out: the least D(p, T)
    float limit[kMaxPacket];                            // L of analysis 4
    float reach[kMaxPacket];                            // rho of analysis 5
    // The leaf that seeded each query (already searched for it; -1 for none)
    // and the leaf and lane of its best triangle (meaningful once best is
    // finite).
    std::int32_t seedLeaf[kMaxPacket], bestLeaf[kMaxPacket];
    int bestLane[kMaxPacket];
    // out: the lowest-numbered face at the least D (kNoFace before any).
    std::uint32_t bestFace[kMaxPacket];
    int count;
    // How many consecutive queries share one walk over their box: 1 (each
    // walks alone) or kDenseWalk. Only the work depends on it.
    int walk;
};

// The walk of queries that lie several to a triangle (area samples): four
// in a row share one walk through the nodes over their box, and each is
// still filtered and measured alone at the leaves. On the real scans that
// took 12-22 % less time on the default area samples than walking alone
// (groups of two or eight gained less); on mesh vertices, about an edge
// apart, groups of two to eight took 12-25 % more.
constexpr int kDenseWalk = 4;

// Float rounding that cannot move a value inwards: x moved out by
// 2^-23 |x| + 2^-149 in double rounds to a float on the far side of x (the
// float rounding error is at most 2^-24 |x'| for a normal result and 2^-150
// for a subnormal one; the double steps add about 2^-52 |x|).
constexpr double kOutwardRelative = 0x1p-23, kOutwardAbsolute = 0x1p-149;
inline float floatDown(double x)
{
    return float(x - std::fabs(x) * kOutwardRelative - kOutwardAbsolute);
}
inline float floatUp(double x)
{
    return float(x + std::fabs(x) * kOutwardRelative + kOutwardAbsolute);
}

// The build's prism fill, in both kernel sets (the arguments are beside the
// portable fill): an enclosure's margin per unit of sum_i |w_i| |x_i - c_i|,
// and the Gram bound of SurfaceLeaf with the room its rounding needs kept
// back.
constexpr double kEnclosureMargin = 0x1p-50;
constexpr double kGramLimit = 1.0 + 0x1p-20 - 0x1p-40;

// The limits of analyses 4 and 5 for slot q of `packet` from its best.
inline void updateLimits(SurfacePacket& packet, int q, double scale)
{
    const double best = packet.best[q];
    if (!(best < HUGE_VAL)) {
        packet.limit[q] = packet.reach[q] = HUGE_VALF;
        return;
    }
    const double reach = (scale * std::sqrt(best) + packet.slack[q]) * (1.0 + 0x1p-47);
    packet.limit[q] = floatUp(reach * reach * (1.0 + 0x1p-21) + 0x1p-146);
    packet.reach[q] = floatUp(reach * (1.0 + 0x1p-20));
}

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
    packet.seedLeaf[q] = packet.bestLeaf[q] = -1;
    packet.bestFace[q] = kNoFace;
    updateLimits(packet, q, scale);
}

// The bound p2 of analysis 5 is compared with this, for a query with reach
// rho whose offset from the leaf's reference point sums to v1 = fl(fl(|v_x|
// + |v_y|) + |v_z|). Both kernel sets call it: the same float operations.
inline float prismLimit(float rho, float v1)
{
    float a = v1 * 0x1p-21f;
    a = a + 0x1p-145f;
    float r = rho + a;
    float square = r * r;
    square = square * (1.0f + 0x1p-20f);
    return square + 0x1p-146f;
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
    // For each triangle j of `leaf` and the scaled float query (x, y, z):
    // the mask of lanes whose box bound is <= limit and whose prism bound of
    // analysis 5, p2[j], is <= prismLimit(reach, v1). p2 is written for
    // every lane, unless no box is within the limit: then the mask is 0 and
    // p2 is left as it was.
    unsigned (*leafBounds)(const SurfaceLeaf& leaf, float x, float y, float z, float limit,
                           float reach, float* p2);
    // The mask (bit q for query q) of the queries q in [first, last) of
    // `packet` whose bound over the leaf's union box [blo, bhi] is <=
    // packet.limit[q]: analysis 3 for a box of one point, and the union box
    // holds the box of each of the leaf's triangles. A query it leaves out
    // would have no lane in the mask of leafBounds either.
    unsigned (*packetBounds)(const SurfaceLeaf& leaf, const SurfacePacket& packet, int first,
                             int last);
    // Fills packet.best with nearestSurfaceDistanceSquared of each query
    // (slots set with setQuery), and packet.bestFace with its face.
    void (*searchPacket)(const SurfaceIndex& index, SurfacePacket& packet,
                         std::vector<StackEntry>& stack);
    // The build's prism fill: n, olo, ohi, m and om of every lane of `leaf`
    // (SurfaceLeaf) from the scaled corners x[corner][axis][lane] and the
    // leaf's reference point c. Both sets write the same bits.
    void (*leafPrisms)(const double (&x)[3][3][kLanes], const float (&c)[3], SurfaceLeaf& leaf);
    const char* name;
};

const SurfaceKernels& portableSurfaceKernels();
// Null when the CPU lacks AVX2.
const SurfaceKernels* avx2SurfaceKernels();

} // namespace surface_index

// The two bounds of the search (8 children of a node against a box of
// queries; 8 faces of a leaf against one query), in a portable version and an
// AVX2 version chosen at run time. Both perform the same IEEE float operations
// in the same order (no FMA: the build has -ffp-contract=off and no kernel uses
// a fused intrinsic), so they return the same bits.
//
// Rounding-error analysis. u = 2^-24 (float), ud = 2^-53 (double). All inputs
// lie in the domain of plane_index.h, so nothing overflows and no NaN arises;
// underflow only adds absolute errors, handled by the last term of A below.
//
// 1. The reference value of corner k. e_i = fl(v_i - c_i) = (v_i - c_i)(1+d_i),
//    |d_i| <= u (a float difference in the subnormal range is exact). The
//    products e_i n_i are exact in double; two double additions add at most
//    2.0001 ud sum|e_i n_i|; rounding D to float adds u|D| + 2^-150. With
//    t = n . (v - c) (exact) and S = sum_i |v_i - c_i||n_i|:
//        |D - t| <= (u + 2.0001 ud (1+u)) S <= 1.0001 u S,
//        d_k = |fl(D)| >= (1-u)|t| - 1.0001 u (1+u) S - 2^-150
//            >= |t| - u|t| - 1.01 u S - 2^-150.                          (R)
//
// 2. Node bound. For a face under lane j and a query v in the box [qlo, qhi],
//    with v' = v - p and t = n . v' - o_k exactly (o_k in [olo, ohi], n in the
//    normal box): t >= lo := sum_i min(n-box_i x v'-box_i) - ohi and
//    t <= hi := sum_i max(...) - olo, so |t| >= max(lo, -hi). Let
//        M = sum_i max(|nlo_i|, |nhi_i|) max(|v'lo_i|, |v'hi_i|) + max(|olo|, |ohi|),
//    so that |t| <= M and S <= sum_i |v'_i| |n_i| + rad <= M + rad.
//    Computed: v'lo, v'hi carry relative error u, each product another u, so
//    each per-axis min/max is off by <= 2.01 u nmax_i vmax_i; the three
//    additions and the subtraction of ohi (partial sums <= 1.0001 M) add
//    <= 3.01 u M. So |lo_c - lo| and |hi_c - hi| are <= 5.02 u M, and with
//    T_c = max(lo_c, -hi_c):  |t| >= T_c - 5.02 u M,  T_c <= 1.0001 M.
//    From (R): d_k >= T_c - 7.05 u M - 1.01 u rad - 2^-150.
//    The kernel returns LB = fl(T_c - A), A = fl(fl(16u fl(M_c + rad)) + 2^-126),
//    M_c the float evaluation of M (M <= 1.0001 M_c). fl(T_c - A) exceeds
//    T_c - A by at most u(T_c + A), so d_k >= LB needs
//    A (1-u) >= 8.06 u M + 1.01 u rad + 2^-150; and
//    A >= (1-u)(16u(1-u)(M_c + rad) - 2^-150 + 2^-126) >= 15.99 u (M_c + rad) + 2^-127.
//    Hence every face beneath lane j has, for every query in the box, a
//    computed value >= LB; a lane is skipped only when LB > limit, so a face
//    that could beat or tie the best is never skipped.
//
// 3. Leaf filter, for one query v in the box the node bound used, with the A
//    of the leaf's lane (M and rad there cover every face of the leaf: the
//    leaf's lane has olo <= omid - hw and omid + hw <= ohi per face, so
//    |omid| + hw <= max(|olo|, |ohi|)). x_c = fl(fl(fl(nx v'x + ny v'y) +
//    nz v'z) - omid) is within 5.02 u M of y = n . v' - omid (exact v'), and
//    |t| >= |y| - hw because o_k lies in [omid - hw, omid + hw]. The gap
//    g = fl(|x_c| - hw) <= |x_c| - hw + 2.01 u M, so |t| >= g - 7.03 u M and
//    by (R), with |t| <= M: d_k >= g - 9.04 u M - 1.01 u rad - 2^-150 > g - A,
//    as A >= 15.99 u (M_c + rad) + 2^-127 (above). So a face with d_k <= best
//    has g < best + A, and since g is a float and rounding is monotone,
//    g <= fl(best + A). The filter admits exactly the lanes with
//    g <= fl(best + A): one rounding per query instead of a subtraction per
//    face and query, and no face that could beat or tie best is left out.
//
// 4. Packet gap of a face, tested before the per-query filter of analysis 3:
//    one test per face for the whole box [qlo, qhi] the leaf's lane bound
//    used, with that lane's A. With v'lo_i = fl(qlo_i - p_i) and v'hi_i as
//    in analysis 2, the face's own normal n in place of the normal box,
//        mn_i = min(fl(n_i v'lo_i), fl(n_i v'hi_i)),  mx_i the max,
//        lo = fl(fl(fl(mn_0 + mn_1) + mn_2) - omid),  hi likewise from mx,
//        G = fl(max(lo, -hi) - hw).
//    For every query v in the box, y = n . v' - omid (exact v' = v - p) has
//    |y| >= max(lo, -hi) - 5.02 u M: the per-axis extremes and the four
//    additions err as in analysis 2, and M (of the leaf's lane) bounds
//    sum_i |n_i| max(|v'lo_i|, |v'hi_i|) + |omid| + hw as in analysis 3.
//    The subtraction of hw rounds by at most 2.01 u M, so |t| >= |y| - hw >=
//    G - 7.03 u M, the inequality analysis 3 has for g, and from there
//    d_k > G - A. So a face with d_k <= best for some query of the box,
//    best <= maxBest (the largest best of the packet), has
//    G <= fl(maxBest + A): a leaf none of whose faces passes that test holds
//    no candidate for any query of the packet.
//
// plane_index_test checks the node bounds, the leaf gaps and the packet gaps
// directly against every face beneath them.
#pragma once

#include <cfloat>
#include <vector>

#include "qem/index/plane_index.h"
#include "query/packets.h"

// The allowance A of analysis 2 and 3: fl(fl(kAllowanceFactor fl(M_c + rad))
// + kAllowanceFloor). Both kernel sets take it from here.
constexpr float kAllowanceFactor = 0x1p-20f;  // 16 u
constexpr float kAllowanceFloor = FLT_MIN;    // 2^-126, covers every underflow

// Up to kMaxPacket queries, neighbours on a space-filling curve, searched
// together: one traversal with bounds over their box, each leaf filtered for
// each of them. Each kernel set takes packets of its own size, at most this
// (PlaneKernels::packetSize).
constexpr int kMaxPacket = 64;

struct PlanePacket {
    float x[kMaxPacket], y[kMaxPacket], z[kMaxPacket];
    float best[kMaxPacket];  // out
    int count;
};

// The leaf filter's threshold for a query whose best so far is `best`, with
// the allowance of the leaf's lane (analysis 3 above).
inline float leafThreshold(float best, float allow) { return best + allow; }

struct StackEntry {
    std::int32_t child;  // as PlaneNode::child
    float lb;            // the bound that admitted it, rechecked when popped
    float allow;         // the allowance for a leaf
};

struct PlaneKernels {
    // For each lane j < node.count: lb[j] bounds from below the value of every
    // face beneath child j for every query in `box`, and allow[j] is the
    // allowance A that the leaf filter needs for a leaf child. Returns the
    // mask of lanes j < node.count with lb[j] <= limit.
    unsigned (*nodeBounds)(const PlaneNode& node, const QueryBox& box, float limit, float* lb,
                           float* allow);
    // The packet gaps G[j] of analysis 4 over a box for which the parent
    // lane's nodeBounds gave the allowance A: facePlaneDistance(v, face j) <=
    // best for some v in the box implies G[j] <= fl(best + A).
    void (*leafBoxGaps)(const PlaneLeaf& leaf, const QueryBox& box, float* gap);
    // The lanes whose packet gap is <= fl(best + A) (leafThreshold): a face
    // outside it has a value > best for every query in the box.
    unsigned (*leafBoxMask)(const PlaneLeaf& leaf, const QueryBox& box, float best, float allow);
    // The gaps g[j] of a query v inside a box for which the parent lane's
    // nodeBounds gave the allowance A: facePlaneDistance(v, face j) <= best implies
    // g[j] <= fl(best + A).
    void (*leafGaps)(const PlaneLeaf& leaf, const float* v, float* gap);
    // The lanes j with leafGaps(v)[j] <= threshold, from v' = v - p already
    // formed as (fl(v.x - leaf.px), ...): the traversal's inner test, with
    // threshold = fl(best + A).
    unsigned (*leafMask)(const PlaneLeaf& leaf, float vx, float vy, float vz, float threshold);
    // Whether leafMask with leafThreshold(best, allow) has a lane of `faces`
    // for some query of the packet: one branch for the leaves that hold no
    // candidate (92-93 % of those visited on real scans), which evaluates only
    // the faces that leafBoxMask left.
    bool (*leafAny)(const PlaneLeaf& leaf, const PlanePacket& packet, float allow,
                    unsigned faces);
    // Fills packet.best with nearestPlaneDistance of each query against
    // `mesh`, indexed by `index` (which must not have a zero-normal face).
    void (*searchPacket)(const PlaneIndex& index, const Mesh& mesh, PlanePacket& packet,
                         std::vector<StackEntry>& stack);
    // The most queries a packet given to this set holds, and the slots its
    // leafAny reads: 64 with AVX2 and with AVX-512 (the fastest on the real
    // scans; smaller packets share less of a traversal, larger ones open
    // more leaves).
    int packetSize;
    const char* name;
};

const PlaneKernels& portablePlaneKernels();
// Null when the CPU lacks AVX2.
const PlaneKernels* avx2PlaneKernels();
// Null when the CPU lacks AVX-512F.
const PlaneKernels* avx512PlaneKernels();

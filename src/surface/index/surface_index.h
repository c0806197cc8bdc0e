// A bounding-volume tree over the triangles of a mesh for the nearest-surface
// search.
//
// Boxes are stored in float, in a copy of space scaled by a power of two
// 2^k chosen so that the largest vertex coordinate has magnitude in
// [2^10, 2^11). Scaling by a power of two is exact in double, so the scaled
// corners are the exact reals s c; only their rounding to float boxes loses
// anything, and that rounding is outwards. The scale keeps every float
// square and sum of the filters far from both overflow (meshes at 1e30) and
// underflow (meshes at 1e-30), where an unscaled float filter would lose
// either exactness or all pruning.
//
// The tree is a median split on the widest axis of the triangle centroids,
// collapsed into 8-wide nodes whose eight child boxes are tested against a
// box of queries in one SIMD pass. A leaf holds 8 triangles: their boxes in
// structure-of-arrays form for the float pre-filter, and their float corners,
// copied bit for bit from the mesh, for the exact routine (no dependent load
// through the face and vertex arrays).
//
// Memory: a leaf takes 1056 bytes for 8 triangles and an 8-wide node 256
// bytes for 8 children, and each lane keeps its face number (4 bytes): about
// 141 bytes per triangle in all (132 in leaves, 4 in face numbers, 4 to 5 in
// nodes; the mesh itself takes 24 bytes per face and 12 per vertex).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "geometry/mesh.h"
#include "geometry/fill_later_vector.h"

namespace surface_index {

constexpr int kLanes = 8;

// The scaled largest coordinate lies in [2^kScaleExponent, 2^(kScaleExponent+1)).
constexpr int kScaleExponent = 10;
// A query is searched through the index when each scaled coordinate has
// magnitude at most this (2^30 times the mesh's extent); farther or
// non-finite queries take the exhaustive loop, one by one. Inside it every
// float gap is below 2^41 and every float square and sum below 2^84.
constexpr double kMaxScaledQuery = 0x1p40;

// Eight children of an internal node, one per lane: lane j's box holds, in
// scaled space, every triangle beneath child[j]. Lanes from `count` on are
// unused and hold an empty box (lo = +inf, hi = -inf).
struct alignas(32) SurfaceNode {
    float lox[kLanes], hix[kLanes];
    float loy[kLanes], hiy[kLanes];
    float loz[kLanes], hiz[kLanes];
    // >= 0: index of an internal node; < 0: ~index of a leaf.
    std::int32_t child[kLanes];
    std::int32_t count;
};

// Eight triangles, each with two filters in scaled space (kernels.h):
// lane j's box holds s * (triangle j); and its prism: measured from the
// leaf's reference point c (leafCentre: the centre of the union [blo, bhi]
// of the eight boxes, which is also the parent lane's box), every point x of s * (triangle j) satisfies
//     olo <= n . (x - c) <= ohi   and   m_e . (x - c) <= om_e,  e = 0, 1, 2,
// exactly, for the stored float vectors n (the unit normal) and m_e (the
// in-plane outward normal of edge e), or all of them zero for a triangle too
// degenerate to have a normal. Each pair (n, m_e) has Gram matrix G with
// max(G_11, G_22) + |G_12| <= 1 + 2^-20 (checked when built), which is what
// the prism bound needs of it. The corners are the mesh's float corners,
// unscaled, for the exact routine. A leaf with fewer than 8 triangles repeats
// its last one, which cannot change a minimum.
struct alignas(32) SurfaceLeaf {
    float lox[kLanes], hix[kLanes];
    float loy[kLanes], hiy[kLanes];
    float loz[kLanes], hiz[kLanes];
    float blo[3], bhi[3], unused[kLanes - 6];
    float nx[kLanes], ny[kLanes], nz[kLanes];
    float olo[kLanes], ohi[kLanes];
    float mx[3][kLanes], my[3][kLanes], mz[3][kLanes];
    float om[3][kLanes];
    Vector3 corner[kLanes][3];
};

// The reference point c of a leaf's prisms, coordinate i: formed from the
// union box in float by the build and by both kernel sets alike.
inline float leafCentre(const SurfaceLeaf& leaf, int i)
{
    return leaf.blo[i] * 0.5f + leaf.bhi[i] * 0.5f;
}

struct SurfaceIndex {
    std::vector<SurfaceNode> nodes;  // nodes[0] is the root
    // Every byte written by the build, not zeroed before.
    FillLaterVector<SurfaceLeaf> leaves;
    // faces[kLanes * l + j] is the mesh face of lane j of leaf l (repeated,
    // like the lane, past a leaf's last triangle).
    std::vector<std::uint32_t> faces;
    double scale = 1.0;              // s = 2^k
    // An upper bound on the scaled diameter of every triangle (4 times the
    // largest scaled coordinate magnitude).
    double diameter = 0.0;

    std::size_t bytes() const
    {
        return nodes.size() * sizeof(SurfaceNode) + leaves.size() * sizeof(SurfaceLeaf) +
               faces.size() * sizeof(std::uint32_t);
    }
};

// Whether the index can be built over `mesh`: more than kLanes faces and
// every vertex coordinate finite.
bool indexableMesh(const Mesh& mesh);

struct SurfaceKernels;

// Builds the index over mesh.faces (indexableMesh must hold), its prisms
// filled by `kernels` (kernels.h; the first form takes the CPU's best set).
// The bytes do not depend on the kernel set or the number of OpenMP threads.
// Its work is OpenMP tasks: called inside a parallel region, they share that
// region's threads with the caller's other tasks.
SurfaceIndex buildSurfaceIndex(const Mesh& mesh);
SurfaceIndex buildSurfaceIndex(const Mesh& mesh, const SurfaceKernels& kernels);

} // namespace surface_index

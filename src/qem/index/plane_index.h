// A bounding-volume tree over the faces of a mesh in plane space.
//
// The value the search minimises for a face f with unit normal n and corners
// c0, c1, c2 is min_k |n . (v - c_k)| (facePlaneDistance, plane_distance.h). Relative to
// any point p,
//     n . (v - c_k) = n . (v - p) - o_k,    o_k = n . (c_k - p),
// which is linear in (n, o_k). So a set of faces whose normals lie in a box
// and whose corner offsets o_k lie in an interval [olo, ohi] gives, by
// interval arithmetic over a box of query points, a lower bound for all of
// them at once. Positions alone could not prune: a face far from v may have
// its plane through v.
//
// The tree is split by median on the widest of (nx, ny, nz) scaled by the
// mesh's radius and the global plane offset n . centroid, and collapsed into
// 8-wide nodes whose eight child bounds are tested in one SIMD pass. Leaves
// hold 8 faces in structure-of-arrays form for the float pre-filter. Leaf
// lanes get their offsets from their faces; higher lanes from their node's
// lanes (see deriveOffsets), which keeps the build linear in face reads.
//
// Memory: a leaf takes 320 bytes for 8 faces (normal, offset midpoint and half
// width, corner and face indices) and an 8-wide node 448 bytes for 8 lanes;
// about 49 bytes per face in all on the real scans (the mesh itself takes 24
// bytes per face and 12 per vertex).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "geometry/mesh.h"
#include "geometry/fill_later_vector.h"

// The fast path's domain. Inside it nothing overflows or becomes NaN anywhere
// in the reference expression or the bounds: |v - c| <= 2^101, so
// |n . (v - c)| <= 3 * 2^109 and every product and sum of the bounds stays
// below 2^115, far from FLT_MAX. Outside it the exhaustive loop is used.
constexpr float kMaxIndexedCoordinate = 0x1p100f;
constexpr float kMaxIndexedNormalComponent = 0x1p8f;

// Whether every coordinate of `points` lies in the domain above.
bool inPlaneIndexDomain(PointSpan points);
// Whether every coordinate and every face normal of `mesh` does.
bool inPlaneIndexDomain(const Mesh& mesh);

constexpr int kLanes = 8;

// Eight children of an internal node, one per lane. Lane j covers the faces
// beneath child[j]: their normals lie in [nlo, nhi] per axis, every corner
// offset n . (c_k - p) (exact real) lies in [olo, ohi], and every
// sum_i |c_k,i - p_i| |n_i| is at most rad. Lanes from `count` on are unused.
struct alignas(32) PlaneNode {
    float px[kLanes], py[kLanes], pz[kLanes];
    float nlox[kLanes], nhix[kLanes];
    float nloy[kLanes], nhiy[kLanes];
    float nloz[kLanes], nhiz[kLanes];
    float olo[kLanes], ohi[kLanes];
    float rad[kLanes];
    // >= 0: index of an internal node; < 0: ~index of a leaf.
    std::int32_t child[kLanes];
    std::int32_t count;
};

// Eight faces measured from the point p of the lane that refers to the leaf:
// each corner offset n . (c_k - p) (exact real) lies in [omid - hw, omid + hw].
// A leaf with fewer than 8 faces repeats its last face, which cannot change a
// minimum.
struct alignas(32) PlaneLeaf {
    // The filter reads p and the five arrays after it (3 cache lines).
    float px, py, pz, unused[kLanes - 3];
    float nx[kLanes], ny[kLanes], nz[kLanes];
    float omid[kLanes], hw[kLanes];
    // Candidates read their corners' vertex indices from here, not from the
    // face array, one dependent cache miss fewer.
    std::uint32_t corner[3][kLanes];
    std::uint32_t face[kLanes];
};

struct PlaneIndex {
    std::vector<PlaneNode> nodes;  // nodes[0] is the root
    // Every byte written by the build, not zeroed before.
    FillLaterVector<PlaneLeaf> leaves;
    bool zeroNormalFace = false;    // some face has normal (0, 0, 0)

    std::size_t bytes() const
    {
        return nodes.size() * sizeof(PlaneNode) + leaves.size() * sizeof(PlaneLeaf);
    }
};

// Builds the index over mesh.faces. Needs more than kLanes faces, all inside
// the domain above (inPlaneIndexDomain). The index refers to the mesh's
// vertices by index: it answers queries against this mesh only.
PlaneIndex buildPlaneIndex(const Mesh& mesh);

// The exhaustive loop made fast: every face against every query, but with a
// float filter in front of the reference step. The filter only skips a face
// whose reference value provably exceeds the query's best so far; every face
// it admits is evaluated with facePlaneDistance (plane_distance.h). So the
// result is bit for bit nearestPlaneDistance's, whatever the kernel (AVX2 or
// portable) and however the faces or queries are split over threads.
//
// Rounding-error analysis of the filter. u = 2^-24 (float), ud = 2^-53
// (double). Every coordinate lies in the index's domain (plane_index.h:
// |coordinate| <= 2^100, |normal component| <= 2^8), so nothing overflows
// and no NaN arises; underflow only adds the absolute terms below.
//
// For a query v, a face with normal n and one of its corners c, the
// reference and the filter share e_i = fl(v_i - c_i). With T = sum_i e_i n_i
// (exact) and W = sum_i |e_i n_i|:
//   - reference: the products are exact in double, the two double additions
//     add at most 2.0001 ud W, rounding to float u|T| + 2^-150 (|T| <= W):
//         |fl(D) - T| <= 1.0001 u W + 2^-150.
//   - filter: s = fl(fl(fl(e_x n_x) + fl(e_y n_y)) + fl(e_z n_z)) in float.
//     Each product adds u|e_i n_i| + 2^-150, each addition u times its
//     partial sum (sums are exact in the subnormal range):
//         |s - T| <= 3.01 u W + 2^-147.
//   So the corner's reference value |fl(D)| >= |s| - 4.02 u W - 2^-146, and
//   the face's, the smallest of its three corners', is at least
//   g - 4.02 u W_max - 2^-146, g = min_k |s_k| (exact: min and fabs do not
//   round).
//
// W has a bound per query that holds for every face: |e_i| <= (|v_i| +
// cmax_i)(1 + u) and |n_i| <= nmax_i, with cmax and nmax the largest
// magnitudes of the target's coordinates and normal components per axis:
//     W <= (1 + u) B,   B = sum_i (|v_i| + cmax_i) nmax_i.
// B is evaluated in float as Bc = fl(fl(b_x + b_y) + b_z), b_i =
// fl(fl(|v_i| + cmax_i) nmax_i), which is within a factor (1 + u)^4 of B, so
// W <= (1 + 6u) Bc. The allowance is
//     A = fl(fl(kScanAllowanceFactor Bc) + FLT_MIN),  kScanAllowanceFactor = 8u:
// the product by a power of two is exact down to 2^-150, so
//     A >= (1 - u)(8u Bc - 2^-150 + 2^-126) >= 7.99 u Bc + 2^-127
//       >  4.02 u (1 + 6u) Bc + 2^-146 >= 4.02 u W_max + 2^-146.
// Hence a face whose reference value is at most best has g <= best + A; as g
// is a float and rounding is monotone, g <= fl(best + A). The filter admits
// exactly the faces with g <= fl(best + A), so no face that could beat or tie
// the best is skipped, and the minimum (a minimum of floats, with no NaN in
// the domain) does not depend on the order the faces are visited in.
//
// plane_scan_test checks g <= fl(d + A) for every face and query directly,
// and fails when the allowance is removed.
#pragma once

#include <cfloat>
#include <cstddef>
#include <vector>

#include "geometry/mesh.h"
#include "query/strategy.h"

constexpr float kScanAllowanceFactor = 0x1p-21f;  // 8u
constexpr float kScanAllowanceFloor = FLT_MIN;    // 2^-126

// What the filter's allowance needs to know of the target mesh.
struct PlaneScanTarget {
    float cmax[3];  // largest |coordinate| of any vertex, per axis
    float nmax[3];  // largest |normal component| of any face, per axis
    bool inDomain;  // every coordinate and normal inside the index's domain
};

// One pass over the vertices and the face normals.
PlaneScanTarget planeScanTarget(const Mesh& mesh);

// The allowance A of the analysis above for query v.
float planeScanAllowance(const PlaneScanTarget& target, const Vector3& v);

// The lower bound of the filter for one face and query: g = min_k |s_k|.
// The reference value of the face is >= g - A (see above).
float planeScanGap(const Vector3& v, const Mesh& mesh, std::uint32_t face);

// One kernel: for each of `count` queries (count <= kScanGroup), lowers
// best[q] to the smallest facePlaneDistance of faces [first, last), keeping
// the value when no face there is smaller. allow[q] is planeScanAllowance of
// query q.
constexpr int kScanGroup = 8;
struct PlaneScanKernel {
    void (*scan)(const Mesh& mesh, const Vector3* queries, const float* allow, int count,
                 std::size_t first, std::size_t last, float* best);
    const char* name;
};

const PlaneScanKernel& portablePlaneScanKernel();
// Null when the CPU lacks AVX2.
const PlaneScanKernel* avx2PlaneScanKernel();
// The AVX2 kernel where the CPU has it and `mode` allows it.
const PlaneScanKernel& planeScanKernelFor(SearchMode mode);

// best[i] = nearestPlaneDistance(points[i], mesh) for every point. `target`
// is planeScanTarget(mesh) and must be inside the domain, as must the points
// (inPlaneIndexDomain). Splits the queries over OpenMP threads when there are
// enough of them, otherwise the faces.
void nearestPlaneDistancesScan(PointSpan points, const Mesh& mesh,
                               const PlaneScanTarget& target, std::vector<float>& best,
                               const PlaneScanKernel& kernel);

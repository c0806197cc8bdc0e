// The filtered exhaustive scan: the target's bounds, the portable kernel and
// the split over threads. The filter's error analysis is in plane_scan.h.
#include "qem/plane_scan.h"

#include "query/progress.h"

#include <algorithm>
#include <cmath>

#include <omp.h>

#include "qem/index/plane_index.h"
#include "qem/plane_distance.h"

namespace {

// The largest magnitude per axis, and whether all are within `limit`. NaN
// fails every comparison, so it is caught by the domain test; a maximum of
// the other values does not depend on the order, so neither does the result.
template <class Component>
void widenOver(std::ptrdiff_t count, Component component, float limit, float (&at)[3],
               bool& inside)
{
    float x = 0.0f, y = 0.0f, z = 0.0f;
    bool within = true;
#pragma omp parallel for schedule(static) reduction(max : x, y, z) reduction(&& : within) \
    if (count >= kParallelMeshPass)
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const Vector3& v = component(std::size_t(i));
        const float ax = std::fabs(v.x), ay = std::fabs(v.y), az = std::fabs(v.z);
        within = within && (ax <= limit) & (ay <= limit) & (az <= limit);
        x = std::max(x, ax), y = std::max(y, ay), z = std::max(z, az);
    }
    at[0] = x, at[1] = y, at[2] = z;
    inside = inside && within;
}

} // namespace

PlaneScanTarget planeScanTarget(const Mesh& mesh)
{
    PlaneScanTarget target{{0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}, true};
    widenOver(
        std::ptrdiff_t(mesh.vertices.size()), [&](std::size_t i) -> const Vector3& {
            return mesh.vertices[i];
        },
        kMaxIndexedCoordinate, target.cmax, target.inDomain);
    widenOver(
        std::ptrdiff_t(mesh.faces.size()), [&](std::size_t i) -> const Vector3& {
            return mesh.faces[i].normal;
        },
        kMaxIndexedNormalComponent, target.nmax, target.inDomain);
    return target;
}

float planeScanAllowance(const PlaneScanTarget& target, const Vector3& v)
{
    float bx = (std::fabs(v.x) + target.cmax[0]) * target.nmax[0];
    float by = (std::fabs(v.y) + target.cmax[1]) * target.nmax[1];
    float bz = (std::fabs(v.z) + target.cmax[2]) * target.nmax[2];
    float b = bx + by;
    b = b + bz;
    float a = b * kScanAllowanceFactor;
    return a + kScanAllowanceFloor;
}

namespace {

// |s_k| of plane_scan.h for one corner: the reference's differences, float
// products and sums.
inline float cornerGap(const Vector3& v, const Vector3& c, const Vector3& n)
{
    float ex = v.x - c.x, ey = v.y - c.y, ez = v.z - c.z;
    float px = ex * n.x, py = ey * n.y, pz = ez * n.z;
    float s = px + py;
    s = s + pz;
    return std::fabs(s);
}

} // namespace

float planeScanGap(const Vector3& v, const Mesh& mesh, std::uint32_t face)
{
    const Face& f = mesh.faces[face];
    float g = cornerGap(v, mesh.corner(f, 0), f.normal);
    g = std::min(g, cornerGap(v, mesh.corner(f, 1), f.normal));
    return std::min(g, cornerGap(v, mesh.corner(f, 2), f.normal));
}

namespace {

void scanPortable(const Mesh& mesh, const Vector3* queries, const float* allow, int count,
                  std::size_t first, std::size_t last, float* best)
{
    float threshold[kScanGroup];
    for (int q = 0; q < count; ++q)
        threshold[q] = best[q] + allow[q];
    for (std::size_t f = first; f < last; ++f) {
        const Face& face = mesh.faces[f];
        const Vector3& c0 = mesh.corner(face, 0);
        const Vector3& c1 = mesh.corner(face, 1);
        const Vector3& c2 = mesh.corner(face, 2);
        for (int q = 0; q < count; ++q) {
            const Vector3& v = queries[q];
            float g = cornerGap(v, c0, face.normal);
            g = std::min(g, cornerGap(v, c1, face.normal));
            g = std::min(g, cornerGap(v, c2, face.normal));
            if (!(g <= threshold[q]))
                continue;
            float d = facePlaneDistance(v, c0, c1, c2, face.normal);
            if (d < best[q]) {
                best[q] = d;
                threshold[q] = d + allow[q];
            }
        }
    }
}

} // namespace

const PlaneScanKernel& portablePlaneScanKernel()
{
    static const PlaneScanKernel kernel{scanPortable, "portable"};
    return kernel;
}

const PlaneScanKernel& planeScanKernelFor(SearchMode mode)
{
    const PlaneScanKernel* avx2 = mode == SearchMode::portable ? nullptr : avx2PlaneScanKernel();
    return avx2 ? *avx2 : portablePlaneScanKernel();
}

namespace {

// Faces per chunk when the faces are split: large enough that a chunk's
// queries are set up once per many faces, small enough to balance.
constexpr std::size_t kMinChunkFaces = 16384;

// (query, face) pairs a thread takes at a time when the queries are split:
// against a handful of faces a group of queries is a few dozen pairs, and
// handing those out one group at a time made the shared counter a tenth of
// a run (10^7 queries against a tetrahedron, two threads).
constexpr std::size_t kMinChunkPairs = std::size_t(1) << 16;

} // namespace

void nearestPlaneDistancesScan(PointSpan points, const Mesh& mesh,
                               const PlaneScanTarget& target, std::vector<float>& best,
                               const PlaneScanKernel& kernel)
{
    const std::size_t count = points.size();
    const std::size_t faces = mesh.faces.size();
    best.assign(count, kFarDistance);
    if (count == 0 || faces == 0)
        return;
    FillLaterVector<float> allow(count);
    const std::ptrdiff_t queries = std::ptrdiff_t(count);
#pragma omp parallel for schedule(static) if (queries >= kParallelMeshPass)
    for (std::ptrdiff_t i = 0; i < queries; ++i)
        allow[std::size_t(i)] = planeScanAllowance(target, points[std::size_t(i)]);

    const std::size_t groups = (count + kScanGroup - 1) / kScanGroup;
    const std::size_t threads = std::size_t(std::max(1, omp_get_max_threads()));
    // Enough groups of queries to keep every thread busy: split the queries.
    if (groups >= 4 * threads || faces < 2 * kMinChunkFaces) {
        const std::ptrdiff_t n = std::ptrdiff_t(groups);
        const int chunk = int(std::max<std::size_t>(1, kMinChunkPairs / (kScanGroup * faces)));
#pragma omp parallel for schedule(dynamic, chunk)
        for (std::ptrdiff_t g = 0; g < n; ++g) {
            std::size_t at = std::size_t(g) * kScanGroup;
            int in = int(std::min<std::size_t>(kScanGroup, count - at));
            kernel.scan(mesh, points.data() + at, allow.data() + at, in, 0, faces,
                        best.data() + at);
            countAnsweredQueries(std::size_t(in));
        }
        return;
    }
    // Few queries: every chunk of faces against every group, each chunk's
    // minima kept apart and folded afterwards. A minimum of floats without
    // NaN does not depend on the order, so neither does the result.
    const std::size_t chunks =
        std::min((faces + kMinChunkFaces - 1) / kMinChunkFaces, 8 * threads);
    const std::size_t perChunk = (faces + chunks - 1) / chunks;
    std::vector<float> partial(chunks * count, kFarDistance);
    const std::ptrdiff_t tasks = std::ptrdiff_t(chunks * groups);
#pragma omp parallel for schedule(dynamic, 1)
    for (std::ptrdiff_t t = 0; t < tasks; ++t) {
        std::size_t chunk = std::size_t(t) / groups, group = std::size_t(t) % groups;
        std::size_t first = chunk * perChunk, last = std::min(faces, first + perChunk);
        std::size_t at = group * kScanGroup;
        int in = int(std::min<std::size_t>(kScanGroup, count - at));
        if (first < last)
            kernel.scan(mesh, points.data() + at, allow.data() + at, in, first, last,
                        partial.data() + chunk * count + at);
    }
    for (std::size_t chunk = 0; chunk < chunks; ++chunk)
        for (std::size_t i = 0; i < count; ++i)
            best[i] = std::min(best[i], partial[chunk * count + i]);
    countAnsweredQueries(count);
}

// The indexed nearest-surface search over a built index, with the kernel set
// chosen by the caller (NearestSurfaceSearch picks it; tests and benchmarks
// force each one).
#pragma once

#include <vector>

#include "geometry/mesh.h"
#include "query/strategy.h"
#include "surface/index/kernels.h"
#include "surface/index/surface_index.h"
#include "surface/point_triangle.h"

namespace surface_index {

// The AVX2 kernels when the CPU has them and `mode` is not portable.
const SurfaceKernels& surfaceKernelsFor(SearchMode mode);

// Whether query p is inside the index's domain (surface_index.h): false for
// non-finite coordinates.
bool inSearchDomain(const SurfaceIndex& index, const Point3d& p);

// out[i] = sqrt(nearestSurfaceDistanceSquared(points[i], mesh)), bit for bit,
// for `index` built over `mesh`: queries inside the domain through the index
// in packets of neighbours along `order` (a permutation of the points'
// indices; their Morton order when null), walked `walk` at a time (1 or
// kDenseWalk), the others by the exhaustive loop. faces[i], when asked for,
// is the face nearestSurfaceDistanceSquared names.
void surfaceDistancesIndexed(const SurfaceIndex& index, const Mesh& mesh,
                             const std::vector<Point3d>& points, std::vector<double>& out,
                             const SurfaceKernels& kernels,
                             const std::vector<std::uint32_t>* order = nullptr,
                             std::vector<std::uint32_t>* faces = nullptr, int walk = 1);

// Appends to `out` the face of every triangle T of `mesh` (the mesh `index`
// was built over) whose exact distance from p is at most `radius`, and
// possibly of others, each face once; p must be inside the domain
// (inSearchDomain). A radius that is not finite admits every face.
void facesWithin(const SurfaceIndex& index, const Point3d& p, double radius,
                 const SurfaceKernels& kernels, std::vector<std::uint32_t>& out,
                 std::vector<StackEntry>& stack);

} // namespace surface_index

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
// in Morton-ordered packets, the others by the exhaustive loop.
void surfaceDistancesIndexed(const SurfaceIndex& index, const Mesh& mesh,
                             const std::vector<Point3d>& points, std::vector<double>& out,
                             const SurfaceKernels& kernels);

} // namespace surface_index

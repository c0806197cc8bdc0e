// The nearest-face-plane search of one target mesh, for any number of point
// sets. The results are bit for bit those of nearestPlaneDistance (the
// exhaustive loop in plane_distance.h), whatever the thread count or CPU.
#pragma once

#include <memory>
#include <vector>

#include "geometry/mesh.h"
#include "qem/index/kernels.h"
#include "qem/index/plane_index.h"
#include "qem/plane_scan.h"
#include "query/strategy.h"

class NearestPlaneSearch {
public:
    // `target` must outlive the search and stay unchanged while it is used.
    explicit NearestPlaneSearch(const Mesh& target, SearchMode mode = searchModeFromEnvironment());

    // best[i] = nearestPlaneDistance(points[i], target) for every point,
    // with OpenMP threads (OMP_NUM_THREADS is respected). Inside the domain
    // of plane_index.h (every coordinate and normal), the plane-space index
    // where the cost model of query/strategy.h says it pays off, otherwise the
    // filtered exhaustive scan (plane_scan.h); outside it the exhaustive
    // reference loop. The index is built on the first call that needs it and
    // kept for the next ones.
    void distances(PointSpan points, std::vector<float>& best);

    const Mesh& target() const { return target_; }
    // Whether an index has been built (for tests and benchmarks).
    bool indexed() const { return index_ != nullptr; }

private:
    const Mesh& target_;
    SearchMode mode_;
    PlaneScanTarget scanTarget_;
    std::unique_ptr<PlaneIndex> index_;
};

// The indexed search without the fallbacks, for tests and benchmarks:
// `index` built over `target`, every point and the target inside the index's
// domain, `kernels` one of the two kernel sets.
void nearestPlaneDistancesIndexed(const PlaneIndex& index, const Mesh& target,
                                  PointSpan points, std::vector<float>& best,
                                  const PlaneKernels& kernels);

// The AVX2 kernels where the CPU has them and `mode` allows them, else the
// portable ones.
const PlaneKernels& planeKernelsFor(SearchMode mode);

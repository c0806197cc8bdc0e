// The nearest-face-plane search of one target mesh, for any number of point
// sets. The results are bit for bit those of nearestPlaneDistance (the
// exhaustive loop in plane_distance.h), whatever the thread count or CPU.
#pragma once

#include <memory>
#include <vector>

#include "geometry/mesh.h"
#include "qem/index/kernels.h"
#include "qem/index/plane_index.h"
#include "query/strategy.h"

class NearestPlaneSearch {
public:
    // `target` must outlive the search and stay unchanged while it is used.
    explicit NearestPlaneSearch(const Mesh& target, SearchMode mode = searchModeFromEnvironment());

    // best[i] = nearestPlaneDistance(points[i], target) for every point,
    // with OpenMP threads (OMP_NUM_THREADS is respected). Uses the plane-space
    // index where it pays off and its error analysis applies (every
    // coordinate and normal inside the domain of plane_index.h), and the
    // exhaustive loop otherwise. The index is built on the first call that
    // needs it and kept for the next ones.
    void distances(const std::vector<Vector3>& points, std::vector<float>& best);

    const Mesh& target() const { return target_; }
    // Whether an index has been built (for tests and benchmarks).
    bool indexed() const { return index_ != nullptr; }

private:
    const Mesh& target_;
    SearchMode mode_;
    bool targetInDomain_;
    std::unique_ptr<PlaneIndex> index_;
};

// The indexed search without the fallbacks, for tests and benchmarks:
// `index` built over `target`, every point and the target inside the index's
// domain, `kernels` one of the two kernel sets.
void nearestPlaneDistancesIndexed(const PlaneIndex& index, const Mesh& target,
                                  const std::vector<Vector3>& points, std::vector<float>& best,
                                  const PlaneKernels& kernels);

// The AVX2 kernels where the CPU has them and `mode` allows them, else the
// portable ones.
const PlaneKernels& planeKernelsFor(SearchMode mode);

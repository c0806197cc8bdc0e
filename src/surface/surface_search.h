// The nearest-surface search of one target mesh, for any number of point
// sets. The results are bit for bit those of surfaceDistancesExhaustive,
// whatever the thread count or CPU.
#pragma once

#include <vector>

#include "geometry/mesh.h"
#include "query/strategy.h"
#include "surface/point_triangle.h"

class NearestSurfaceSearch {
public:
    // `target` must outlive the search and stay unchanged while it is used.
    explicit NearestSurfaceSearch(const Mesh& target,
                                  SearchMode mode = searchModeFromEnvironment());

    // out[i] = the distance from points[i] to the surface of the target
    // (+infinity when it has no faces), with OpenMP threads.
    void distances(const std::vector<Point3d>& points, std::vector<double>& out);

    const Mesh& target() const { return target_; }

private:
    const Mesh& target_;
    [[maybe_unused]] SearchMode mode_;  // read once an index exists
};

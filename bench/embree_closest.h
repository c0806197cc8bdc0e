// The strongest general-purpose baseline: Embree 3's BVH answering the same
// nearest-surface question through rtcPointQuery, its callback measuring each
// triangle Embree does not cull with pointTriangleDistanceSquared, the one
// routine every path uses.
#pragma once

#include <memory>
#include <vector>

#include "geometry/mesh.h"
#include "surface/point_triangle.h"

class EmbreeClosest {
public:
    // Builds Embree's scene over `mesh` with `threads` build threads.
    EmbreeClosest(const Mesh& mesh, int threads);
    ~EmbreeClosest();
    EmbreeClosest(const EmbreeClosest&) = delete;
    EmbreeClosest& operator=(const EmbreeClosest&) = delete;

    // out[i] = the distance from points[i] to the surface, the queries taken
    // in `order` and spread over OpenMP threads.
    void distances(const std::vector<Point3d>& points, const std::vector<std::uint32_t>& order,
                   std::vector<double>& out) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

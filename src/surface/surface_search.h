// The nearest-surface search of one target mesh, for any number of point
// sets. The results are bit for bit those of surfaceDistancesExhaustive,
// whatever the thread count or CPU.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "geometry/mesh.h"
#include "query/strategy.h"
#include "surface/point_triangle.h"

namespace surface_index {
struct SurfaceIndex;
}

// How a batch of queries lies, which decides only how the index walks them:
// sparse points (mesh vertices, about an edge apart) each walk alone; dense
// ones (area samples, several to a triangle) share walks in small groups.
enum class QuerySpacing { sparse, dense };

class NearestSurfaceSearch {
public:
    // `target` must outlive the search and stay unchanged while it is used.
    explicit NearestSurfaceSearch(const Mesh& target,
                                  SearchMode mode = searchModeFromEnvironment());

    // out[i] = the distance from points[i] to the surface of the target
    // (+infinity when it has no faces), with OpenMP threads; faces[i], when
    // asked for, the lowest-numbered face at the least routine value (as
    // nearestSurfaceDistanceSquared names it; kNoFace when there is none),
    // the same whichever search runs.
    void distances(const std::vector<Point3d>& points, std::vector<double>& out,
                   std::vector<std::uint32_t>* faces = nullptr);
    // The same, the points searched along `order`, a permutation of their
    // indices that keeps neighbours in space together (a caller that knows
    // one saves sorting them), walked as `spacing` says; neither changes a
    // result.
    void distances(const std::vector<Point3d>& points, const std::vector<std::uint32_t>& order,
                   std::vector<double>& out, QuerySpacing spacing);

    // Every face T of the target whose exact distance from p is at most
    // `radius` (and possibly others), each once, in no fixed order: out is
    // cleared first. Without an index, every face. Safe to call from several
    // threads once prepareFacesWithin has run.
    void prepareFacesWithin();
    void facesWithin(const Point3d& p, double radius, std::vector<std::uint32_t>& out) const;

    // Frees the index (a later search builds it again), for a caller done
    // with this target whose next search would otherwise write fresh memory.
    void release() { index_.reset(); }

    const Mesh& target() const { return target_; }
    // Whether an index has been built (on the first call that could use one).
    bool indexed() const { return index_ != nullptr; }

private:
    void distancesAlong(const std::vector<Point3d>& points,
                        const std::vector<std::uint32_t>* order, std::vector<double>& out,
                        std::vector<std::uint32_t>* faces, QuerySpacing spacing);

    const Mesh& target_;
    SearchMode mode_;
    // Shared by copies of the search; never changed once built.
    std::shared_ptr<const surface_index::SurfaceIndex> index_;
};

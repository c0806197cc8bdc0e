// The search driver: the fallbacks, the order of the queries and their
// packets. The traversal and its exactness argument are in index/traversal.h,
// the bounds and their rounding analysis in index/kernels.h.
#include "surface/surface_search.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "query/morton.h"
#include "query/packets.h"
#include "surface/index/indexed_search.h"
#include "surface/surface_distance.h"

namespace surface_index {

const SurfaceKernels& surfaceKernelsFor(SearchMode mode)
{
    const SurfaceKernels* avx2 = mode == SearchMode::portable ? nullptr : avx2SurfaceKernels();
    return avx2 ? *avx2 : portableSurfaceKernels();
}

bool inSearchDomain(const SurfaceIndex& index, const Point3d& p)
{
    // Negated so that NaN fails; the products are exact (a power of two).
    const double s = index.scale;
    return std::fabs(p.x * s) <= kMaxScaledQuery && std::fabs(p.y * s) <= kMaxScaledQuery &&
           std::fabs(p.z * s) <= kMaxScaledQuery;
}

void surfaceDistancesIndexed(const SurfaceIndex& index, const Mesh& mesh,
                             const std::vector<Point3d>& points, std::vector<double>& out,
                             const SurfaceKernels& kernels)
{
    out.assign(points.size(), HUGE_VAL);
    // Queries inside the domain, scaled to floats for the Morton order (the
    // unscaled ones could overflow a float); the others
    // one by one through the exhaustive loop.
    std::vector<std::uint32_t> inside, outside;
    std::vector<Vector3> keys;
    inside.reserve(points.size());
    keys.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Point3d& p = points[i];
        if (inSearchDomain(index, p)) {
            inside.push_back(std::uint32_t(i));
            keys.push_back({float(p.x * index.scale), float(p.y * index.scale),
                            float(p.z * index.scale)});
        } else
            outside.push_back(std::uint32_t(i));
    }
    const std::ptrdiff_t far = std::ptrdiff_t(outside.size());
#pragma omp parallel for schedule(dynamic, 4)
    for (std::ptrdiff_t k = 0; k < far; ++k) {
        const std::uint32_t i = outside[std::size_t(k)];
        out[i] = std::sqrt(nearestSurfaceDistanceSquared(points[i], mesh));
        countAnsweredQueries(1);
    }

    std::vector<std::uint32_t> order = mortonOrder(keys);
    for (std::uint32_t& k : order)
        k = inside[k];
    struct Worker {
        std::vector<StackEntry> stack;
        SurfacePacket packet;
    };
    auto makeWorker = [] {
        Worker worker;
        worker.stack.reserve(256);
        return worker;
    };
    auto search = [&](Worker& worker, const std::uint32_t* queries, std::size_t count) {
        SurfacePacket& packet = worker.packet;
        packet.count = int(count);
        for (int q = 0; q < packet.count; ++q)
            setQuery(packet, q, points[queries[q]], index.scale, index.diameter);
        kernels.searchPacket(index, packet, worker.stack);
        for (int q = 0; q < packet.count; ++q)
            out[queries[q]] = std::sqrt(packet.best[q]);
    };
    forEachPacket(order, std::size_t(kMaxPacket), makeWorker, search);
}

} // namespace surface_index

NearestSurfaceSearch::NearestSurfaceSearch(const Mesh& target, SearchMode mode)
    : target_(target), mode_(mode)
{
}

void NearestSurfaceSearch::distances(const std::vector<Point3d>& points, std::vector<double>& out)
{
    if (mode_ == SearchMode::exhaustive || !indexPaysOff(points.size(), target_.faces.size()) ||
        !surface_index::indexableMesh(target_)) {
        surfaceDistancesExhaustive(points, target_, out);
        return;
    }
    // Built on first use and kept: a reference is compared against many
    // candidates.
    if (!index_)
        index_ = std::make_shared<const surface_index::SurfaceIndex>(
            surface_index::buildSurfaceIndex(target_));
    surface_index::surfaceDistancesIndexed(*index_, target_, points, out,
                                           surface_index::surfaceKernelsFor(mode_));
}

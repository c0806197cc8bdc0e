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
                             const SurfaceKernels& kernels, const std::vector<std::uint32_t>* given,
                             std::vector<std::uint32_t>* faces, int walk)
{
    // Every slot is written below, by the index or by the exhaustive loop.
    out.resize(points.size());
    if (faces)
        faces->resize(points.size());
    const std::ptrdiff_t total = std::ptrdiff_t(points.size());
    const bool parallel = total >= 65536;
    std::ptrdiff_t outsideCount = 0;
#pragma omp parallel for schedule(static) reduction(+ : outsideCount) if (parallel)
    for (std::ptrdiff_t k = 0; k < total; ++k)
        outsideCount += !inSearchDomain(index, points[std::size_t(k)]);

    // Queries inside the domain go through the index, in the given order or
    // else in the Morton order of their keys, scaled to floats (the
    // unscaled ones could overflow a float); the others one by one through
    // the exhaustive loop. Usually every query is inside: then nothing is
    // partitioned, and the keys are formed in parallel.
    std::vector<std::uint32_t> inside, outside;
    if (outsideCount > 0)
        for (std::size_t k = 0; k < points.size(); ++k) {
            const std::uint32_t i = given ? (*given)[k] : std::uint32_t(k);
            (inSearchDomain(index, points[i]) ? inside : outside).push_back(i);
        }
    std::vector<std::uint32_t> order;
    if (!given) {
        const std::size_t keyCount = outsideCount > 0 ? inside.size() : points.size();
        const std::ptrdiff_t keyed = std::ptrdiff_t(keyCount);
        std::vector<Vector3> keys(keyCount);
#pragma omp parallel for schedule(static) if (keyed >= 65536)
        for (std::ptrdiff_t k = 0; k < keyed; ++k) {
            const Point3d& p = points[outsideCount > 0 ? inside[std::size_t(k)] : std::size_t(k)];
            keys[std::size_t(k)] = {float(p.x * index.scale), float(p.y * index.scale),
                                    float(p.z * index.scale)};
        }
        order = mortonOrder(keys);
        if (outsideCount > 0)
            for (std::uint32_t& k : order)
                k = inside[k];
    }
    const std::ptrdiff_t far = std::ptrdiff_t(outside.size());
#pragma omp parallel for schedule(dynamic, 4)
    for (std::ptrdiff_t k = 0; k < far; ++k) {
        const std::uint32_t i = outside[std::size_t(k)];
        out[i] = std::sqrt(
            nearestSurfaceDistanceSquared(points[i], mesh, faces ? &(*faces)[i] : nullptr));
        countAnsweredQueries(1);
    }
    const std::vector<std::uint32_t>& searched = !given ? order : outsideCount > 0 ? inside : *given;

    struct Worker {
        std::vector<StackEntry> stack;
        SurfacePacket packet{};  // slots past a short packet's count are read, never used
    };
    auto makeWorker = [] {
        Worker worker;
        worker.stack.reserve(256);
        return worker;
    };
    auto search = [&](Worker& worker, const std::uint32_t* queries, std::size_t count) {
        SurfacePacket& packet = worker.packet;
        packet.count = int(count);
        packet.walk = walk;
        for (int q = 0; q < packet.count; ++q)
            setQuery(packet, q, points[queries[q]], index.scale, index.diameter);
        kernels.searchPacket(index, packet, worker.stack);
        for (int q = 0; q < packet.count; ++q)
            out[queries[q]] = std::sqrt(packet.best[q]);
        if (faces)
            for (int q = 0; q < packet.count; ++q)
                (*faces)[queries[q]] = packet.bestFace[q];
    };
    forEachPacket(searched, std::size_t(kMaxPacket), makeWorker, search);
}

// Why no face within the radius is missed: let T be a triangle with
// dist(p, T) <= r. With best = fl(r r) >= r^2 (1 - ud), sqrt(best) >= r (1 -
// 1.01 ud), and updateLimits forms the reach (s sqrt(best) + slack) (1 +
// 2^-47), which, its three roundings included, is at least s r + e (slack
// >= e): at least dist(P_f, s T) <= s dist(p, T) + e, the quantity R of
// analysis 2 in kernels.h. From there analyses 3 to 5 apply as they are: the
// box bound of T and of every node above it is within the limit, and so is
// T's prism bound, so T's lane is in the mask leafBounds returns.
void facesWithin(const SurfaceIndex& index, const Point3d& p, double radius,
                 const SurfaceKernels& kernels, std::vector<std::uint32_t>& out,
                 std::vector<StackEntry>& stack)
{
    SurfacePacket packet;
    packet.count = 1;
    setQuery(packet, 0, p, index.scale, index.diameter);
    packet.best[0] = radius >= 0.0 ? radius * radius : HUGE_VAL;  // NaN admits every face
    updateLimits(packet, 0, index.scale);
    const float limit = packet.limit[0], reach = packet.reach[0];
    const float x = packet.x[0], y = packet.y[0], z = packet.z[0];
    const QueryBox point{{x, y, z}, {x, y, z}};

    stack.clear();
    stack.push_back({0, -HUGE_VALF});
    while (!stack.empty()) {
        const std::int32_t child = stack.back().child;
        stack.pop_back();
        if (child >= 0) {
            const SurfaceNode& node = index.nodes[std::size_t(child)];
            float lb2[kLanes];
            for (unsigned mask = kernels.nodeBounds(node, point, limit, lb2); mask;
                 mask &= mask - 1) {
                const int j = __builtin_ctz(mask);
                stack.push_back({node.child[j], lb2[j]});
            }
            continue;
        }
        const std::size_t leaf = std::size_t(~child);
        float p2[kLanes];
        const std::uint32_t* faces = &index.faces[leaf * kLanes];
        for (unsigned mask = kernels.leafBounds(index.leaves[leaf], x, y, z, limit, reach, p2);
             mask; mask &= mask - 1) {
            const int j = __builtin_ctz(mask);
            // A short leaf repeats its last triangle in the lanes after it.
            if (j == 0 || faces[j] != faces[j - 1])
                out.push_back(faces[j]);
        }
    }
}

} // namespace surface_index

NearestSurfaceSearch::NearestSurfaceSearch(const Mesh& target, SearchMode mode)
    : target_(target), mode_(mode)
{
}

void NearestSurfaceSearch::distances(const std::vector<Point3d>& points, std::vector<double>& out,
                                     std::vector<std::uint32_t>* faces)
{
    distancesAlong(points, nullptr, out, faces, QuerySpacing::sparse);
}

void NearestSurfaceSearch::distances(const std::vector<Point3d>& points,
                                     const std::vector<std::uint32_t>& order,
                                     std::vector<double>& out, QuerySpacing spacing)
{
    distancesAlong(points, &order, out, nullptr, spacing);
}

void NearestSurfaceSearch::distancesAlong(const std::vector<Point3d>& points,
                                          const std::vector<std::uint32_t>* order,
                                          std::vector<double>& out,
                                          std::vector<std::uint32_t>* faces,
                                          QuerySpacing spacing)
{
    // An index built already (prepareFacesWithin) is used for any batch: it
    // gives the same bits, and small batches are many in a refinement.
    // An index exists only over an indexable mesh: the many small batches
    // of a refinement do not check every vertex again.
    if (mode_ == SearchMode::exhaustive ||
        (!index_ && (!indexPaysOff(points.size(), target_.faces.size()) ||
                     !surface_index::indexableMesh(target_)))) {
        surfaceDistancesExhaustive(points, target_, out, faces);
        return;
    }
    // Built on first use and kept: a reference is compared against many
    // candidates.
    if (!index_)
        index_ = std::make_shared<const surface_index::SurfaceIndex>(
            surface_index::buildSurfaceIndex(target_));
    surface_index::surfaceDistancesIndexed(
        *index_, target_, points, out, surface_index::surfaceKernelsFor(mode_), order, faces,
        spacing == QuerySpacing::dense ? surface_index::kDenseWalk : 1);
}

void NearestSurfaceSearch::prepareFacesWithin()
{
    if (mode_ != SearchMode::exhaustive && !index_ && surface_index::indexableMesh(target_))
        index_ = std::make_shared<const surface_index::SurfaceIndex>(
            surface_index::buildSurfaceIndex(target_));
}

void NearestSurfaceSearch::facesWithin(const Point3d& p, double radius,
                                       std::vector<std::uint32_t>& out) const
{
    out.clear();
    if (index_ && surface_index::inSearchDomain(*index_, p)) {
        thread_local std::vector<surface_index::StackEntry> stack;
        surface_index::facesWithin(*index_, p, radius, surface_index::surfaceKernelsFor(mode_),
                                   out, stack);
        return;
    }
    // Without an index (or for a query outside its domain), every face.
    out.resize(target_.faces.size());
    for (std::size_t f = 0; f < out.size(); ++f)
        out[f] = std::uint32_t(f);
}

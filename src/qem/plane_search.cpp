// The search driver: the fallbacks, the order of the queries and their
// packets. The traversal and its exactness argument are in index/traversal.h,
// the bounds in index/kernels.h.
#include "qem/plane_search.h"

#include <algorithm>

#include "qem/plane_distance.h"
#include "query/morton.h"
#include "query/packets.h"

namespace {

// Measured on the development VM with bench/search_sample on rs1_normals.ply
// against rs22_proc2.ply (2.2e5 faces), one thread: the AVX2 scan 1.35-1.6 ns
// per pair, the build 0.096 s (435 ns per face), an indexed query 12 us
// (25 ns per root face). Only the speed depends on them.
constexpr SearchCosts kPlaneCosts{1.4, 435.0, 1000.0, 25.0};

} // namespace

const PlaneKernels& planeKernelsFor(SearchMode mode)
{
    if (mode == SearchMode::portable)
        return portablePlaneKernels();
    if (const PlaneKernels* avx512 = avx512PlaneKernels())
        return *avx512;
    const PlaneKernels* avx2 = avx2PlaneKernels();
    return avx2 ? *avx2 : portablePlaneKernels();
}

void nearestPlaneDistancesIndexed(const PlaneIndex& index, const Mesh& target,
                                  PointSpan points, std::vector<float>& best,
                                  const PlaneKernels& kernels)
{
    if (index.zeroNormalFace) {
        // Every finite query is at distance 0 from that face's "plane".
        best.assign(points.size(), 0.0f);
        countAnsweredQueries(points.size());
        return;
    }
    best.assign(points.size(), kFarDistance);
    struct Worker {
        std::vector<StackEntry> stack;
        PlanePacket packet;
    };
    auto makeWorker = [] {
        Worker worker;
        worker.stack.reserve(256);
        return worker;
    };
    auto search = [&](Worker& worker, const std::uint32_t* queries, std::size_t count) {
        PlanePacket& packet = worker.packet;
        packet.count = int(count);
        for (int q = 0; q < packet.count; ++q) {
            const Vector3& v = points[queries[q]];
            packet.x[q] = v.x, packet.y[q] = v.y, packet.z[q] = v.z;
        }
        kernels.searchPacket(index, target, packet, worker.stack);
        for (int q = 0; q < packet.count; ++q)
            best[queries[q]] = packet.best[q];
    };
    forEachPacket(mortonOrder(points), std::size_t(kernels.packetSize), makeWorker, search);
}

NearestPlaneSearch::NearestPlaneSearch(const Mesh& target, SearchMode mode)
    : target_(target), mode_(mode), scanTarget_(planeScanTarget(target))
{
}

void NearestPlaneSearch::distances(PointSpan points, std::vector<float>& best)
{
    if (mode_ == SearchMode::exhaustive || !scanTarget_.inDomain || !inPlaneIndexDomain(points)) {
        nearestPlaneDistancesExhaustive(points, target_, best);
        return;
    }
    // The index needs more than one leaf's worth of faces; once built it
    // costs nothing more.
    bool useIndex = target_.faces.size() > std::size_t(kLanes) &&
                    (index_ || indexPaysOff(points.size(), target_.faces.size(), kPlaneCosts));
    if (!useIndex) {
        nearestPlaneDistancesScan(points, target_, scanTarget_, best, planeScanKernelFor(mode_));
        return;
    }
    if (!index_)
        index_ = std::make_unique<PlaneIndex>(buildPlaneIndex(target_));
    nearestPlaneDistancesIndexed(*index_, target_, points, best, planeKernelsFor(mode_));
}

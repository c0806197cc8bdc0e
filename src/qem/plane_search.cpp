// The search driver: the fallbacks, the order of the queries and their
// packets. The traversal and its exactness argument are in index/traversal.h,
// the bounds in index/kernels.h.
#include "qem/plane_search.h"

#include <algorithm>

#include "qem/plane_distance.h"
#include "query/morton.h"
#include "query/packets.h"

const PlaneKernels& planeKernelsFor(SearchMode mode)
{
    const PlaneKernels* avx2 = mode == SearchMode::portable ? nullptr : avx2PlaneKernels();
    return avx2 ? *avx2 : portablePlaneKernels();
}

void nearestPlaneDistancesIndexed(const PlaneIndex& index, const Mesh& target,
                                  const std::vector<Vector3>& points, std::vector<float>& best,
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
    forEachPacket(mortonOrder(points), kMaxPacket, makeWorker, search);
}

NearestPlaneSearch::NearestPlaneSearch(const Mesh& target, SearchMode mode)
    : target_(target), mode_(mode), targetInDomain_(inPlaneIndexDomain(target))
{
}

void NearestPlaneSearch::distances(const std::vector<Vector3>& points, std::vector<float>& best)
{
    // The index needs more than one leaf's worth of faces.
    bool useIndex = mode_ != SearchMode::exhaustive && targetInDomain_ &&
                    target_.faces.size() > std::size_t(kLanes) &&
                    indexPaysOff(points.size(), target_.faces.size()) &&
                    inPlaneIndexDomain(points);
    if (!useIndex) {
        nearestPlaneDistancesExhaustive(points, target_, best);
        return;
    }
    if (!index_)
        index_ = std::make_unique<PlaneIndex>(buildPlaneIndex(target_));
    nearestPlaneDistancesIndexed(*index_, target_, points, best, planeKernelsFor(mode_));
}

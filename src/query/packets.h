// What every engine's indexed search shares: the queries in Morton order, cut
// into packets of neighbours, the packets spread over OpenMP threads.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <omp.h>

#include "geometry/vector3.h"
#include "query/progress.h"

// A box of query points, corners included.
struct QueryBox {
    float lo[3];
    float hi[3];
};

// The box of the first `count` (> 0) points of a packet's coordinate arrays.
inline QueryBox boxOf(const float* x, const float* y, const float* z, int count)
{
    QueryBox box{{x[0], y[0], z[0]}, {x[0], y[0], z[0]}};
    for (int q = 1; q < count; ++q) {
        box.lo[0] = std::min(box.lo[0], x[q]), box.hi[0] = std::max(box.hi[0], x[q]);
        box.lo[1] = std::min(box.lo[1], y[q]), box.hi[1] = std::max(box.hi[1], y[q]);
        box.lo[2] = std::min(box.lo[2], z[q]), box.hi[2] = std::max(box.hi[2], z[q]);
    }
    return box;
}

// Calls search(worker, queries, count) for consecutive packets of at most
// `packetSize` entries of `order` (the indices of the queries it is to
// answer), the packets dynamically spread over OpenMP threads. Each thread
// makes one worker with makeWorker() for its scratch state. A packet's
// results depend only on its queries, so they are the same at any thread
// count; callers write one result per query and sum, if at all, on one
// thread afterwards. Each packet is counted as answered (query/progress.h).
template <class MakeWorker, class Search>
void forEachPacket(const std::vector<std::uint32_t>& order, std::size_t packetSize,
                   MakeWorker makeWorker, Search search)
{
    const std::ptrdiff_t packets = std::ptrdiff_t((order.size() + packetSize - 1) / packetSize);
    // Runs of 8 neighbouring packets keep a thread in one part of the index,
    // but a small batch (the levels of a refinement) would go to one thread
    // whole: below 64 packets a thread each are handed out one by one.
    const int chunk = packets >= 64 * std::ptrdiff_t(omp_get_max_threads()) ? 8 : 1;
#pragma omp parallel
    {
        auto worker = makeWorker();
#pragma omp for schedule(dynamic, chunk)
        for (std::ptrdiff_t k = 0; k < packets; ++k) {
            std::size_t first = std::size_t(k) * packetSize;
            const std::size_t count = std::min(packetSize, order.size() - first);
            search(worker, order.data() + first, count);
            countAnsweredQueries(count);
        }
    }
}

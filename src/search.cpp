// The search driver: the fallbacks, the order of the queries, the packets and
// their threads. The traversal and its exactness argument are in
// search_traversal.h, the bounds in search_kernels.h.
#include "search.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include <omp.h>

#include "compare.h"
#include "search_index.h"
#include "search_kernels.h"

namespace {

// Below these sizes building the index costs more than it saves.
constexpr std::size_t kMinIndexedFaces = 64;
constexpr std::size_t kMinIndexedQueries = 32;

enum class SearchMode { automatic, exhaustive, portable };

SearchMode searchMode()
{
    static const SearchMode mode = [] {
        const char* value = std::getenv("MESHQEM_SEARCH");
        if (value && std::strcmp(value, "exhaustive") == 0)
            return SearchMode::exhaustive;
        if (value && std::strcmp(value, "portable") == 0)
            return SearchMode::portable;
        return SearchMode::automatic;
    }();
    return mode;
}

// False for NaN as well.
bool within(const Vector3& v, float limit)
{
    return std::fabs(v.x) <= limit && std::fabs(v.y) <= limit && std::fabs(v.z) <= limit;
}

// 21 bits per axis interleaved: neighbours on the curve are neighbours in
// space, so a packet's box stays small.
std::uint64_t spreadBits(std::uint64_t x)
{
    x &= 0x1fffff;
    x = (x | x << 32) & 0x1f00000000ffffULL;
    x = (x | x << 16) & 0x1f0000ff0000ffULL;
    x = (x | x << 8) & 0x100f00f00f00f00fULL;
    x = (x | x << 4) & 0x10c30c30c30c30c3ULL;
    x = (x | x << 2) & 0x1249249249249249ULL;
    return x;
}

std::vector<std::uint32_t> mortonOrder(const std::vector<Vector3>& points)
{
    float lo[3], hi[3];
    pointBounds(points, lo, hi);
    double scale[3];
    for (int i = 0; i < 3; ++i) {
        double extent = double(hi[i]) - lo[i];
        scale[i] = extent > 0.0 ? double(0x1fffff) / extent : 0.0;
    }
    std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Vector3& v = points[i];
        auto cell = [&](float x, int a) { return std::uint64_t((double(x) - lo[a]) * scale[a]); };
        std::uint64_t code =
            spreadBits(cell(v.x, 0)) | spreadBits(cell(v.y, 1)) << 1 | spreadBits(cell(v.z, 2)) << 2;
        keyed[i] = {code, std::uint32_t(i)};
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<std::uint32_t> order(points.size());
    for (std::size_t i = 0; i < points.size(); ++i)
        order[i] = keyed[i].second;
    return order;
}

void exhaustive(const Mesh& from, const Mesh& to, std::vector<float>& best)
{
    const std::ptrdiff_t count = std::ptrdiff_t(from.vertices.size());
#pragma omp parallel for schedule(dynamic, 64)
    for (std::ptrdiff_t i = 0; i < count; ++i)
        best[std::size_t(i)] = nearestPlaneDistance(from.vertices[std::size_t(i)], to);
}

} // namespace

bool searchIndexApplies(const Mesh& from, const Mesh& to)
{
    for (const Vector3& v : from.vertices)
        if (!within(v, kMaxSearchCoordinate))
            return false;
    for (const Vector3& v : to.vertices)
        if (!within(v, kMaxSearchCoordinate))
            return false;
    for (const Face& f : to.faces)
        if (!within(f.normal, kMaxSearchNormalComponent))
            return false;
    return true;
}

void nearestPlaneDistancesExhaustive(const Mesh& from, const Mesh& to, std::vector<float>& best)
{
    best.assign(from.vertices.size(), kFarDistance);
    exhaustive(from, to, best);
}

void nearestPlaneDistancesIndexed(const Mesh& from, const Mesh& to, std::vector<float>& best,
                                  bool portable)
{
    best.assign(from.vertices.size(), kFarDistance);
    if (to.faces.size() <= std::size_t(kLanes)) {
        exhaustive(from, to, best);
        return;
    }
    const SearchIndex index = buildSearchIndex(to);
    if (index.zeroNormalFace) {
        // Every finite query is at distance 0 from that face's "plane".
        std::fill(best.begin(), best.end(), 0.0f);
        return;
    }
    const SearchKernels* avx2 = portable ? nullptr : avx2SearchKernels();
    const SearchKernels& kernels = avx2 ? *avx2 : portableSearchKernels();
    const std::vector<std::uint32_t> order = mortonOrder(from.vertices);
    const std::ptrdiff_t packets = std::ptrdiff_t((order.size() + kMaxPacket - 1) / kMaxPacket);

#pragma omp parallel
    {
        std::vector<StackEntry> stack;
        stack.reserve(256);
        SearchPacket packet;
#pragma omp for schedule(dynamic, 8)
        for (std::ptrdiff_t k = 0; k < packets; ++k) {
            std::size_t first = std::size_t(k) * kMaxPacket;
            packet.count = int(std::min<std::size_t>(kMaxPacket, order.size() - first));
            for (int q = 0; q < packet.count; ++q) {
                const Vector3& v = from.vertices[order[first + std::size_t(q)]];
                packet.x[q] = v.x, packet.y[q] = v.y, packet.z[q] = v.z;
            }
            kernels.searchPacket(index, to, packet, stack);
            for (int q = 0; q < packet.count; ++q)
                best[order[first + std::size_t(q)]] = packet.best[q];
        }
    }
}

void nearestPlaneDistances(const Mesh& from, const Mesh& to, std::vector<float>& best)
{
    SearchMode mode = searchMode();
    if (mode == SearchMode::exhaustive || to.faces.size() < kMinIndexedFaces ||
        from.vertices.size() < kMinIndexedQueries || !searchIndexApplies(from, to)) {
        nearestPlaneDistancesExhaustive(from, to, best);
        return;
    }
    nearestPlaneDistancesIndexed(from, to, best, mode == SearchMode::portable);
}

#include "query/morton.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "query/radix_sort.h"

namespace {

// The low 21 bits of x, spread to every third bit.
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

// The order of n points, point(i) giving the i-th: bounds, codes and the
// order written on every thread for a large n.
template <class PointAt>
std::vector<std::uint32_t> orderOf(std::size_t n, PointAt point)
{
    const std::ptrdiff_t count = std::ptrdiff_t(n);
    const bool parallel = n >= 65536;
    float lx = HUGE_VALF, ly = HUGE_VALF, lz = HUGE_VALF;
    float hx = -HUGE_VALF, hy = -HUGE_VALF, hz = -HUGE_VALF;
    // min and max are exact, so the bounds do not depend on how the points
    // are shared out.
#pragma omp parallel for schedule(static) if (parallel) reduction(min : lx, ly, lz) \
    reduction(max : hx, hy, hz)
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const Vector3 v = point(std::size_t(i));
        lx = std::min(lx, v.x), hx = std::max(hx, v.x);
        ly = std::min(ly, v.y), hy = std::max(hy, v.y);
        lz = std::min(lz, v.z), hz = std::max(hz, v.z);
    }
    const float lo[3] = {lx, ly, lz}, hi[3] = {hx, hy, hz};
    KeyedIndices keyed(n);
    double scale[3];
    for (int i = 0; i < 3; ++i) {
        double extent = double(hi[i]) - lo[i];
        scale[i] = extent > 0.0 ? double(0x1fffff) / extent : 0.0;
    }
#pragma omp parallel for schedule(static) if (parallel)
    for (std::ptrdiff_t i = 0; i < count; ++i) {
        const Vector3 v = point(std::size_t(i));
        auto cell = [&](float x, int a) { return std::uint64_t((double(x) - lo[a]) * scale[a]); };
        std::uint64_t code =
            spreadBits(cell(v.x, 0)) | spreadBits(cell(v.y, 1)) << 1 | spreadBits(cell(v.z, 2)) << 2;
        keyed[std::size_t(i)] = {code, std::uint32_t(i)};
    }
    sortByKey(keyed);
    std::vector<std::uint32_t> order(n);
#pragma omp parallel for schedule(static) if (parallel)
    for (std::ptrdiff_t i = 0; i < count; ++i)
        order[std::size_t(i)] = keyed[std::size_t(i)].second;
    return order;
}

} // namespace

std::vector<std::uint32_t> mortonOrder(PointSpan points)
{
    return orderOf(points.size(), [&](std::size_t i) { return points[i]; });
}

std::vector<std::uint32_t> faceMortonOrder(const Mesh& mesh)
{
    FillLaterVector<Vector3> centroids(mesh.faceCount());
    const std::ptrdiff_t faces = std::ptrdiff_t(mesh.faceCount());
#pragma omp parallel for schedule(static) if (faces >= kParallelMeshPass)
    for (std::ptrdiff_t f = 0; f < faces; ++f) {
        const Face& face = mesh.faces[std::size_t(f)];
        const Vector3 &p = mesh.corner(face, 0), &q = mesh.corner(face, 1), &r = mesh.corner(face, 2);
        // In double, which cannot overflow; the mean of floats is a float.
        centroids[std::size_t(f)] = {float((double(p.x) + q.x + r.x) / 3),
                                     float((double(p.y) + q.y + r.y) / 3),
                                     float((double(p.z) + q.z + r.z) / 3)};
    }
    return orderOf(centroids.size(), [&](std::size_t f) { return centroids[f]; });
}

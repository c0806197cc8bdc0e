// The query order: Morton codes sorted with index order kept among equal
// codes, checked against an order computed another way (cells compared by
// the axis whose coordinates differ in the highest bit, no interleaving), on
// points that give many equal codes and codes that differ only in their
// lowest or in their highest bits, and enough of them for the parallel
// passes, at 1 and 2 threads; and the faces' order, that of their centroids.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include <omp.h>

#include "geometry/box.h"
#include "query/morton.h"

namespace {

// Whether the highest set bit of x is below that of y.
bool lowerTopBit(std::uint32_t x, std::uint32_t y) { return x < y && x < (x ^ y); }

// Whether the Morton code of cell a is below that of cell b: z is the most
// significant axis within each bit position, then y, then x.
bool mortonLess(const std::uint32_t a[3], const std::uint32_t b[3])
{
    int axis = 0;
    std::uint32_t highest = a[0] ^ b[0];
    for (int i = 1; i < 3; ++i)
        if (!lowerTopBit(a[i] ^ b[i], highest))
            axis = i, highest = a[i] ^ b[i];
    return a[axis] < b[axis];
}

// The order by the definition: cells compared without interleaving.
std::vector<std::uint32_t> referenceOrder(const std::vector<Vector3>& points)
{
    float lo[3], hi[3];
    pointBounds(points, lo, hi);
    std::vector<std::array<std::uint32_t, 3>> cells(points.size());
    for (std::size_t k = 0; k < points.size(); ++k) {
        const float v[3] = {points[k].x, points[k].y, points[k].z};
        for (int i = 0; i < 3; ++i)
            cells[k][std::size_t(i)] = std::uint32_t((double(v[i]) - lo[i]) *
                                                     (double(0x1fffff) / (double(hi[i]) - lo[i])));
    }
    std::vector<std::uint32_t> expected(points.size());
    std::iota(expected.begin(), expected.end(), 0u);
    std::stable_sort(expected.begin(), expected.end(), [&](std::uint32_t a, std::uint32_t b) {
        return mortonLess(cells[a].data(), cells[b].data());
    });
    return expected;
}

template <class F>
void atOneAndTwoThreads(F check)
{
    const int saved = omp_get_max_threads();
    for (int threads : {1, 2}) {
        omp_set_num_threads(threads);
        check(threads);
    }
    omp_set_num_threads(saved);
}

TEST(MortonOrder, SortsByCodeKeepingIndexOrderAmongEqualCodes)
{
    std::mt19937 rng(11);
    std::vector<Vector3> points;
    std::uniform_int_distribution<int> grid(0, 5);
    std::uniform_real_distribution<float> wide(-1e3f, 1e3f), narrow(0.0f, 1e-3f);
    for (int k = 0; k < 24000; ++k)
        points.push_back({float(grid(rng)), float(grid(rng)), float(grid(rng))});  // equal codes
    for (int k = 0; k < 24000; ++k)
        points.push_back({wide(rng), wide(rng), wide(rng)});
    for (int k = 0; k < 24000; ++k)
        points.push_back({1.0f + narrow(rng), 2.0f + narrow(rng), 3.0f + narrow(rng)});
    std::shuffle(points.begin(), points.end(), rng);
    const std::vector<std::uint32_t> expected = referenceOrder(points);
    atOneAndTwoThreads([&](int threads) { EXPECT_EQ(mortonOrder(points), expected) << threads; });
    const std::vector<Vector3> few(points.begin(), points.begin() + 3000);
    EXPECT_EQ(mortonOrder(few), referenceOrder(few));
}

// Each face's centroid: the mean of its corners in double, rounded to float.
TEST(MortonOrder, FacesInTheOrderOfTheirCentroids)
{
    std::mt19937 rng(12);
    std::uniform_real_distribution<float> coordinate(-50.0f, 50.0f);
    Mesh mesh;
    for (int k = 0; k < 40000; ++k)
        mesh.vertices.push_back({coordinate(rng), coordinate(rng), 0.001f * coordinate(rng)});
    std::uniform_int_distribution<std::uint32_t> vertex(0, 39999);
    for (int f = 0; f < 70000; ++f)
        mesh.faces.push_back(Face{{vertex(rng), vertex(rng), vertex(rng)}, {}});
    std::vector<Vector3> centroids;
    for (const Face& face : mesh.faces) {
        const Vector3 &p = mesh.corner(face, 0), &q = mesh.corner(face, 1), &r = mesh.corner(face, 2);
        centroids.push_back({float((double(p.x) + q.x + r.x) / 3), float((double(p.y) + q.y + r.y) / 3),
                             float((double(p.z) + q.z + r.z) / 3)});
    }
    const std::vector<std::uint32_t> expected = referenceOrder(centroids);
    atOneAndTwoThreads([&](int threads) { EXPECT_EQ(faceMortonOrder(mesh), expected) << threads; });
}

} // namespace

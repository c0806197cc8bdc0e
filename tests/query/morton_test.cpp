// The query order: Morton codes sorted with index order kept among equal
// codes, checked against an order computed another way (cells compared by
// the axis whose coordinates differ in the highest bit, no interleaving), on
// points that give many equal codes and codes that differ only in their
// lowest or in their highest bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

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

TEST(MortonOrder, SortsByCodeKeepingIndexOrderAmongEqualCodes)
{
    std::mt19937 rng(11);
    std::vector<Vector3> points;
    std::uniform_int_distribution<int> grid(0, 5);
    std::uniform_real_distribution<float> wide(-1e3f, 1e3f), narrow(0.0f, 1e-3f);
    for (int k = 0; k < 6000; ++k)
        points.push_back({float(grid(rng)), float(grid(rng)), float(grid(rng))});  // equal codes
    for (int k = 0; k < 6000; ++k)
        points.push_back({wide(rng), wide(rng), wide(rng)});
    for (int k = 0; k < 6000; ++k)
        points.push_back({1.0f + narrow(rng), 2.0f + narrow(rng), 3.0f + narrow(rng)});
    std::shuffle(points.begin(), points.end(), rng);

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
    EXPECT_EQ(mortonOrder(points), expected);
}

} // namespace

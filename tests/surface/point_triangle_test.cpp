// pointTriangleDistanceSquared against an independent computation in quad
// precision (__float128; the float corners and double queries are exact in
// it, and 113 bits leave 60 after the cancellations of a sliver one float ulp
// wide): the orthogonal projection onto the plane when its barycentric
// coordinates, solved by Cramer's rule, are all non-negative, else the least
// of the three clamped segment distances.
//
// Two sides are checked. The lower one is the bound the index relies on
// (kernels.h, analysis 1), proven for every branch:
//     sqrt(D) >= (1 - 5 ud) dist - 9 ud diam(T).
// The upper one is measured: on every family below
//     sqrt(D) - dist <= 8 ud (dist + diam(T)) / sin(the largest angle),
// a few ulps, except on a cap, whose largest angle is near 180 degrees and
// whose plane is then uncertain.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "surface/point_triangle.h"
#include "surface/triangle_cases.h"

namespace {
using namespace triangle_cases;

class PointTriangleFamily : public ::testing::TestWithParam<Family> {};

TEST_P(PointTriangleFamily, WithinItsBoundsOfTheQuadReference)
{
    std::mt19937 rng(42);
    const std::vector<Sample> samples = GetParam().make(rng);
    const long double ud = 0x1p-53L;
    std::size_t below = 0, above = 0;
    std::string first;
    for (const Sample& s : samples) {
        const double d = pointTriangleDistanceSquared(s.p, s.a, s.b, s.c);
        ASSERT_TRUE(d >= 0 && std::isfinite(d)) << d;
        const Reference ref = reference(s.p, s.a, s.b, s.c);
        const long double dist = ref.distance, diam = diameter(s.a, s.b, s.c);
        const long double root = std::sqrt((long double)d);
        // The one-sided bound of analysis 1, with the reference's own error.
        const bool low = root < (1 - 5 * ud) * dist - 9 * ud * diam - 0x1p-535L - 0x1p-58L * dist;
        const bool high = root - dist > 8 * ud * (dist + diam) / std::min(ref.sinLargest, 1.0L);
        if ((low || high) && below + above == 0) {
            std::ostringstream out;
            out.precision(17);
            out << "p (" << s.p.x << ", " << s.p.y << ", " << s.p.z << ") a (" << s.a.x << ", "
                << s.a.y << ", " << s.a.z << ") b (" << s.b.x << ", " << s.b.y << ", " << s.b.z
                << ") c (" << s.c.x << ", " << s.c.y << ", " << s.c.z << "): sqrt " << double(root)
                << ", reference " << double(dist);
            first = out.str();
        }
        below += low, above += high;
    }
    EXPECT_EQ(below, 0u) << "under the proven bound: " << first;
    EXPECT_EQ(above, 0u) << "over the measured bound: " << first;
}

INSTANTIATE_TEST_SUITE_P(Families, PointTriangleFamily, ::testing::ValuesIn(families()),
                         [](const auto& p) { return p.param.name; });

// Exact values where the routine's arithmetic is exact: a corner is at 0, and
// a query straight above a corner or beyond it along an axis-aligned edge.
TEST(PointTriangle, ExactAtCornersAndAlongAxes)
{
    const Vector3 a{0, 0, 0}, b{4, 0, 0}, c{0, 2, 0};
    for (const Vector3& v : {a, b, c})
        EXPECT_EQ(pointTriangleDistanceSquared(toPoint3d(v), a, b, c), 0.0);
    EXPECT_EQ(pointTriangleDistanceSquared({0, 0, 3}, a, b, c), 9.0);
    EXPECT_EQ(pointTriangleDistanceSquared({-2, 0, 0}, a, b, c), 4.0);
    EXPECT_EQ(pointTriangleDistanceSquared({6, 0, 0}, a, b, c), 4.0);
    EXPECT_EQ(pointTriangleDistanceSquared({2, -1, 0}, a, b, c), 1.0);  // beside edge ab
    EXPECT_EQ(pointTriangleDistanceSquared({1, 0.5, 0}, a, b, c), 0.0); // inside, in the plane
    // A triangle that is one point, and one that is a segment.
    EXPECT_EQ(pointTriangleDistanceSquared({3, 4, 0}, a, a, a), 25.0);
    EXPECT_EQ(pointTriangleDistanceSquared({2, 3, 0}, a, b, b), 9.0);
}

// Finite corners and queries of any magnitude never give NaN or a negative
// value, even where the Voronoi tests cannot decide.
TEST(PointTriangle, NeverNaNForFiniteInput)
{
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> exponent(-149, 127), sign(0, 1);
    std::uniform_real_distribution<float> mantissa(1, 2);
    auto any = [&] {
        float m = std::ldexp(mantissa(rng), exponent(rng));
        return std::isfinite(m) ? (sign(rng) ? m : -m) : 0.0f;
    };
    for (int i = 0; i < 200000; ++i) {
        const Vector3 a{any(), any(), any()}, b{any(), any(), any()};
        const Vector3 c = i % 4 == 0 ? a : Vector3{any(), any(), any()};
        const Point3d p{any(), any(), any()};
        const double d = pointTriangleDistanceSquared(p, a, b, c);
        ASSERT_TRUE(d >= 0 && std::isfinite(d)) << i << ": " << d;
    }
}

// A sliver whose third corner is one float ulp off the line of the other
// two, and a query 1.5e-9 from its edge bc: Ericson's weights come out of
// products that cancel to below their rounding error, keep their signs and
// place the measured point 3.5e-3 from the query. The thin-triangle branch
// must bring it back to the edge.
TEST(PointTriangle, SliverStaysNearItsEdges)
{
    const Point3d p{-0.21705530962265504, 0.69686442283361405, 0.52603237205807962};
    const Vector3 a{0.54463672637939453f, 0.6627429723739624f, 0.040326952934265137f};
    const Vector3 b{-0.38444554805755615f, 0.70436298847198486f, 0.63277149200439453f};
    const Vector3 c{0.080095589160919189f, 0.68355298042297363f, 0.33654925227165222f};
    const double edge = pointTriangleDistanceSquared(p, b, c, b);
    EXPECT_LE(pointTriangleDistanceSquared(p, a, b, c), edge * (1 + 0x1p-40));
}

} // namespace

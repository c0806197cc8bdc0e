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

namespace {

using Q = __float128;

struct Q3 {
    Q x, y, z;
};
Q3 sub(const Q3& a, const Q3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Q dot(const Q3& a, const Q3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Q3 toQ(const Vector3& v) { return {v.x, v.y, v.z}; }
Q3 toQ(const Point3d& p) { return {p.x, p.y, p.z}; }

Q segment(const Q3& p, const Q3& a, const Q3& b)
{
    const Q3 e = sub(b, a), ap = sub(p, a);
    const Q ee = dot(e, e);
    Q t = ee > 0 ? dot(ap, e) / ee : 0;
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    const Q3 r{ap.x - t * e.x, ap.y - t * e.y, ap.z - t * e.z};
    return dot(r, r);
}

struct Reference {
    long double distance;  // exact to about 2^-60 relative
    long double sinLargest;  // sin of the largest angle (0 without area)
};

Reference reference(const Point3d& q, const Vector3& fa, const Vector3& fb, const Vector3& fc)
{
    const Q3 p = toQ(q), a = toQ(fa), b = toQ(fb), c = toQ(fc);
    const Q3 ab = sub(b, a), ac = sub(c, a), ap = sub(p, a);
    const Q g11 = dot(ab, ab), g12 = dot(ab, ac), g22 = dot(ac, ac);
    const Q det = g11 * g22 - g12 * g12;
    Q d2 = -1;
    if (det > 0) {
        const Q r1 = dot(ab, ap), r2 = dot(ac, ap);
        const Q v = (r1 * g22 - r2 * g12) / det, w = (r2 * g11 - r1 * g12) / det;
        if (v >= 0 && w >= 0 && v + w <= 1) {
            const Q3 r{ap.x - v * ab.x - w * ac.x, ap.y - v * ab.y - w * ac.y,
                       ap.z - v * ab.z - w * ac.z};
            d2 = dot(r, r);
        }
    }
    if (d2 < 0) {
        d2 = segment(p, a, b);
        for (Q s : {segment(p, b, c), segment(p, c, a)})
            d2 = s < d2 ? s : d2;
    }
    // det = (2 area)^2; over the two shortest edges' squared lengths it is
    // sin^2 of the largest angle.
    const Q3 bc = sub(c, b);
    Q g[3] = {g11, g22, dot(bc, bc)};
    std::sort(g, g + 3, [](Q x, Q y) { return x < y; });
    const long double sinLargest = det > 0 ? std::sqrt((long double)(det / (g[0] * g[1]))) : 0;
    return {std::sqrt((long double)d2), sinLargest};
}

long double diameter(const Vector3& a, const Vector3& b, const Vector3& c)
{
    auto length2 = [](const Vector3& x, const Vector3& y) {
        const Q3 d = sub(toQ(x), toQ(y));
        return (long double)dot(d, d);
    };
    return std::sqrt(std::max({length2(a, b), length2(b, c), length2(c, a)}));
}

struct Sample {
    Point3d p;
    Vector3 a, b, c;
};

struct Family {
    std::string name;
    std::function<std::vector<Sample>(std::mt19937&)> make;
};

void PrintTo(const Family& f, std::ostream* os) { *os << f.name; }

float uniform(std::mt19937& rng, float lo, float hi)
{
    return std::uniform_real_distribution<float>(lo, hi)(rng);
}

Vector3 randomVector(std::mt19937& rng, float centre, float size)
{
    return {centre + uniform(rng, -size, size), centre + uniform(rng, -size, size),
            centre + uniform(rng, -size, size)};
}

// Queries near a triangle: in its plane and off it, inside it, near its
// edges and corners, at distances from 1e-9 to 1e3 of its size.
std::vector<Sample> around(std::mt19937& rng, const Vector3& a, const Vector3& b, const Vector3& c,
                           int count)
{
    std::vector<Sample> out;
    std::uniform_real_distribution<double> unit(-0.5, 1.5), expo(-9, 3);
    const double size = double(diameter(a, b, c)) + 1e-300;
    for (int i = 0; i < count; ++i) {
        const double u = unit(rng), v = unit(rng), reach = size * std::pow(10.0, expo(rng));
        const double off[3] = {reach * (unit(rng) - 0.5), reach * (unit(rng) - 0.5),
                               reach * (unit(rng) - 0.5)};
        Point3d p{a.x + u * (double(b.x) - a.x) + v * (double(c.x) - a.x),
                  a.y + u * (double(b.y) - a.y) + v * (double(c.y) - a.y),
                  a.z + u * (double(b.z) - a.z) + v * (double(c.z) - a.z)};
        if (i % 3)
            p = {p.x + off[0], p.y + off[1], p.z + off[2]};
        out.push_back({p, a, b, c});
    }
    return out;
}

std::vector<Sample> randomTriangles(std::mt19937& rng, float centre, float size, int triangles)
{
    std::vector<Sample> out;
    for (int t = 0; t < triangles; ++t) {
        const Vector3 a = randomVector(rng, centre, size), b = randomVector(rng, centre, size),
                      c = randomVector(rng, centre, size);
        for (const Sample& s : around(rng, a, b, c, 40))
            out.push_back(s);
    }
    return out;
}

std::vector<Family> families()
{
    return {
        {"unitScale", [](std::mt19937& rng) { return randomTriangles(rng, 0, 1, 300); }},
        {"huge", [](std::mt19937& rng) { return randomTriangles(rng, 0, 1e30f, 200); }},
        {"tiny", [](std::mt19937& rng) { return randomTriangles(rng, 0, 1e-30f, 200); }},
        {"subnormal", [](std::mt19937& rng) { return randomTriangles(rng, 0, 1e-41f, 200); }},
        {"smallFarFromOrigin",
         [](std::mt19937& rng) { return randomTriangles(rng, 1e4f, 1e-2f, 200); }},
        {"nearFloatMax",
         [](std::mt19937& rng) { return randomTriangles(rng, 0, 1.5e38f, 100); }},
        {"degenerate",
         [](std::mt19937& rng) {
             // Repeated corners, three equal corners, collinear corners, and
             // slivers whose third corner is off the line by a few ulps.
             std::vector<Sample> out;
             for (int t = 0; t < 300; ++t) {
                 const Vector3 a = randomVector(rng, 0, 1), b = randomVector(rng, 0, 1);
                 Vector3 c;
                 switch (t % 5) {
                 case 0: c = a; break;
                 case 1: c = b; break;
                 case 2: c = {a.x + 2 * (b.x - a.x), a.y + 2 * (b.y - a.y), a.z + 2 * (b.z - a.z)}; break;
                 case 3: c = {0.5f * (a.x + b.x), 0.5f * (a.y + b.y), std::nextafter(0.5f * (a.z + b.z), 9.f)}; break;
                 default: c = {0.5f * (a.x + b.x) + 1e-7f, 0.5f * (a.y + b.y), 0.5f * (a.z + b.z)}; break;
                 }
                 const Vector3 first = t % 7 == 6 ? a : b;  // a = b = c now and then
                 for (const Sample& s : around(rng, a, t % 7 == 6 ? a : first, t % 7 == 6 ? a : c, 30))
                     out.push_back(s);
             }
             return out;
         }},
        {"needles",
         [](std::mt19937& rng) {
             // Long thin triangles in every corner order: the small angle at
             // the first, second or third corner.
             std::vector<Sample> out;
             for (int t = 0; t < 300; ++t) {
                 const Vector3 a = randomVector(rng, 0, 1), d = randomVector(rng, 0, 1);
                 const float width = std::pow(10.0f, -uniform(rng, 1, 7));
                 const Vector3 e = randomVector(rng, 0, 1);
                 const Vector3 b{a.x + d.x, a.y + d.y, a.z + d.z};
                 const Vector3 c{a.x + width * e.x, a.y + width * e.y, a.z + width * e.z};
                 const Vector3 corners[3][3] = {{a, b, c}, {b, c, a}, {c, a, b}};
                 const Vector3* k = corners[t % 3];
                 for (const Sample& s : around(rng, k[0], k[1], k[2], 30))
                     out.push_back(s);
             }
             return out;
         }},
        {"regionBoundaries",
         [](std::mt19937& rng) {
             // A right triangle on integer corners: queries exactly on the
             // planes that bound the Voronoi regions (x = 0, y = 0, x = 1,
             // y = 1, x - y = +-1, x + y = 1), on the edges and at the corners,
             // in its plane and above it.
             const Vector3 a{0, 0, 0}, b{1, 0, 0}, c{0, 1, 0};
             std::vector<Sample> out;
             std::uniform_real_distribution<double> t(-2, 2);
             const int k = 25;
             for (int i = 0; i <= 4 * k; ++i) {
                 const double s = double(i) / k - 1.5;
                 for (double h : {0.0, 1e-20, 0.5, -3.0}) {
                     const double r = t(rng);
                     for (Point3d p : {Point3d{0, s, h}, Point3d{s, 0, h}, Point3d{1, s, h},
                                       Point3d{s, 1, h}, Point3d{s, s - 1, h}, Point3d{s, 1 - s, h},
                                       Point3d{r, r + 1, h}, Point3d{0.5 * s, 0.5 * s, h}})
                         out.push_back({p, a, b, c});
                 }
             }
             for (const Vector3& v : {a, b, c})
                 out.push_back({toPoint3d(v), a, b, c});
             return out;
         }},
    };
}

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

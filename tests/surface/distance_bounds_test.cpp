// The enclosures of distance_bounds.h against the quad-precision distance, on
// every family of triangle cases (huge, tiny, subnormal, degenerate, region
// boundaries): each bound must hold on every case, and be tight where the
// geometry allows. Dropping any margin of distanceAbove, distanceBelow or
// barycentricPointError makes some case fail.
#include "surface/distance_bounds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "surface/triangle_cases.h"

namespace {
using namespace triangle_cases;

std::string describe(const Sample& s)
{
    std::ostringstream out;
    out.precision(17);
    out << "p (" << s.p.x << ", " << s.p.y << ", " << s.p.z << ") a (" << s.a.x << ", " << s.a.y
        << ", " << s.a.z << ") b (" << s.b.x << ", " << s.b.y << ", " << s.b.z << ") c (" << s.c.x
        << ", " << s.c.y << ", " << s.c.z << ")";
    return out.str();
}

class DistanceBoundsFamily : public ::testing::TestWithParam<Family> {};

// distanceAbove(sqrt(routine)) >= dist >= distanceBelow, with the
// reference's own error (2^-60 relative) given to the bound.
TEST_P(DistanceBoundsFamily, EncloseTheQuadReference)
{
    std::mt19937 rng(7);
    const std::vector<Sample> samples = GetParam().make(rng);
    std::size_t aboveFails = 0, belowFails = 0, loose = 0;
    std::string first;
    for (const Sample& s : samples) {
        const long double dist = reference(s.p, s.a, s.b, s.c).distance;
        const double largest = std::max({std::fabs(s.a.x), std::fabs(s.a.y), std::fabs(s.a.z),
                                         std::fabs(s.b.x), std::fabs(s.b.y), std::fabs(s.b.z),
                                         std::fabs(s.c.x), std::fabs(s.c.y), std::fabs(s.c.z)});
        const double routine = std::sqrt(pointTriangleDistanceSquared(s.p, s.a, s.b, s.c));
        const double above = distanceAbove(routine, triangleDiameterBound(largest));
        const double below = distanceBelow(s.p, s.a, s.b, s.c);
        const long double slack = dist * 0x1p-60L;
        const bool aboveFail = (long double)above < dist - slack;
        const bool belowFail = (long double)below > dist + slack;
        if ((aboveFail || belowFail) && first.empty())
            first = describe(s) + ": dist " + std::to_string(double(dist));
        aboveFails += aboveFail, belowFails += belowFail;
        // Tight away from slivers: the approximate closest point is off by
        // rounding of the coordinates' size, which tilts the bounding plane
        // by that over the distance.
        const long double diam = diameter(s.a, s.b, s.c);
        const long double size = std::max({(long double)largest, (long double)std::fabs(s.p.x),
                                           (long double)std::fabs(s.p.y),
                                           (long double)std::fabs(s.p.z)});
        loose += (long double)below < dist - 0x1p-40L * (size + diam) * (1 + diam / dist);
    }
    EXPECT_EQ(aboveFails, 0u) << "distanceAbove below the distance: " << first;
    EXPECT_EQ(belowFails, 0u) << "distanceBelow above the distance: " << first;
    // On slivers and needles the approximate closest point comes from
    // Ericson's weights, which thin triangles make inaccurate: still a sound
    // bound, not a tight one.
    if (GetParam().name != "degenerate" && GetParam().name != "needles") {
        EXPECT_EQ(loose, 0u) << "distanceBelow far from the distance";
    }
}

// rootBelowFromGap over each triangle's box stays below the routine's root
// and below what the routine's error bound allows at the box's real gap
// (long double): dropping its relative margin fails on the far queries,
// its diameter margin on the near ones. rootAbove stays above the root of
// the routine's value.
TEST_P(DistanceBoundsFamily, BoxGapRootStaysBelowTheRoutine)
{
    std::mt19937 rng(11);
    const long double ud = 0x1p-53L;
    std::size_t routineFails = 0, boundFails = 0, aboveFails = 0;
    std::string first;
    for (const Sample& s : GetParam().make(rng)) {
        double lo[3], hi[3];
        long double gap2 = 0;
        const double p[3] = {s.p.x, s.p.y, s.p.z};
        for (int i = 0; i < 3; ++i) {
            lo[i] = std::min({(&s.a.x)[i], (&s.b.x)[i], (&s.c.x)[i]});
            hi[i] = std::max({(&s.a.x)[i], (&s.b.x)[i], (&s.c.x)[i]});
            const long double gap = std::max({(long double)lo[i] - p[i],
                                              (long double)p[i] - hi[i], 0.0L});
            gap2 += gap * gap;
        }
        const double largest = std::max({std::fabs(s.a.x), std::fabs(s.a.y), std::fabs(s.a.z),
                                         std::fabs(s.b.x), std::fabs(s.b.y), std::fabs(s.b.z),
                                         std::fabs(s.c.x), std::fabs(s.c.y), std::fabs(s.c.z)});
        const double diameter = triangleDiameterBound(largest);
        const double below = rootBelowFromGap(boxGapSquared(s.p, lo, hi), diameter);
        const double routine = pointTriangleDistanceSquared(s.p, s.a, s.b, s.c);
        const long double allowed =
            (1 - 5 * ud) * std::sqrt(gap2) - 9 * ud * diameter - 0x1p-535L;
        const bool routineFail = below > std::sqrt((long double)routine);
        const bool boundFail = below > allowed;
        const bool aboveFail = (long double)rootAbove(routine) < std::sqrt((long double)routine);
        if ((routineFail || boundFail || aboveFail) && first.empty())
            first = describe(s);
        routineFails += routineFail, boundFails += boundFail, aboveFails += aboveFail;
    }
    EXPECT_EQ(routineFails, 0u) << "above the routine's root: " << first;
    EXPECT_EQ(boundFails, 0u) << "above the routine's error bound: " << first;
    EXPECT_EQ(aboveFails, 0u) << "rootAbove below the root: " << first;
}

INSTANTIATE_TEST_SUITE_P(Families, DistanceBoundsFamily, ::testing::ValuesIn(families()),
                         [](const auto& p) { return p.param.name; });

// Gaps whose squares underflow, beside a triangle at the origin (diameter
// bound 0): only the absolute margin of rootBelowFromGap keeps it below the
// routine's error bound there.
TEST(DistanceBounds, BoxGapRootCoversUnderflow)
{
    const Vector3 o{0, 0, 0};
    const double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    for (int e = 520; e <= 560; ++e) {
        const Point3d p{std::ldexp(1.0, -e), std::ldexp(1.0, -e - 1), 0};
        const long double gap = std::sqrt((long double)p.x * p.x + (long double)p.y * p.y);
        const double below = rootBelowFromGap(boxGapSquared(p, lo, hi), 0.0);
        EXPECT_LE(below, (1 - 5 * 0x1p-53L) * gap - 0x1p-535L) << e;
        EXPECT_LE(below, std::sqrt(pointTriangleDistanceSquared(p, o, o, o))) << e;
    }
}

// The computed point a + u (b - a) + v (c - a) at dyadic (u, v) is within
// barycentricPointError of the real one, at every scale.
TEST(DistanceBounds, BarycentricPointsStayWithinTheirErrorBound)
{
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> numerator(0, 1 << 20);
    for (float size : {1.0f, 1e30f, 1e-30f, 3e4f}) {
        std::size_t fails = 0;
        double worst = 0;
        for (int t = 0; t < 20000; ++t) {
            const float centre = t % 2 ? size * 7.0f : 0.0f;
            const Vector3 a = randomVector(rng, centre, size), b = randomVector(rng, centre, size),
                          c = randomVector(rng, centre, size);
            double u = std::ldexp(double(numerator(rng)), -20);
            double v = std::ldexp(double(numerator(rng)), -20);
            if (u + v > 1.0)
                u = 1.0 - u, v = 1.0 - v;  // reflected: still dyadic, now u + v <= 1
            const Point3d p = barycentricPoint(a, b, c, u, v);
            const Q3 qa = toQ(a), qb = toQ(b), qc = toQ(c);
            const Q3 exact{qa.x + Q(u) * (qb.x - qa.x) + Q(v) * (qc.x - qa.x),
                           qa.y + Q(u) * (qb.y - qa.y) + Q(v) * (qc.y - qa.y),
                           qa.z + Q(u) * (qb.z - qa.z) + Q(v) * (qc.z - qa.z)};
            const Q3 error = sub(toQ(p), exact);
            const double largest =
                std::max({std::fabs(a.x), std::fabs(a.y), std::fabs(a.z), std::fabs(b.x),
                          std::fabs(b.y), std::fabs(b.z), std::fabs(c.x), std::fabs(c.y),
                          std::fabs(c.z)});
            const long double e = std::sqrt((long double)dot(error, error));
            worst = std::max(worst, double(e / largest));
            // Half the bound: the analysis gives 15.8 ud, the bound is 32 ud.
            fails += e > 0.5L * (long double)barycentricPointError(largest);
        }
        EXPECT_EQ(fails, 0u) << "size " << size << ", worst error / largest " << worst;
    }
}

// Rounding that cannot go the wrong way, at the values where it rounds.
TEST(DistanceBounds, DirectedSumsAndDifferences)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int i = 0; i < 100000; ++i) {
        const double x = unit(rng), y = unit(rng) * 1e-3;
        ASSERT_GE((long double)addUp(x, y), (long double)x + y);
        ASSERT_LE((long double)subtractDown(x, y), std::max(0.0L, (long double)x - y));
    }
    EXPECT_EQ(subtractDown(1.0, 2.0), 0.0);
}

// The length and box bounds above the real values (long double), at random
// points and boxes whose roots and sums round either way. The routine's
// distance is taken 4 ud below the real one, as its error bound allows, and
// the diameter term is kept tiny; the box bound must also stay above the
// real sum of its two parts' bounds.
TEST(DistanceBounds, LengthAndBoxBoundsStayAboveTheRealValues)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> coordinate(-100.0f, 100.0f);
    auto realLength = [](const Point3d& x, const long double q[3]) {
        const long double dx = x.x - q[0], dy = x.y - q[1], dz = x.z - q[2];
        return std::sqrt(dx * dx + dy * dy + dz * dz);
    };
    for (int i = 0; i < 100000; ++i) {
        const Point3d x{coordinate(rng), coordinate(rng), coordinate(rng)};
        const Point3d y{coordinate(rng), coordinate(rng), coordinate(rng)};
        const long double yq[3] = {y.x, y.y, y.z};
        ASSERT_GE((long double)lengthAbove(x, y), realLength(x, yq));

        float lo[3], hi[3];
        for (int k = 0; k < 3; ++k) {
            const float a = coordinate(rng), b = coordinate(rng);
            lo[k] = std::min(a, b), hi[k] = std::max(a, b);
        }
        // Distances large beside the boxes, so that the sum's own rounding
        // is not hidden in the length's margin.
        const long double real = 100.0L * std::fabs((long double)coordinate(rng));
        const double d = double(real * (1.0L - 0x1p-51L));
        long double farthest = 0;
        for (int corner = 0; corner < 8; ++corner) {
            const long double q[3] = {corner & 1 ? hi[0] : lo[0], corner & 2 ? hi[1] : lo[1],
                                      corner & 4 ? hi[2] : lo[2]};
            farthest = std::max(farthest, realLength(x, q));
        }
        const long double bound = boxDistanceAbove(d, 1e-30, x, lo, hi);
        ASSERT_GE(bound, real + farthest) << i;
        ASSERT_GE(bound, (long double)distanceAbove(d, 1e-30) + farthest) << i;
    }
}

// The gap bound of two segments against their real distance (quad precision),
// on skew segments whose closest points lie inside both, far from the origin
// beside their length, and with a gap of about one float step: there the
// computed points' rounding is most of the gap, and without its margin the
// bound falls below the distance. Also degenerate segments (points) and
// crossing ones.
TEST(DistanceBounds, SegmentGapStaysAboveTheRealDistance)
{
    std::mt19937 rng(9);
    auto realGap = [](const Vector3& a, const Vector3& b, const Vector3& c, const Vector3& d,
                      Q& gap) {
        // Lines through the segments; the gap is theirs when the closest
        // parameters fall inside both segments.
        const Q3 e1 = sub(toQ(b), toQ(a)), e2 = sub(toQ(d), toQ(c)), r = sub(toQ(a), toQ(c));
        const Q l1 = dot(e1, e1), l2 = dot(e2, e2), h = dot(e1, e2);
        const Q g = dot(e1, r), f = dot(e2, r), det = l1 * l2 - h * h;
        if (!(det > 0))
            return false;
        const Q s = (h * f - g * l2) / det, t = (l1 * f - h * g) / det;
        if (!(s > 0 && s < 1 && t > 0 && t < 1))
            return false;
        const Q3 n{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z,
                   e1.x * e2.y - e1.y * e2.x};
        const Q across = dot(r, n);
        gap = across * across / dot(n, n);
        return true;
    };
    for (float size : {1.0f, 1e30f, 1e-30f, 3e4f}) {
        std::size_t checked = 0, fails = 0;
        for (int t = 0; t < 20000; ++t) {
            const float centre = size * 7.0f;
            const Vector3 a = randomVector(rng, centre, size), b = randomVector(rng, centre, size);
            // c and d on either side of the middle of ab, one float step or
            // so off the line.
            const Vector3 m{0.5f * a.x + 0.5f * b.x, 0.5f * a.y + 0.5f * b.y,
                            0.5f * a.z + 0.5f * b.z};
            const Vector3 w = randomVector(rng, 0.0f, size), off = randomVector(rng, 0.0f, size * 1e-6f);
            const Vector3 c{m.x + w.x + off.x, m.y + w.y + off.y, m.z + w.z + off.z};
            const Vector3 d{m.x - w.x + off.x, m.y - w.y + off.y, m.z - w.z + off.z};
            Q gap2;
            if (!realGap(a, b, c, d, gap2))
                continue;
            ++checked;
            const Q bound = segmentGapAbove(a, b, c, d);
            fails += bound < 0 || bound * bound < gap2;
        }
        EXPECT_GT(checked, 10000u) << "size " << size;
        EXPECT_EQ(fails, 0u) << "size " << size;
    }
    // A segment that is a point, and two segments that cross.
    const Vector3 o{1, 1, 1}, x{3, 1, 1}, y{2, 0, 1}, z{2, 2, 1};
    EXPECT_GE((long double)segmentGapAbove(o, o, y, z), 1.0L);
    EXPECT_LT(segmentGapAbove(o, o, y, z), 1.0 + 1e-12);
    EXPECT_LT(segmentGapAbove(o, x, y, z), 1e-12);
    EXPECT_GE(segmentGapAbove(o, x, y, z), 0.0);
}

} // namespace

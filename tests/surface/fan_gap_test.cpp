// The hull margin of a star: its two rounding-sensitive steps against exact
// quad-precision values (each fails with its margin removed), the stars it
// must bound (flat and convex, on a tilted plane; a tent, whose margin
// must cover the gap under its apex) and those it must refuse (a reflex
// ring, a fan that winds twice, an open or inconsistently oriented one).
#include "surface/fan_gap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "surface/triangle_cases.h"
#include "helpers.h"

namespace {

using triangle_cases::Q;

Face face(std::uint32_t a, std::uint32_t b, std::uint32_t c) { return {{a, b, c}, {0, 0, 0}}; }

Q coordinateOf(const Vector3& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }

// Nearly collinear triples with one point small and two large, so that the
// differences and products round: a sign beyond the margin is the real one.
TEST(FanGap, TurnSignsAreNeverWrong)
{
    std::mt19937 rng(23);
    std::uniform_real_distribution<float> small(-1e-3f, 1e-3f), large(-1e4f, 1e4f);
    std::uniform_real_distribution<double> along(0.1, 0.9);
    std::uniform_int_distribution<int> nudge(-3, 3);
    std::size_t wrong = 0, decided = 0;
    for (int t = 0; t < 100000; ++t) {
        const Vector3 p{small(rng), small(rng), 0}, q{large(rng), large(rng), 0};
        const double s = along(rng);
        Vector3 r{float(p.x + s * (double(q.x) - p.x)), float(p.y + s * (double(q.y) - p.y)), 0};
        for (int k = nudge(rng); k != 0; k += k > 0 ? -1 : 1)
            r.x = std::nextafter(r.x, k > 0 ? HUGE_VALF : -HUGE_VALF);
        const Q det = (Q(q.x) - p.x) * (Q(r.y) - p.y) - (Q(q.y) - p.y) * (Q(r.x) - p.x);
        const int real = det > 0 ? 1 : det < 0 ? -1 : 0;
        const int sign = turnSign(p, q, r, 0, 1);
        decided += sign != 0;
        wrong += sign != 0 && sign != real;
    }
    // Exactly collinear on y = 3x (21-bit mantissas, so 3x is a float too),
    // one point tiny and two large: the differences themselves round, and
    // differently in the two products, so only the margin keeps the sign
    // from being claimed.
    std::uniform_int_distribution<int> mantissa(1 << 20, (1 << 21) - 1);
    for (int t = 0; t < 20000; ++t) {
        const float a = std::ldexp(float(mantissa(rng)), -60) * (t % 2 ? 1.0f : -1.0f);
        const float b = std::ldexp(float(mantissa(rng)), -10), c = std::ldexp(float(mantissa(rng)), -9);
        const Vector3 p{a, 3 * a, 0}, q{b, 3 * b, 0}, r{c, 3 * c, 0};
        const Q det = (Q(q.x) - p.x) * (Q(r.y) - p.y) - (Q(q.y) - p.y) * (Q(r.x) - p.x);
        ASSERT_EQ(det, 0);
        wrong += turnSign(p, q, r, 0, 1) != 0;
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_GT(decided, 10000u);
    // Far from collinear, the sign is always decided; the plane is chosen
    // by the coordinates.
    EXPECT_EQ(turnSign({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0, 1), 1);
    EXPECT_EQ(turnSign({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 1, 0), -1);
    EXPECT_EQ(turnSign({0, 0, 0}, {0, 1, 0}, {0, 0, 1}, 1, 2), 1);
}

// The enclosure of a corner's deviation from a plane holds the exact value,
// for corners and slopes of mixed magnitudes.
TEST(FanGap, DeviationEnclosuresHoldTheRealValue)
{
    std::mt19937 rng(29);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_real_distribution<double> slope(-3.0, 3.0);
    std::size_t fails = 0;
    for (int t = 0; t < 100000; ++t) {
        const float scale = t % 3 == 0 ? 1e4f : t % 3 == 1 ? 1.0f : 1e-4f;
        const Vector3 v{unit(rng) * scale, unit(rng) * scale, unit(rng) * scale};
        const Vector3 x{v.x + unit(rng), v.y + unit(rng), v.z + unit(rng) * 1e-3f};
        const double g1 = slope(rng), g2 = slope(rng);
        const int axis = t % 3, one = (axis + 1) % 3, two = (axis + 2) % 3;
        double low, high;
        deviationEnclosure(x, v, g1, g2, axis, one, two, low, high);
        const Q real = (coordinateOf(x, axis) - coordinateOf(v, axis)) -
                       Q(g1) * (coordinateOf(x, one) - coordinateOf(v, one)) -
                       Q(g2) * (coordinateOf(x, two) - coordinateOf(v, two));
        fails += !(Q(low) <= real && real <= Q(high));
    }
    EXPECT_EQ(fails, 0u);
}

// A star of `ring` around `centre`: faces (centre, ring[i], ring[i + 1]).
Mesh star(const Vector3& centre, const std::vector<Vector3>& ring)
{
    Mesh mesh;
    mesh.vertices.push_back(centre);
    for (const Vector3& w : ring)
        mesh.vertices.push_back(w);
    const std::uint32_t n = std::uint32_t(ring.size());
    for (std::uint32_t i = 0; i < n; ++i)
        mesh.faces.push_back(face(0, 1 + i, 1 + (i + 1) % n));
    return mesh;
}

std::vector<Vector3> hexagon(float radius, float z = 0)
{
    std::vector<Vector3> ring;
    for (int i = 0; i < 6; ++i)
        ring.push_back({radius * float(std::cos(i * M_PI / 3)), radius * float(std::sin(i * M_PI / 3)), z});
    return ring;
}

double gapOf(const Mesh& mesh)
{
    const EdgeNeighbours neighbours(mesh);
    return fanGapAbove(mesh, neighbours, neighbours.positionOf(0));
}

TEST(FanGap, FlatConvexStarsAndTents)
{
    // Flat, on a tilted plane far from the origin: only the rounding of the
    // corners to floats lifts them off it.
    auto tilted = [](Vector3 p) {
        p.x += 1000, p.y -= 2000;
        p.z = 0.3f * p.x + 0.2f * p.y + 5.0f;
        return p;
    };
    std::vector<Vector3> ring = hexagon(1.0f);
    for (Vector3& w : ring)
        w = tilted(w);
    const double flat = gapOf(star(tilted({0.1f, -0.05f, 0}), ring));
    EXPECT_GE(flat, 0.0);
    EXPECT_LT(flat, 1e-3);

    // A tent: the point under the apex, in the hull, is h a / sqrt(h^2 +
    // a^2) from the faces, a the hexagon's apothem.
    const float h = 0.1f;
    const double a = std::sqrt(3.0) / 2, under = h * a / std::sqrt(h * h + a * a);
    const double tent = gapOf(star({0, 0, h}, hexagon(1.0f)));
    EXPECT_GE(tent, under);
    EXPECT_LT(tent, 2.0 * h);
    // Turned over, and around the other axes.
    EXPECT_GE(gapOf(star({0, 0, -h}, hexagon(1.0f))), under);
    std::vector<Vector3> upright = hexagon(1.0f);
    for (Vector3& w : upright)
        w = {w.z, w.x, w.y};
    EXPECT_GE(gapOf(star({h, 0, 0}, upright)), under);
}

TEST(FanGap, StarsItCannotBoundAreRefused)
{
    const Vector3 centre{0, 0, 0};
    // A reflex ring: one corner pulled in past the line of its neighbours.
    std::vector<Vector3> reflex = hexagon(1.0f);
    reflex[1] = {0.2f, 0.3f, 0};
    EXPECT_EQ(gapOf(star(centre, reflex)), HUGE_VAL);
    // Three corners in a line: the turn is none, not certainly convex.
    std::vector<Vector3> straight = {{1, -1, 0}, {1, 0, 0}, {1, 1, 0}, {-1, 1, 0}, {-1, -1, 0}};
    EXPECT_EQ(gapOf(star(centre, straight)), HUGE_VAL);
    // A pentagram: every face and every turn goes the same way, but the
    // fan winds twice and leaves the pentagon's corners uncovered.
    std::vector<Vector3> pentagram;
    for (int i = 0; i < 5; ++i)
        pentagram.push_back({float(std::cos(i * 4 * M_PI / 5)), float(std::sin(i * 4 * M_PI / 5)), 0});
    EXPECT_EQ(gapOf(star(centre, pentagram)), HUGE_VAL);
    // Open: the last face missing.
    Mesh open = star(centre, hexagon(1.0f));
    open.faces.pop_back();
    EXPECT_EQ(gapOf(open), HUGE_VAL);
    // One face turned the other way.
    Mesh flipped = star(centre, hexagon(1.0f));
    std::swap(flipped.faces[2].vertices[1], flipped.faces[2].vertices[2]);
    EXPECT_EQ(gapOf(flipped), HUGE_VAL);
    // A face with the point at two of its corners.
    Mesh repeated = star(centre, hexagon(1.0f));
    repeated.faces.push_back(face(0, 0, 1));
    EXPECT_EQ(gapOf(repeated), HUGE_VAL);
    // The same convex star, but written as a soup: still one star.
    const Mesh soup = test::soupOf(star(centre, hexagon(1.0f)));
    EXPECT_LT(gapOf(soup), 1e-12);
}

} // namespace

// The certified Hausdorff interval: cases with a known answer, a brute-force
// subdivision of random small meshes, the radius query it is built on, and
// the independence from the thread count.
#include "surface/hausdorff.h"

#include <gtest/gtest.h>

#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "surface/distance_bounds.h"
#include "surface/sampling.h"
#include "surface/surface_comparison.h"
#include "surface/surface_distance.h"
#include "surface/triangle_cases.h"
#include "helpers.h"

namespace {

using triangle_cases::reference;

Mesh withBox(Mesh mesh)
{
    mesh.bboxMin = mesh.bboxMax = mesh.vertices.at(0);
    for (const Vector3& v : mesh.vertices) {
        mesh.bboxMin = {std::min(mesh.bboxMin.x, v.x), std::min(mesh.bboxMin.y, v.y),
                        std::min(mesh.bboxMin.z, v.z)};
        mesh.bboxMax = {std::max(mesh.bboxMax.x, v.x), std::max(mesh.bboxMax.y, v.y),
                        std::max(mesh.bboxMax.z, v.z)};
    }
    return mesh;
}

Face face(std::uint32_t a, std::uint32_t b, std::uint32_t c) { return {{a, b, c}, {0, 0, 0}}; }

// The square [0, s]^2 at height z, split into n x n cells of two triangles.
Mesh grid(float z, int n = 1, float s = 1.0f)
{
    Mesh mesh;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i)
            mesh.vertices.push_back({s * float(i) / float(n), s * float(j) / float(n), z});
    auto at = [n](int i, int j) { return std::uint32_t(j * (n + 1) + i); };
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            mesh.faces.push_back(face(at(i, j), at(i + 1, j), at(i + 1, j + 1)));
            mesh.faces.push_back(face(at(i, j), at(i + 1, j + 1), at(i, j + 1)));
        }
    return withBox(mesh);
}

HausdorffInterval interval(const Mesh& a, const Mesh& b, double error)
{
    NearestSurfaceSearch toB(b);
    return certifiedHausdorff(a, toB, error);
}

// The roof over the unit square: a ridge at x = c, height H, inside the
// faces of the flat grid below it.
Mesh roofOver(float c, float H)
{
    Mesh roof;
    roof.vertices = {{0, 0, 0}, {c, 0, H}, {1, 0, 0}, {0, 1, 0}, {c, 1, H}, {1, 1, 0}};
    roof.faces = {face(0, 1, 4), face(0, 4, 3), face(1, 2, 5), face(1, 5, 4)};
    return withBox(roof);
}

// Two parallel squares: every point of either is exactly h from the other.
// Heights that are not powers of two make the routine's values round, up or
// down, so an upper bound without its margins falls below h on some of them.
TEST(Hausdorff, ParallelSquaresGiveTheirSeparation)
{
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> height(0.01f, 3.0f);
    for (int t = 0; t < 20; ++t) {
        const float h = t == 0 ? 0.5f : height(rng);
        const double error = 1e-6;
        const Mesh a = grid(0, 1 + t % 3), b = grid(h, 2);
        for (const HausdorffInterval& i : {interval(a, b, error), interval(b, a, error)}) {
            EXPECT_LE(i.lower, double(h)) << h;
            EXPECT_GE(i.upper, double(h)) << h;
            EXPECT_LE(i.upper - i.lower, error);
            EXPECT_TRUE(i.converged);
        }
    }
}

// A tilted triangle above a larger one, in random orientations: A's corners
// project inside B and lie on one side of its plane, so d(., B) is the
// distance to that plane, affine over A, and h(A, B) its largest value at a
// corner, computed here in long double from the float corners (far finer
// than the margins). The routine's values round either way here, unlike over
// the axis-aligned squares above, so an upper bound without its margins
// falls below h on some of them.
TEST(Hausdorff, TiltedTrianglesStayWithinTheirMargins)
{
    using Long3 = std::array<long double, 3>;
    auto cross = [](const Long3& p, const Long3& q) {
        return Long3{p[1] * q[2] - p[2] * q[1], p[2] * q[0] - p[0] * q[2], p[0] * q[1] - p[1] * q[0]};
    };
    auto dot = [](const Long3& p, const Long3& q) { return p[0] * q[0] + p[1] * q[1] + p[2] * q[2]; };
    auto unit = [&](const Long3& p) {
        const long double length = std::sqrt(dot(p, p));
        return Long3{p[0] / length, p[1] / length, p[2] / length};
    };
    auto wide = [](const Vector3& v) { return Long3{v.x, v.y, v.z}; };
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> any(-1.0, 1.0), height(0.5, 3.0);
    for (int t = 0; t < 60; ++t) {
        const Long3 n = unit({any(rng), any(rng), any(rng)});
        const Long3 e1 = unit(cross(n, {any(rng), any(rng), any(rng)}));
        const Long3 e2 = cross(n, e1);
        const Long3 centre{3 * any(rng), 3 * any(rng), 3 * any(rng)};
        auto at = [&](long double s, long double r, long double above) {
            return Vector3{float(centre[0] + s * e1[0] + r * e2[0] + above * n[0]),
                           float(centre[1] + s * e1[1] + r * e2[1] + above * n[1]),
                           float(centre[2] + s * e1[2] + r * e2[2] + above * n[2])};
        };
        Mesh a, b;
        b.vertices = {at(10, 0, 0), at(-5, 8.66L, 0), at(-5, -8.66L, 0)};
        for (int k = 0; k < 3; ++k)
            a.vertices.push_back(at(2 * any(rng), 2 * any(rng), height(rng)));
        a.faces = b.faces = {face(0, 1, 2)};
        a = withBox(a), b = withBox(b);

        const Long3 b0 = wide(b.vertices[0]);
        auto less = [&](const Vector3& v) {
            const Long3 p = wide(v);
            return Long3{p[0] - b0[0], p[1] - b0[1], p[2] - b0[2]};
        };
        const Long3 normal = unit(cross(less(b.vertices[1]), less(b.vertices[2])));
        long double h = 0;
        for (const Vector3& v : a.vertices)
            h = std::max(h, std::fabs(dot(normal, less(v))));

        const HausdorffInterval i = interval(a, b, 1e-6);
        EXPECT_LE(i.lower, h) << t;
        EXPECT_GE(i.upper, h) << t;
        EXPECT_TRUE(i.converged) << t;
    }
}

// A flat square against a copy bent into a roof along x = c, up to height H
// there: d((x, y, 0), B) = min(H x / L1, H (1 - x) / L2), L1 = |(c, H)|,
// L2 = |(1 - c, H)|, largest on the line x* = L1 / (L1 + L2), where it is
// H / (L1 + L2): inside A's faces, away from every vertex, and no area
// sample lies on that line.
TEST(Hausdorff, RidgeInsideAFaceIsFoundWhereSamplesMissIt)
{
    const float c = 0.37f, H = 0.3f;
    const Mesh roof = roofOver(c, H);
    const Mesh flat = grid(0);
    const long double l1 = std::hypot((long double)c, (long double)H);
    const long double l2 = std::hypot(1.0L - c, (long double)H);
    const double ridge = double(H / (l1 + l2));

    // Along a ridge the bounds meet only linearly in the size of the pieces
    // (the nearest triangle changes across it), so a small error bound
    // costs many pieces: 1e-4 keeps the test short.
    const double error = 1e-4;
    const HausdorffInterval i = interval(flat, roof, error);
    EXPECT_LE(i.lower, ridge);
    EXPECT_GE(i.upper, ridge);
    EXPECT_LE(i.upper - i.lower, error);
    EXPECT_NEAR(i.witness.x, double(l1 / (l1 + l2)), 1e-3);

    const SurfaceComparison sampled = compareSurfaces(flat, roof, 200);
    EXPECT_LT(sampled.aToB.max, ridge - 1e-5) << "the samples should miss the ridge";
    EXPECT_GE(i.upper, sampled.aToB.max);
}

// Identical meshes: [0, <= E]; the witness is a point at distance 0.
TEST(Hausdorff, IdenticalMeshesGiveZeroToTheErrorBound)
{
    const Mesh a = grid(0.25f, 4);
    const HausdorffInterval i = interval(a, a, 1e-4);
    EXPECT_EQ(i.lower, 0.0);
    EXPECT_LE(i.upper, 1e-4);
}

// Coplanar but triangulated differently: a piece of A that straddles an
// edge of B is within the error bound of neither face until it is about
// that small, but within it of the two together, whose union is convex,
// and a piece around a vertex of B within it of the vertex's star. So the
// pieces stay few (about 170 000 and 460 000 on single faces alone, 830
// and 5 200 with pairs of faces but no stars), and the interval must still
// close on 0. B written as a soup gives the same: its faces meet by
// position.
TEST(Hausdorff, CoplanarTriangulationsGiveZeroToTheErrorBound)
{
    const Mesh a = grid(0.25f, 7), b = grid(0.25f, 3);
    for (const auto& [from, to] : {std::pair{&a, &b}, std::pair{&b, &a}}) {
        const HausdorffInterval i = interval(*from, *to, 1e-4);
        EXPECT_TRUE(i.converged);
        EXPECT_EQ(i.lower, 0.0);
        EXPECT_GT(i.upper, 0.0);
        EXPECT_LE(i.upper, 1e-4);
        EXPECT_LT(i.pieces, 2500u);
        const HausdorffInterval soup = interval(*from, withBox(test::soupOf(*to)), 1e-4);
        EXPECT_EQ(soup.upper, i.upper);
        EXPECT_EQ(soup.pieces, i.pieces);
    }
}

// Two faces folded into a valley, and a flat triangle across it whose
// corners lie on the two faces: each corner is at distance 0 from one of
// them, but the middle of the triangle, above the fold, is 0.5 / sqrt(2)
// from both. The two faces bound the triangle only with the distance
// between their shared edge and their far corners (here 1) added: without
// it the triangle would be kept at a bound of about 0.
TEST(Hausdorff, AFoldIsNotTakenForAFlatPairOfFaces)
{
    Mesh valley, across;
    for (const Vector3& v : {Vector3{-1, 0, 0}, {1, 0, 0}, {0, -1, 1}, {0, 1, 1}})
        valley.vertices.push_back(v);
    valley.faces = {face(0, 1, 2), face(1, 0, 3)};
    for (const Vector3& v : {Vector3{-0.2f, -0.5f, 0.5f}, {0.2f, -0.5f, 0.5f}, {0, 0.5f, 0.5f}})
        across.vertices.push_back(v);
    across.faces = {face(0, 1, 2)};
    const HausdorffInterval i = interval(withBox(across), withBox(valley), 1e-3);
    const double real = 0.5 / std::sqrt(2.0);
    EXPECT_LE(i.lower, real);
    EXPECT_GE(i.upper, real);
    EXPECT_LE(i.upper - i.lower, 1e-3);
}

// Slivers of coordinates up to 6e10, against a copy moved and scaled (a pair
// the fuzzer found): certifying the lower bound at the witness loses nearly
// all of it, so the reserve grows past the whole error budget and no piece
// can be kept. The run must stop there with a sound interval, not split
// every piece along the ridge down to the deepest level (it ran out of
// memory).
TEST(Hausdorff, ACertificationThatLosesTheBudgetStopsSoundly)
{
    Mesh sliver, copy;
    sliver.vertices = {{0, 65535, 4.28159795e+09f}, {1, 0, 6307686}, {1.82148083e+09f, 1, 0}, {0, 0, 1}};
    copy.vertices = {{-2.73222124e+10f, 983025, 6.42239693e+10f},
                     {-2.73222124e+10f, -983025, -6.40347382e+10f},
                     {2.73222124e+10f, -982995, -6.42239693e+10f},
                     {-2.73222124e+10f, -983025, -6.42239693e+10f}};
    for (Mesh* mesh : {&sliver, &copy}) {
        mesh->faces = {face(0, 2, 1), face(0, 1, 3), face(0, 3, 2), face(1, 2, 3)};
        *mesh = withBox(*mesh);
    }
    const HausdorffInterval i = interval(sliver, copy, 1.39588e9);
    EXPECT_LE(i.lower, i.upper);
    EXPECT_LT(i.pieces, 100000u);
}

// A mesh without vertices is at distance 0 from anything; a target without
// faces is infinitely far. A point set (no faces) in A is measured by its
// vertices, exactly.
TEST(Hausdorff, EmptyAndPointSetCases)
{
    const Mesh square = grid(0);
    Mesh empty;
    HausdorffInterval i = interval(empty, square, 1e-3);
    EXPECT_EQ(i.lower, 0.0);
    EXPECT_EQ(i.upper, 0.0);
    Mesh points;
    points.vertices = {{0.5f, 0.5f, 2.0f}, {0.0f, 0.0f, -1.0f}};
    points = withBox(points);
    i = interval(square, points, 1e-3);
    EXPECT_TRUE(std::isinf(i.lower) && std::isinf(i.upper));
    i = interval(points, square, 1e-3);
    EXPECT_LE(i.lower, 2.0);
    EXPECT_GE(i.upper, 2.0);
    EXPECT_LE(i.upper - i.lower, 1e-3);
}

Mesh randomMesh(std::mt19937& rng, int triangles, float offset)
{
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    Mesh mesh;
    for (int t = 0; t < triangles; ++t) {
        const std::uint32_t base = std::uint32_t(mesh.vertices.size());
        for (int k = 0; k < 3; ++k)
            mesh.vertices.push_back({unit(rng), unit(rng), unit(rng) * 0.3f + offset});
        if (t % 7 == 3)  // a degenerate one: a repeated corner
            mesh.vertices.back() = mesh.vertices[base];
        if (t % 7 == 5) {  // and a collinear one
            const Vector3 &p = mesh.vertices[base], &q = mesh.vertices[base + 1];
            mesh.vertices.back() = {0.5f * (p.x + q.x), 0.5f * (p.y + q.y), 0.5f * (p.z + q.z)};
        }
        mesh.faces.push_back(face(base, base + 1, base + 2));
    }
    mesh.vertices.push_back({unit(rng), unit(rng), offset - 0.2f});  // on no face
    return withBox(mesh);
}

// The largest routine distance over a subdivision of every triangle of A into
// pieces of side at most `step` (and A's vertices). The real supremum is
// within `step` of it (the distance is 1-Lipschitz), so it must lie in
// [L - step, U].
double bruteForce(const Mesh& a, const Mesh& b, double step)
{
    double largest = 0.0;
    for (const Vector3& v : a.vertices)
        largest = std::max(largest, std::sqrt(nearestSurfaceDistanceSquared(toPoint3d(v), b)));
    for (const Face& f : a.faces) {
        const Vector3 &p = a.corner(f, 0), &q = a.corner(f, 1), &r = a.corner(f, 2);
        const double side = std::max({std::hypot(q.x - p.x, q.y - p.y, q.z - p.z),
                                      std::hypot(r.x - p.x, r.y - p.y, r.z - p.z),
                                      std::hypot(r.x - q.x, r.y - q.y, r.z - q.z)});
        const int n = std::max(1, int(std::ceil(side / step)));
        for (int i = 0; i <= n; ++i)
            for (int j = 0; i + j <= n; ++j) {
                const Point3d x = barycentricPoint(p, q, r, double(i) / n, double(j) / n);
                largest = std::max(largest, std::sqrt(nearestSurfaceDistanceSquared(x, b)));
            }
    }
    return largest;
}

// Both directions of a and b: the brute force lies in the interval, up to
// its step, and the interval is within the error bound.
void expectBruteForceInside(const Mesh& a, const Mesh& b, double error, double step, int t)
{
    for (int direction = 0; direction < 2; ++direction) {
        const Mesh& from = direction ? b : a;
        const Mesh& to = direction ? a : b;
        const HausdorffInterval i = interval(from, to, error);
        const double brute = bruteForce(from, to, step);
        EXPECT_LE(brute, i.upper) << t << " " << direction;
        EXPECT_GE(brute, i.lower - step * 1.01) << t << " " << direction;
        EXPECT_LE(i.upper - i.lower, error) << t << " " << direction;
        EXPECT_LE(i.lower, i.witnessDistance) << t << " " << direction;
    }
}

TEST(Hausdorff, AgreesWithBruteForceSubdivisionOfRandomMeshes)
{
    std::mt19937 rng(11);
    for (int t = 0; t < 8; ++t) {
        const Mesh a = randomMesh(rng, 6 + t, 0.0f), b = randomMesh(rng, 12 + 2 * t, 0.05f);
        expectBruteForceInside(a, b, 4e-3, 4e-3, t);
    }
}

// A hexagonal tent, and a flat triangle inside it whose corners lie on
// three of its ridges: each corner is at distance 0, but the middle of the
// triangle, under the apex, is (h / 2) a / sqrt(a^2 + h^2) from every face
// (a the hexagon's apothem). No pair of faces holds all three corners; the
// star of the apex does, and bounds the triangle only with the spread of
// its corners about a plane (here h) added: without it the triangle would
// be kept at a bound of about 0.
TEST(Hausdorff, ATentIsNotTakenForAFlatStar)
{
    const float h = 0.5f;
    Mesh tent, inside;
    tent.vertices.push_back({0, 0, h});
    for (int i = 0; i < 6; ++i)
        tent.vertices.push_back({float(std::cos(i * M_PI / 3)), float(std::sin(i * M_PI / 3)), 0});
    for (std::uint32_t i = 0; i < 6; ++i)
        tent.faces.push_back(face(0, 1 + i, 1 + (i + 1) % 6));
    for (int i = 0; i < 3; ++i)
        inside.vertices.push_back({0.5f * float(std::cos(i * 2 * M_PI / 3)),
                                   0.5f * float(std::sin(i * 2 * M_PI / 3)), h / 2});
    inside.faces = {face(0, 1, 2)};
    const HausdorffInterval i = interval(withBox(inside), withBox(tent), 1e-3);
    const double a = std::sqrt(3.0) / 2, real = h / 2 * a / std::sqrt(a * a + h * h);
    EXPECT_LE(i.lower, real);
    EXPECT_GE(i.upper, real);
    EXPECT_LE(i.upper - i.lower, 1e-3);
}

// grid(0, n) with every height drawn from [-height, height].
Mesh bumpyGrid(int n, float height, std::mt19937& rng)
{
    std::uniform_real_distribution<float> bump(-1.0f, 1.0f);
    Mesh mesh = grid(0, n);
    for (Vector3& v : mesh.vertices)
        v.z = height * bump(rng);
    return withBox(mesh);
}

// Bumpy grids, whose faces meet along edges: the bounds over two faces
// across an edge are taken wherever they keep a piece, with the distance
// between the edge and the far corners as their margin.
TEST(Hausdorff, BumpyGridsAgreeWithBruteForceSubdivision)
{
    std::mt19937 rng(19);
    for (int t = 0; t < 4; ++t) {
        const float height = t < 2 ? 2e-3f : 2e-2f;
        const Mesh a = bumpyGrid(4 + t, height, rng), b = bumpyGrid(3 + t, height, rng);
        expectBruteForceInside(a, b, 2e-3, 4e-3, t);
    }
}

// A bumpy ramp with a few spikes over a flat square that covers it: each
// point's distance is its height, greatest at a vertex. Once the ramp's top
// has raised the lower bound, its low end is dropped in whole groups of
// faces, unmeasured, so a group bound that missed any part of its group
// would drop a higher spike with it. The first four ramps are large enough
// for the groups to be built in parallel tasks, each half at its own place.
TEST(Hausdorff, FacesDroppedInGroupsNeverHideAHigherSpike)
{
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int t = 0; t < 12; ++t) {
        Mesh a = grid(0, t < 4 ? 130 : 40);
        float highest = 0;
        for (Vector3& v : a.vertices) {
            const float height =
                0.4f * v.x + 0.01f * unit(rng) + (unit(rng) < 0.005f ? 0.2f + 0.4f * unit(rng) : 0.0f);
            // Odd ramps hang below the square: the farthest faces come
            // first in the Morton order instead of last.
            v.z = t % 2 ? -height : height;
            highest = std::max(highest, height);
        }
        a = withBox(a);
        const HausdorffInterval i = interval(a, grid(0), 1e-6);
        EXPECT_LE(i.lower, double(highest)) << t;
        EXPECT_GE(i.upper, double(highest)) << t;
        EXPECT_LE(i.upper - i.lower, 1e-6) << t;
        EXPECT_LT(i.points, a.vertexCount() / 2) << t << ": the groups settled nothing";
    }
}

// The index only narrows the faces each bound looks at; the exhaustive
// search hands every face to every bound. Both give the same interval and
// the same work, also where the bounds over two faces or a star decide
// what is kept (flat and bumpy grids, whose faces tie at equal distances).
// So do the vertices' distances and faces when the caller hands them in (a
// random pair with a vertex on no face among them); lists of the wrong
// length are not read.
TEST(Hausdorff, SameResultWithAndWithoutTheIndexOrTheVertexDistances)
{
    std::mt19937 rng(31);
    const Mesh bumpyA = bumpyGrid(9, 2e-3f, rng), bumpyB = bumpyGrid(7, 2e-3f, rng);
    const Mesh flatA = grid(0.25f, 7), flatB = grid(0.25f, 3);
    const Mesh randomA = randomMesh(rng, 200, 0.0f), randomB = randomMesh(rng, 300, 0.1f);
    using Pair = std::pair<const Mesh*, const Mesh*>;
    for (const auto& [a, b] : {Pair{&flatA, &flatB}, Pair{&flatB, &flatA}, Pair{&bumpyA, &bumpyB},
                               Pair{&bumpyB, &bumpyA}, Pair{&randomA, &randomB}}) {
        NearestSurfaceSearch indexed(*b, SearchMode::automatic), exhaustive(*b, SearchMode::exhaustive);
        const HausdorffInterval i = certifiedHausdorff(*a, indexed, 1e-4);
        const HausdorffInterval e = certifiedHausdorff(*a, exhaustive, 1e-4);
        std::vector<double> vertexDistances;
        std::vector<std::uint32_t> vertexFaces, tooShort{0};
        NearestSurfaceSearch(*b).distances(vertexPoints(*a), vertexDistances, &vertexFaces);
        NearestSurfaceSearch given(*b), wrong(*b);
        const HausdorffInterval g =
            certifiedHausdorff(*a, given, 1e-4, &vertexDistances, &vertexFaces);
        const HausdorffInterval w = certifiedHausdorff(*a, wrong, 1e-4, &vertexDistances, &tooShort);
        for (const HausdorffInterval* other : {&e, &g, &w}) {
            EXPECT_EQ(i.lower, other->lower);
            EXPECT_EQ(i.upper, other->upper);
            EXPECT_EQ(i.pieces, other->pieces);
            EXPECT_EQ(i.points, other->points);
            EXPECT_EQ(i.witness.x, other->witness.x);
            EXPECT_EQ(i.witness.y, other->witness.y);
            EXPECT_EQ(i.witness.z, other->witness.z);
        }
    }
}

// The interval, its witness and its work do not depend on the thread count.
// On random meshes, and along a ridge, whose levels split thousands of
// pieces at once (their children are formed in parallel).
TEST(Hausdorff, SameResultAtAnyThreadCount)
{
    std::mt19937 rng(13);
    const Mesh a = randomMesh(rng, 300, 0.0f), b = randomMesh(rng, 400, 0.1f);
    const Mesh flat = grid(0), roof = roofOver(0.37f, 0.3f);
    const struct {
        const Mesh &from, &to;
    } pairs[] = {{a, b}, {flat, roof}};
    for (const auto& pair : pairs) {
        const int saved = omp_get_max_threads();
        std::vector<HausdorffInterval> results;
        for (int threads : {1, 2, 3}) {
            omp_set_num_threads(threads);
            results.push_back(interval(pair.from, pair.to, 1e-4));
        }
        omp_set_num_threads(saved);
        for (const HausdorffInterval& r : results) {
            EXPECT_EQ(r.lower, results[0].lower);
            EXPECT_EQ(r.upper, results[0].upper);
            EXPECT_EQ(r.witness.x, results[0].witness.x);
            EXPECT_EQ(r.witness.y, results[0].witness.y);
            EXPECT_EQ(r.witnessDistance, results[0].witnessDistance);
            EXPECT_EQ(r.pieces, results[0].pieces);
            EXPECT_EQ(r.points, results[0].points);
        }
    }
}

// facesWithin returns every face whose exact distance is at most the radius,
// at the boundary itself: the radius is the next double above a face's
// exact distance (quad precision).
TEST(Hausdorff, FacesWithinMissesNoFaceAtItsRadius)
{
    std::mt19937 rng(17);
    const Mesh b = randomMesh(rng, 200, 0.0f);
    NearestSurfaceSearch search(b);
    search.prepareFacesWithin();
    ASSERT_TRUE(search.indexed());
    std::uniform_real_distribution<double> unit(-0.2, 1.2);
    std::vector<std::uint32_t> found;
    std::size_t missed = 0, returned = 0;
    for (int q = 0; q < 300; ++q) {
        const Point3d p{unit(rng), unit(rng), unit(rng) * 0.5};
        const std::uint32_t f = std::uint32_t(q % int(b.faceCount()));
        const Face& fa = b.faces[f];
        const long double exact =
            reference(p, b.corner(fa, 0), b.corner(fa, 1), b.corner(fa, 2)).distance;
        double radius = double(exact);
        if ((long double)radius < exact)
            radius = std::nextafter(radius, HUGE_VAL);
        search.facesWithin(p, radius, found);
        missed += std::find(found.begin(), found.end(), f) == found.end();
        returned += found.size();
        std::sort(found.begin(), found.end());
        ASSERT_TRUE(std::adjacent_find(found.begin(), found.end()) == found.end());
    }
    EXPECT_EQ(missed, 0u);
    EXPECT_LT(returned, 300u * b.faceCount() / 2) << "the query should prune";
}

} // namespace

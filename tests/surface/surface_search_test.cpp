// The nearest-surface search against the exhaustive loop, bit for bit per
// query, on every path (the default choice, the portable and the AVX2
// kernels) at 1 and 2 threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "ply/ply_mesh.h"
#include "surface/index/indexed_search.h"
#include "surface/index/surface_cases.h"
#include "surface/surface_distance.h"
#include "surface/sampling.h"
#include "surface/surface_search.h"

namespace {

using namespace test;
namespace si = surface_index;

void expectBits(const std::vector<double>& expected, const std::vector<double>& actual,
                const std::string& what)
{
    ASSERT_EQ(expected.size(), actual.size()) << what;
    std::size_t wrong = 0, first = 0;
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (!sameBits(expected[i], actual[i]) && wrong++ == 0)
            first = i;
    EXPECT_EQ(wrong, 0u) << what << ": " << wrong << " differ, first at query " << first
                         << ", expected " << expected[first] << ", got " << actual[first];
}

std::vector<const si::SurfaceKernels*> kernelSets()
{
    std::vector<const si::SurfaceKernels*> sets{&si::portableSurfaceKernels()};
    if (si::avx2SurfaceKernels())
        sets.push_back(si::avx2SurfaceKernels());
    return sets;
}

// The nearest faces a search names: the exhaustive loop's, which on a tie
// (a query over a shared edge or corner, a repeated triangle) is the
// lowest-numbered.
void expectFaces(const std::vector<std::uint32_t>& expected,
                 const std::vector<std::uint32_t>& actual, const std::string& what)
{
    ASSERT_EQ(expected.size(), actual.size()) << what;
    std::size_t wrong = 0, first = 0;
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (expected[i] != actual[i] && wrong++ == 0)
            first = i;
    EXPECT_EQ(wrong, 0u) << what << ": " << wrong << " faces differ, first at query " << first
                         << ", expected " << expected[first] << ", got " << actual[first];
}

// Every search path against the exhaustive reference, at 1 and 2 threads:
// the distances, and the faces when asked for, with queries walked alone and
// in groups.
void expectAllPathsExact(const std::vector<Point3d>& queries, const Mesh& to,
                         const std::string& name)
{
    std::vector<double> expected;
    std::vector<std::uint32_t> expectedFaces;
    withThreads(1, [&] { surfaceDistancesExhaustive(queries, to, expected, &expectedFaces); });
    for (int threads : {1, 2})
        withThreads(threads, [&] {
            const std::string at = name + " at " + std::to_string(threads) + " threads";
            std::vector<double> out;
            std::vector<std::uint32_t> faces;
            NearestSurfaceSearch(to).distances(queries, out);
            expectBits(expected, out, at + ", default path");
            NearestSurfaceSearch(to).distances(queries, out, &faces);
            expectBits(expected, out, at + ", default path with faces");
            expectFaces(expectedFaces, faces, at + ", default path");
            if (!si::indexableMesh(to))
                return;
            const si::SurfaceIndex index = si::buildSurfaceIndex(to);
            for (const si::SurfaceKernels* kernels : kernelSets()) {
                si::surfaceDistancesIndexed(index, to, queries, out, *kernels);
                expectBits(expected, out, at + ", " + kernels->name);
                si::surfaceDistancesIndexed(index, to, queries, out, *kernels, nullptr, &faces);
                expectBits(expected, out, at + ", " + kernels->name + " with faces");
                expectFaces(expectedFaces, faces, at + ", " + kernels->name);
                // Queries walked in groups over their box, as area samples are.
                si::surfaceDistancesIndexed(index, to, queries, out, *kernels, nullptr, &faces,
                                            si::kDenseWalk);
                expectBits(expected, out, at + ", " + kernels->name + " walked dense");
                expectFaces(expectedFaces, faces, at + ", " + kernels->name + " walked dense");
            }
        });
}

class SurfaceSearchCase : public ::testing::TestWithParam<SurfaceCase> {};

TEST_P(SurfaceSearchCase, MatchesExhaustiveBitForBit)
{
    for (unsigned seed : {1u, 2u}) {
        std::mt19937 rng(seed);
        SurfacePair pair = GetParam().make(rng);
        ASSERT_TRUE(si::indexableMesh(pair.target));
        expectAllPathsExact(pair.queries, pair.target,
                            GetParam().name + " seed " + std::to_string(seed));
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, SurfaceSearchCase, ::testing::ValuesIn(surfaceCases()),
                         [](const auto& p) { return p.param.name; });

// Queries the index's analysis does not cover, and targets it cannot be
// built over, go to the exhaustive loop with its results.
TEST(SurfaceSearchFallback, NonFiniteAndOutOfRangeInputs)
{
    const double nan = std::nan(""), inf = HUGE_VAL;
    std::mt19937 rng(11);
    const Mesh base = soup(rng, 400, 0, 20);
    const std::vector<Point3d> queries = cubePoints(rng, 300, 0, 25);
    for (int variant = 0; variant < 7; ++variant) {
        Mesh to = base;
        std::vector<Point3d> q = queries;
        switch (variant) {
        case 0: q[40].z = nan; break;
        case 1: q[41].x = -inf; break;
        case 2: q[42].y = 1e300; break;         // beyond the scaled query range
        case 3: q[43].x = 3e13; break;          // just beyond 2^30 mesh sizes
        case 4: to.vertices[17].y = float(nan); break;
        case 5: to.vertices[5].x = float(inf); break;
        case 6: to.vertices[3].x = 3e38f; break;  // finite, indexed, far from the rest
        }
        expectAllPathsExact(q, to, "variant " + std::to_string(variant));
    }
}

// Small inputs and the exhaustive mode take the exhaustive loop; a target
// without faces is at +infinity.
TEST(SurfaceSearchFallback, SmallInputsAndModes)
{
    std::mt19937 rng(3);
    const Mesh to = soup(rng, 200, 0, 10);
    const std::vector<Point3d> many = cubePoints(rng, 200, 0, 12), few = cubePoints(rng, 5, 0, 12);
    for (SearchMode mode : {SearchMode::automatic, SearchMode::exhaustive, SearchMode::portable}) {
        NearestSurfaceSearch search(to, mode);
        std::vector<double> out, expected;
        search.distances(few, out);
        surfaceDistancesExhaustive(few, to, expected);
        expectBits(expected, out, "five points");
        EXPECT_FALSE(search.indexed());
        search.distances(many, out);
        surfaceDistancesExhaustive(many, to, expected);
        expectBits(expected, out, "200 points");
        EXPECT_EQ(search.indexed(), mode != SearchMode::exhaustive);
    }
    std::vector<double> out;
    NearestSurfaceSearch(Mesh{}).distances(many, out);
    ASSERT_EQ(out.size(), many.size());
    EXPECT_EQ(out[0], HUGE_VAL);
}

// A caller's search order changes no result: area samples face by face in
// the faces' Morton order, and a shuffled order with queries outside the
// index's domain among them, on every kernel set.
TEST(NearestSurfaceSearch, AnyOrderGivesTheSameDistances)
{
    std::mt19937 rng(29);
    const Mesh to = soup(rng, 600, 0, 20);
    const Mesh from = soup(rng, 300, 2, 20);
    const AreaSamples samples = sampleSurface(from, 5000);
    std::vector<Point3d> shuffledPoints = cubePoints(rng, 400, 0, 25);
    shuffledPoints[7].x = std::nan("");
    shuffledPoints[300].y = 1e300;
    std::vector<std::uint32_t> shuffled(shuffledPoints.size());
    for (std::uint32_t i = 0; i < shuffled.size(); ++i)
        shuffled[i] = i;
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    for (SearchMode mode : {SearchMode::automatic, SearchMode::portable}) {
        NearestSurfaceSearch search(to, mode);
        std::vector<double> expected, out;
        surfaceDistancesExhaustive(samples.points, to, expected);
        search.distances(samples.points, samples.searchOrder, out, QuerySpacing::dense);
        expectBits(expected, out, "area samples");
        surfaceDistancesExhaustive(shuffledPoints, to, expected);
        search.distances(shuffledPoints, shuffled, out, QuerySpacing::sparse);
        expectBits(expected, out, "shuffled");
        EXPECT_TRUE(search.indexed());
    }
}

// One search serves many point sets with one index.
TEST(NearestSurfaceSearch, KeepsItsIndexAcrossPointSets)
{
    std::mt19937 rng(29);
    const Mesh to = torus(rng, 40, 20, 0, 30, 0.3f);
    NearestSurfaceSearch search(to, SearchMode::automatic);
    std::vector<double> out, expected;
    for (int set = 0; set < 3; ++set) {
        const std::vector<Point3d> q =
            concat(cubePoints(rng, 300 + 100 * set, 0, 40), surfacePoints(rng, to, 200, 1e-3));
        search.distances(q, out);
        ASSERT_TRUE(search.indexed());
        surfaceDistancesExhaustive(q, to, expected);
        expectBits(expected, out, "point set " + std::to_string(set));
    }
}

#ifndef MESHQEM_REAL_DATA_DIR
#define MESHQEM_REAL_DATA_DIR "/usr/share/doc/opencv-doc/examples/surface_matching/data"
#endif

// Real scans as loaded (no normalisation), both directions; a fixed sample of
// the vertices and of points on the target keeps the exhaustive side short.
class SurfaceSearchRealFiles
    : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(SurfaceSearchRealFiles, BothDirections)
{
    const std::string dir = MESHQEM_REAL_DATA_DIR;
    Mesh first, second;
    std::string error;
    if (!loadPlyMesh((dir + "/" + GetParam().first).c_str(), first, error) ||
        !loadPlyMesh((dir + "/" + GetParam().second).c_str(), second, error))
        GTEST_SKIP() << "real meshes not found in " << dir << " (apt-get install opencv-doc)";
    std::mt19937 rng(5);
    for (int direction = 0; direction < 2; ++direction) {
        const Mesh& from = direction ? second : first;
        const Mesh& to = direction ? first : second;
        std::vector<Point3d> q;
        for (std::size_t i = 0; i < from.vertices.size(); i += from.vertices.size() / 300)
            q.push_back(toPoint3d(from.vertices[i]));
        q = concat(q, surfacePoints(rng, to, 150, 1e-4));
        expectAllPathsExact(q, to, "direction " + std::to_string(direction));
    }
}

INSTANTIATE_TEST_SUITE_P(Scans, SurfaceSearchRealFiles,
                         ::testing::Values(std::pair{"rs1_normals.ply", "rs22_proc2.ply"},
                                           std::pair{"parasaurolophus_6700.ply",
                                                     "parasaurolophus_low_normals2.ply"}),
                         [](const auto& p) {
                             return std::string(p.param.first).substr(0, 3) == "rs1"
                                        ? std::string("rs1Rs22")
                                        : std::string("parasaurolophus");
                         });

} // namespace

// The nearest-plane search against the exhaustive loop, bit for bit, on every
// path (the default choice, the portable and the AVX2 kernels) at 1 and 2
// threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "ply/ply_mesh.h"
#include "qem/comparison.h"
#include "qem/normalize.h"
#include "qem/plane_cases.h"
#include "qem/plane_distance.h"
#include "qem/plane_search.h"

namespace {

using namespace test;

std::vector<float> reference(const Mesh& from, const Mesh& to)
{
    std::vector<float> best;
    for (const Vector3& v : from.vertices)
        best.push_back(nearestPlaneDistance(v, to));
    return best;
}

void expectBits(const std::vector<float>& expected, const std::vector<float>& actual,
                const std::string& what)
{
    ASSERT_EQ(expected.size(), actual.size()) << what;
    std::size_t wrong = 0, first = 0;
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (!sameBits(expected[i], actual[i]) && wrong++ == 0)
            first = i;
    EXPECT_EQ(wrong, 0u) << what << ": first at vertex " << first << ", expected "
                         << expected[first] << ", got " << actual[first];
}


// Every search path against the reference, at 1 and 2 threads.
void expectAllPathsExact(const Mesh& from, const Mesh& to, const std::string& name)
{
    const std::vector<float> expected = reference(from, to);
    for (int threads : {1, 2})
        withThreads(threads, [&] {
            std::string at = name + " at " + std::to_string(threads) + " threads";
            std::vector<float> best;
            NearestPlaneSearch(to).distances(from.vertices, best);
            expectBits(expected, best, at + ", default path");
            if (!indexApplies(from, to))
                return;
            const PlaneScanTarget target = planeScanTarget(to);
            for (bool portable : kernelChoices()) {
                nearestPlaneDistancesScan(from.vertices, to, target, best,
                                          portable ? portablePlaneScanKernel()
                                                   : *avx2PlaneScanKernel());
                expectBits(expected, best, at + (portable ? ", portable scan" : ", avx2 scan"));
            }
            const PlaneIndex index = buildPlaneIndex(to);
            for (const PlaneKernels* kernels : indexKernelSets()) {
                nearestPlaneDistancesIndexed(index, to, from.vertices, best, *kernels);
                expectBits(expected, best, at + ", " + kernels->name);
            }
        });
}

class SearchCase : public ::testing::TestWithParam<Case> {};

TEST_P(SearchCase, MatchesExhaustiveBitForBit)
{
    for (unsigned seed : {1u, 2u}) {
        std::mt19937 rng(seed);
        Pair pair = GetParam().make(rng);
        ASSERT_TRUE(indexApplies(pair.from, pair.to));
        expectAllPathsExact(pair.from, pair.to, GetParam().name + " seed " + std::to_string(seed));
    }
}

// faceValue is the per-face step of nearestPlaneDistance, NaN rules included.
TEST(SearchFaceValue, IsTheReferenceStep)
{
    const float nan = std::nanf(""), inf = HUGE_VALF;
    std::mt19937 rng(5);
    std::vector<Vector3> specials{{0, 0, 0}, {nan, 0, 0}, {inf, 1, 2}, {1e30f, -1e30f, 3}};
    for (int i = 0; i < 300; ++i) {
        Mesh one = soup(rng, 1, 0, 10);
        if (i % 10 == 1)
            one.vertices[std::size_t(i / 10 % 3)] = specials[std::size_t(i / 30 % 4)];
        if (i % 10 == 2)
            one.faces[0].normal = specials[std::size_t(i / 10 % 4)];
        Vector3 v = i % 10 == 3 ? specials[std::size_t(i / 10 % 4)] : randomPoint(rng, 0, 20);
        float value = facePlaneDistance(v, one, 0);
        float expected = nearestPlaneDistance(v, one);
        if (value < kFarDistance)
            EXPECT_TRUE(sameBits(value, expected)) << i;
        else
            EXPECT_EQ(expected, kFarDistance) << i;
    }
}

// Inputs the index does not cover go to the exhaustive loop, with its results.
TEST(SearchFallback, NonFiniteAndOutOfRangeInputs)
{
    const float nan = std::nanf(""), inf = HUGE_VALF;
    std::mt19937 rng(11);
    const Mesh base = soup(rng, 400, 0, 20);
    const std::vector<Vector3> queries = inCube(rng, 300, 0, 25);
    for (int variant = 0; variant < 6; ++variant) {
        Mesh to = base;
        std::vector<Vector3> q = queries;
        switch (variant) {
        case 0: to.vertices[17].y = nan; break;
        case 1: to.vertices[5].x = inf; break;
        case 2: to.faces[9].normal.z = nan; break;
        case 3: q[40].z = nan; break;
        case 4: q[41].x = -inf; break;
        case 5: to.vertices[3].x = 1e33f; break;
        }
        EXPECT_FALSE(indexApplies(pointsOnly(q), to)) << variant;
        expectAllPathsExact(pointsOnly(q), to, "variant " + std::to_string(variant));
    }
}

TEST(SearchDegenerate, ZeroNormalFacesGiveZeroEverywhere)
{
    std::mt19937 rng(13);
    Mesh to = torus(rng, 30, 16, 0, 10, 0.1f);
    for (std::size_t f = 0; f < to.faces.size(); f += 97) {
        to.faces[f].vertices[1] = to.faces[f].vertices[0];
        to.faces[f].normal = {0, 0, 0};
    }
    Mesh from = pointsOnly(inCube(rng, 500, 0, 15));
    expectAllPathsExact(from, to, "degenerate");
    std::vector<float> best;
    NearestPlaneSearch(to).distances(from.vertices, best);
    EXPECT_TRUE(std::all_of(best.begin(), best.end(), [](float b) { return b == 0.0f; }));
}

// The sum over vertices is the exhaustive one whatever the thread count.
TEST(SearchPointToFace, SumMatchesExhaustiveLoop)
{
    std::mt19937 rng(17);
    Mesh a = torus(rng, 40, 20, 0, 30, 0.3f), b = torus(rng, 50, 24, 1, 29, 0.3f);
    float expected = 0.0f;
    for (const Vector3& v : a.vertices)
        expected = expected + nearestPlaneDistance(v, b);
    for (int threads : {1, 2})
        withThreads(threads, [&] { EXPECT_TRUE(sameBits(pointToFace(a, b).sum, expected)); });
}

// One search serves many point sets: the index is built once and every set
// gets the exhaustive bits.
TEST(NearestPlaneSearch, KeepsItsIndexAcrossPointSets)
{
    std::mt19937 rng(29);
    // Large enough for the cost model to choose the index.
    const Mesh to = torus(rng, 100, 60, 0, 30, 0.3f);
    NearestPlaneSearch search(to, SearchMode::automatic);
    std::vector<float> best;
    for (int set = 0; set < 3; ++set) {
        const Mesh from = pointsOnly(concat(inCube(rng, 1300 + 100 * set, 0, 40),
                                            onFaces(rng, to, 200, 1e-3f)));
        search.distances(from.vertices, best);
        ASSERT_TRUE(search.indexed());
        expectBits(reference(from, to), best, "point set " + std::to_string(set));
    }
    // Once built, the index serves a set too small to pay for it; same bits.
    const Mesh few = pointsOnly(inCube(rng, 5, 0, 40));
    search.distances(few.vertices, best);
    expectBits(reference(few, to), best, "five points");
}


#ifndef MESHQEM_REAL_DATA_DIR
#define MESHQEM_REAL_DATA_DIR "/usr/share/doc/opencv-doc/examples/surface_matching/data"
#endif

// Real scans, normalised as the tool does, both directions; a fixed sample of
// the queries keeps the exhaustive side short.
TEST(SearchRealFiles, ParasaurolophusPairBothDirections)
{
    std::string dir = MESHQEM_REAL_DATA_DIR;
    Mesh first, second;
    std::string error;
    if (!loadPlyMesh((dir + "/parasaurolophus_6700.ply").c_str(), first, error) ||
        !loadPlyMesh((dir + "/parasaurolophus_low_normals2.ply").c_str(), second, error))
        GTEST_SKIP() << "real meshes not found in " << dir << " (apt-get install opencv-doc)";
    ASSERT_FALSE(normalizeMeshes(first, second).any());
    for (int direction = 0; direction < 2; ++direction) {
        const Mesh& from = direction ? second : first;
        const Mesh& to = direction ? first : second;
        Mesh sample;
        for (std::size_t i = 0; i < from.vertices.size(); i += 5)
            sample.vertices.push_back(from.vertices[i]);
        expectAllPathsExact(sample, to, "direction " + std::to_string(direction));
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, SearchCase, ::testing::ValuesIn(cases()),
                         [](const auto& p) { return p.param.name; });


} // namespace

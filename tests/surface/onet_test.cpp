// The Occupancy Networks protocol: its frame, its seeded draw, the k-d tree
// against a plain scan, and figures derivable by hand.
#include "surface/onet.h"

#include <gtest/gtest.h>

#include <omp.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

Face face(std::uint32_t a, std::uint32_t b, std::uint32_t c) { return {{a, b, c}, {0, 0, 0}}; }

// The square [0, side]^2 at height z.
Mesh square(float side, float z)
{
    Mesh mesh;
    mesh.vertices = {{0, 0, z}, {side, 0, z}, {side, side, z}, {0, side, z}};
    mesh.faces = {face(0, 1, 2), face(0, 2, 3)};
    mesh.bboxMin = {0, 0, z};
    mesh.bboxMax = {side, side, z};
    return mesh;
}

} // namespace

// Squares of side 2, 0.5 apart: in B's frame (longest side 1) they are unit
// squares 0.25 apart, so every distance is at least 0.25 and exceeds only by
// the gap between samples; no sample is within any tau, and the normals agree.
TEST(Onet, ParallelSquaresInTheReferenceFrame)
{
    const Mesh a = square(2.0f, 0.5f), b = square(2.0f, 0.0f);
    const OnetSamplePair samples = onetSamples(a, b, 20000, 0);
    for (const Point3d& p : samples.a.points) {
        ASSERT_NEAR(p.z, 0.25, 1e-15);  // barycentric weights round
        ASSERT_GE(p.x, -0.5);
        ASSERT_LE(p.x, 0.5);
    }
    for (const Point3d& p : samples.b.points)
        ASSERT_NEAR(p.z, 0.0, 1e-15);
    const ReconstructionFigures r = onetFigures(a, b, 0, 20000);
    const double h = 0.25;
    EXPECT_GE(r.accuracy, h - 1e-15);
    EXPECT_LT(r.accuracy, h + 1e-4);
    EXPECT_GE(r.completeness, h - 1e-15);
    EXPECT_LT(r.completeness, h + 1e-4);
    EXPECT_DOUBLE_EQ(r.chamferL1, 0.5 * (r.accuracy + r.completeness));
    EXPECT_GE(r.chamferL2, h * h - 1e-15);
    EXPECT_LT(r.chamferL2, h * h + 1e-4);
    EXPECT_EQ(r.normalConsistency, 1.0);
    ASSERT_EQ(r.thresholds.size(), 3u);
    EXPECT_EQ(r.thresholds[0].tau, 0.01);
    EXPECT_EQ(r.thresholds[1].tau, 0.015);
    EXPECT_EQ(r.thresholds[2].tau, 0.02);
    for (const ThresholdFigures& t : r.thresholds) {
        EXPECT_EQ(t.precision, 0.0);
        EXPECT_EQ(t.recall, 0.0);
        EXPECT_EQ(t.fScore, 0.0);
    }
}

// The same square drawn twice with different points: everything within
// 0.02 in a frame of side 1 at this density, both ways.
TEST(Onet, IdenticalMeshesScoreFull)
{
    const Mesh a = square(3.0f, 1.0f);
    const ReconstructionFigures r = onetFigures(a, a, 5);
    EXPECT_GT(r.accuracy, 0.0);  // A and B get different draws
    EXPECT_LT(r.accuracy, 0.003);
    EXPECT_EQ(r.thresholds[2].precision, 1.0);
    EXPECT_EQ(r.thresholds[2].recall, 1.0);
    EXPECT_EQ(r.thresholds[2].fScore, 1.0);
}

// The draw depends on the seed only, and the distances and figures on
// nothing but the draw, at any thread count.
TEST(Onet, ReproducibleFromTheSeedAtAnyThreadCount)
{
    const Mesh a = square(1.0f, 0.01f), b = square(1.5f, 0.0f);
    const int saved = omp_get_max_threads();
    std::vector<ReconstructionFigures> runs;
    std::vector<OnetSamplePair> draws;
    for (int threads : {1, 2}) {
        omp_set_num_threads(threads);
        runs.push_back(onetFigures(a, b, 7, 30000));
        draws.push_back(onetSamples(a, b, 30000, 7));
    }
    omp_set_num_threads(saved);
    EXPECT_EQ(draws[0].a.points.size(), 30000u);
    for (std::size_t i = 0; i < draws[0].a.points.size(); ++i) {
        ASSERT_EQ(draws[0].a.points[i].x, draws[1].a.points[i].x);
        ASSERT_EQ(draws[0].b.points[i].y, draws[1].b.points[i].y);
        ASSERT_EQ(draws[0].a.faces[i], draws[1].a.faces[i]);
    }
    EXPECT_EQ(runs[0].accuracy, runs[1].accuracy);
    EXPECT_EQ(runs[0].completeness, runs[1].completeness);
    EXPECT_EQ(runs[0].chamferL2, runs[1].chamferL2);
    EXPECT_EQ(runs[0].normalConsistency, runs[1].normalConsistency);
    EXPECT_EQ(runs[0].thresholds[1].fScore, runs[1].thresholds[1].fScore);
    const OnetSamplePair other = onetSamples(a, b, 30000, 8);
    EXPECT_NE(other.a.points[0].x, draws[0].a.points[0].x);
}

// The tree's distances equal a plain scan's bit for bit, clustered and
// duplicated points included.
TEST(Onet, KdTreeMatchesBruteForce)
{
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
    std::vector<Point3d> targets, queries;
    for (int i = 0; i < 3000; ++i)
        targets.push_back({coordinate(random), coordinate(random), 1e-3 * coordinate(random)});
    for (int i = 0; i < 200; ++i)
        targets.push_back(targets[std::size_t(i)]);  // exact duplicates
    for (int i = 0; i < 2000; ++i)
        queries.push_back({coordinate(random), coordinate(random), coordinate(random)});
    for (int i = 0; i < 100; ++i)
        queries.push_back(targets[std::size_t(5 * i)]);  // distance 0
    std::vector<double> distances;
    std::vector<std::uint32_t> nearest;
    nearestPointDistances(queries, targets, distances, nearest);
    for (std::size_t i = 0; i < queries.size(); ++i) {
        double best = HUGE_VAL;
        for (const Point3d& q : targets) {
            const double dx = queries[i].x - q.x, dy = queries[i].y - q.y, dz = queries[i].z - q.z;
            best = std::min(best, std::sqrt(dx * dx + dy * dy + dz * dz));
        }
        ASSERT_EQ(distances[i], best) << "query " << i;
        const Point3d& q = targets[nearest[i]];
        const double dx = queries[i].x - q.x, dy = queries[i].y - q.y, dz = queries[i].z - q.z;
        ASSERT_EQ(std::sqrt(dx * dx + dy * dy + dz * dz), best);
    }
}

// Faces of zero area are never drawn, wherever they sit in the face list.
TEST(Onet, ZeroAreaFacesGetNoPoints)
{
    Mesh a = square(1.0f, 0.0f);
    a.faces.insert(a.faces.begin(), face(0, 1, 1));
    a.faces.push_back(face(2, 2, 2));
    const OnetSamplePair samples = onetSamples(a, a, 20000, 1);
    for (std::uint32_t f : samples.a.faces)
        ASSERT_TRUE(f == 1 || f == 2) << f;
}

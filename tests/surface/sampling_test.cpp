#include "surface/sampling.h"

#include <cstring>
#include <numeric>

#include <gtest/gtest.h>
#include <omp.h>

namespace {

Mesh meshOf(const std::vector<Vector3>& vertices, const std::vector<std::array<std::uint32_t, 3>>& faces)
{
    Mesh mesh;
    mesh.vertices.assign(vertices.begin(), vertices.end());
    for (const auto& f : faces)
        mesh.faces.push_back({f, {0, 0, 0}});
    return mesh;
}

// Right triangles in the z = 0 plane with legs 1, 2 and 3 (areas 0.5, 2,
// 4.5), a degenerate face between them, and a vertex on no face.
Mesh unevenMesh()
{
    return meshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {2, 0, 0}, {0, 2, 0}, {3, 0, 0}, {0, 3, 0}, {9, 9, 9}},
                  {{0, 1, 2}, {0, 3, 4}, {1, 1, 3}, {0, 5, 6}});
}

// A strip of n unit right triangles (area 0.5 each) along x.
Mesh strip(std::uint32_t n)
{
    std::vector<Vector3> vertices;
    std::vector<std::array<std::uint32_t, 3>> faces;
    for (std::uint32_t i = 0; i < n; ++i) {
        vertices.push_back({float(2 * i), 0, 0});
        vertices.push_back({float(2 * i + 1), 0, 0});
        vertices.push_back({float(2 * i), 1, 0});
        faces.push_back({3 * i, 3 * i + 1, 3 * i + 2});
    }
    return meshOf(vertices, faces);
}

TEST(Sampling, AreasUnreferencedVerticesAndDefaultCount)
{
    const Mesh mesh = unevenMesh();
    EXPECT_EQ(faceArea(mesh, mesh.faces[1]), 2.0);
    EXPECT_EQ(faceArea(mesh, mesh.faces[2]), 0.0);  // repeated corner
    EXPECT_EQ(meshArea(mesh), 7.0);
    EXPECT_EQ(countUnreferencedVertices(mesh), 1u);
    EXPECT_EQ(countUnreferencedVertices(strip(3)), 0u);
    EXPECT_EQ(defaultSampleCount(mesh, strip(7)), 70u);
    EXPECT_EQ(defaultSampleCount(strip(7), mesh), 70u);
}

// The counts follow the areas, add up to exactly the total whatever it is,
// and never put a sample on a face without area.
TEST(Sampling, CountsAddUpAndFollowTheAreas)
{
    const Mesh mesh = unevenMesh();
    EXPECT_EQ(sampleCounts(mesh, 14), (std::vector<std::size_t>{1, 4, 0, 9}));
    EXPECT_EQ(sampleCounts(mesh, 0), (std::vector<std::size_t>{0, 0, 0, 0}));
    for (std::size_t total : {1, 2, 3, 7, 100, 999, 12345}) {
        EXPECT_EQ(sampleCounts(mesh, total)[2], 0u);
        for (const Mesh& m : {mesh, strip(1), strip(3), strip(1000)}) {
            std::vector<std::size_t> counts = sampleCounts(m, total);
            EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), std::size_t(0)), total);
        }
    }
}

// Shares below one sample are carried from face to face, so a strip of
// equal faces gets them evenly spread, not all at its start.
TEST(Sampling, FractionalSharesAreCarriedInFaceOrder)
{
    // 8 faces, 3 samples: shares 3/8 each, exact in binary; the carried
    // remainders are 3/8, -1/4, 1/8, -1/2 (1/2 rounds up), -1/8, 1/4, -3/8, 0.
    EXPECT_EQ(sampleCounts(strip(8), 3), (std::vector<std::size_t>{0, 1, 0, 1, 0, 0, 1, 0}));
}

// The weights stand for the whole area, also when faces get no sample:
// such a face's area goes to the next sampled face, and what is left after
// the last sampled face goes to that face.
TEST(Sampling, WeightsAddUpToTheAreaWithUnsampledFaces)
{
    // Faces 0, 2, 4 and 5 get none, face 7 (the last) neither: 6 stands for 5, 6 and 7.
    AreaSamples samples = sampleSurface(strip(8), 3);
    ASSERT_EQ(samples.faces, (std::vector<std::uint32_t>{1, 3, 6}));
    EXPECT_EQ(samples.weights, (std::vector<double>{1.0, 1.0, 2.0}));

    for (const Mesh& m : {unevenMesh(), strip(10), strip(1000)})
        for (std::size_t total : {1, 3, 14, 333, 5000}) {
            AreaSamples s = sampleSurface(m, total);
            ASSERT_EQ(s.points.size(), total);
            double sum = std::accumulate(s.weights.begin(), s.weights.end(), 0.0);
            EXPECT_NEAR(sum, meshArea(m), 1e-12 * meshArea(m)) << total;
        }
    EXPECT_TRUE(sampleSurface(strip(4), 0).points.empty());
}

// Every sample lies on its own face and strictly inside it: it is not on an
// edge, so it belongs to that face alone.
TEST(Sampling, SamplesLieInsideTheirTriangle)
{
    // A slanted triangle away from the origin, so no coordinate is trivial.
    Mesh mesh = meshOf({{1.5f, -2, 3}, {4, 0.25f, 2}, {2, 1, 7}, {0, 0, 0}, {1, 0, 0}, {0, 1, 1}},
                       {{0, 1, 2}, {3, 4, 5}});
    for (std::size_t total : {1, 2, 5, 64, 1001}) {
        AreaSamples s = sampleSurface(mesh, total);
        ASSERT_EQ(s.faces.size(), total);
        for (std::size_t i = 0; i < total; ++i) {
            const Face& face = mesh.faces[s.faces[i]];
            const Vector3 &a = mesh.corner(face, 0), &b = mesh.corner(face, 1), &c = mesh.corner(face, 2);
            EXPECT_LT(pointTriangleDistanceSquared(s.points[i], a, b, c), 1e-24) << i;
            // Away from every edge: farther from each edge line than rounding.
            for (auto [p, q] : {std::pair{a, b}, std::pair{b, c}, std::pair{c, a}})
                EXPECT_GT(pointTriangleDistanceSquared(s.points[i], p, q, p), 1e-20) << i;
        }
        // Face by face in face order.
        EXPECT_TRUE(std::is_sorted(s.faces.begin(), s.faces.end()));
    }
}

// The placement runs over threads; its result must not depend on them.
TEST(Sampling, SameSamplesAtOneAndTwoThreads)
{
    const Mesh mesh = strip(3000);
    const int before = omp_get_max_threads();
    omp_set_num_threads(1);
    AreaSamples one = sampleSurface(mesh, 40000);
    omp_set_num_threads(2);
    AreaSamples two = sampleSurface(mesh, 40000);
    omp_set_num_threads(before);
    ASSERT_EQ(one.points.size(), two.points.size());
    EXPECT_EQ(std::memcmp(one.points.data(), two.points.data(), one.points.size() * sizeof(Point3d)), 0);
    EXPECT_EQ(one.weights, two.weights);
    EXPECT_EQ(one.faces, two.faces);
}

} // namespace

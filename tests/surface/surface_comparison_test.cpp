#include "surface/surface_comparison.h"

#include <gtest/gtest.h>

namespace {

Mesh square(float z, float size = 1.0f)
{
    Mesh mesh;
    mesh.vertices = {{0, 0, z}, {size, 0, z}, {size, size, z}, {0, size, z}};
    mesh.faces = {{{0, 1, 2}, {0, 0, 1}}, {{0, 2, 3}, {0, 0, 1}}};
    mesh.bboxMin = {0, 0, z};
    mesh.bboxMax = {size, size, z};
    return mesh;
}

// Two parallel unit squares 0.5 apart: every distance is exactly 0.5 (a
// power of two, so every mean and root is exact too), the union box is
// 1 x 1 x 0.5 with diagonal 1.5.
TEST(SurfaceComparison, ParallelSquaresGiveTheSeparationEverywhere)
{
    const SurfaceComparison c = compareSurfaces(square(0), square(0.5f), 20);
    EXPECT_EQ(c.diagonal, 1.5);
    EXPECT_EQ(c.a.area, 1.0);
    EXPECT_EQ(c.b.bboxMin[2], 0.5);
    for (const SurfaceDirection* d : {&c.aToB, &c.bToA}) {
        const VertexStatistics& v = d->vertices;
        EXPECT_EQ(v.count, 4u);
        for (double figure : {v.min, v.max, v.mean, v.rms, v.p50, v.p90, v.p95, v.p99})
            EXPECT_EQ(figure, 0.5);
        EXPECT_EQ(v.std, 0.0);
        const WeightedStatistics& a = d->area;
        EXPECT_EQ(a.count, 20u);
        EXPECT_DOUBLE_EQ(a.totalWeight, 1.0);
        for (double figure : {a.mean, a.rms, a.max, a.p50, a.p95, a.p99})
            EXPECT_EQ(figure, 0.5);
        EXPECT_EQ(a.std, 0.0);
        EXPECT_EQ(d->max, 0.5);
    }
    EXPECT_EQ(c.hausdorffLower, 0.5);
}

// The directions are not symmetric: a small square over a corner of a large
// one is close to it, but the large one's far corner is far from the small.
// The far corner is a vertex, so the vertex maximum finds it, and the
// Hausdorff bound is the larger direction.
TEST(SurfaceComparison, DirectionsDifferAndUnreferencedVerticesAreCounted)
{
    Mesh small = square(0.5f, 1.0f);
    small.vertices.push_back({0.5f, 0.5f, 0.5f});  // on no face
    Mesh large = square(0, 4.0f);
    const SurfaceComparison c = compareSurfaces(small, large, 0);
    EXPECT_EQ(c.aToB.vertices.count, 5u);
    EXPECT_EQ(c.aToB.unreferenced, 1u);
    EXPECT_EQ(c.aToB.max, 0.5);
    EXPECT_EQ(c.aToB.area.count, 0u);
    EXPECT_EQ(c.bToA.unreferenced, 0u);
    // (4, 4, 0) to the corner (1, 1, 0.5): sqrt(9 + 9 + 0.25).
    EXPECT_DOUBLE_EQ(c.bToA.vertices.max, std::sqrt(18.25));
    EXPECT_EQ(c.hausdorffLower, c.bToA.max);
    EXPECT_EQ(c.samplesPerMesh, 0u);
}

} // namespace

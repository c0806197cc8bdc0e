// The reconstruction figures on cases derivable by hand.
#include "surface/reconstruction.h"

#include <gtest/gtest.h>

#include <cmath>

#include "surface/surface_comparison.h"

namespace {

Face face(std::uint32_t a, std::uint32_t b, std::uint32_t c) { return {{a, b, c}, {0, 0, 0}}; }

// The rectangle [0, w] x [0, 1], z = h + t y (tilted by slope t).
Mesh rectangle(float w, float h, float t = 0.0f)
{
    Mesh mesh;
    mesh.vertices = {{0, 0, h}, {w, 0, h}, {w, 1, h + t}, {0, 1, h + t}};
    mesh.faces = {face(0, 1, 2), face(0, 2, 3)};
    mesh.bboxMin = {0, 0, std::min(h, h + t)};
    mesh.bboxMax = {w, 1, std::max(h, h + t)};
    return mesh;
}

ReconstructionFigures figures(const Mesh& a, const Mesh& b, std::vector<double> taus,
                              std::size_t samples = 4000)
{
    SurfaceOptions options;
    options.reconstruction = true;
    options.taus = taus;
    return *compareSurfaces(a, b, samples, options).reconstruction;
}

// Parallel squares 0.5 apart: every distance is 0.5 (up to the rounding of
// the sample positions), every normal agrees.
TEST(Reconstruction, ParallelSquares)
{
    const ReconstructionFigures r =
        figures(rectangle(1, 0), rectangle(1, 0.5f), {0.25, 0.5 + 1e-12, 1});
    EXPECT_DOUBLE_EQ(r.accuracy, 0.5);
    EXPECT_DOUBLE_EQ(r.completeness, 0.5);
    EXPECT_DOUBLE_EQ(r.chamferL1, 0.5);
    EXPECT_DOUBLE_EQ(r.chamferL2, 0.25);
    EXPECT_EQ(r.normalConsistency, 1.0);
    ASSERT_EQ(r.thresholds.size(), 3u);
    EXPECT_EQ(r.thresholds[0].tau, 0.25);
    EXPECT_EQ(r.thresholds[0].precision, 0.0);
    EXPECT_EQ(r.thresholds[0].fScore, 0.0);  // 0 / 0 is 0
    for (int k : {1, 2}) {
        EXPECT_EQ(r.thresholds[std::size_t(k)].precision, 1.0);
        EXPECT_EQ(r.thresholds[std::size_t(k)].recall, 1.0);
        EXPECT_EQ(r.thresholds[std::size_t(k)].fScore, 1.0);
    }
}

// A = [0, 1] x [0, 1] inside B = [0, 2] x [0, 1], both at z = 0. A -> B is 0
// everywhere; B -> A is x - 1 on the half x > 1. So accuracy 0, completeness
// (1/2) * (1/2) = 1/4, Chamfer-L2 (0 + (1/2)(1/3)) / 2 = 1/12, recall at
// tau = 1/2 is 3/4, F = 2 (3/4) / (7/4) = 6/7. The samples estimate the
// integrals; 4000 stratified samples are within 1e-3.
TEST(Reconstruction, PartOfTheReferenceIsMissing)
{
    const ReconstructionFigures r = figures(rectangle(1, 0), rectangle(2, 0), {0.5});
    EXPECT_NEAR(r.accuracy, 0.0, 1e-12);
    EXPECT_NEAR(r.completeness, 0.25, 1e-3);
    EXPECT_NEAR(r.chamferL1, 0.125, 1e-3);
    EXPECT_NEAR(r.chamferL2, 1.0 / 12.0, 1e-3);
    EXPECT_EQ(r.thresholds[0].precision, 1.0);
    EXPECT_NEAR(r.thresholds[0].recall, 0.75, 1e-3);
    EXPECT_NEAR(r.thresholds[0].fScore, 6.0 / 7.0, 1e-3);
    EXPECT_EQ(r.normalConsistency, 1.0);
}

// B tilted by slope t above A: every nearest triangle of B has normal
// (0, -t, 1) / sqrt(1 + t^2), and A's is (0, 0, 1), so |n . n'| =
// 1 / sqrt(1 + t^2) from both sides. A is flipped (its faces wound the other
// way) to show the sign does not count.
TEST(Reconstruction, NormalConsistencyIsTheCosineOfTheTilt)
{
    Mesh a = rectangle(1, 0);
    for (Face& f : a.faces)
        std::swap(f.vertices[1], f.vertices[2]);
    const float t = 0.75f;
    const ReconstructionFigures r = figures(a, rectangle(1, 2, t), {1});
    EXPECT_NEAR(r.normalConsistency, 1.0 / std::sqrt(1.0 + double(t) * t), 1e-12);
}

} // namespace

// The filtered exhaustive scan: the filter's bound checked directly against
// every face, each kernel's admission at the tightest best, and the scan
// against the reference loop with the queries or the faces split over
// threads.
#include "qem/plane_scan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "qem/plane_cases.h"
#include "qem/plane_distance.h"

namespace {

using namespace test;

// Targets over the domain's scales: normalised size, far from the origin,
// large and so small that the normals stay unnormalised
// (their squares underflow) and the products reach the subnormal range.
std::vector<Mesh> targets(std::mt19937& rng)
{
    std::vector<Mesh> meshes;
    meshes.push_back(torus(rng, 24, 12, 0, 30, 0.3f));
    meshes.push_back(soup(rng, 120, 1e6f, 50));
    meshes.push_back(torus(rng, 12, 8, 0x1p40f, 30, 0.2f));
    // Larger scales would overflow the squares of the normals' lengths.
    for (float scale : {0x1p30f, 0x1p-50f}) {
        Mesh m = torus(rng, 12, 8, 0, 1, 0.2f);
        for (Vector3& v : m.vertices)
            v = Vector3{v.x * scale, v.y * scale, v.z * scale};
        for (Face& f : m.faces)
            f.normal = faceNormal(m.corner(f, 0), m.corner(f, 1), m.corner(f, 2));
        meshes.push_back(m);
    }
    return meshes;
}

// Queries where the rounding matters: on the target's planes up to a
// residue, at its vertices, and anywhere in its box.
std::vector<Vector3> queriesFor(std::mt19937& rng, const Mesh& to)
{
    float size = 0.0f, centre = 0.0f;
    for (const Vector3& v : to.vertices)
        size = std::max(size, std::fabs(v.x));
    centre = to.vertices[0].x;
    std::vector<Vector3> points = onFaces(rng, to, 150, 0.0f);
    for (const Vector3& v : onFaces(rng, to, 150, size * 1e-6f))
        points.push_back(v);
    for (std::size_t i = 0; i < to.vertices.size(); i += 3)
        points.push_back(to.vertices[i]);
    for (const Vector3& v : inCube(rng, 50, centre, size))
        points.push_back(v);
    return points;
}

// The analysis's conclusion for each (query, face): the gap exceeds the
// reference value by at most the allowance, g <= fl(d + A). Fails when the
// allowance is removed: g is d plus a rounding residue of either sign.
TEST(PlaneScanBound, GapIsWithinTheAllowanceOfEveryFace)
{
    std::mt19937 rng(41);
    std::size_t above = 0;
    int which = -1;
    for (const Mesh& to : targets(rng)) {
        ++which;
        ASSERT_TRUE(inPlaneIndexDomain(to)) << "target " << which;
        const PlaneScanTarget target = planeScanTarget(to);
        std::size_t pairs = 0, violations = 0;
        for (const Vector3& v : queriesFor(rng, to)) {
            const float allow = planeScanAllowance(target, v);
            for (std::uint32_t f = 0; f < to.faces.size(); ++f) {
                float d = facePlaneDistance(v, to, f);
                float g = planeScanGap(v, to, f);
                ++pairs;
                above += g > d;
                violations += !(g <= d + allow);
            }
        }
        EXPECT_EQ(violations, 0u) << "target " << which << ", of " << pairs << " pairs";
    }
    // The case is only a test if the filter does round above the value.
    EXPECT_GT(above, 1000u);
}

// Each kernel, on aligned runs of 8 faces (the AVX2 kernel's vector step)
// and on a shorter tail, starting from the float just above the run's
// minimum: the face that holds the minimum must be admitted. Fails when the
// kernel's threshold loses its allowance.
TEST(PlaneScanKernel, AdmitsTheMinimumJustBelowTheBest)
{
    std::mt19937 rng(43);
    for (const Mesh& to : targets(rng)) {
        const PlaneScanTarget target = planeScanTarget(to);
        const std::vector<Vector3> queries = queriesFor(rng, to);
        for (bool portable : kernelChoices()) {
            const PlaneScanKernel& kernel =
                portable ? portablePlaneScanKernel() : *avx2PlaneScanKernel();
            std::size_t wrong = 0;
            for (const Vector3& v : queries) {
                const float allow = planeScanAllowance(target, v);
                for (std::size_t first = 0; first < to.faces.size(); first += 8) {
                    std::size_t last = std::min(to.faces.size(), first + 8);
                    float least = HUGE_VALF;
                    for (std::size_t f = first; f < last; ++f)
                        least = std::min(least, facePlaneDistance(v, to, std::uint32_t(f)));
                    float best = std::nextafter(least, HUGE_VALF);
                    kernel.scan(to, &v, &allow, 1, first, last, &best);
                    wrong += !sameBits(best, least);
                }
            }
            EXPECT_EQ(wrong, 0u) << kernel.name;
        }
    }
}

// Targets of one to seven faces, the small side of a lopsided pair, which
// the AVX2 kernel computes exactly with the queries in its lanes: every
// group size, starting from the far value and from a best that no face
// beats, at every scale of targets(), and a sum that cancels. Fails when that
// path sums in float or in another order, keeps a lane's best from the
// wrong query, or reads a query when there is none.
TEST(PlaneScanKernel, FewFacesGiveTheReferenceBits)
{
    std::mt19937 rng(53);
    for (const Mesh& whole : targets(rng)) {
        const PlaneScanTarget target = planeScanTarget(whole);
        const std::vector<Vector3> queries = queriesFor(rng, whole);
        for (std::size_t faces = 1; faces < 8; faces += 3) {
            Mesh to = whole;
            to.faces.resize(faces);
            for (bool portable : kernelChoices()) {
                const PlaneScanKernel& kernel =
                    portable ? portablePlaneScanKernel() : *avx2PlaneScanKernel();
                std::size_t wrong = 0;
                for (std::size_t at = 0; at < queries.size(); at += kScanGroup) {
                    const int count = int(std::min<std::size_t>(
                        queries.size() - at, 1 + (at / kScanGroup) % kScanGroup));
                    std::vector<float> allow, best(count, kFarDistance), floor(count, 0.0f);
                    for (int q = 0; q < count; ++q)
                        allow.push_back(planeScanAllowance(target, queries[at + q]));
                    kernel.scan(to, &queries[at], allow.data(), count, 0, faces, best.data());
                    kernel.scan(to, &queries[at], allow.data(), count, 0, faces, floor.data());
                    for (int q = 0; q < count; ++q) {
                        wrong += !sameBits(best[q], nearestPlaneDistance(queries[at + q], to));
                        wrong += !sameBits(floor[q], 0.0f);
                    }
                }
                EXPECT_EQ(wrong, 0u) << faces << " faces, " << kernel.name;
                // No queries: nothing is read.
                kernel.scan(to, nullptr, nullptr, 0, 0, faces, nullptr);
            }
        }
    }
    // The sum's order shows where two products cancel: (2^20 - 2^20) + 2^-40
    // keeps the last term, 2^20 + (-2^20 + 2^-40) loses it in double.
    Mesh cancel = makeMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, Triangles{{0, 1, 2}});
    cancel.faces[0].normal = Vector3{1.0f, -1.0f, 0x1p-40f};
    const Vector3 v{0x1p20f, 0x1p20f, 1.0f};
    const float allow = planeScanAllowance(planeScanTarget(cancel), v);
    for (bool portable : kernelChoices()) {
        const PlaneScanKernel& kernel = portable ? portablePlaneScanKernel() : *avx2PlaneScanKernel();
        float best = kFarDistance;
        kernel.scan(cancel, &v, &allow, 1, 0, 1, &best);
        EXPECT_EQ(best, 0x1p-40f) << kernel.name;
    }
}

// The whole scan against the reference: few queries against many faces (the
// faces split over threads) and many queries (the queries split), both
// kernels, 1, 2 and 3 threads.
TEST(PlaneScan, MatchesTheReferenceWhateverTheSplit)
{
    std::mt19937 rng(47);
    const Mesh to = torus(rng, 200, 100, 0, 30, 0.3f);
    ASSERT_GE(to.faces.size(), 40000u);
    const PlaneScanTarget target = planeScanTarget(to);
    for (int count : {5, 130}) {
        const std::vector<Vector3> points =
            concat(onFaces(rng, to, count / 2, 1e-4f), inCube(rng, count - count / 2, 0, 40));
        std::vector<float> expected;
        for (const Vector3& v : points)
            expected.push_back(nearestPlaneDistance(v, to));
        for (int threads : {1, 2, 3})
            withThreads(threads, [&] {
                for (bool portable : kernelChoices()) {
                    const PlaneScanKernel& kernel =
                        portable ? portablePlaneScanKernel() : *avx2PlaneScanKernel();
                    std::vector<float> best;
                    nearestPlaneDistancesScan(points, to, target, best, kernel);
                    ASSERT_EQ(best.size(), expected.size());
                    std::size_t wrong = 0;
                    for (std::size_t i = 0; i < best.size(); ++i)
                        wrong += !sameBits(best[i], expected[i]);
                    EXPECT_EQ(wrong, 0u) << count << " queries, " << threads << " threads, "
                                         << kernel.name;
                }
            });
    }
}

// The bounds the allowance is built from cover the mesh, and anything outside
// the domain is flagged, NaN included.
TEST(PlaneScanTarget, CoversTheMeshAndFlagsTheDomain)
{
    Mesh m = makeMesh({{-3, 1, 0}, {2, -5, 0}, {0, 0, 7}}, Triangles{{0, 1, 2}});
    PlaneScanTarget t = planeScanTarget(m);
    EXPECT_EQ(t.cmax[0], 3.0f);
    EXPECT_EQ(t.cmax[1], 5.0f);
    EXPECT_EQ(t.cmax[2], 7.0f);
    EXPECT_EQ(t.nmax[0], std::fabs(m.faces[0].normal.x));
    EXPECT_TRUE(t.inDomain);
    m.vertices[1].y = NAN;
    EXPECT_FALSE(planeScanTarget(m).inDomain);
    m.vertices[1].y = 0x1p101f;
    EXPECT_FALSE(planeScanTarget(m).inDomain);
}

} // namespace

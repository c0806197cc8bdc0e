// The surface index's bounds checked directly against every triangle beneath
// them: a margin a little too small survives most end-to-end comparisons,
// because the triangle it wrongly skips rarely holds the minimum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "surface/index/kernels.h"
#include "surface/index/surface_cases.h"
#include "surface/index/surface_index.h"
#include "surface/point_triangle.h"

namespace {

using namespace test;
namespace si = surface_index;

// The limits of a query whose best is `best`, as the traversal forms them.
struct Limits {
    float x, y, z;   // the scaled float query
    float limit, reach;
};

Limits limitsFor(const si::SurfaceIndex& index, const Point3d& p, double best)
{
    si::SurfacePacket packet;
    si::setQuery(packet, 0, p, index.scale, index.diameter);
    packet.best[0] = best;
    si::updateLimits(packet, 0, index.scale);
    return {packet.x[0], packet.y[0], packet.z[0], packet.limit[0], packet.reach[0]};
}

// Walks the whole tree for a box of queries and the queries inside it. Each
// node lane's bound must be within the limit of every query at the least
// value beneath the lane (the limits grow with the best, so that is every
// triangle beneath); each leaf must admit every triangle for every query at
// a best equal to that triangle's value.
class BoundChecker {
public:
    BoundChecker(const si::SurfaceIndex& index, const si::SurfaceKernels& kernels)
        : index_(index), kernels_(kernels)
    {
    }

    void check(const std::vector<Point3d>& group)
    {
        group_ = &group;
        box_ = {{HUGE_VALF, HUGE_VALF, HUGE_VALF}, {-HUGE_VALF, -HUGE_VALF, -HUGE_VALF}};
        for (const Point3d& p : group) {
            Limits l = limitsFor(index_, p, HUGE_VAL);
            const float v[3] = {l.x, l.y, l.z};
            for (int i = 0; i < 3; ++i)
                box_.lo[i] = std::min(box_.lo[i], v[i]), box_.hi[i] = std::max(box_.hi[i], v[i]);
        }
        checkNode(0);
    }

    std::size_t checked = 0, violations = 0;
    std::string firstViolation;

private:
    // The least value beneath, per query of the group.
    std::vector<double> checkChild(std::int32_t child)
    {
        return child >= 0 ? checkNode(child) : checkLeaf(index_.leaves[std::size_t(~child)]);
    }

    std::vector<double> checkLeaf(const si::SurfaceLeaf& leaf)
    {
        std::vector<double> least(group_->size(), HUGE_VAL);
        for (std::size_t q = 0; q < group_->size(); ++q) {
            const Point3d& p = (*group_)[q];
            for (int j = 0; j < si::kLanes; ++j) {
                const Vector3* c = leaf.corner[j];
                const double d = pointTriangleDistanceSquared(p, c[0], c[1], c[2]);
                const Limits l = limitsFor(index_, p, d);
                float p2[si::kLanes];
                const unsigned mask = kernels_.leafBounds(leaf, l.x, l.y, l.z, l.limit, l.reach, p2);
                fail(!(mask >> j & 1u), [&] {
                    return "leaf lane " + str(j) + " skipped at its own value " + str(d) +
                           " (prism bound " + str(p2[j]) + ", reach " + str(l.reach) + ")";
                });
                // The leaf's box, for the query in every slot of a packet
                // and in one slot alone.
                si::SurfacePacket packet{};
                for (int s = 0; s < si::kMaxPacket; ++s) {
                    si::setQuery(packet, s, p, index_.scale, index_.diameter);
                    packet.best[s] = d;
                    si::updateLimits(packet, s, index_.scale);
                }
                const int s = j % si::kMaxPacket;
                fail(kernels_.packetBounds(leaf, packet, 0, si::kMaxPacket) !=
                             (2u << (si::kMaxPacket - 1)) - 1u ||
                         kernels_.packetBounds(leaf, packet, s, s + 1) != 1u << s,
                     [&] { return "leaf box skips the query at lane " + str(j) + "'s value " +
                                  str(d); });
                least[q] = std::min(least[q], d);
                ++checked;
            }
        }
        return least;
    }

    std::vector<double> checkNode(std::int32_t id)
    {
        const si::SurfaceNode& node = index_.nodes[std::size_t(id)];
        float lb2[si::kLanes];
        const unsigned all = kernels_.nodeBounds(node, box_, HUGE_VALF, lb2);
        fail(all != (1u << node.count) - 1u, [] { return std::string("mask beyond count"); });
        std::vector<double> least(group_->size(), HUGE_VAL);
        for (int j = 0; j < node.count; ++j) {
            const std::vector<double> beneath = checkChild(node.child[j]);
            for (std::size_t q = 0; q < group_->size(); ++q) {
                const Limits l = limitsFor(index_, (*group_)[q], beneath[q]);
                fail(!(lb2[j] <= l.limit), [&] {
                    return "node " + str(id) + " lane " + str(j) + " bound " + str(lb2[j]) +
                           " above the limit " + str(l.limit) + " at the least value beneath, " +
                           str(beneath[q]);
                });
                // The mask holds exactly the lanes within the limit.
                float again[si::kLanes];
                const unsigned at = kernels_.nodeBounds(node, box_, lb2[j], again);
                const unsigned below =
                    kernels_.nodeBounds(node, box_, std::nextafter(lb2[j], -HUGE_VALF), again);
                fail(!(at >> j & 1u) || (below >> j & 1u),
                     [&] { return "node mask disagrees with its bound at lane " + str(j); });
                least[q] = std::min(least[q], beneath[q]);
            }
        }
        return least;
    }

    template <class T>
    static std::string str(T value)
    {
        std::ostringstream out;
        out.precision(17);
        out << value;
        return out.str();
    }

    // Counts failures and keeps the first message: one broken bound fails
    // thousands of checks.
    template <class Message>
    void fail(bool failed, Message message)
    {
        if (failed && violations++ == 0)
            firstViolation = message();
    }

    const si::SurfaceIndex& index_;
    const si::SurfaceKernels& kernels_;
    QueryBox box_{};
    const std::vector<Point3d>* group_ = nullptr;
};

std::vector<const si::SurfaceKernels*> kernelSets()
{
    std::vector<const si::SurfaceKernels*> sets{&si::portableSurfaceKernels()};
    if (si::avx2SurfaceKernels())
        sets.push_back(si::avx2SurfaceKernels());
    return sets;
}

class SurfaceBounds : public ::testing::TestWithParam<SurfaceCase> {};

// Each query alone (a box of one point, where the bounds are tightest), and
// in groups of three close ones.
TEST_P(SurfaceBounds, HoldForEveryTriangleBeneath)
{
    std::mt19937 rng(7);
    SurfacePair pair = GetParam().make(rng);
    // Keep the walk short: a few hundred queries over the whole tree.
    std::vector<Point3d> queries;
    for (std::size_t i = 0; i < pair.queries.size(); i += 1 + pair.queries.size() / 160)
        queries.push_back(pair.queries[i]);
    const si::SurfaceIndex index = si::buildSurfaceIndex(pair.target);
    for (const si::SurfaceKernels* kernels : kernelSets()) {
        BoundChecker checker(index, *kernels);
        for (std::size_t i = 0; i < queries.size(); ++i) {
            checker.check({queries[i]});
            if (i % 8 == 0 && i + 2 < queries.size()) {
                const Point3d& p = queries[i];
                const double d = 1e-3 * index.diameter / index.scale;
                checker.check({p, {p.x + d, p.y, p.z - d}, {p.x, p.y - d, p.z + 0.5 * d}});
            }
        }
        EXPECT_GT(checker.checked, 0u);
        EXPECT_EQ(checker.violations, 0u) << kernels->name << ": " << checker.firstViolation;
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, SurfaceBounds, ::testing::ValuesIn(surfaceCases()),
                         [](const auto& p) { return p.param.name; });

// The two kernel sets compute the same bits, not only valid bounds.
TEST(SurfaceKernels, Avx2MatchesPortableBitForBit)
{
    const si::SurfaceKernels* avx2 = si::avx2SurfaceKernels();
    if (!avx2)
        GTEST_SKIP() << "this CPU has no AVX2";
    const si::SurfaceKernels& portable = si::portableSurfaceKernels();
    std::mt19937 rng(3);
    const Mesh to = withDegenerateFaces(soup(rng, 3000, 0, 50), 7);
    const si::SurfaceIndex index = si::buildSurfaceIndex(to);
    std::uniform_real_distribution<float> d(-1500, 1500), l(0, 4e4f);
    for (int trial = 0; trial < 500; ++trial) {
        const si::SurfaceNode& node = index.nodes[rng() % index.nodes.size()];
        const si::SurfaceLeaf& leaf = index.leaves[rng() % index.leaves.size()];
        const float x = d(rng), y = d(rng), z = d(rng), limit = l(rng);
        const float reach = std::sqrt(l(rng));
        QueryBox box{{x, y, z}, {x + 10, y + 20, z}};
        float a[si::kLanes], b[si::kLanes];
        EXPECT_EQ(portable.nodeBounds(node, box, limit, a), avx2->nodeBounds(node, box, limit, b));
        for (int j = 0; j < node.count; ++j)
            EXPECT_EQ(std::memcmp(&a[j], &b[j], sizeof(float)), 0) << trial;
        std::fill(a, a + si::kLanes, -1.0f), std::fill(b, b + si::kLanes, -1.0f);
        EXPECT_EQ(portable.leafBounds(leaf, x, y, z, limit, reach, a),
                  avx2->leafBounds(leaf, x, y, z, limit, reach, b));
        EXPECT_EQ(std::memcmp(a, b, sizeof a), 0) << trial;
        si::SurfacePacket packet{};
        for (int q = 0; q < si::kMaxPacket; ++q) {
            packet.x[q] = x + d(rng) * 0.01f, packet.y[q] = y, packet.z[q] = z - d(rng) * 0.01f;
            packet.limit[q] = l(rng);
        }
        const int first = int(rng() % si::kMaxPacket);
        const int last = first + 1 + int(rng() % unsigned(si::kMaxPacket - first));
        EXPECT_EQ(portable.packetBounds(leaf, packet, first, last),
                  avx2->packetBounds(leaf, packet, first, last))
            << trial;
    }
}

// The build splits and fills in parallel; the index must not depend on how
// many threads did it, nor on whether it ran inside a parallel region beside
// other tasks (as the Hausdorff bound builds it) or in one of its own. Large
// enough for the splits to become tasks.
TEST(SurfaceIndexBuild, SameBytesAtAnyThreadCount)
{
    std::mt19937 rng(19);
    const Mesh to = torus(rng, 240, 120, 0, 30, 0.2f);
    ASSERT_GT(to.faces.size(), 50000u);
    si::SurfaceIndex one;
    withThreads(1, [&] { one = si::buildSurfaceIndex(to); });
    auto expectSame = [&](const si::SurfaceIndex& many, const char* how, int threads) {
        ASSERT_EQ(one.nodes.size(), many.nodes.size()) << how << threads;
        ASSERT_EQ(one.leaves.size(), many.leaves.size()) << how << threads;
        EXPECT_EQ(std::memcmp(one.nodes.data(), many.nodes.data(),
                              one.nodes.size() * sizeof(si::SurfaceNode)), 0) << how << threads;
        EXPECT_EQ(std::memcmp(one.leaves.data(), many.leaves.data(),
                              one.leaves.size() * sizeof(si::SurfaceLeaf)), 0) << how << threads;
        EXPECT_EQ(one.faces, many.faces) << how << threads;
    };
    for (int threads : {2, 3}) {
        si::SurfaceIndex alone, beside;
        withThreads(threads, [&] {
            alone = si::buildSurfaceIndex(to);
            std::vector<std::uint32_t> busy(1 << 20);
#pragma omp parallel
#pragma omp single
            {
#pragma omp task shared(busy)
                for (std::size_t i = 0; i < busy.size(); ++i)
                    busy[i] = std::uint32_t(i * i);
                beside = si::buildSurfaceIndex(to);
            }
        });
        expectSame(alone, "alone, threads: ", threads);
        expectSame(beside, "beside a task, threads: ", threads);
    }
}

// The AVX2 prism fill must write the portable one's bits: the index, and so
// every candidate set, is then the same on any CPU. Every case of the
// searches, degenerate and far-off triangles among them, and slivers.
TEST(SurfaceIndexBuild, SameBytesWithEitherKernelSet)
{
    const si::SurfaceKernels* avx2 = si::avx2SurfaceKernels();
    if (!avx2)
        GTEST_SKIP() << "no AVX2 on this CPU";
    std::mt19937 rng(23);
    std::vector<Mesh> meshes;
    for (const SurfaceCase& c : surfaceCases())
        meshes.push_back(c.make(rng).target);
    meshes.push_back(withDegenerateFaces(soup(rng, 900, 0, 10), 2));
    Mesh slivers = soup(rng, 300, 0, 10);
    for (Vector3& v : slivers.vertices)
        v.z = v.z * 1e-7f;
    meshes.push_back(slivers);
    for (const Mesh& to : meshes) {
        const si::SurfaceIndex portable = si::buildSurfaceIndex(to, si::portableSurfaceKernels());
        const si::SurfaceIndex vector = si::buildSurfaceIndex(to, *avx2);
        ASSERT_EQ(portable.leaves.size(), vector.leaves.size());
        EXPECT_EQ(std::memcmp(portable.leaves.data(), vector.leaves.data(),
                              portable.leaves.size() * sizeof(si::SurfaceLeaf)), 0)
            << to.faces.size() << " faces";
    }
}

// Every leaf's prisms hold their triangles, checked in long double against
// the stored floats: olo <= n . (x - c) <= ohi and m_e . (x - c) <= om_e at
// each scaled corner x. The query-side allowances of the search are wide
// enough to hide a prism rounded inwards by an ulp, so only this sees it.
// (The enclosure's own 2^-50 margin matters only where the three products
// cancel to far below the float rounding of the direction, which no mesh
// here produces.)
TEST(SurfaceIndexBuild, PrismsHoldTheirTrianglesExactly)
{
    if (std::numeric_limits<long double>::digits < 64)
        GTEST_SKIP() << "long double too narrow to check float prisms exactly";
    std::mt19937 rng(37);
    std::vector<Mesh> meshes;
    for (const SurfaceCase& c : surfaceCases())
        meshes.push_back(c.make(rng).target);
    for (float factor : {1e30f, 1e-30f})
        meshes.push_back(scaled(soup(rng, 400, 0, 1), factor));
    std::size_t checked = 0;
    for (const Mesh& to : meshes) {
        const si::SurfaceIndex index = si::buildSurfaceIndex(to);
        const long double s = index.scale;
        for (const si::SurfaceLeaf& leaf : index.leaves) {
            const long double c[3] = {si::leafCentre(leaf, 0), si::leafCentre(leaf, 1),
                                      si::leafCentre(leaf, 2)};
            for (int j = 0; j < si::kLanes; ++j) {
                if (leaf.nx[j] == 0.0f && leaf.ny[j] == 0.0f && leaf.nz[j] == 0.0f)
                    continue;  // no prism
                for (const Vector3& v : leaf.corner[j]) {
                    // The differences are exact; the products and sums err
                    // by about 2^-63 relative, far inside any float rounding.
                    const long double d[3] = {v.x * s - c[0], v.y * s - c[1], v.z * s - c[2]};
                    auto along = [&](float wx, float wy, float wz) {
                        return d[0] * wx + d[1] * wy + d[2] * wz;
                    };
                    const long double t = along(leaf.nx[j], leaf.ny[j], leaf.nz[j]);
                    ASSERT_TRUE(leaf.olo[j] <= t && t <= leaf.ohi[j])
                        << to.faces.size() << " faces, lane " << j;
                    for (int e = 0; e < 3; ++e)
                        ASSERT_LE(along(leaf.mx[e][j], leaf.my[e][j], leaf.mz[e][j]),
                                  (long double)leaf.om[e][j])
                            << to.faces.size() << " faces, lane " << j << ", edge " << e;
                    ++checked;
                }
            }
        }
    }
    EXPECT_GT(checked, 10000u);
}

// The scale puts the largest coordinate in [2^10, 2^11) at any magnitude,
// subnormal included, and every leaf box holds its scaled corners, also when
// the scale pushes the smallest corners below the float range (a mesh
// spanning 1e38 to 1e-30, factor 0), where only outward rounding keeps them.
TEST(SurfaceIndexBuild, ScaleAndBoxesAtEveryMagnitude)
{
    std::mt19937 rng(31);
    for (float factor : {1.0f, 1e30f, 1e-30f, 0x1p-140f, 3e7f, 0.0f}) {
        Mesh to = scaled(soup(rng, 100, 0, 1), factor == 0.0f ? 1e-30f : factor);
        if (factor == 0.0f)
            to.vertices[0] = {3e38f, -2e38f, 1e38f};
        const si::SurfaceIndex index = si::buildSurfaceIndex(to);
        float largest = 0;
        for (const Vector3& v : to.vertices)
            largest = std::max({largest, std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
        const double m = largest * index.scale;
        EXPECT_TRUE(m >= 0x1p10 && m < 0x1p11) << factor << ": " << m;
        for (const si::SurfaceLeaf& leaf : index.leaves)
            for (int j = 0; j < si::kLanes; ++j)
                for (const Vector3& c : leaf.corner[j]) {
                    const double x = c.x * index.scale, y = c.y * index.scale, z = c.z * index.scale;
                    EXPECT_TRUE(leaf.lox[j] <= x && x <= leaf.hix[j] && leaf.loy[j] <= y &&
                                y <= leaf.hiy[j] && leaf.loz[j] <= z && z <= leaf.hiz[j])
                        << factor;
                }
    }
    Mesh bad = soup(rng, 100, 0, 1);
    EXPECT_TRUE(si::indexableMesh(bad));
    bad.vertices[7].z = std::nanf("");
    EXPECT_FALSE(si::indexableMesh(bad));
    EXPECT_FALSE(si::indexableMesh(soup(rng, 8, 0, 1)));  // a single leaf's worth
}

} // namespace

// The plane index's bounds checked directly against every face beneath them:
// an allowance a little too small can survive every end-to-end comparison,
// because the face it wrongly skips rarely holds the minimum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "qem/index/kernels.h"
#include "qem/index/plane_index.h"
#include "qem/plane_cases.h"
#include "qem/plane_distance.h"

namespace {

using namespace test;


// Walks the tree below `node` for the query box `box` and the queries
// `points` inside it, checking each bound against each face beneath it.
class BoundChecker {
public:
    BoundChecker(const PlaneIndex& index, const Mesh& mesh, const PlaneKernels& kernels)
        : index_(index), mesh_(mesh), kernels_(kernels)
    {
    }

    void check(const QueryBox& box, const std::vector<Vector3>& points)
    {
        box_ = box;
        points_ = &points;
        checkNode(0);
    }

    std::size_t checked = 0;

private:
    // The face values of every query against every face beneath `child`,
    // minimum returned; leaf gaps checked on the way.
    float checkChild(std::int32_t child, float allow)
    {
        if (child >= 0)
            return checkNode(child);
        const PlaneLeaf& leaf = index_.leaves[std::size_t(~child)];
        float boxGap[kLanes];
        kernels_.leafBoxGaps(leaf, box_, boxGap);
        float least = HUGE_VALF;
        for (const Vector3& v : *points_) {
            float gap[kLanes];
            float q[3] = {v.x, v.y, v.z};
            kernels_.leafGaps(leaf, q, gap);
            expectMaskContract(gap, kLanes, [&](float threshold) {
                return kernels_.leafMask(leaf, v.x - leaf.px, v.y - leaf.py, v.z - leaf.pz,
                                         threshold);
            });
            for (int j = 0; j < kLanes; ++j) {
                // The filter at best = value must admit the face.
                float value = facePlaneDistance(v, mesh_, leaf.face[j]);
                float threshold = leafThreshold(value, allow);
                violation(!(gap[j] <= threshold), [&] {
                    return "leaf gap " + str(gap[j]) + " of face " +
                           std::to_string(leaf.face[j]) + " above its value " + str(value) +
                           " + allowance " + str(allow);
                });
                // So must the packet filter, for every query in the box.
                violation(!(boxGap[j] <= threshold), [&] {
                    return "packet gap " + str(boxGap[j]) + " of face " +
                           std::to_string(leaf.face[j]) + " above its value " + str(value) +
                           " + allowance " + str(allow);
                });
                violation(!(kernels_.leafBoxMask(leaf, box_, value, allow) >> j & 1u), [&] {
                    return "packet mask leaves out face " + std::to_string(leaf.face[j]) +
                           " at best = its value " + str(value);
                });
                least = std::min(least, value);
                ++checked;
            }
        }
        return least;
    }

    float checkNode(std::int32_t id)
    {
        const PlaneNode& node = index_.nodes[std::size_t(id)];
        float lb[kLanes], allow[kLanes];
        kernels_.nodeBounds(node, box_, 0.0f, lb, allow);
        expectMaskContract(lb, node.count, [&](float limit) {
            float l2[kLanes], a2[kLanes];
            return kernels_.nodeBounds(node, box_, limit, l2, a2);
        });
        float least = HUGE_VALF;
        for (int j = 0; j < node.count; ++j) {
            float value = checkChild(node.child[j], allow[j]);
            violation(!(lb[j] <= value), [&] {
                return "node " + std::to_string(id) + " lane " + std::to_string(j) + " bound " +
                       str(lb[j]) + " above the least value beneath, " + str(value);
            });
            least = std::min(least, value);
        }
        return least;
    }

    // mask(limit) holds exactly the lanes below `count` whose bound is <= limit:
    // a lane whose bound ties the limit is entered.
    template <class MaskAt>
    void expectMaskContract(const float* lb, int count, MaskAt maskAt)
    {
        for (int j = 0; j < count; ++j) {
            unsigned at = maskAt(lb[j]);
            unsigned below = maskAt(std::nextafter(lb[j], -HUGE_VALF));
            violation(at >> count != 0, [] { return std::string("mask has lanes past the count"); });
            violation(!(at >> j & 1u), [&] { return "lane " + str(j) + " skipped at a tie"; });
            violation(below >> j & 1u,
                      [&] { return "lane " + str(j) + " entered above its limit"; });
        }
    }

    template <class T>
    static std::string str(T value)
    {
        std::ostringstream out;
        out.precision(9);
        out << value;
        return out.str();
    }

    // Counts failures and keeps the first message: one broken bound fails
    // millions of checks.
    template <class Message>
    void violation(bool failed, Message message)
    {
        if (failed && violations++ == 0)
            firstViolation = message();
    }

public:
    std::size_t violations = 0;
    std::string firstViolation;

private:

    const PlaneIndex& index_;
    const Mesh& mesh_;
    const PlaneKernels& kernels_;
    QueryBox box_{};
    const std::vector<Vector3>* points_ = nullptr;
};

// Boxes around queries on and near the faces (where values are rounding
// noise) and random ones, each with its corners and some inner points.
void checkBounds(const Mesh& to, const PlaneKernels& kernels, std::mt19937& rng, float scale)
{
    const PlaneIndex index = buildPlaneIndex(to);
    BoundChecker checker(index, to, kernels);
    std::vector<Vector3> centres = onFaces(rng, to, 12, scale * 1e-6f);
    for (const Vector3& c : inCube(rng, 4, 0, scale))
        centres.push_back(c);
    // Leaf centres, where |v - p| and the offsets vanish and only the radius
    // term of the allowance covers the rounding, moved off the faces' plane by
    // a few units of rounding.
    for (std::size_t l = 0; l < index.leaves.size(); l += 1 + index.leaves.size() / 24) {
        const PlaneLeaf& leaf = index.leaves[l];
        for (float k : {-3.0f, 0.0f, 2.0f})
            centres.push_back({leaf.px + k * 0x1p-24f * scale * leaf.nx[0],
                               leaf.py + k * 0x1p-24f * scale * leaf.ny[0],
                               leaf.pz + k * 0x1p-24f * scale * leaf.nz[0]});
    }
    for (float off : {0x1p-26f, 0x1p-22f, 0x1p-18f})
        for (const Vector3& c : onFaces(rng, to, 6, scale * off))
            centres.push_back(c);
    for (const Vector3& c : centres)
        for (float extent : {0.0f, scale * 1e-5f, scale * 0.02f}) {
            QueryBox box{{c.x, c.y, c.z}, {c.x + extent, c.y + extent * 0.5f, c.z + extent}};
            std::vector<Vector3> points{{box.lo[0], box.lo[1], box.lo[2]},
                                        {box.hi[0], box.hi[1], box.hi[2]},
                                        {box.lo[0], box.hi[1], box.lo[2]}};
            for (int i = 0; i < 3; ++i)
                points.push_back({uniform(rng, box.lo[0], box.hi[0]),
                                  uniform(rng, box.lo[1], box.hi[1]),
                                  uniform(rng, box.lo[2], box.hi[2])});
            checker.check(box, points);
        }
    EXPECT_GT(checker.checked, 0u);
    EXPECT_EQ(checker.violations, 0u) << checker.firstViolation;

}

class SearchBounds : public ::testing::TestWithParam<std::tuple<Case, bool>> {};

TEST_P(SearchBounds, HoldForEveryFaceBeneath)
{
    const auto& [c, portable] = GetParam();
    const PlaneKernels* kernels = portable ? &portablePlaneKernels() : avx2PlaneKernels();
    if (!kernels)
        GTEST_SKIP() << "this CPU has no AVX2";
    std::mt19937 rng(7);
    Pair pair = c.make(rng);
    ASSERT_TRUE(indexApplies(pair.from, pair.to));
    float scale = 0;
    for (const Vector3& v : pair.to.vertices)
        scale = std::max({scale, std::fabs(v.x), std::fabs(v.y), std::fabs(v.z)});
    checkBounds(pair.to, *kernels, rng, scale);
}

// The two kernel sets compute the same bits, not only valid bounds.
TEST(PlaneKernels, Avx2MatchesPortableBitForBit)
{
    const PlaneKernels* avx2 = avx2PlaneKernels();
    if (!avx2)
        GTEST_SKIP() << "this CPU has no AVX2";
    const PlaneKernels& portable = portablePlaneKernels();
    std::mt19937 rng(3);
    Mesh to = soup(rng, 3000, 0, 50);
    const PlaneIndex index = buildPlaneIndex(to);
    for (int trial = 0; trial < 200; ++trial) {
        const PlaneNode& node = index.nodes[rng() % index.nodes.size()];
        const PlaneLeaf& leaf = index.leaves[rng() % index.leaves.size()];
        Vector3 c = randomPoint(rng, 0, 60);
        QueryBox box{{c.x, c.y, c.z}, {c.x + 1, c.y + 2, c.z}};
        float lb1[kLanes], lb2[kLanes], a1[kLanes], a2[kLanes];
        float limit = uniform(rng, 0, 5);
        EXPECT_EQ(portable.nodeBounds(node, box, limit, lb1, a1),
                  avx2->nodeBounds(node, box, limit, lb2, a2));
        for (int j = 0; j < node.count; ++j)
            EXPECT_TRUE(sameBits(lb1[j], lb2[j]) && sameBits(a1[j], a2[j]));
        float q[3] = {c.x, c.y, c.z};
        portable.leafGaps(leaf, q, lb1);
        avx2->leafGaps(leaf, q, lb2);
        for (int j = 0; j < kLanes; ++j)
            EXPECT_TRUE(sameBits(lb1[j], lb2[j]));
        portable.leafBoxGaps(leaf, box, lb1);
        avx2->leafBoxGaps(leaf, box, lb2);
        for (int j = 0; j < kLanes; ++j)
            EXPECT_TRUE(sameBits(lb1[j], lb2[j]));
    }
}

// leafAny is the traversal's shortcut for "some query has a lane of `faces`
// in leafMask": every kernel set (AVX-512 has its own leafAny), with
// thresholds just at, below and above the smallest gap of each query, and
// random sets of faces.
TEST(PlaneKernels, LeafAnyAgreesWithLeafMask)
{
    std::mt19937 rng(23);
    Mesh to = soup(rng, 2000, 0, 50);
    const PlaneIndex index = buildPlaneIndex(to);
    const std::vector<const PlaneKernels*> sets = indexKernelSets();
    int admitted = 0, trials = 0;
    for (int trial = 0; trial < 600; ++trial) {
        const PlaneLeaf& leaf = index.leaves[rng() % index.leaves.size()];
        const float allow = uniform(rng, 0, 2);
        PlanePacket packet;
        const int drawn = 1 + int(rng() % kMaxPacket);
        float bests[kMaxPacket];
        const int nudge = int(rng() % 3) - 1;
        const unsigned draw = unsigned(rng() % 256);
        for (int q = 0; q < kMaxPacket; ++q) {
            packet.x[q] = leaf.px + uniform(rng, -3, 3);
            packet.y[q] = leaf.py + uniform(rng, -3, 3);
            packet.z[q] = leaf.pz + uniform(rng, -3, 3);
            float v[3] = {packet.x[q], packet.y[q], packet.z[q]}, gap[kLanes];
            portablePlaneKernels().leafGaps(leaf, v, gap);
            float least = *std::min_element(gap, gap + kLanes);
            // The bests on either side of the one whose threshold reaches the
            // least gap.
            float below = least - allow - 4, above = least - allow + 4;
            while (std::nextafter(below, HUGE_VALF) < above) {
                float mid = below + (above - below) * 0.5f;
                mid = mid > below && mid < above ? mid : std::nextafter(below, HUGE_VALF);
                (leafThreshold(mid, allow) < least ? below : above) = mid;
            }
            bests[q] = nudge < 0 ? below : nudge > 0 ? std::nextafter(above, HUGE_VALF) : above;
        }
        for (const PlaneKernels* kernels : sets) {
            // A packet holds at most the set's packet size; the slots past
            // its count are -inf, as the traversal marks them.
            packet.count = std::min(drawn, kernels->packetSize);
            for (int q = 0; q < kMaxPacket; ++q)
                packet.best[q] = q < packet.count ? bests[q] : -HUGE_VALF;
            // The lanes some query admits; the faces given are all of them
            // (as most visits that reach leafAny), or only lanes no query
            // admits, or those and a random part of the others.
            unsigned admits = 0;
            for (int q = 0; q < packet.count; ++q)
                admits |= kernels->leafMask(leaf, packet.x[q] - leaf.px, packet.y[q] - leaf.py,
                                            packet.z[q] - leaf.pz,
                                            leafThreshold(packet.best[q], allow));
            const unsigned faces = trial % 3 == 0   ? 0xffu
                                   : trial % 3 == 1 ? ~admits & 0xffu
                                                    : (~admits | draw) & 0xffu;
            const bool expected = (admits & faces) != 0;
            EXPECT_EQ(kernels->leafAny(leaf, packet, allow, faces), expected)
                << kernels->name << " trial " << trial;
            admitted += expected;
            ++trials;
        }
    }
    // Both outcomes occur.
    EXPECT_GT(admitted, trials / 10);
    EXPECT_LT(admitted, trials - trials / 10);
}

// The build splits and fills in parallel; the index must not depend on how
// many threads did it. Large enough for the splits to become tasks.
TEST(SearchIndexBuild, SameBytesAtAnyThreadCount)
{
    std::mt19937 rng(19);
    const Mesh to = torus(rng, 240, 120, 0, 30, 0.2f);
    ASSERT_GT(to.faces.size(), 50000u);
    PlaneIndex one;
    withThreads(1, [&] { one = buildPlaneIndex(to); });
    for (int threads : {2, 3}) {
        PlaneIndex many;
        withThreads(threads, [&] { many = buildPlaneIndex(to); });
        ASSERT_EQ(one.nodes.size(), many.nodes.size());
        ASSERT_EQ(one.leaves.size(), many.leaves.size());
        EXPECT_EQ(std::memcmp(one.nodes.data(), many.nodes.data(),
                              one.nodes.size() * sizeof(PlaneNode)), 0) << threads;
        EXPECT_EQ(std::memcmp(one.leaves.data(), many.leaves.data(),
                              one.leaves.size() * sizeof(PlaneLeaf)), 0) << threads;
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, SearchBounds,
                         ::testing::Combine(::testing::ValuesIn(cases()),
                                            ::testing::Bool()),
                         [](const auto& p) {
                             return std::get<0>(p.param).name +
                                    (std::get<1>(p.param) ? "Portable" : "Avx2");
                         });


} // namespace

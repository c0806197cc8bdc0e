// The accelerated search against the exhaustive loop, bit for bit, and its
// bounds checked directly against every face beneath them: an allowance a
// little too small can survive every end-to-end comparison, because the face
// it wrongly skips rarely holds the minimum.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ply/ply_mesh.h"
#include "qem/comparison.h"
#include "qem/index/kernels.h"
#include "qem/index/plane_index.h"
#include "qem/normalize.h"
#include "qem/plane_distance.h"
#include "qem/plane_search.h"

namespace {

using Triangles = std::vector<std::array<std::uint32_t, 3>>;

Mesh makeMesh(std::vector<Vector3> vertices, const Triangles& triangles)
{
    Mesh mesh;
    mesh.vertices = std::move(vertices);
    for (const auto& t : triangles)
        mesh.faces.push_back({t, faceNormal(mesh.vertices[t[0]], mesh.vertices[t[1]],
                                            mesh.vertices[t[2]])});
    return mesh;
}

Mesh pointsOnly(std::vector<Vector3> points)
{
    Mesh mesh;
    mesh.vertices = std::move(points);
    return mesh;
}

float uniform(std::mt19937& rng, float lo, float hi)
{
    return std::uniform_real_distribution<float>(lo, hi)(rng);
}

Vector3 randomPoint(std::mt19937& rng, float centre, float size)
{
    return {centre + uniform(rng, -size, size), centre + uniform(rng, -size, size),
            centre + uniform(rng, -size, size)};
}

// Small independent triangles scattered through a cube.
Mesh soup(std::mt19937& rng, int faces, float centre, float size)
{
    std::vector<Vector3> v;
    Triangles t;
    for (int f = 0; f < faces; ++f) {
        Vector3 c = randomPoint(rng, centre, size);
        for (int k = 0; k < 3; ++k)
            v.push_back({c.x + uniform(rng, -size, size) * 0.1f,
                         c.y + uniform(rng, -size, size) * 0.1f,
                         c.z + uniform(rng, -size, size) * 0.1f});
        t.push_back({std::uint32_t(3 * f), std::uint32_t(3 * f + 1), std::uint32_t(3 * f + 2)});
    }
    return makeMesh(v, t);
}

// A closed torus, optionally with jittered vertices.
Mesh torus(std::mt19937& rng, int major, int minor, float centre, float radius, float jitter)
{
    std::vector<Vector3> v;
    Triangles t;
    for (int i = 0; i < major; ++i)
        for (int j = 0; j < minor; ++j) {
            double a = 2 * M_PI * i / major, b = 2 * M_PI * j / minor;
            double r = radius * (1 + 0.4 * std::cos(b));
            v.push_back({centre + float(r * std::cos(a)) + uniform(rng, -jitter, jitter),
                         centre + float(r * std::sin(a)) + uniform(rng, -jitter, jitter),
                         centre + float(0.4 * radius * std::sin(b))});
            auto at = [&](int ii, int jj) {
                return std::uint32_t((ii % major) * minor + jj % minor);
            };
            t.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
            t.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
        }
    return makeMesh(v, t);
}

// Triangles lying exactly in a few planes z = k/2 (and, every third one,
// x = k/2), so that many faces share a plane and an axis-aligned normal.
Mesh parallelPlanes(std::mt19937& rng, int faces, bool withVertical = true)
{
    std::vector<Vector3> v;
    Triangles t;
    for (int f = 0; f < faces; ++f) {
        float level = float(int(uniform(rng, 0, 8))) * 0.5f;
        bool vertical = withVertical && f % 3 == 0;
        for (int k = 0; k < 3; ++k) {
            float a = uniform(rng, -10, 10), b = uniform(rng, -10, 10);
            v.push_back(vertical ? Vector3{level, a, b} : Vector3{a, b, level});
        }
        t.push_back({std::uint32_t(3 * f), std::uint32_t(3 * f + 1), std::uint32_t(3 * f + 2)});
    }
    return makeMesh(v, t);
}

// Points on the faces of `mesh` (inside and on the corners) and near them:
// the values there are rounding noise, where a thin allowance shows.
std::vector<Vector3> onFaces(std::mt19937& rng, const Mesh& mesh, int count, float off)
{
    std::vector<Vector3> points;
    for (int i = 0; i < count; ++i) {
        const Face& f = mesh.faces[std::size_t(rng() % mesh.faces.size())];
        float a = uniform(rng, 0, 1), b = uniform(rng, 0, 1 - a);
        const Vector3 &c0 = mesh.corner(f, 0), &c1 = mesh.corner(f, 1), &c2 = mesh.corner(f, 2);
        Vector3 p = i % 5 == 0 ? c0
                               : Vector3{c0.x + a * (c1.x - c0.x) + b * (c2.x - c0.x),
                                         c0.y + a * (c1.y - c0.y) + b * (c2.y - c0.y),
                                         c0.z + a * (c1.z - c0.z) + b * (c2.z - c0.z)};
        float s = uniform(rng, -off, off);
        points.push_back({p.x + s * f.normal.x, p.y + s * f.normal.y, p.z + s * f.normal.z});
    }
    return points;
}

std::vector<Vector3> inCube(std::mt19937& rng, int count, float centre, float size)
{
    std::vector<Vector3> points;
    for (int i = 0; i < count; ++i)
        points.push_back(randomPoint(rng, centre, size));
    return points;
}

std::vector<Vector3> concat(std::vector<Vector3> a, const std::vector<Vector3>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Pair {
    Mesh from, to;
};

struct Case {
    std::string name;
    std::function<Pair(std::mt19937&)> make;
};

// The inputs, each at a scale where the rounding is relative (centred meshes),
// absolute-dominated (a small mesh far from the origin) or extreme.
std::vector<Case> cases()
{
    auto soupCase = [](float centre, float size) {
        return [=](std::mt19937& rng) {
            Mesh to = soup(rng, 1500, centre, size);
            return Pair{pointsOnly(concat(inCube(rng, 700, centre, 1.5f * size),
                                          onFaces(rng, to, 700, size * 1e-3f))),
                        to};
        };
    };
    return {
        {"soup", soupCase(0, 60)},
        {"soupFarFromOrigin", soupCase(3000, 1)},
        {"soupTiny", soupCase(0, 1e-20f)},
        // As large as faceNormal allows: its float squares overflow beyond.
        {"soupHuge", soupCase(0, 1e8f)},
        {"soupHugeFarFromOrigin", soupCase(1e12f, 1e6f)},
        // Nodes with fewer than 8 children (the index is used from 9 faces).
        {"fewFaces",
         [=](std::mt19937& rng) {
             Mesh to = soup(rng, 45, 0, 20);
             return Pair{pointsOnly(concat(inCube(rng, 300, 0, 30), onFaces(rng, to, 300, 1e-4f))),
                         to};
         }},
        {"soupSubnormal",
         [=](std::mt19937& rng) {
             // Scaled after the normals were computed: coordinates near and
             // below FLT_MIN, where roundings are absolute, not relative.
             Pair pair = soupCase(0, 60)(rng);
             for (Mesh* m : {&pair.from, &pair.to})
                 for (Vector3& v : m->vertices)
                     v = {v.x * 0x1p-140f, v.y * 0x1p-140f, v.z * 0x1p-140f};
             return pair;
         }},
        {"torusPair",
         [](std::mt19937& rng) {
             return Pair{torus(rng, 40, 24, 0.5f, 30, 0.3f), torus(rng, 60, 30, 0, 30, 0.2f)};
         }},
        {"torusFarFromOrigin",
         [](std::mt19937& rng) {
             Mesh to = torus(rng, 50, 20, 500, 2, 0.01f);
             return Pair{pointsOnly(onFaces(rng, to, 1500, 1e-4f)), to};
         }},
        {"identical",
         [](std::mt19937& rng) {
             Mesh to = torus(rng, 50, 24, 0, 40, 0.5f);
             return Pair{to, to};
         }},
        {"parallelPlanes",
         [](std::mt19937& rng) {
             Mesh to = parallelPlanes(rng, 1500);
             return Pair{pointsOnly(concat(inCube(rng, 800, 0, 12), onFaces(rng, to, 800, 0.3f))),
                         to};
         }},
        {"fartherThan1000",
         [](std::mt19937& rng) {
             // Planes within a few degrees of z = const near the origin, and
             // queries thousands above and below: many keep kFarDistance.
             Mesh to = parallelPlanes(rng, 900, false);
             for (Vector3& v : to.vertices)
                 v.z += 0.02f * v.x - 0.01f * v.y;
             to = makeMesh(to.vertices, [&] {
                 Triangles t;
                 for (const Face& f : to.faces)
                     t.push_back(f.vertices);
                 return t;
             }());
             std::vector<Vector3> q;
             for (int i = 0; i < 600; ++i)
                 q.push_back({uniform(rng, -5, 5), uniform(rng, -5, 5),
                              (i % 2 ? 1 : -1) * uniform(rng, 900, 3000)});
             return Pair{pointsOnly(q), to};
         }},
    };
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

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

// Runs `body` with `threads` OpenMP threads, then restores the count.
template <class F>
void withThreads(int threads, F body)
{
    int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    body();
    omp_set_num_threads(saved);
}

std::vector<bool> kernelChoices()
{
    std::vector<bool> portable{true};
    if (avx2PlaneKernels())
        portable.push_back(false);
    return portable;
}

bool indexApplies(const Mesh& from, const Mesh& to)
{
    return to.faces.size() > std::size_t(kLanes) && inPlaneIndexDomain(to) &&
           inPlaneIndexDomain(from.vertices);
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
            const PlaneIndex index = buildPlaneIndex(to);
            for (bool portable : kernelChoices()) {
                nearestPlaneDistancesIndexed(index, to, from.vertices, best,
                                             portable ? portablePlaneKernels() : *avx2PlaneKernels());
                expectBits(expected, best, at + (portable ? ", portable" : ", avx2"));
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
    }
}

// leafAny is the traversal's shortcut for "some query has a lane in
// leafMask": both kernel sets, with thresholds just at, below and above the
// smallest gap of each query.
TEST(PlaneKernels, LeafAnyAgreesWithLeafMask)
{
    std::mt19937 rng(23);
    Mesh to = soup(rng, 2000, 0, 50);
    const PlaneIndex index = buildPlaneIndex(to);
    std::vector<const PlaneKernels*> sets{&portablePlaneKernels()};
    if (avx2PlaneKernels())
        sets.push_back(avx2PlaneKernels());
    int admitted = 0, trials = 0;
    for (int trial = 0; trial < 600; ++trial) {
        const PlaneLeaf& leaf = index.leaves[rng() % index.leaves.size()];
        const float allow = uniform(rng, 0, 2);
        PlanePacket packet;
        packet.count = 1 + int(rng() % kMaxPacket);
        const int nudge = int(rng() % 3) - 1;
        for (int q = 0; q < kMaxPacket; ++q) {
            packet.x[q] = leaf.px + uniform(rng, -3, 3);
            packet.y[q] = leaf.py + uniform(rng, -3, 3);
            packet.z[q] = leaf.pz + uniform(rng, -3, 3);
            float v[3] = {packet.x[q], packet.y[q], packet.z[q]}, gap[kLanes];
            portablePlaneKernels().leafGaps(leaf, v, gap);
            float least = *std::min_element(gap, gap + kLanes);
            // The bests on either side of the one whose threshold reaches the
            // least gap; the traversal marks slots past the count with -inf.
            float below = least - allow - 4, above = least - allow + 4;
            while (std::nextafter(below, HUGE_VALF) < above) {
                float mid = below + (above - below) * 0.5f;
                mid = mid > below && mid < above ? mid : std::nextafter(below, HUGE_VALF);
                (leafThreshold(mid, allow) < least ? below : above) = mid;
            }
            float best = nudge < 0 ? below : nudge > 0 ? std::nextafter(above, HUGE_VALF) : above;
            packet.best[q] = q < packet.count ? best : -HUGE_VALF;
        }
        for (const PlaneKernels* kernels : sets) {
            bool expected = false;
            for (int q = 0; q < packet.count; ++q)
                expected |= kernels->leafMask(leaf, packet.x[q] - leaf.px, packet.y[q] - leaf.py,
                                              packet.z[q] - leaf.pz,
                                              leafThreshold(packet.best[q], allow)) != 0;
            EXPECT_EQ(kernels->leafAny(leaf, packet, allow), expected)
                << kernels->name << " trial " << trial;
            admitted += expected;
            ++trials;
        }
    }
    // Both outcomes occur.
    EXPECT_GT(admitted, trials / 10);
    EXPECT_LT(admitted, trials - trials / 10);
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

INSTANTIATE_TEST_SUITE_P(Inputs, SearchBounds,
                         ::testing::Combine(::testing::ValuesIn(cases()),
                                            ::testing::Bool()),
                         [](const auto& p) {
                             return std::get<0>(p.param).name +
                                    (std::get<1>(p.param) ? "Portable" : "Avx2");
                         });

} // namespace

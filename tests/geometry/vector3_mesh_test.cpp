#include <cmath>
#include <limits>
#include <cstring>

#include <gtest/gtest.h>
#include <omp.h>

#include "geometry/mesh.h"

namespace {

void expectVector(const Vector3& actual, float x, float y, float z)
{
    EXPECT_EQ(actual.x, x);
    EXPECT_EQ(actual.y, y);
    EXPECT_EQ(actual.z, z);
}

TEST(Vector3, NormalizeLeavesZeroAndUnderflowingVectorsAlone)
{
    Vector3 zero{0, 0, 0};
    zero.normalize();
    expectVector(zero, 0, 0, 0);

    // Its squares underflow to 0, so its length is 0: it must not become NaN.
    Vector3 tiny{1e-30f, 0, 1e-30f};
    tiny.normalize();
    expectVector(tiny, 1e-30f, 0, 1e-30f);

    Vector3 v{3, 0, 4};
    v.normalize();
    expectVector(v, 3.0f / 5.0f, 0, 4.0f / 5.0f);
}

// Each component divided by the length: multiplying by the reciprocal
// 1 / len rounds twice and changes the last bit of these (the values were
// found by search; the reciprocal form is given beside each).
TEST(Vector3, NormalizeDividesByTheLengthNotByAReciprocal)
{
    Vector3 a{0x1.311662p+2f, 0x1.610284p+0f, 0x1.d33086p+0f};
    a.normalize();
    expectVector(a, 0x1.cd9c3ap-1f, 0x1.0b0f38p-2f, 0x1.617056p-2f);  // x * (1/len): 0x1.cd9c38p-1
    Vector3 b{0x1.05383ep+2f, 0x1.e771e2p+0f, 0x1.023454p-1f};
    b.normalize();
    expectVector(b, 0x1.cd1cbap-1f, 0x1.ae39bep-2f, 0x1.c7ca2p-4f);  // x * (1/len): 0x1.cd1cbcp-1
}

TEST(Vector3, CrossFollowsArgumentOrder)
{
    Vector3 out;
    cross({1, 0, 0}, {0, 1, 0}, out);
    expectVector(out, 0, 0, 1);
    Vector3{0, 1, 0}.cross({1, 0, 0}, out);
    expectVector(out, 0, 0, -1);
}

// (1 + 2^-12)^2 - (1 + 2^-11) is 2^-24: rounding the products to float first
// would cancel it to 0.
TEST(Vector3, CrossRoundsOnlyTheDifference)
{
    Vector3 out;
    cross({0, 1 + 0x1p-12f, 1}, {0, 1 + 0x1p-11f, 1 + 0x1p-12f}, out);
    EXPECT_EQ(out.x, 0x1p-24f);
}

// The double sum keeps what a float sum would lose.
TEST(Vector3, DotSumsExactProductsInDouble)
{
    EXPECT_EQ(dot({1e4f, 1.0f, -1e4f}, {1e4f, 1.0f, 1e4f}), 1.0);
}

TEST(Vector3, ScaleTakesTheFactorFirst)
{
    Vector3 out;
    scale(-0.5f, {2, 4, -6}, out);
    expectVector(out, -1, -2, 3);
}

Mesh unitCube()
{
    Mesh mesh;
    mesh.vertices = {{-1, -1, -1}, {1, 1, 1}, {0.5f, -0.25f, 0}};
    mesh.bboxMin = {-1, -1, -1};
    mesh.bboxMax = {1, 1, 1};
    return mesh;
}

TEST(Mesh, ScaleWidensTheBoxButNeverNarrowsIt)
{
    Mesh grown = unitCube();
    grown.scale(30);
    expectVector(grown.bboxMin, -30, -30, -30);
    expectVector(grown.bboxMax, 30, 30, 30);

    Mesh shrunk = unitCube();
    shrunk.scale(0.5f);
    expectVector(shrunk.vertexAt(2), 0.25f, -0.125f, 0);
    expectVector(shrunk.bboxMin, -1, -1, -1);
    expectVector(shrunk.bboxMax, 1, 1, 1);
}

TEST(Mesh, TranslateMovesVerticesAndBox)
{
    Mesh mesh = unitCube();
    mesh.translate({1, 2, 3});
    expectVector(mesh.vertexAt(0), 0, 1, 2);
    expectVector(mesh.bboxMax, 2, 3, 4);

    Mesh empty;
    empty.translate({1, 2, 3});
    expectVector(empty.bboxMin, 1, 2, 3);
    empty.scale(5);
    expectVector(empty.bboxMin, 1, 2, 3);
}

// Ties and NaN keep the current corner; only a strict comparison replaces it.
TEST(Mesh, BoxCornersKeepTheirValueOnTiesAndNaN)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(std::signbit(boxMin(-0.0f, 0.0f)));
    EXPECT_FALSE(std::signbit(boxMax(0.0f, -0.0f)));
    EXPECT_EQ(boxMin(1.0f, nan), 1.0f);
    EXPECT_EQ(boxMax(1.0f, nan), 1.0f);
    EXPECT_EQ(boxMin(1.0f, -2.0f), -2.0f);
    EXPECT_EQ(boxMax(1.0f, 2.0f), 2.0f);
}

// Large meshes fold their box in parts on several threads; the result must be
// the serial fold's, zero signs included: the first of tied extremes wins,
// NaN (from an infinite factor times 0) never enters, infinities do.
TEST(Mesh, BoxOfALargeMeshIsTheSerialFoldsOnAnyThreadCount)
{
    const float inf = std::numeric_limits<float>::infinity();
    Mesh mesh;
    for (int i = 0; i < 90000; ++i)
        mesh.vertices.push_back({1.0f, 2.0f - float(i % 5), float(i % 3)});
    mesh.vertices[20000].x = 0.0f;  // the least x, tied by -0 later
    mesh.vertices[70000].x = -0.0f;
    mesh.vertices[30000].y = -inf;
    mesh.vertices[60000].z = 0.0f;  // z is 0 at i % 3 == 0 anyway: ties throughout
    mesh.bboxMin = mesh.vertices[0];
    mesh.bboxMax = mesh.vertices[0];
    Mesh serial = mesh;
    for (const Vector3& v : serial.vertices)
        serial.includeInBox(v);
    auto expectSameBox = [](const Mesh& a, const Mesh& b) {
        EXPECT_EQ(std::memcmp(&a.bboxMin, &b.bboxMin, sizeof a.bboxMin), 0);
        EXPECT_EQ(std::memcmp(&a.bboxMax, &b.bboxMax, sizeof a.bboxMax), 0);
    };
    const int threads = omp_get_max_threads();
    for (int t : {1, 2, 3, 7}) {
        omp_set_num_threads(t);
        Mesh parallel = mesh;
        parallel.includeVerticesInBox();
        expectSameBox(parallel, serial);
        EXPECT_FALSE(std::signbit(parallel.bboxMin.x)) << t << " threads";

        // An infinite factor: 0 * inf is NaN, which the box never takes.
        Mesh scaled = mesh, reference = mesh;
        scaled.scale(inf);
        for (Vector3& v : reference.vertices) {
            v *= inf;
            reference.includeInBox(v);
        }
        expectSameBox(scaled, reference);
    }
    omp_set_num_threads(threads);
}

} // namespace

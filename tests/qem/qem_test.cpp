#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "helpers.h"
#include "qem/comparison.h"
#include "qem/normalize.h"
#include "qem/plane_distance.h"
#include "qem/qem_error.h"

namespace {

// A mesh with its faces' normals computed as the loader computes them.
Mesh meshOf(std::vector<Vector3> vertices, std::vector<std::array<std::uint32_t, 3>> faces = {})
{
    Mesh mesh;
    mesh.vertices.assign(vertices.begin(), vertices.end());
    for (auto corners : faces)
        mesh.faces.push_back({corners, {0, 0, 0}});
    for (Face& face : mesh.faces)
        face.normal = faceNormal(mesh.corner(face, 0), mesh.corner(face, 1), mesh.corner(face, 2));
    mesh.bboxMin = mesh.bboxMax = mesh.vertices.empty() ? Vector3{0, 0, 0} : mesh.vertices[0];
    for (const Vector3& v : mesh.vertices)
        mesh.includeInBox(v);
    return mesh;
}

TEST(Normalize, CentresScalesFirstBy30AndMatchesTheSecondDiagonal)
{
    Mesh first = meshOf({{0, 0, 0}, {2, 2, 2}, {1.5f, 0, 2}});
    Mesh second = meshOf({{10, 0, 0}, {11, 1, 1}});
    ASSERT_FALSE(normalizeMeshes(first, second).any());

    EXPECT_EQ(first.bboxMin, (Vector3{-30, -30, -30}));
    EXPECT_EQ(first.bboxMax, (Vector3{30, 30, 30}));
    EXPECT_EQ(first.vertexAt(2), (Vector3{15, -30, 30}));
    // d1 / d2 = 103.92305 / 1.7320508 rounds to 60.000004 in float.
    const float factor = 60.000004f;
    EXPECT_EQ(boxDiagonal(first.bboxMin, first.bboxMax) / boxDiagonal({-0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, 0.5f}),
              factor);
    EXPECT_EQ(second.vertexAt(0), (Vector3{-0.5f * factor, -0.5f * factor, -0.5f * factor}));
    EXPECT_EQ(second.vertexAt(1), (Vector3{0.5f * factor, 0.5f * factor, 0.5f * factor}));
}

// The squares are summed x² + y² first, then + z²: the other two orders give
// the float next to these (found by search), which changes the second
// mesh's factor and every figure after it.
TEST(Normalize, BoxDiagonalSumsTheSquaresInXYZOrder)
{
    const Vector3 origin{0, 0, 0};
    EXPECT_EQ(boxDiagonal(origin, {0x1.3e570cp+2f, 0x1.6e7804p+2f, 0x1.fe2d6cp+1f}), 0x1.122f68p+3f);
    EXPECT_EQ(boxDiagonal(origin, {0x1.20a0b4p+2f, 0x1.691f2cp+1f, 0x1.28cf1p+3f}), 0x1.56289ep+3f);
    EXPECT_EQ(boxDiagonal(origin, {0x1.a16292p+2f, 0x1.04d396p+1f, 0x1.bcd3d2p+1f}), 0x1.ea98eap+2f);
    // The differences are taken min - max, which only flips their signs.
    EXPECT_EQ(boxDiagonal({0x1.3e570cp+2f, 0x1.6e7804p+2f, 0x1.fe2d6cp+1f}, origin), 0x1.122f68p+3f);
}

TEST(Normalize, RefusesAZeroDiagonalInsteadOfDividingByZero)
{
    Mesh point = meshOf({{1, 2, 3}, {1, 2, 3}});
    Mesh box = meshOf({{0, 0, 0}, {1, 1, 1}});
    NormalizeFailure secondFlat = normalizeMeshes(box, point);
    EXPECT_FALSE(secondFlat.first);
    EXPECT_TRUE(secondFlat.second);
    for (const Vector3& v : point.vertices)
        EXPECT_FALSE(std::isnan(v.x));

    Mesh flatFirst = meshOf({{5, 5, 5}});
    Mesh other = meshOf({{0, 0, 0}, {1, 1, 1}});
    EXPECT_TRUE(normalizeMeshes(flatFirst, other).first);

    // Squares that underflow give a zero diagonal although the box is not a point.
    Mesh tiny = meshOf({{0, 0, 0}, {1e-30f, 0, 0}});
    Mesh fine = meshOf({{0, 0, 0}, {1, 1, 1}});
    EXPECT_TRUE(normalizeMeshes(fine, tiny).second);
}

// The checks on one mesh alone must agree with normalizeMeshes, which sees
// both: otherwise a run with one missing file would blame (or spare) the
// other one wrongly. The cases sit at the edges: a point, squares that
// underflow, a box that only overflows once scaled by 30, coordinates whose
// sum overflows, and subnormal extents.
TEST(Normalize, OneMeshChecksAgreeWithTheJointNormalisation)
{
    const float big = 1e18f;  // the square of 60 times this overflows, of twice this not
    const std::vector<std::vector<Vector3>> cases = {
        {{5, 5, 5}},
        {{0, 0, 0}, {1, 1, 1}},
        {{0, 0, 0}, {1e-30f, 0, 0}},
        {{-1e-19f, 0, 0}, {1e-19f, 0, 0}},
        {{-big, 0, 0}, {big, 0, 0}},
        {{-big, -big, -big}, {big, big, big}},
        {{3e38f, 0, 0}, {3.4e38f, 1, 0}},
        {{0, 0, 0}, {1e-45f, 1e-45f, 0}},
        {{-7, 2, 1e6f}, {3, 2.5f, -1e6f}, {0, 0, 0}},
    };
    const Mesh unit = meshOf({{0, 0, 0}, {1, 1, 1}});
    for (const std::vector<Vector3>& vertices : cases) {
        const Mesh mesh = meshOf(vertices);
        Mesh first = mesh, second = unit;
        EXPECT_EQ(normalizableAsFirst(mesh), !normalizeMeshes(first, second).first)
            << vertices.back().x;
        first = unit, second = mesh;
        EXPECT_EQ(normalizableAsSecond(mesh), !normalizeMeshes(first, second).second)
            << vertices.back().x;
    }
    EXPECT_FALSE(normalizableAsFirst(meshOf({{-big, 0, 0}, {big, 0, 0}})));
    EXPECT_TRUE(normalizableAsSecond(meshOf({{-big, 0, 0}, {big, 0, 0}})));
}

const Vector3 kAbove{0, 0, 5};

// The distance is to the face's unbounded plane, not to the triangle.
TEST(NearestPlaneDistance, MeasuresToThePlaneNotTheTriangle)
{
    EXPECT_EQ(nearestPlaneDistance(kAbove, meshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}})), 5.0f);
    EXPECT_EQ(nearestPlaneDistance(kAbove, meshOf({{100, 0, 0}, {101, 0, 0}, {100, 1, 0}}, {{0, 1, 2}})),
              5.0f);
    // The nearest of several planes, whatever their order.
    Mesh two = meshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 4}, {1, 0, 4}, {0, 1, 4}},
                      {{0, 1, 2}, {3, 4, 5}});
    EXPECT_EQ(nearestPlaneDistance(kAbove, two), 1.0f);
}

TEST(NearestPlaneDistance, CapsAt1000AndTreatsDegenerateFacesAsDistanceZero)
{
    Mesh far = meshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
    EXPECT_EQ(nearestPlaneDistance({0, 0, 5000}, far), kFarDistance);
    EXPECT_EQ(nearestPlaneDistance(kAbove, meshOf({})), kFarDistance);

    Mesh degenerate = meshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {7, 7, 7}}, {{0, 1, 2}, {3, 3, 3}});
    EXPECT_EQ(degenerate.faceAt(1).normal, (Vector3{0, 0, 0}));
    EXPECT_EQ(nearestPlaneDistance({0, 0, 5000}, degenerate), 0.0f);
}

// A NaN distance from the first corner makes the whole face pass over, even
// when another corner gives a number; a NaN from a later corner is ignored.
TEST(NearestPlaneDistance, SkipsAFaceWhoseFirstCornerDistanceIsNaN)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Mesh mesh = meshOf({{nan, 0, 0}, {0, 0, 0}, {1, 0, 0}});
    mesh.faces.push_back({{0, 1, 2}, {0, 0, 1}});
    EXPECT_EQ(nearestPlaneDistance(kAbove, mesh), kFarDistance);
    mesh.faces[0].vertices = {1, 0, 2};
    EXPECT_EQ(nearestPlaneDistance(kAbove, mesh), 5.0f);
}

TEST(PointToFace, SumsEveryVertexAndCountsBothSides)
{
    Mesh a = meshOf({{0, 0, 1}, {0, 0, 2}, {0, 0, -3}});
    Mesh b = meshOf({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
    DirectedDistances ab = pointToFace(a, b);
    EXPECT_EQ(ab.vertexCount, 3u);
    EXPECT_EQ(ab.faceCount, 1u);
    EXPECT_EQ(ab.sum, 6.0f);
    // Without faces on the other side every vertex contributes the cap.
    EXPECT_EQ(pointToFace(b, a).sum, 3 * kFarDistance);
}

TEST(PointToFace, IdenticalMeshesAreZeroApart)
{
    Mesh mesh = meshOf(test::kTetraVertices, {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}});
    EXPECT_EQ(pointToFace(mesh, mesh).sum, 0.0f);
}

TEST(QemError, SquaresInFloatAndDividesInDouble)
{
    EXPECT_EQ(qemError(3, 4, 1, 1), 12.5f);
    EXPECT_EQ(qemError(0, 0, 0, 0), 0.0f);
    // 4097^2 rounds to 16785408 in float; + 1 and / 3 in double give
    // 5595136.33 (float 5595136.5), where a float sum would give 5595136.
    EXPECT_EQ(qemError(4097, 1, 2, 1), 5595136.5f);
    // Squares formed in double instead of float give the float below these
    // (found by search).
    EXPECT_EQ(qemError(0x1.a742f6p+9f, 0x1.8819dap+7f, 32, 20), 0x1.c5bf94p+13f);
    EXPECT_EQ(qemError(0x1.1c026p+9f, 0x1.c0b526p+8f, 10, 29), 0x1.a3dbd2p+13f);
    EXPECT_EQ(qemError(0x1.719cbp+10f, 0x1.1bb07ep+9f, 32, 43), 0x1.0538cp+15f);
}

} // namespace

#include <gtest/gtest.h>

#include "helpers.h"
#include "ply/ply_mesh.h"

namespace {

using test::PlyFormat;

struct Loaded {
    bool ok;
    Mesh mesh;
    std::string error;
    std::string stderrText;
};

Loaded load(const std::string& bytes)
{
    Loaded result;
    testing::internal::CaptureStderr();
    result.ok = loadPlyMeshFromMemory(bytes.data(), bytes.size(), result.mesh, result.error);
    result.stderrText = testing::internal::GetCapturedStderr();
    return result;
}

std::string asciiPly(const std::string& vertexProperties, int vertexCount, const std::string& rest,
                     const std::string& body)
{
    return "ply\nformat ascii 1.0\nelement vertex " + std::to_string(vertexCount) + "\n" +
           vertexProperties + rest + "end_header\n" + body;
}

const std::string kXyz = "property float x\nproperty float y\nproperty float z\n";
const std::string kFaceList = "element face 1\nproperty list uchar int vertex_indices\n";
const std::string kTriangleBody = "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";

class EveryFormat : public testing::TestWithParam<PlyFormat> {};

TEST_P(EveryFormat, ReadsVerticesFacesNormalsAndBox)
{
    Loaded loaded = load(test::encodePly(test::kTetraVertices, test::kTetraFaces, GetParam()));
    ASSERT_TRUE(loaded.ok) << loaded.error << loaded.stderrText;
    const Mesh& mesh = loaded.mesh;
    ASSERT_EQ(mesh.vertexCount(), 4u);
    ASSERT_EQ(mesh.faceCount(), 4u);
    EXPECT_EQ(mesh.vertexAt(3), (Vector3{0, 0, 1}));
    EXPECT_EQ(mesh.faceAt(3).vertices, (std::array<std::uint32_t, 3>{1, 2, 3}));
    // (0, 2, 1) over the unit axes winds clockwise seen from +z.
    EXPECT_EQ(mesh.faceAt(0).normal, (Vector3{0, 0, -1}));
    EXPECT_EQ(mesh.bboxMin, (Vector3{0, 0, 0}));
    EXPECT_EQ(mesh.bboxMax, (Vector3{1, 1, 1}));
}

INSTANTIATE_TEST_SUITE_P(Ply, EveryFormat,
                         testing::Values(PlyFormat::ascii, PlyFormat::littleEndian, PlyFormat::bigEndian),
                         [](const auto& tested) { return std::string(test::formatName(tested.param)); });

TEST(LoadPlyMesh, PutsValuesWhereTheirPropertyNamesSayWhateverTheOrder)
{
    Loaded loaded = load(asciiPly("property float z\nproperty uchar red\nproperty float y\n"
                                  "property float x\n",
                                  2, "", "3 9 2 1\n6 9 5 4\n"));
    ASSERT_TRUE(loaded.ok) << loaded.error;
    EXPECT_EQ(loaded.mesh.vertexAt(0), (Vector3{1, 2, 3}));
    EXPECT_EQ(loaded.mesh.vertexAt(1), (Vector3{4, 5, 6}));
    EXPECT_EQ(loaded.mesh.bboxMax, (Vector3{4, 5, 6}));
}

TEST(LoadPlyMesh, ReadsFacesDeclaredBeforeVertices)
{
    std::string bytes = "ply\nformat ascii 1.0\n" + kFaceList +
                        "element vertex 3\n" + kXyz + "end_header\n3 0 2 1\n0 0 0\n1 0 0\n0 1 0\n";
    Loaded loaded = load(bytes);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    EXPECT_EQ(loaded.mesh.faceAt(0).normal, (Vector3{0, 0, -1}));
}

TEST(LoadPlyMesh, AcceptsTheVertexIndexSpellingAndFloatingIndices)
{
    // Floating indices are truncated toward zero: 1.9 is 1, -0.5 is 0.
    Loaded loaded = load(asciiPly(kXyz, 3, "element face 1\nproperty list uchar float vertex_index\n",
                                  "0 0 0\n1 0 0\n0 1 0\n3 -0.5 1.9 2\n"));
    ASSERT_TRUE(loaded.ok) << loaded.error;
    EXPECT_EQ(loaded.mesh.faceAt(0).vertices, (std::array<std::uint32_t, 3>{0, 1, 2}));
    EXPECT_EQ(loaded.mesh.faceAt(0).normal, (Vector3{0, 0, 1}));
}

TEST(LoadPlyMesh, KeepsAPointSetAndADegenerateTriangle)
{
    Loaded points = load(asciiPly(kXyz + "property float nx\n", 2, "", "1 2 3 0\n-1 5 0 0\n"));
    ASSERT_TRUE(points.ok) << points.error;
    EXPECT_EQ(points.mesh.faceCount(), 0u);
    EXPECT_EQ(points.mesh.bboxMin, (Vector3{-1, 2, 0}));
    EXPECT_EQ(points.mesh.bboxMax, (Vector3{1, 5, 3}));

    Loaded degenerate = load(asciiPly(kXyz, 3, kFaceList, "0 0 0\n1 0 0\n0 1 0\n3 0 1 1\n"));
    ASSERT_TRUE(degenerate.ok) << degenerate.error;
    EXPECT_EQ(degenerate.mesh.faceAt(0).normal, (Vector3{0, 0, 0}));
    EXPECT_EQ(countDegenerateFaces(degenerate.mesh), 1u);
}

struct Rejection {
    const char* name;
    std::string bytes;
    const char* message;  // part of the loader's error, or of what the reader printed
};

void PrintTo(const Rejection& rejection, std::ostream* os) { *os << rejection.name; }

class RejectsFile : public testing::TestWithParam<Rejection> {};

// A rejected file leaves no half-read mesh behind.
TEST_P(RejectsFile, WithAClearMessageAndAnEmptyMesh)
{
    Loaded loaded = load(GetParam().bytes);
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(loaded.mesh.vertexCount(), 0u);
    EXPECT_EQ(loaded.mesh.faceCount(), 0u);
    EXPECT_NE((loaded.error + loaded.stderrText).find(GetParam().message), std::string::npos)
        << loaded.error << " / " << loaded.stderrText;
}

INSTANTIATE_TEST_SUITE_P(
    LoadPlyMesh, RejectsFile,
    testing::Values(
        Rejection{"Quad", asciiPly(kXyz, 4, kFaceList, "0 0 0\n1 0 0\n0 1 0\n1 1 0\n4 0 1 2 3\n"),
                  "face 0 has 4 vertex indices"},
        Rejection{"NegativeIndex", asciiPly(kXyz, 3, kFaceList, "0 0 0\n1 0 0\n0 1 0\n3 0 -1 2\n"),
                  "face 0 refers to vertex -1"},
        Rejection{"IndexPastTheEnd", asciiPly(kXyz, 3, kFaceList, "0 0 0\n1 0 0\n0 1 0\n3 0 1 3\n"),
                  "the mesh has 3 vertices"},
        Rejection{"MissingZ", asciiPly("property float x\nproperty float y\n", 3, kFaceList,
                                       "0 0\n1 0\n0 1\n3 0 1 2\n"),
                  "no 'z' property"},
        Rejection{"NaNCoordinate", asciiPly(kXyz, 3, kFaceList, "0 0 0\n1 nan 0\n0 1 0\n3 0 1 2\n"),
                  "vertex 1 has a y coordinate"},
        Rejection{"InfiniteCoordinate", asciiPly(kXyz, 3, kFaceList, "0 0 -inf\n1 0 0\n0 1 0\n3 0 1 2\n"),
                  "vertex 0 has a z coordinate"},
        Rejection{"BeyondFloatRange",
                  asciiPly("property double x\nproperty float y\nproperty float z\n", 3, kFaceList,
                           "1e39 0 0\n1 0 0\n0 1 0\n3 0 1 2\n"),
                  "not a finite float"},
        Rejection{"ScalarFaceIndices",
                  asciiPly(kXyz, 3, "element face 1\nproperty int vertex_indices\n", "0 0 0\n1 0 0\n0 1 0\n1\n"),
                  "is not a list"},
        Rejection{"FacesWithoutIndexList",
                  asciiPly(kXyz, 3, "element face 1\nproperty int material\n", "0 0 0\n1 0 0\n0 1 0\n1\n"),
                  "no 'vertex_indices' or 'vertex_index' list"},
        Rejection{"TruncatedBody", asciiPly(kXyz, 3, kFaceList, "0 0 0\n1 0 0\n0 1 0\n3 0 1\n"),
                  "RPly: "},
        Rejection{"NotPly", "solid cube\nendsolid\n", "RPly: Not a PLY file"},
        // Property-less elements take no bytes, so the reader accepts any
        // count for them; the loader must refuse before sizing anything.
        Rejection{"HugeVertexCountWithoutCoordinates",
                  "ply\nformat binary_little_endian 1.0\nelement vertex 1000000000000\n"
                  "end_header\n", "the vertex element has no 'x' property"},
        Rejection{"HugeFaceCountWithoutIndices",
                  asciiPly(kXyz, 3, "element face 1000000000000\n", kTriangleBody),
                  "no 'vertex_indices' or 'vertex_index' list"},
        Rejection{"MoreVerticesThanIndicesReach",
                  "ply\nformat binary_little_endian 1.0\nelement vertex 3000000000\n"
                  "property float x\nproperty float y\nproperty float z\nend_header\n",
                  "RPly: Element 'vertex' declares 3000000000 instances"},
        Rejection{"NegativeListLength", asciiPly(kXyz, 3, kFaceList, "0 0 0\n1 0 0\n0 1 0\n-3 0 1 2\n"),
                  "RPly: Invalid list length -3"},
        Rejection{"FloatListLength",
                  asciiPly(kXyz, 3, "element face 1\nproperty list float int vertex_indices\n",
                           "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n"),
                  "RPly: Invalid list length type 'float'"},
        Rejection{"ListLengthBeyondItsType",
                  asciiPly(kXyz, 3, kFaceList, "0 0 0\n1 0 0\n0 1 0\n99999999999999999999 0 1 2\n"),
                  "out of range for uint8"}),
    [](const auto& tested) { return std::string(tested.param.name); });

} // namespace

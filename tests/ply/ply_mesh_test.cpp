#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include <omp.h>

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
        // (-1, 0) truncates to vertex 0, which a mesh without vertices lacks:
        // read value by value here, as a block in the binary case below.
        Rejection{"FractionalIndexWithoutVertices",
                  asciiPly(kXyz, 0, "element face 1\nproperty list uchar float vertex_indices\n",
                           "3 -0.5 -0.25 -0.9\n"),
                  "face 0 refers to vertex -0.5, but the mesh has 0 vertices"},
        Rejection{"FractionalIndexWithoutVerticesBinary",
                  "ply\nformat binary_little_endian 1.0\nelement vertex 0\n" + kXyz +
                      "element face 1\nproperty list uchar float vertex_indices\nend_header\n\x03" +
                      std::string("\0\0\0\xbf\0\0\0\xbf\0\0\0\xbf", 12),
                  "face 0 refers to vertex -0.5, but the mesh has 0 vertices"},
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

// ---- large binary files: decoded as blocks, on several threads

// A strip of triangles over `count` vertices, with coordinates that mix
// signs, zeros of both signs and repeats, so the box has ties to break.
std::vector<Vector3> stripVertices(int count)
{
    std::vector<Vector3> vertices;
    for (int i = 0; i < count; ++i) {
        const float zero = i % 3 == 0 ? -0.0f : 0.0f;
        vertices.push_back({i % 5 == 0 ? zero : 0.001f * float(i % 977) - 0.3f,
                            i % 7 == 0 ? zero : std::sin(0.01f * float(i)),
                            i % 2 == 0 ? zero : -0.5f * float(i % 13)});
    }
    return vertices;
}

std::vector<std::array<int, 3>> stripFaces(int vertexCount)
{
    std::vector<std::array<int, 3>> faces;
    for (int i = 0; i + 2 < vertexCount; ++i)
        faces.push_back({i, i + 1 + (i % 2), i + 2 - (i % 2)});
    return faces;
}

bool sameBits(const Vector3& a, const Vector3& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The mesh the loader must produce, computed here value by value: the
// coordinates as floats, each face's normal, the box folded in vertex order.
Mesh expectedMesh(const std::vector<Vector3>& vertices, const std::vector<std::array<int, 3>>& faces)
{
    Mesh mesh;
    mesh.vertices.assign(vertices.begin(), vertices.end());
    for (const auto& f : faces)
        mesh.faces.push_back({{std::uint32_t(f[0]), std::uint32_t(f[1]), std::uint32_t(f[2])},
                              faceNormal(vertices[f[0]], vertices[f[1]], vertices[f[2]])});
    mesh.bboxMin = mesh.bboxMax = vertices[0];
    for (const Vector3& v : vertices)
        mesh.includeInBox(v);
    return mesh;
}

void expectSameMesh(const Mesh& actual, const Mesh& expected, const char* format)
{
    ASSERT_EQ(actual.vertexCount(), expected.vertexCount()) << format;
    ASSERT_EQ(actual.faceCount(), expected.faceCount()) << format;
    for (std::size_t v = 0; v < expected.vertexCount(); ++v)
        ASSERT_TRUE(sameBits(actual.vertexAt(v), expected.vertexAt(v))) << format << " " << v;
    for (std::size_t f = 0; f < expected.faceCount(); ++f) {
        ASSERT_EQ(actual.faceAt(f).vertices, expected.faceAt(f).vertices) << format << " " << f;
        ASSERT_TRUE(sameBits(actual.faceAt(f).normal, expected.faceAt(f).normal)) << format << " " << f;
    }
    EXPECT_TRUE(sameBits(actual.bboxMin, expected.bboxMin)) << format;
    EXPECT_TRUE(sameBits(actual.bboxMax, expected.bboxMax)) << format;
}

// Large meshes go through the parallel block decoding: in every format the
// mesh is bit for bit the value-by-value one, zero signs of the box included.
TEST(LoadPlyMesh, LargeMeshesReadTheSameInEveryFormat)
{
    const int threads = omp_get_max_threads();
    omp_set_num_threads(std::max(threads, 2));  // ASCII blocks need a second thread
    const std::vector<Vector3> vertices = stripVertices(70000);
    const std::vector<std::array<int, 3>> faces = stripFaces(70000);
    const Mesh expected = expectedMesh(vertices, faces);
    for (PlyFormat format : {PlyFormat::ascii, PlyFormat::littleEndian, PlyFormat::bigEndian}) {
        Loaded loaded = load(test::encodePly(vertices, faces, format));
        ASSERT_TRUE(loaded.ok) << loaded.error;
        expectSameMesh(loaded.mesh, expected, test::formatName(format));
    }
    omp_set_num_threads(threads);
}

// Faces before vertices: the normals wait until the vertices are in.
TEST(LoadPlyMesh, LargeBinaryFacesBeforeVerticesGetTheirNormals)
{
    const std::vector<Vector3> vertices = stripVertices(70000);
    const std::vector<std::array<int, 3>> faces = stripFaces(70000);
    std::string bytes = "ply\nformat binary_little_endian 1.0\nelement face " +
                        std::to_string(faces.size()) +
                        "\nproperty list uchar uint vertex_index\nelement vertex " +
                        std::to_string(vertices.size()) +
                        "\nproperty double x\nproperty double y\nproperty double z\nend_header\n";
    for (const auto& f : faces) {
        test::appendBinary(bytes, std::uint8_t(3), PlyFormat::littleEndian);
        for (int index : f)
            test::appendBinary(bytes, std::uint32_t(index), PlyFormat::littleEndian);
    }
    for (const Vector3& v : vertices)
        for (float c : {v.x, v.y, v.z})
            test::appendBinary(bytes, double(c), PlyFormat::littleEndian);
    Loaded loaded = load(bytes);
    ASSERT_TRUE(loaded.ok) << loaded.error;
    expectSameMesh(loaded.mesh, expectedMesh(vertices, faces), "faces first");
}

// A problem deep inside a large element is named as the value-by-value read
// names it, and leaves no half-read mesh.
TEST(LoadPlyMesh, LargeMeshProblemsAreNamedAndLeaveAnEmptyMesh)
{
    const int threads = omp_get_max_threads();
    omp_set_num_threads(std::max(threads, 2));
    const std::vector<Vector3> good = stripVertices(70000);
    const std::vector<std::array<int, 3>> goodFaces = stripFaces(70000);
    struct Case {
        const char* message;
        std::vector<Vector3> vertices;
        std::vector<std::array<int, 3>> faces;
    };
    std::vector<Case> cases;
    cases.push_back({"vertex 40000 has a y coordinate", good, goodFaces});
    cases.back().vertices[40000].y = std::nanf("");
    cases.push_back({"face 50000 refers to vertex 70000", good, goodFaces});
    cases.back().faces[50000][1] = 70000;
    cases.push_back({"face 60000 refers to vertex -1", good, goodFaces});
    cases.back().faces[60000][2] = -1;
    for (const Case& c : cases)
        for (PlyFormat format : {PlyFormat::ascii, PlyFormat::bigEndian}) {
            Loaded loaded = load(test::encodePly(c.vertices, c.faces, format));
            EXPECT_FALSE(loaded.ok);
            EXPECT_EQ(loaded.mesh.vertexCount(), 0u);
            EXPECT_EQ(loaded.mesh.faceCount(), 0u);
            EXPECT_NE(loaded.error.find(c.message), std::string::npos) << loaded.error;
        }
    // Quads throughout: every record alike, but not triangles.
    std::string quads = "ply\nformat binary_little_endian 1.0\nelement vertex 4\n" + kXyz +
                        "element face 70000\nproperty list uchar int vertex_indices\nend_header\n";
    for (int k = 0; k < 12; ++k)
        test::appendBinary(quads, float(k % 3 == 0), PlyFormat::littleEndian);
    for (int f = 0; f < 70000; ++f) {
        test::appendBinary(quads, std::uint8_t(4), PlyFormat::littleEndian);
        for (int index : {0, 1, 2, 3})
            test::appendBinary(quads, std::int32_t(index), PlyFormat::littleEndian);
    }
    Loaded loaded = load(quads);
    EXPECT_FALSE(loaded.ok);
    EXPECT_NE(loaded.error.find("face 0 has 4 vertex indices"), std::string::npos) << loaded.error;

    // From a file, whose pages are given back once parsed: a block the loader
    // declines is read again, value by value, from the same bytes.
    test::TempDir dir;
    std::vector<Vector3> vertices = good;
    vertices[40000].z = std::nanf("");
    const std::string file = dir.write("nan.ply", test::encodePly(vertices, goodFaces, PlyFormat::ascii));
    Mesh mesh;
    std::string error;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(loadPlyMesh(file.c_str(), mesh, error));
    testing::internal::GetCapturedStderr();
    EXPECT_NE(error.find("vertex 40000 has a z coordinate"), std::string::npos) << error;
    vertices[40000].z = 0.5f;
    const std::string fine = dir.write("fine.ply", test::encodePly(vertices, goodFaces, PlyFormat::ascii));
    ASSERT_TRUE(loadPlyMesh(fine.c_str(), mesh, error)) << error;
    expectSameMesh(mesh, expectedMesh(vertices, goodFaces), "from a file");
    omp_set_num_threads(threads);
}

// Two ASCII files of like size go side by side; a binary file, or one more
// than four times the other's size, not. A file that is not there is left to
// the reader to report, side by side.
TEST(PlyFilesReadBestSideBySide, OnlyTwoAsciiFilesOfLikeSize)
{
    test::TempDir dir;
    using test::PlyFormat;
    auto tetra = [&](const char* name, PlyFormat format) {
        return dir.write(name, test::encodePly(test::kTetraVertices, test::kTetraFaces, format));
    };
    const std::string ascii = tetra("a.ply", PlyFormat::ascii);
    const std::string other = tetra("b.ply", PlyFormat::ascii);
    const std::string binary = tetra("c.ply", PlyFormat::littleEndian);
    const std::string big = dir.write("big.ply", test::readFile(ascii) + std::string(4000, ' '));
    const std::string missing = dir.path("missing.ply");
    EXPECT_TRUE(plyFilesReadBestSideBySide(ascii.c_str(), other.c_str()));
    EXPECT_FALSE(plyFilesReadBestSideBySide(ascii.c_str(), binary.c_str()));
    EXPECT_FALSE(plyFilesReadBestSideBySide(binary.c_str(), ascii.c_str()));
    EXPECT_FALSE(plyFilesReadBestSideBySide(ascii.c_str(), big.c_str()));
    EXPECT_TRUE(plyFilesReadBestSideBySide(ascii.c_str(), missing.c_str()));
}

} // namespace

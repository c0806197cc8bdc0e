// Every prefix and many single-byte corruptions of valid files must either be
// rejected cleanly or read; never crash, never read outside the buffer (each
// input sits in a heap block of exactly its size, so ASan sees any overrun).
#include <gtest/gtest.h>

#include "helpers.h"
#include "ply/ply_mesh.h"

namespace {

using test::PlyFormat;

void ignoreError(p_ply, const char*) {}

struct Result {
    bool ok;
    std::size_t vertices;
    std::size_t faces;
    std::string error;
    bool indicesInRange;  // every face names vertices the mesh has
};

bool indicesInRange(const Mesh& mesh)
{
    for (const Face& face : mesh.faces)
        for (std::uint32_t index : face.vertices)
            if (index >= mesh.vertexCount())
                return false;
    return true;
}

Result loadExact(const std::string& bytes, std::size_t size)
{
    std::vector<char> exact(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
    Mesh mesh;
    std::string error;
    bool ok = loadPlyMeshFromMemory(exact.data(), exact.size(), mesh, error, ignoreError, ignoreError);
    return {ok, mesh.vertexCount(), mesh.faceCount(), error, indicesInRange(mesh)};
}

std::string sampleFile(PlyFormat format)
{
    std::vector<Vector3> vertices = test::kTetraVertices;
    vertices.push_back({-0.5f, 2.25f, 1e-3f});
    return test::encodePly(vertices, {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}, {4, 1, 2}}, format);
}

class Sweep : public testing::TestWithParam<PlyFormat> {};

TEST_P(Sweep, EveryPrefixIsRejectedCleanlyOrIsTheWholeMesh)
{
    const std::string file = sampleFile(GetParam());
    Result whole = loadExact(file, file.size());
    ASSERT_TRUE(whole.ok) << whole.error;
    for (std::size_t size = 0; size < file.size(); ++size) {
        Result prefix = loadExact(file, size);
        if (prefix.ok) {
            // Only a prefix that lacks nothing but trailing white space can read.
            EXPECT_EQ(prefix.vertices, whole.vertices) << "prefix of " << size << " bytes";
            EXPECT_EQ(prefix.faces, whole.faces) << "prefix of " << size << " bytes";
        } else {
            EXPECT_EQ(prefix.vertices + prefix.faces, 0u);
            EXPECT_FALSE(prefix.error.empty());
        }
    }
}

TEST_P(Sweep, SingleByteCorruptionsNeverCrash)
{
    const std::string file = sampleFile(GetParam());
    for (std::size_t offset = 0; offset < file.size(); ++offset) {
        for (int replacement : {0x00, 0x01, 0x7f, 0x80, 0xff, int('\n'), int(' '), int('9'), int('-')}) {
            std::string corrupt = file;
            corrupt[offset] = static_cast<char>(replacement);
            Result result = loadExact(corrupt, corrupt.size());
            EXPECT_TRUE(result.indicesInRange) << "byte " << offset << " set to " << replacement;
            if (!result.ok) {
                EXPECT_EQ(result.vertices + result.faces, 0u);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Ply, Sweep,
                         testing::Values(PlyFormat::ascii, PlyFormat::littleEndian, PlyFormat::bigEndian),
                         [](const auto& tested) { return std::string(test::formatName(tested.param)); });

// Inputs the fuzzer once found a fault with: each must now be handled.
TEST(FuzzRegressions, EveryKeptInputLoadsOrFailsCleanly)
{
    const std::string dir = MESHQEM_SOURCE_DIR "/tests/data/fuzz-regressions";
    if (!test::fileExists(dir))
        GTEST_SKIP() << "no regression inputs kept";
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::string bytes = test::readFile(entry.path().string());
        Result result = loadExact(bytes, bytes.size());
        EXPECT_TRUE(result.indicesInRange) << entry.path();
        if (!result.ok) {
            EXPECT_EQ(result.vertices + result.faces, 0u) << entry.path();
        }
    }
}

} // namespace

#include "report/exports.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include <gtest/gtest.h>

#include "helpers.h"
#include "ply/ply_mesh.h"
#include "ply/reader.h"
#include "report/output_file.h"
#include "report/ply_writer.h"

namespace {

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Values that a careless writer (text, wrong byte order, double rounding)
// would not bring back bit for bit.
Mesh awkwardMesh()
{
    Mesh mesh;
    mesh.vertices = {{1.0f / 3, -0.0f, 1e-30f},
                     {std::numeric_limits<float>::denorm_min(), 3.4e38f, -7.25f},
                     {0.1f, 0.2f, 0.3f},
                     {-1e-7f, 16777217.0f, 123456.789f}};
    mesh.faces = {{{0, 1, 2}, {}}, {{3, 2, 1}, {}}};
    return mesh;
}

TEST(PlyWriter, ReadsBackBitForBitThroughTheProjectsReader)
{
    test::TempDir dir;
    const Mesh mesh = awkwardMesh();
    std::vector<PlyVertexProperty> properties(2);
    properties[0].name = "quality";
    properties[0].floats = {0.0f, 1.0f / 7, std::numeric_limits<float>::max(), 2.5e-42f};
    properties[1].name = "red";
    properties[1].type = PlyVertexProperty::Type::uint8;
    properties[1].bytes = {0, 1, 128, 255};
    const std::string path = dir.path("m.ply");
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(writePly(mesh, properties, {"made by a test"}, out));
    std::fclose(out);

    const std::string bytes = test::readFile(path);
    const std::string header =
        "ply\nformat binary_little_endian 1.0\ncomment made by a test\nelement vertex 4\n"
        "property float x\nproperty float y\nproperty float z\nproperty float quality\n"
        "property uchar red\nelement face 2\nproperty list uchar int vertex_indices\nend_header\n";
    EXPECT_EQ(bytes.substr(0, header.size()), header);
    EXPECT_EQ(bytes.size(), header.size() + 4 * (16 + 1) + 2 * 13);

    Mesh back;
    std::string error;
    ASSERT_TRUE(loadPlyMesh(path.c_str(), back, error)) << error;
    ASSERT_EQ(back.vertexCount(), 4u);
    for (std::size_t v = 0; v < 4; ++v) {
        EXPECT_TRUE(sameBits(back.vertices[v].x, mesh.vertices[v].x)) << v;
        EXPECT_TRUE(sameBits(back.vertices[v].y, mesh.vertices[v].y)) << v;
        EXPECT_TRUE(sameBits(back.vertices[v].z, mesh.vertices[v].z)) << v;
    }
    ASSERT_EQ(back.faceCount(), 2u);
    EXPECT_EQ(back.faces[1].vertices, mesh.faces[1].vertices);
    const std::vector<double> quality = test::readVertexProperty(path, "quality");
    const std::vector<double> red = test::readVertexProperty(path, "red");
    ASSERT_EQ(quality.size(), 4u);
    for (std::size_t v = 0; v < 4; ++v) {
        EXPECT_TRUE(sameBits(float(quality[v]), properties[0].floats[v])) << v;
        EXPECT_EQ(red[v], properties[1].bytes[v]);
    }
}

// A failed export leaves neither a half file nor a stray temporary one, and
// an existing file survives until the new one is complete.
TEST(OutputFile, WritesAllOrNothing)
{
    test::TempDir dir;
    std::string error;
    OutputFile file;
    EXPECT_FALSE(file.open(dir.path("missing/x.csv"), error));
    EXPECT_EQ(error, "cannot write " + dir.path("missing/x.csv") + ": No such file or directory");
    EXPECT_FALSE(file.open(dir.path(""), error));
    EXPECT_NE(error.find("Is a directory"), std::string::npos) << error;

    const std::string path = dir.write("x.csv", "old");
    {
        OutputFile abandoned;
        ASSERT_TRUE(abandoned.open(path, error));
        std::fputs("half", abandoned.stream());
        std::fflush(abandoned.stream());
        EXPECT_EQ(test::readFile(path), "old");
    }
    EXPECT_EQ(test::readFile(path), "old");
    ASSERT_TRUE(file.open(path, error));
    std::fputs("new", file.stream());
    ASSERT_TRUE(file.commit(error)) << error;
    EXPECT_EQ(test::readFile(path), "new");
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path("")))
        ++entries;
    EXPECT_EQ(entries, 1u);

    if (test::fileExists("/dev/full")) {
        ASSERT_TRUE(file.open("/dev/full", error));  // a device: written in place
        std::fputs("x", file.stream());
        EXPECT_FALSE(file.commit(error));
        EXPECT_EQ(error, "cannot write /dev/full: No space left on device");
    }
}

TEST(RampColor, IsViridisAtItsEndsAndMiddle)
{
    auto rgb = [](double t) {
        Rgb c = rampColor(t);
        return std::array<int, 3>{c.red, c.green, c.blue};
    };
    EXPECT_EQ(rgb(0.0), (std::array<int, 3>{68, 1, 84}));       // #440154
    EXPECT_EQ(rgb(128.0 / 255), (std::array<int, 3>{33, 145, 140}));  // #21918c
    EXPECT_EQ(rgb(1.0), (std::array<int, 3>{253, 231, 37}));    // #fde725
    EXPECT_EQ(rgb(-3.0), rgb(0.0));
    EXPECT_EQ(rgb(7.0), rgb(1.0));
    EXPECT_EQ(rgb(std::nan("")), rgb(0.0));
    EXPECT_EQ(rampPosition(5, {2, 4}), 1.0);
    EXPECT_EQ(rampPosition(3, {2, 4}), 0.5);
    EXPECT_EQ(rampPosition(1, {2, 4}), 0.0);
}

// Two triangles sharing an edge, areas 1/2 and 3/2: vertex areas 1/6, 2/3,
// 2/3, 1/2 (of 2 in all).
class Histogram : public testing::Test {
protected:
    void SetUp() override
    {
        mesh.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {2, 2, 0}};
        mesh.faces = {{{0, 1, 2}, {}}, {{1, 3, 2}, {}}};
        values.label = "a";
        values.mesh = &mesh;
    }
    Mesh mesh;
    ExportMesh values;
};

TEST_F(Histogram, CountsVerticesAndSharesVertexAreas)
{
    values.distances = {0.0, 0.25, 0.5, 1.0};  // 0.25 and 0.5 sit on edges
    const std::vector<HistogramBin> bins = histogram(values, {0, 1}, 4);
    ASSERT_EQ(bins.size(), 4u);
    const std::size_t counts[4] = {1, 1, 1, 1};
    const double shares[4] = {1.0 / 12, 1.0 / 3, 1.0 / 3, 1.0 / 4};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bins[i].lower, 0.25 * i);
        EXPECT_EQ(bins[i].upper, 0.25 * (i + 1));
        EXPECT_EQ(bins[i].vertices, counts[i]) << i;
        EXPECT_NEAR(bins[i].areaShare, shares[i], 1e-15) << i;
    }
    // Outside an explicit range: into the end bins.
    const std::vector<HistogramBin> narrow = histogram(values, {0.3, 0.6}, 3);
    EXPECT_EQ(narrow[0].vertices, 2u);
    EXPECT_EQ(narrow[1].vertices, 0u);
    EXPECT_EQ(narrow[2].vertices, 2u);
}

TEST_F(Histogram, AreaSamplesGiveTheShareWhenThereAreAny)
{
    values.distances = {0, 0, 0, 0};
    values.sampleDistances = {0.1, 0.9, 0.95};
    values.sampleWeights = {3, 0.5, 0.5};
    const std::vector<HistogramBin> bins = histogram(values, defaultRange({values}), 2);
    EXPECT_EQ(bins[1].upper, 0.95);
    EXPECT_EQ(bins[0].vertices, 4u);
    EXPECT_EQ(bins[0].areaShare, 0.75);
    EXPECT_EQ(bins[1].areaShare, 0.25);
    // Identical meshes: the default range is empty; everything in bin 0.
    values.sampleDistances = {0, 0, 0};
    const std::vector<HistogramBin> flat = histogram(values, defaultRange({values}), 3);
    EXPECT_EQ(flat[0].vertices, 4u);
    EXPECT_EQ(flat[0].areaShare, 1.0);
    EXPECT_EQ(flat[2].upper, 0.0);
}

} // namespace

// The real binary: exact report bytes, exit status and messages.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "helpers.h"

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome runMeshqem(const std::vector<std::string>& args, const std::string& environment = "")
{
    test::TempDir dir;
    std::string command = environment + " '" MESHQEM_BINARY "'";
    for (const std::string& arg : args)
        command += " '" + arg + "'";
    command += " >'" + dir.path("out") + "' 2>'" + dir.path("err") + "'";
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::readFile(dir.path("out")),
            test::readFile(dir.path("err"))};
}

const std::string kExamples = MESHQEM_EXAMPLES_DIR;

// Cross-checked with tools/reference_qem.py.
const char kSphereReport[] =
    "Number of vertecies of first mesh is 642\n"
    "Number of faces of second mesh is 80\n"
    "Result of Point to Face is 258.013458\n"
    "Number of vertecies of first mesh is 42\n"
    "Number of faces of second mesh is 1280\n"
    "Result of Point to Face is 0.000054\n"
    "QEM Error is 97.325943\n";

TEST(Cli, ReportsTheExampleSpheresExactly)
{
    // Arguments after the second file are ignored; the decimal point never
    // depends on the user's locale.
    Outcome run = runMeshqem({kExamples + "/sphere.ply", kExamples + "/sphere_coarse.ply", "ignored"},
                         "LC_ALL=de_DE.UTF-8 LC_NUMERIC=de_DE.UTF-8");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, kSphereReport);
    EXPECT_EQ(run.err, "");
}

TEST(Cli, SameMeshInEveryFormatGivesTheSameBytes)
{
    test::TempDir dir;
    std::vector<Vector3> shifted = test::kTetraVertices;
    for (Vector3& v : shifted)
        v = {v.x * 2 + 0.25f, v.y - 1, v.z * 3};
    std::string reference;
    for (auto format : {test::PlyFormat::ascii, test::PlyFormat::littleEndian, test::PlyFormat::bigEndian}) {
        std::string a = dir.write("a.ply", test::encodePly(test::kTetraVertices, test::kTetraFaces, format));
        std::string b = dir.write("b.ply", test::encodePly(shifted, {{0, 1, 2}, {1, 2, 3}}, format));
        Outcome run = runMeshqem({a, b});
        ASSERT_EQ(run.status, 0) << run.err;
        if (reference.empty())
            reference = run.out;
        EXPECT_EQ(run.out, reference) << test::formatName(format);
    }
    EXPECT_NE(reference.find("QEM Error is "), std::string::npos);
}

TEST(Cli, UsageAndOptions)
{
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"only-one.ply"}}) {
        Outcome run = runMeshqem(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "Not enough arguments, enter two ply file names");
    }
    Outcome help = runMeshqem({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: meshqem FIRST.ply SECOND.ply\n", 0), 0u);
    Outcome version = runMeshqem({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "meshqem " MESHQEM_VERSION "\n");
}

// Both files are tried so both problems show; nothing reaches standard output.
TEST(Cli, ReportsEveryUnreadableFileAndPrintsNoFigure)
{
    Outcome run = runMeshqem({"/nonexistent/a.ply", "/nonexistent/b.ply"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "RPly: Unable to open file\n"
              "meshqem: /nonexistent/a.ply: not a readable PLY file\n"
              "RPly: Unable to open file\n"
              "meshqem: /nonexistent/b.ply: not a readable PLY file\n");
}

struct BadInput {
    const char* name;
    std::string second;  // the second file; the first is a valid mesh
    const char* message;
};

void PrintTo(const BadInput& input, std::ostream* os) { *os << input.name; }

class CliRejects : public testing::TestWithParam<BadInput> {};

TEST_P(CliRejects, NamingTheFileWithExitStatus1)
{
    test::TempDir dir;
    std::string good = dir.write("good.ply", test::encodePly(test::kTetraVertices, test::kTetraFaces,
                                                             test::PlyFormat::ascii));
    std::string bad = dir.write("bad.ply", GetParam().second);
    Outcome run = runMeshqem({good, bad});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("meshqem: " + bad + ": " + GetParam().message), std::string::npos) << run.err;
}

const std::string kHeader = "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\n"
                            "property float y\nproperty float z\n";

INSTANTIATE_TEST_SUITE_P(
    Cli, CliRejects,
    testing::Values(
        BadInput{"Quad",
                 kHeader + "element face 1\nproperty list uchar int vertex_indices\nend_header\n"
                           "0 0 0\n1 0 0\n1 1 0\n0 1 0\n4 0 1 2 3\n",
                 "face 0 has 4 vertex indices"},
        BadInput{"BadIndex",
                 kHeader + "element face 1\nproperty list uchar int vertex_indices\nend_header\n"
                           "0 0 0\n1 0 0\n1 1 0\n0 1 0\n3 0 1 4\n",
                 "face 0 refers to vertex 4"},
        BadInput{"NoVertices",
                 "ply\nformat ascii 1.0\nelement vertex 0\nproperty float x\nproperty float y\n"
                 "property float z\nend_header\n",
                 "the mesh has no vertices"},
        BadInput{"AllVerticesAtOnePoint", kHeader + "end_header\n1 2 3\n1 2 3\n1 2 3\n1 2 3\n",
                 "the bounding-box diagonal is zero"},
        BadInput{"Truncated", kHeader + "end_header\n1 2 3\n1 2 3\n", "not a readable PLY file"}),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST(Cli, WarnsAboutDegenerateFacesButKeepsTheFigure)
{
    test::TempDir dir;
    std::string a = dir.write("a.ply", test::encodePly(test::kTetraVertices, test::kTetraFaces,
                                                       test::PlyFormat::ascii));
    std::string b = dir.write("b.ply", test::encodePly(test::kTetraVertices, {{0, 1, 2}, {3, 3, 3}},
                                                       test::PlyFormat::littleEndian));
    Outcome run = runMeshqem({a, b});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Result of Point to Face is 0.000000\n"), std::string::npos);
    EXPECT_EQ(run.err, "meshqem: warning: " + b + ": 1 degenerate faces (zero normal); every vertex of " +
                           a + " is at distance 0 from their plane\n");
}

TEST(Cli, WritingToAFullDeviceFails)
{
    if (!test::fileExists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    std::string command = "'" MESHQEM_BINARY "' '" + kExamples + "/sphere.ply' '" + kExamples +
                          "/sphere_coarse.ply' >/dev/full 2>/dev/null";
    int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
}

// Files from Debian's assimp-testmodels, made by other programs. Expected
// reports cross-checked with tools/reference_qem.py.
class AssimpFiles : public testing::Test {
protected:
    void SetUp() override
    {
        if (!test::fileExists(test::kAssimpPly + "Wuson.ply"))
            GTEST_SKIP() << "assimp-testmodels is not installed (scripts/install-deps.sh installs it)";
    }
    static Outcome compare(const char* first, const char* second)
    {
        return runMeshqem({test::kAssimpPly + first, test::kAssimpPly + second});
    }
};

TEST_F(AssimpFiles, ReadsExporterHeadersBinaryCubesAndExtraProperties)
{
    // Wuson's header has a line "Created by Blender3D ..." without the comment keyword.
    Outcome run = compare("Wuson.ply", "cube_binary.ply");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "Number of vertecies of first mesh is 11184\n"
              "Number of faces of second mesh is 12\n"
              "Result of Point to Face is 116609.187500\n"
              "Number of vertecies of first mesh is 8\n"
              "Number of faces of second mesh is 3732\n"
              "Result of Point to Face is 0.089821\n"
              "QEM Error is 1214948.375000\n");

    run = compare("float-color.ply", "Wuson.ply");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "Number of vertecies of first mesh is 3\n"
              "Number of faces of second mesh is 3732\n"
              "Result of Point to Face is 1.890650\n"
              "Number of vertecies of first mesh is 11184\n"
              "Number of faces of second mesh is 1\n"
              "Result of Point to Face is 10824472.000000\n"
              "QEM Error is 10473692160.000000\n");
}

TEST_F(AssimpFiles, APointSetMakesEveryVertexOfTheOtherMeshCountTheCap)
{
    Outcome run = compare("points.ply", "Wuson.ply");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "Number of vertecies of first mesh is 4\n"
              "Number of faces of second mesh is 3732\n"
              "Result of Point to Face is 0.002650\n"
              "Number of vertecies of first mesh is 11184\n"
              "Number of faces of second mesh is 0\n"
              "Result of Point to Face is 11184000.000000\n"
              "QEM Error is 11180001280.000000\n");
}

TEST_F(AssimpFiles, RejectsQuadsClearly)
{
    Outcome run = compare("cube.ply", "cube_binary.ply");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("meshqem: " + test::kAssimpPly +
                           "cube.ply: face 0 has 4 vertex indices; only triangles are supported\n"),
              std::string::npos) << run.err;
}

} // namespace

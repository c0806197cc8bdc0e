// The real binary: exact report bytes, exit status and messages.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "helpers.h"
#include "ply/ply_mesh.h"

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// `environment` comes before the command, `input` (a redirection of
// standard input, say) after it.
Outcome runMeshqem(const std::vector<std::string>& args, const std::string& environment = "",
                   const std::string& input = "")
{
    test::TempDir dir;
    std::string command = environment + " '" MESHQEM_BINARY "'";
    for (const std::string& arg : args)
        command += " '" + arg + "'";
    command += " " + input + " >'" + dir.path("out") + "' 2>'" + dir.path("err") + "'";
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

// Both files are tried so both problems show, in file order whether they are
// read one after the other (one thread) or side by side; nothing reaches
// standard output.
TEST(Cli, ReportsEveryUnreadableFileAndPrintsNoFigure)
{
    for (const char* threads : {"1", "2"}) {
        Outcome run = runMeshqem({"--threads", threads, "/nonexistent/a.ply", "/nonexistent/b.ply"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err,
                  "RPly: Unable to open file\n"
                  "meshqem: /nonexistent/a.ply: cannot open: No such file or directory\n"
                  "RPly: Unable to open file\n"
                  "meshqem: /nonexistent/b.ply: cannot open: No such file or directory\n")
            << threads << " threads";
    }
}

// The reader's line stays as it always was; the next one names the file and
// gives the system's reason.
TEST(Cli, OpenFailuresSayWhy)
{
    test::TempDir dir;
    const std::string sphere = kExamples + "/sphere.ply";
    std::string locked = dir.write("locked.ply", test::readFile(sphere));
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    struct Case {
        std::string file;
        const char* reason;
    };
    std::vector<Case> cases = {{dir.path("missing.ply"), "No such file or directory"},
                               {dir.path(""), "Is a directory"},
                               {sphere + "/x.ply", "Not a directory"}};
    // The superuser reads any file, so as root the run drops to nobody
    // (through the directory, which it may search).
    std::string asUser;
    if (geteuid() == 0 && test::fileExists("/usr/bin/setpriv")) {
        asUser = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups";
        // Only where nobody can run the binary on the examples at all.
        const std::string probe = asUser + " sh -c \"test -x '" MESHQEM_BINARY "' && test -r '" +
                                  sphere + "'\"";
        if (std::system(probe.c_str()) != 0)
            asUser.clear();
        ASSERT_EQ(chmod(dir.path("").c_str(), 0711), 0);
    }
    if (geteuid() != 0 || !asUser.empty())
        cases.push_back({locked, "Permission denied"});
    for (const Case& c : cases)
        for (const char* mode : {"--json", "--surface"}) {
            Outcome run = runMeshqem({mode, sphere, c.file}, c.file == locked ? asUser : "");
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err, "RPly: Unable to open file\nmeshqem: " + c.file + ": cannot open: " +
                                   c.reason + "\n");
        }
}

// A file that loaded still gets every check of the mode when the other file
// cannot be read: a single vertex cannot be scaled, and has no surface.
TEST(Cli, EveryFileIsCheckedWhenTheOtherCannotBeRead)
{
    test::TempDir dir;
    const std::string one = dir.write("one_vertex.ply", test::encodePly({{1, 2, 3}}, {}, test::PlyFormat::ascii));
    const std::string missing = dir.path("nonexistent.ply");
    const std::string openFailure =
        "RPly: Unable to open file\nmeshqem: " + missing + ": cannot open: No such file or directory\n";
    const std::string unscalable =
        "meshqem: " + one + ": the bounding-box diagonal is zero (or not finite), so the mesh cannot be scaled\n";
    const std::string noSurface =
        "meshqem: " + one + ": the mesh has no faces, so it has no surface to measure distances to\n";
    for (bool oneFirst : {true, false}) {
        std::vector<std::string> files = oneFirst ? std::vector<std::string>{one, missing}
                                                  : std::vector<std::string>{missing, one};
        Outcome run = runMeshqem(files);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, openFailure + unscalable);
        files.insert(files.begin(), "--surface");
        run = runMeshqem(files);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, openFailure + noSurface);
    }
    // Both checks of the default mode run even when the first already failed.
    const std::string empty = dir.write("empty.ply", test::encodePly({}, {}, test::PlyFormat::ascii));
    Outcome run = runMeshqem({empty, one});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "meshqem: " + empty + ": the mesh has no vertices, so it cannot be scaled\n" + unscalable);
}

// "-" reads standard input through the same reader, whether it is a file, a
// pipe or something that cannot be read; it can stand for only one file.
TEST(Cli, StandardInputStandsForOneFile)
{
    const std::string sphere = kExamples + "/sphere.ply";
    const std::string coarse = kExamples + "/sphere_coarse.ply";
    struct Case {
        std::vector<std::string> args;
        std::string input;
    };
    for (const Case& c : std::vector<Case>{{{"-", coarse}, "<'" + sphere + "'"},
                                           {{sphere, "-"}, "<'" + coarse + "'"}}) {
        Outcome run = runMeshqem(c.args, "", c.input);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, kSphereReport);
        EXPECT_EQ(run.err, "");
    }
    // Through a pipe, read to its end; and part-way through a file, from where it stands.
    Outcome piped = runMeshqem({"-", coarse}, "cat '" + sphere + "' |");
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, kSphereReport);
    test::TempDir dir;
    const std::string prefixed = dir.write("prefixed", "junk\n" + test::readFile(sphere));
    Outcome partWay = runMeshqem({"-", coarse}, "{ read -r line;", "; } <'" + prefixed + "'");
    EXPECT_EQ(partWay.status, 0) << partWay.err;
    EXPECT_EQ(partWay.out, kSphereReport);

    // The report names it as given.
    Outcome surface = runMeshqem({"--surface", "--json", sphere, "-"}, "", "<'" + coarse + "'");
    ASSERT_EQ(surface.status, 0) << surface.err;
    nlohmann::json fromInput = nlohmann::json::parse(surface.out);
    nlohmann::json fromFile = nlohmann::json::parse(runMeshqem({"--surface", "--json", sphere, coarse}).out);
    EXPECT_EQ(fromInput["b"]["file"], "-");
    fromFile["b"]["file"] = "-";
    EXPECT_EQ(fromInput, fromFile);

    Outcome directory = runMeshqem({"-", coarse}, "", "< /");
    EXPECT_EQ(directory.status, 1);
    EXPECT_EQ(directory.err, "RPly: Unable to open file\nmeshqem: standard input: cannot open: Is a directory\n");
    // Closed, it must not become the other file, which is opened meanwhile
    // when both are read side by side: a race, so tried a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        Outcome closed = runMeshqem({"-", coarse}, "", "<&-");
        EXPECT_EQ(closed.status, 1);
        EXPECT_EQ(closed.err, "RPly: Unable to open file\nmeshqem: standard input: cannot open: Bad file descriptor\n");
    }
    Outcome notPly = runMeshqem({"--surface", coarse, "-"}, "", "< /dev/null");
    EXPECT_EQ(notPly.status, 1);
    EXPECT_NE(notPly.err.find("meshqem: standard input: "), std::string::npos) << notPly.err;

    Outcome both = runMeshqem({"-", "-"}, "", "<'" + sphere + "'");
    EXPECT_EQ(both.status, 2);
    EXPECT_EQ(both.out, "");
    EXPECT_EQ(both.err, "meshqem: standard input ('-') can be only one of the files\n"
                        "Run 'meshqem --help' to see the options.\n");
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

// A closed standard output is a failure to write the report, as a full
// device is, and the export opened meanwhile gets only its own rows.
TEST(Cli, ClosedStandardOutputFails)
{
    test::TempDir dir;
    const std::string csv = dir.path("vertices.csv");
    std::string command = "'" MESHQEM_BINARY "' --per-vertex '" + csv + "' '" + kExamples +
                          "/sphere.ply' '" + kExamples + "/sphere_coarse.ply' >&- 2>'" +
                          dir.path("err") + "'";
    int status = std::system(command.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(test::readFile(dir.path("err")), "meshqem: cannot write the report: Bad file descriptor\n");
    EXPECT_EQ(test::readFile(csv).find("QEM"), std::string::npos);
}

// Options are recognised anywhere on the line; what each asks for wins over
// the rest of it.
TEST(Cli, HelpAndVersionAnywhere)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-h"}, {"a.ply", "--help"}, {"--json", "a.ply", "-h", "b.ply"},
          {"--foo", "--help"}, {"--surface", "--samples", "3", "--help"}}) {
        Outcome run = runMeshqem(args);
        EXPECT_EQ(run.status, 0) << args.back();
        EXPECT_EQ(run.out.rfind("Usage: meshqem FIRST.ply SECOND.ply\n", 0), 0u);
        for (const char* option : {"-h, --help", "--version", "--json", "--surface", "--samples N",
                                   "--threads N", "  --  "})
            EXPECT_NE(run.out.find(option), std::string::npos) << option;
        EXPECT_EQ(run.err, "");
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"a.ply", "b.ply", "--version"}, {"--surface", "--version", "x"}}) {
        Outcome run = runMeshqem(args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, "meshqem " MESHQEM_VERSION "\n");
    }
}

// A wrong command line is exit status 2 with a message naming what is
// wrong on standard error, and no file is read.
TEST(Cli, UsageErrorsNameTheOption)
{
    const std::string sphere = kExamples + "/sphere.ply";
    struct Case {
        std::vector<std::string> args;
        const char* named;
    };
    for (const Case& c : std::vector<Case>{
             {{"--foo", sphere, sphere}, "--foo"},
             {{sphere, "-x", sphere}, "-x"},
             {{"--threads", "0", sphere, sphere}, "--threads"},
             {{"--threads", "-2", sphere, sphere}, "--threads"},
             {{"--threads", "many", sphere, sphere}, "--threads"},
             {{"--threads", sphere, sphere}, "--threads"},
             {{"--samples", "5", sphere, sphere}, "--samples applies only with --surface"},
             {{"--surface", "--samples", "-1", sphere, sphere}, "--samples"},
             // Beyond the integer's range: quoted as typed, not as clamped.
             {{"--threads", "99999999999999999999", sphere, sphere}, "got 99999999999999999999"},
             {{"--surface", "--samples", "-99999999999999999999", sphere, sphere},
              "got -99999999999999999999"},
             {{"--hausdorff-error", "1", sphere, sphere}, "--hausdorff-error applies only with --surface"},
             {{"--reconstruction", sphere, sphere}, "--reconstruction applies only with --surface"},
             {{"--surface", "--tau", "1", sphere, sphere}, "--tau applies only with --reconstruction"},
             {{"--surface", "--reconstruction", "--samples", "0", sphere, sphere}, "needs area samples"},
             {{"--surface", "--hausdorff-error", "0", sphere, sphere}, "--hausdorff-error"},
             {{"--surface", "--hausdorff-error", "-1", sphere, sphere}, "--hausdorff-error"},
             {{"--surface", "--hausdorff-error", "1%%", sphere, sphere}, "--hausdorff-error"},
             {{"--surface", "--hausdorff-error", "inf", sphere, sphere}, "--hausdorff-error"},
             {{"--surface", "--hausdorff-error", "1e-300", sphere, sphere}, "least error bound"},
             {{"--surface", "--reconstruction", "--tau", "1,,2", sphere, sphere}, "--tau"},
             {{"--surface", "--reconstruction", "--tau", "0.1,x", sphere, sphere}, "--tau"},
             {{"--surface", "--protocol", "onet", sphere, sphere}, "--protocol applies only with --reconstruction"},
             {{"--surface", "--reconstruction", "--protocol", "dtu", sphere, sphere}, "--protocol"},
             {{"--surface", "--reconstruction", "--protocol", "onet", "--tau", "1", sphere, sphere}, "--tau does not apply"},
             {{"--surface", "--reconstruction", "--protocol", "onet", sphere, sphere, sphere}, "one pair"},
             {{"--surface", "--reconstruction", "--seed", "3", sphere, sphere}, "--seed applies only with --protocol"},
             {{"--surface", "--reconstruction", "--protocol", "onet", "--seed", "-1", sphere, sphere}, "--seed"},
             {{"--surface", "--reconstruction", "--protocol", "onet", "--seed", "1x", sphere, sphere}, "--seed"},
             {{"--protocol", "onet", sphere, sphere}, "--protocol"}}) {
        Outcome run = runMeshqem(c.args);
        EXPECT_EQ(run.status, 2) << c.named;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.named), std::string::npos) << run.err;
        EXPECT_EQ(run.err.rfind("meshqem: ", 0), 0u) << run.err;
    }
    // Not an unknown option after "--": a file name that cannot be read.
    Outcome run = runMeshqem({"--", "--foo", kExamples + "/sphere.ply"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("meshqem: --foo: cannot open: No such file or directory"), std::string::npos)
        << run.err;
}

// --threads wins over OMP_NUM_THREADS and never changes a figure.
TEST(Cli, ThreadsLeaveTheReportUnchanged)
{
    const std::vector<std::string> files = {kExamples + "/sphere.ply", kExamples + "/sphere_coarse.ply"};
    for (const char* threads : {"1", "2", "3"}) {
        std::vector<std::string> args = {"--threads", threads};
        args.insert(args.end(), files.begin(), files.end());
        Outcome run = runMeshqem(args, "OMP_NUM_THREADS=1");
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, kSphereReport);
    }
    std::string reference;
    for (const char* threads : {"1", "2"}) {
        Outcome run = runMeshqem({"--surface", "--samples", "2000", "--threads", threads, files[0], files[1]});
        EXPECT_EQ(run.status, 0) << run.err;
        if (reference.empty())
            reference = run.out;
        EXPECT_EQ(run.out, reference) << threads;
    }
}

// The JSON of the default mode holds the floats the seven lines print.
TEST(Cli, JsonOfTheDefaultModeHasTheLinesValues)
{
    Outcome run = runMeshqem({"--json", kExamples + "/sphere.ply", kExamples + "/sphere_coarse.ply"});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json j = nlohmann::json::parse(run.out);
    auto printed = [](const nlohmann::json& value) {
        char text[64];
        std::snprintf(text, sizeof text, "%f", value.get<double>());
        EXPECT_EQ(double(float(value.get<double>())), value.get<double>()) << "not a float";
        return std::string(text);
    };
    EXPECT_EQ(j["first"]["file"], kExamples + "/sphere.ply");
    EXPECT_EQ(j["first"]["vertices"], 642);
    EXPECT_EQ(j["first"]["faces"], 1280);
    EXPECT_EQ(j["second"]["vertices"], 42);
    EXPECT_EQ(j["second"]["faces"], 80);
    EXPECT_EQ(j["first_to_second"]["vertices"], 642);
    EXPECT_EQ(j["first_to_second"]["faces"], 80);
    EXPECT_EQ(printed(j["first_to_second"]["sum"]), "258.013458");
    EXPECT_EQ(j["second_to_first"]["vertices"], 42);
    EXPECT_EQ(j["second_to_first"]["faces"], 1280);
    EXPECT_EQ(printed(j["second_to_first"]["sum"]), "0.000054");
    EXPECT_EQ(printed(j["qem_error"]), "97.325943");
}

// Two parallel unit squares 0.5 apart: every distance, mean, root and
// percentile is exactly 0.5, the spread 0, and the union box 1 x 1 x 0.5
// has diagonal 1.5.
class CliSurface : public test::ParallelSquares {};

std::string directionText(const char* title, bool sampled)
{
    std::string text = std::string(title) +
                       "\n"
                       "  vertices: 4 (0 unreferenced: on no face)\n"
                       "    min               0.5\n"
                       "    max               0.5   0.333333 of the diagonal\n"
                       "    mean              0.5\n"
                       "    rms               0.5\n"
                       "    std                 0\n"
                       "    p50               0.5\n"
                       "    p90               0.5\n"
                       "    p95               0.5\n"
                       "    p99               0.5\n";
    text += sampled ? "  area samples: 20 over area 1, each weighted by the area it stands for\n"
                      "    mean              0.5\n"
                      "    rms               0.5\n"
                      "    std                 0\n"
                      "    max               0.5   0.333333 of the diagonal\n"
                      "    p50               0.5\n"
                      "    p95               0.5\n"
                      "    p99               0.5\n"
                    : "  area samples: none (--samples 0)\n";
    return text + "  one-sided maximum (lower bound: sampled): 0.5   0.333333 of the diagonal\n";
}

TEST_F(CliSurface, TextReportOfParallelSquares)
{
    for (bool sampled : {true, false}) {
        Outcome run = sampled ? runMeshqem({"--surface", a, b}) : runMeshqem({a, "--samples", "0", b, "--surface"});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out,
                  "Surface distance: from points of each mesh to the nearest point of the other's surface\n"
                  "Units: those of the input coordinates (meshes as loaded, not centred or scaled)\n"
                  "Relative figures: divided by the diagonal of the union of both bounding boxes\n"
                  "\n"
                  "A  " + a + "\n"
                  "   vertices 4, faces 2, area 1\n"
                  "   bounding box (0, 0, 0) to (1, 1, 0)\n"
                  "B  " + b + "\n"
                  "   vertices 4, faces 2, area 1\n"
                  "   bounding box (0, 0, 0.5) to (1, 1, 0.5)\n"
                  "diagonal of the union box: 1.5\n"
                  "\n" +
                      directionText("A -> B", sampled) + "\n" + directionText("B -> A", sampled) +
                      "\n"
                      "Hausdorff (lower bound: sampled): 0.5   0.333333 of the diagonal\n"
                      "  the larger of the two one-sided maxima; the Hausdorff distance itself\n"
                      "  can be larger where the farthest point of a surface was not sampled\n");
    }
}

TEST_F(CliSurface, JsonReportOfParallelSquares)
{
    for (const char* samples : {"20", "0"}) {
        Outcome run = runMeshqem({"--surface", "--json", "--samples", samples, a, b});
        ASSERT_EQ(run.status, 0) << run.err;
        const nlohmann::json j = nlohmann::json::parse(run.out);
        EXPECT_EQ(j["a"]["file"], a);
        EXPECT_EQ(j["b"]["file"], b);
        for (const char* mesh : {"a", "b"}) {
            EXPECT_EQ(j[mesh]["vertices"], 4);
            EXPECT_EQ(j[mesh]["faces"], 2);
            EXPECT_EQ(j[mesh]["area"], 1.0);
        }
        EXPECT_EQ(j["a"]["bbox_min"], nlohmann::json({0.0, 0.0, 0.0}));
        EXPECT_EQ(j["b"]["bbox_max"], nlohmann::json({1.0, 1.0, 0.5}));
        EXPECT_EQ(j["diagonal"], 1.5);
        for (const char* direction : {"a_to_b", "b_to_a"}) {
            const nlohmann::json& v = j[direction]["vertices"];
            EXPECT_EQ(v["count"], 4);
            EXPECT_EQ(v["unreferenced"], 0);
            for (const char* key : {"min", "max", "mean", "rms", "p50", "p90", "p95", "p99"})
                EXPECT_EQ(v[key], 0.5) << direction << " " << key;
            EXPECT_EQ(v["std"], 0.0);
            const nlohmann::json& area = j[direction]["area"];
            if (samples == std::string("0")) {
                EXPECT_EQ(area["samples"], 0);
                for (const char* key : {"area", "mean", "rms", "std", "max", "p50", "p95", "p99"})
                    EXPECT_TRUE(area[key].is_null()) << key;
            } else {
                EXPECT_EQ(area["samples"], 20);
                EXPECT_EQ(area["area"], 1.0);
                for (const char* key : {"mean", "rms", "max", "p50", "p95", "p99"})
                    EXPECT_EQ(area[key], 0.5) << direction << " " << key;
                EXPECT_EQ(area["std"], 0.0);
            }
        }
        EXPECT_EQ(j["hausdorff"]["lower"], 0.5);
        EXPECT_TRUE(j["hausdorff"]["upper"].is_null());
        EXPECT_NE(run.out.find("\"max_relative\":0.3333333333333333"), std::string::npos);
    }
}

// Under the protocol the squares 0.5 apart stay 0.5 apart in B's frame (side
// 1): an 'onet' block with the fixed thresholds and the seed, the same for
// the same seed at 1 and 2 threads, and no figures from the surface distances.
TEST_F(CliSurface, OnetProtocolInTheJson)
{
    std::vector<nlohmann::json> runs;
    for (const char* threads : {"1", "2"}) {
        Outcome run = runMeshqem({"--surface", "--json", "--samples", "20", "--threads", threads,
                                  "--reconstruction", "--protocol", "onet", "--seed", "9", a, b});
        ASSERT_EQ(run.status, 0) << run.err;
        runs.push_back(nlohmann::json::parse(run.out));
    }
    EXPECT_EQ(runs[0], runs[1]);
    const nlohmann::json& j = runs[0];
    EXPECT_FALSE(j.contains("reconstruction"));
    const nlohmann::json& r = j["onet"];
    EXPECT_EQ(r["protocol"], "onet");
    EXPECT_EQ(r["seed"], 9);
    EXPECT_EQ(r["samples"], 100000);
    EXPECT_NEAR(r["accuracy"]["value"].get<double>(), 0.5, 1e-4);
    EXPECT_GE(r["accuracy"]["value"].get<double>(), 0.5 - 1e-15);
    EXPECT_EQ(r["normal_consistency"]["value"], 1.0);
    EXPECT_EQ(r["chamfer_l1"]["definition"], "(accuracy + completeness) / 2");
    ASSERT_EQ(r["thresholds"].size(), 3u);
    EXPECT_EQ(r["thresholds"][2]["tau"], 0.02);
    EXPECT_EQ(r["thresholds"][2]["f_score"]["value"], 0.0);
    Outcome other = runMeshqem({"--surface", "--json", "--samples", "20", "--reconstruction",
                                "--protocol", "onet", "--seed", "10", a, b});
    ASSERT_EQ(other.status, 0) << other.err;
    EXPECT_NE(nlohmann::json::parse(other.out)["onet"]["accuracy"], r["accuracy"]);
    Outcome text = runMeshqem({"--surface", "--samples", "20", "--reconstruction", "--protocol",
                               "onet", a, b});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("Occupancy Networks protocol (seed 0)"), std::string::npos);
    EXPECT_NE(text.out.find("nearest point of B's sample"), std::string::npos);
}

// The certified interval of two parallel squares 0.5 apart holds 0.5 and
// is within the error bound, in each direction and for both; the sampled
// bound moves to sampled_lower. The reconstruction figures carry their
// definitions. Neither changes the rest of the report.
TEST_F(CliSurface, CertifiedIntervalAndReconstructionInTheJson)
{
    Outcome plain = runMeshqem({"--surface", "--json", "--samples", "20", a, b});
    Outcome run = runMeshqem({"--surface", "--json", "--samples", "20", "--hausdorff-error",
                              "1%", "--reconstruction", "--tau", "0.25,50%", a, b});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json j = nlohmann::json::parse(run.out);
    const nlohmann::json& h = j["hausdorff"];
    const double error = 0.015;  // 1 % of the diagonal 1.5
    EXPECT_DOUBLE_EQ(h["error_bound"].get<double>(), error);
    EXPECT_EQ(h["sampled_lower"], 0.5);
    for (const nlohmann::json* i : {&h, &h["a_to_b_interval"], &h["b_to_a_interval"]}) {
        EXPECT_LE((*i)["lower"].get<double>(), 0.5);
        EXPECT_GE((*i)["upper"].get<double>(), 0.5);
        EXPECT_LE((*i)["upper"].get<double>() - (*i)["lower"].get<double>(), error);
    }
    EXPECT_EQ(h["a_to_b_interval"]["witness"].size(), 3u);
    EXPECT_EQ(h["a_to_b_interval"]["converged"], true);
    const nlohmann::json& r = j["reconstruction"];
    EXPECT_EQ(r["reference"], "b");
    EXPECT_DOUBLE_EQ(r["chamfer_l1"]["value"].get<double>(), 0.5);
    EXPECT_EQ(r["chamfer_l1"]["definition"], "(accuracy + completeness) / 2");
    ASSERT_EQ(r["thresholds"].size(), 2u);
    EXPECT_EQ(r["thresholds"][0]["tau"], 0.25);
    EXPECT_EQ(r["thresholds"][0]["f_score"]["value"], 0.0);
    EXPECT_EQ(r["thresholds"][1]["tau"], 0.75);
    EXPECT_EQ(r["thresholds"][1]["f_score"]["value"], 1.0);
    // Everything before "hausdorff" is the plain report's bytes.
    const std::size_t at = plain.out.find("\"hausdorff\"");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(run.out.substr(0, at), plain.out.substr(0, at));

    std::string reference;
    for (const char* threads : {"1", "2"}) {
        Outcome text = runMeshqem({"--surface", "--samples", "50", "--hausdorff-error", "0.001",
                                   "--reconstruction", "--threads", threads, a, b});
        EXPECT_EQ(text.status, 0) << text.err;
        EXPECT_NE(text.out.find("Hausdorff (certified): ["), std::string::npos);
        EXPECT_NE(text.out.find("chamfer-L2"), std::string::npos);
        if (reference.empty())
            reference = text.out;
        EXPECT_EQ(text.out, reference) << threads;
    }
}

// A point set has no surface to measure against: both files are checked,
// each named, and nothing is printed.
TEST_F(CliSurface, MeshesWithoutSurfaceAreRejected)
{
    const std::string points = dir.write("points.ply", test::encodePly(test::kTetraVertices, {}, test::PlyFormat::ascii));
    const std::string flat = dir.write("flat.ply", test::encodePly(test::kTetraVertices, {{0, 0, 1}, {2, 2, 2}},
                                                                   test::PlyFormat::ascii));
    Outcome run = runMeshqem({"--surface", points, flat});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "meshqem: " + points + ": the mesh has no faces, so it has no surface to measure distances to\n"
                       "meshqem: " + flat + ": every face has zero area, so the mesh has no surface to measure "
                       "distances to\n");
    // The default mode still takes a point set.
    EXPECT_EQ(runMeshqem({points, a}).status, 0);
}

// The loader's messages are the default mode's, for both files.
TEST_F(CliSurface, UnreadableFilesAreReportedAsInTheDefaultMode)
{
    Outcome run = runMeshqem({"--surface", "/nonexistent/a.ply", "/nonexistent/b.ply"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "RPly: Unable to open file\n"
              "meshqem: /nonexistent/a.ply: cannot open: No such file or directory\n"
              "RPly: Unable to open file\n"
              "meshqem: /nonexistent/b.ply: cannot open: No such file or directory\n");
}

// Runs the binary with standard error on a pseudo-terminal (standard output
// to a file, standard input from /dev/null) and MESHQEM_PROGRESS_DELAY set to
// `delay`; `err` is what the terminal received.
Outcome runOnTerminal(const std::vector<std::string>& args, const char* delay)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return {-1, "", "no pseudo-terminal"};
    const std::string slaveName = ptsname(master);
    // Held open here too, so that the terminal lives until the child has
    // exited and every byte it wrote can still be read.
    int slave = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
    test::TempDir dir;
    const std::string outPath = dir.path("out");
    std::vector<std::string> argStrings = {MESHQEM_BINARY};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argStrings)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int in = open("/dev/null", O_RDONLY);
        if (out < 0 || in < 0 || dup2(slave, 2) < 0 || dup2(out, 1) < 0 || dup2(in, 0) < 0)
            _exit(126);
        close(master);
        setenv("MESHQEM_PROGRESS_DELAY", delay, 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string terminal;
    auto drain = [&](int timeoutMs) {
        pollfd fd{master, POLLIN, 0};
        while (poll(&fd, 1, timeoutMs) > 0) {
            char buffer[4096];
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            terminal.append(buffer, std::size_t(n));
            timeoutMs = 0;
        }
    };
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0)
        drain(50);
    drain(0);
    close(slave);
    close(master);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::readFile(outPath), terminal};
}

// On a terminal the phases show, with a percentage while comparing, each
// drawn over the one before and the last one erased, so that nothing is
// left on the line; the report itself is unchanged.
TEST(Cli, ProgressOnATerminal)
{
    const std::string sphere = kExamples + "/sphere.ply";
    const std::string coarse = kExamples + "/sphere_coarse.ply";
    auto erasedAtTheEnd = [](const std::string& terminal) {
        // "\r<spaces>\r" last.
        const std::size_t last = terminal.find_last_not_of(' ', terminal.size() - 2);
        return terminal.size() >= 2 && terminal.back() == '\r' && last != std::string::npos &&
               terminal[last] == '\r' && last + 2 < terminal.size();
    };
    for (bool surface : {false, true}) {
        std::vector<std::string> args = {sphere, coarse};
        if (surface)
            args.insert(args.begin(), "--surface");
        Outcome run = runOnTerminal(args, "0");
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, surface ? runMeshqem(args).out : kSphereReport);
        const std::string& shown = run.err;
        // One file after the other on one thread, side by side on more (the
        // line is cut at the terminal's width).
        const bool apart = shown.find("\rmeshqem: reading " + sphere + "\r") != std::string::npos &&
                           shown.find("\rmeshqem: reading " + coarse + "\r") != std::string::npos;
        const bool together =
            shown.find("\rmeshqem: reading " + sphere + " and ") != std::string::npos;
        EXPECT_TRUE(apart || together) << shown;
        const std::string comparing =
            std::string("\rmeshqem: comparing the ") + (surface ? "surfaces " : "meshes ");
        const std::size_t at = shown.find(comparing);
        ASSERT_NE(at, std::string::npos) << shown;
        const std::size_t percent = shown.find('%', at);
        ASSERT_NE(percent, std::string::npos);
        const int value = std::atoi(shown.c_str() + at + comparing.size());
        EXPECT_TRUE(value >= 0 && value <= 100) << shown;
        EXPECT_EQ(shown.find('\n'), std::string::npos) << shown;
        EXPECT_TRUE(erasedAtTheEnd(shown)) << shown;
    }

    // Messages start on a line of their own.
    const std::string missing = "/nonexistent/b.ply";
    Outcome failed = runOnTerminal({sphere, missing}, "0");
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("\rRPly: Unable to open file\r\nmeshqem: " + missing +
                              ": cannot open: No such file or directory\r\n"),
              std::string::npos)
        << failed.err;

    // Two ASCII files of like size are read side by side on two threads; an
    // ASCII file and a binary one, one after the other.
    test::TempDir dir;
    Mesh coarseMesh;
    std::string error;
    ASSERT_TRUE(loadPlyMesh(coarse.c_str(), coarseMesh, error)) << error;
    std::vector<std::array<int, 3>> faces;
    for (const Face& f : coarseMesh.faces)
        faces.push_back({int(f.vertices[0]), int(f.vertices[1]), int(f.vertices[2])});
    const std::string binary = dir.write(
        "coarse_binary.ply",
        test::encodePly({coarseMesh.vertices.begin(), coarseMesh.vertices.end()}, faces,
                        test::PlyFormat::littleEndian));
    Outcome ascii = runOnTerminal({"--threads", "2", coarse, coarse}, "0");
    EXPECT_EQ(ascii.status, 0) << ascii.err;
    EXPECT_NE(ascii.err.find("\rmeshqem: reading " + coarse + " and "), std::string::npos)
        << ascii.err;
    Outcome mixed = runOnTerminal({"--threads", "2", coarse, binary}, "0");
    EXPECT_EQ(mixed.status, 0) << mixed.err;
    EXPECT_NE(mixed.err.find("\rmeshqem: reading " + binary + "\r"), std::string::npos)
        << mixed.err;
    EXPECT_EQ(mixed.err.find(" and "), std::string::npos) << mixed.err;

    // Nothing before the delay has passed, and nothing off a terminal.
    Outcome quick = runOnTerminal({sphere, coarse}, "30");
    EXPECT_EQ(quick.status, 0);
    EXPECT_EQ(quick.out, kSphereReport);
    EXPECT_EQ(quick.err, "");
    Outcome offTerminal = runMeshqem({sphere, coarse}, "MESHQEM_PROGRESS_DELAY=0");
    EXPECT_EQ(offTerminal.out, kSphereReport);
    EXPECT_EQ(offTerminal.err, "");
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

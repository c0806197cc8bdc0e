// The exports, thresholds and batch runs of the real binary: exact bytes of
// every file, exit statuses, and files read back through the project's reader.
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "helpers.h"
#include "ply/ply_mesh.h"
#include "ply/reader.h"
#include "report/exports.h"

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome run(const std::vector<std::string>& args, const std::string& environment = "")
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

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        result.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "no line break at the end";
    return result;
}

std::vector<std::string> fields(const std::string& line)
{
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1)
        result.push_back(line.substr(start, comma - start));
    result.push_back(line.substr(start));
    return result;
}

Mesh load(const std::string& path)
{
    Mesh mesh;
    std::string error;
    EXPECT_TRUE(loadPlyMesh(path.c_str(), mesh, error)) << path << ": " << error;
    return mesh;
}

bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The per-vertex CSV, the coloured PLY files and the input agree: same
// vertices bit for bit, quality = the CSV's distance rounded to float, and
// the colour of that distance on the ramp.
void expectColorPlyMatches(const std::string& prefix, const std::string& csv,
                           const std::vector<std::string>& inputs, const ValueRange& range)
{
    const std::vector<std::string> rows = lines(csv);
    std::size_t row = 1;
    for (int m = 0; m < 2; ++m) {
        const std::string path = prefix + (m == 0 ? "_a.ply" : "_b.ply");
        const Mesh input = load(inputs[m]), written = load(path);
        ASSERT_EQ(written.vertexCount(), input.vertexCount());
        ASSERT_EQ(written.faceCount(), input.faceCount());
        for (std::size_t f = 0; f < input.faceCount(); ++f)
            EXPECT_EQ(written.faces[f].vertices, input.faces[f].vertices);
        const std::vector<double> quality = test::readVertexProperty(path, "quality");
        const std::vector<double> red = test::readVertexProperty(path, "red"),
                                  green = test::readVertexProperty(path, "green"),
                                  blue = test::readVertexProperty(path, "blue");
        ASSERT_EQ(quality.size(), input.vertexCount());
        for (std::size_t v = 0; v < input.vertexCount(); ++v, ++row) {
            const std::vector<std::string> f = fields(rows.at(row));
            ASSERT_EQ(f.size(), 6u);
            EXPECT_EQ(f[0], m == 0 ? "a" : "b");
            EXPECT_EQ(f[1], std::to_string(v));
            const Vector3& p = input.vertices[v];
            EXPECT_TRUE(sameBits(std::stof(f[2]), p.x) && sameBits(std::stof(f[3]), p.y) &&
                        sameBits(std::stof(f[4]), p.z)) << rows[row];
            EXPECT_TRUE(sameBits(written.vertices[v].x, p.x) && sameBits(written.vertices[v].y, p.y) &&
                        sameBits(written.vertices[v].z, p.z)) << v;
            const double distance = std::stod(f[5]);
            EXPECT_TRUE(sameBits(float(quality[v]), float(distance))) << rows[row];
            const Rgb color = rampColor(rampPosition(distance, range));
            EXPECT_EQ(red[v], color.red);
            EXPECT_EQ(green[v], color.green);
            EXPECT_EQ(blue[v], color.blue);
        }
    }
    EXPECT_EQ(row, rows.size());
}

// The default mode: the CSV's distances are the floats the sums add up, and
// the report itself is unchanged.
TEST(CliExports, PlaneDistancesAddUpToTheSums)
{
    test::TempDir dir;
    const std::vector<std::string> inputs = {kExamples + "/sphere.ply", kExamples + "/sphere_coarse.ply"};
    const Outcome plain = run(inputs);
    const Outcome exported = run({"--per-vertex", dir.path("v.csv"), "--color-ply", dir.path("c"),
                                  "--histogram", "5", dir.path("h.csv"), inputs[0], inputs[1]});
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(exported.out, plain.out);
    EXPECT_EQ(exported.err, "");
    const nlohmann::json j = nlohmann::json::parse(run({"--json", inputs[0], inputs[1]}).out);

    const std::string csv = test::readFile(dir.path("v.csv"));
    const std::vector<std::string> rows = lines(csv);
    ASSERT_EQ(rows.size(), 1u + 642 + 42);
    EXPECT_EQ(rows[0], "mesh,vertex,x,y,z,distance");
    float sums[2] = {0, 0}, largest = 0;
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const float d = std::stof(fields(rows[r])[5]);
        sums[r > 642] = sums[r > 642] + d;
        largest = std::max(largest, d);
    }
    EXPECT_EQ(double(sums[0]), j["first_to_second"]["sum"].get<double>());
    EXPECT_EQ(double(sums[1]), j["second_to_first"]["sum"].get<double>());
    expectColorPlyMatches(dir.path("c"), csv, inputs, {0, largest});

    const std::vector<std::string> bins = lines(test::readFile(dir.path("h.csv")));
    ASSERT_EQ(bins.size(), 11u);
    EXPECT_EQ(bins[0], "mesh,lower,upper,vertices,area_share");
    std::size_t counted[2] = {0, 0};
    double shares[2] = {0, 0};
    for (std::size_t r = 1; r < bins.size(); ++r) {
        const std::vector<std::string> f = fields(bins[r]);
        counted[r > 5] += std::stoul(f[3]);
        shares[r > 5] += std::stod(f[4]);
    }
    EXPECT_EQ(fields(bins[5])[2], fields(bins[10])[2]);
    EXPECT_EQ(float(std::stod(fields(bins[5])[2])), largest);
    EXPECT_EQ(counted[0], 642u);
    EXPECT_EQ(counted[1], 42u);
    EXPECT_NEAR(shares[0], 1.0, 1e-12);
    EXPECT_NEAR(shares[1], 1.0, 1e-12);
}

// Two parallel unit squares 0.5 apart: every distance is 0.5.
class CliSquares : public test::ParallelSquares {};

TEST_F(CliSquares, SurfaceExportsExactly)
{
    for (const char* samples : {"20", "0"}) {
        const Outcome r = run({"--surface", "--samples", samples, "--per-vertex", dir.path("v.csv"),
                               "--histogram", "2", dir.path("h.csv"), "--color-ply", dir.path("c"), a, b});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, run({"--surface", "--samples", samples, a, b}).out);
        const std::string csv = test::readFile(dir.path("v.csv"));
        EXPECT_EQ(csv,
                  "mesh,vertex,x,y,z,distance\n"
                  "a,0,0,0,0,0.5\na,1,1,0,0,0.5\na,2,1,1,0,0.5\na,3,0,1,0,0.5\n"
                  "b,0,0,0,0.5,0.5\nb,1,1,0,0.5,0.5\nb,2,1,1,0.5,0.5\nb,3,0,1,0.5,0.5\n");
        EXPECT_EQ(test::readFile(dir.path("h.csv")),
                  "mesh,lower,upper,vertices,area_share\n"
                  "a,0,0.25,0,0\na,0.25,0.5,4,1\nb,0,0.25,0,0\nb,0.25,0.5,4,1\n");
        expectColorPlyMatches(dir.path("c"), csv, {a, b}, {0, 0.5});
        const std::string ply = test::readFile(dir.path("c_b.ply"));
        EXPECT_NE(ply.find("comment meshqem: quality is the surface distance of each vertex to the "
                           "other mesh\ncomment meshqem: red green blue: viridis ramp from 0 to 0.5\n"),
                  std::string::npos);
    }
    // An explicit range moves the bins and the colours.
    const Outcome r = run({"--surface", "--color-range", "-1", "1", "--histogram", "4", dir.path("h.csv"),
                           "--color-ply", dir.path("r"), a, b});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::readFile(dir.path("h.csv")),
              "mesh,lower,upper,vertices,area_share\n"
              "a,-1,-0.5,0,0\na,-0.5,0,0,0\na,0,0.5,0,0\na,0.5,1,4,1\n"
              "b,-1,-0.5,0,0\nb,-0.5,0,0,0\nb,0,0.5,0,0\nb,0.5,1,4,1\n");
    EXPECT_EQ(test::readVertexProperty(dir.path("r_a.ply"), "green"),
              std::vector<double>(4, rampColor(0.75).green));
}

// A file that cannot be written is an error naming it; it leaves nothing
// behind, and the report is not printed.
TEST_F(CliSquares, UnwritableExportsFailCleanly)
{
    Outcome r = run({"--per-vertex", dir.path("none/v.csv"), a, b});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "meshqem: cannot write " + dir.path("none/v.csv") + ": No such file or directory\n");

    std::filesystem::create_directory(dir.path("c_b.ply"));
    r = run({"--surface", "--color-ply", dir.path("c"), a, b});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "meshqem: cannot write " + dir.path("c_b.ply") + ": Is a directory\n");
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path("")))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a.ply", "b.ply", "c_b.ply"}));

    if (test::fileExists("/dev/full")) {
        r = run({"--surface", "--histogram", "3", "/dev/full", a, b});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "meshqem: cannot write /dev/full: No space left on device\n");
    }
}

// A named pipe is written in place, once: its reader gets the whole CSV.
TEST_F(CliSquares, ExportsIntoANamedPipe)
{
    const std::string fifo = dir.path("pipe"), got = dir.path("got");
    const std::string command = "mkfifo '" + fifo + "' && { cat '" + fifo + "' > '" + got + "' & '" MESHQEM_BINARY
                                "' --surface --per-vertex '" + fifo + "' '" + a + "' '" + b +
                                "' >/dev/null; status=$?; wait; exit $status; }";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    ASSERT_EQ(run({"--surface", "--per-vertex", dir.path("v.csv"), a, b}).status, 0);
    EXPECT_EQ(test::readFile(got), test::readFile(dir.path("v.csv")));
}

// The report is printed in full either way; only the status and the
// messages on standard error differ.
TEST_F(CliSquares, ThresholdsExitWithStatus3)
{
    const std::vector<std::string> spheres = {kExamples + "/sphere.ply", kExamples + "/sphere_coarse.ply"};
    const std::string report = run(spheres).out;
    Outcome r = run({"--fail-above", "qem=97.3", "--fail-above", "s21=1", spheres[0], spheres[1]});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, report);
    EXPECT_EQ(r.err, "meshqem: threshold exceeded: qem = 97.325943 > 97.3\n");
    r = run({"--fail-above", "qem=97.4", spheres[0], spheres[1]});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");

    const std::string json = run({"--surface", "--json", a, b}).out;
    struct Case {
        const char* threshold;
        int status;
    };
    for (const Case& c : {Case{"hausdorff=0.5", 0}, Case{"hausdorff=0.4", 3}, Case{"mean=33%", 3},
                          Case{"mean=33.34%", 0}, Case{"vertex_p95=0.49", 3}, Case{"rms=1", 0}}) {
        r = run({"--surface", "--json", "--fail-above", c.threshold, a, b});
        EXPECT_EQ(r.status, c.status) << c.threshold;
        EXPECT_EQ(r.out, json) << c.threshold;
        EXPECT_EQ(r.err.empty(), c.status == 0) << r.err;
    }
    r = run({"--surface", "--fail-above", "mean=33%", a, b});
    EXPECT_EQ(r.err, "meshqem: threshold exceeded: mean = 0.5 (33.3333333% of the diagonal) > 33%\n");
}

TEST_F(CliSquares, WrongExportAndThresholdOptionsAreUsageErrors)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--fail-above", "mean=1", a, b},
             {"--surface", "--fail-above", "qem=1", a, b},
             {"--surface", "--samples", "0", "--fail-above", "p95=1", a, b},
             {"--fail-above", "qem=1%", a, b},
             {"--fail-above", "size=1", a, b},
             {"--histogram", "0", "h.csv", a, b},
             {"--histogram", "many", "h.csv", a, b},
             {"--color-range", "1", "0", "--color-ply", "c", a, b},
             {"--color-range", "0", "1", a, b},
             {"--per-vertex", "", a, b},
             {"--surface", "--per-vertex", "v.csv", a, b, b}}) {
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 2) << args[1];
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("meshqem: ", 0), 0u) << r.err;
    }
}

// One JSON line per candidate, each exactly the pair run's; an unreadable
// candidate gets an object with its error, the others still run, status 1.
TEST_F(CliSquares, BatchGivesThePairRunsInOrder)
{
    const std::string missing = dir.path("missing.ply");
    const std::string ab = run({"--surface", "--json", a, b}).out, aa = run({"--surface", "--json", a, a}).out;
    Outcome r = run({"--surface", "--json", a, b, missing, a});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, ab + "{\"a\":{\"file\":\"" + a + "\"},\"b\":{\"file\":\"" + missing +
                         "\"},\"error\":\"cannot open: No such file or directory\"}\n" + aa);
    EXPECT_NE(r.err.find("meshqem: " + missing + ": cannot open: No such file or directory\n"), std::string::npos) << r.err;

    r = run({"--surface", "--samples", "0", a, b, missing, a});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, run({"--surface", "--samples", "0", a, b}).out + "\nB  " + missing +
                         "\n   not compared: cannot open: No such file or directory\n\n" +
                         run({"--surface", "--samples", "0", a, a}).out);

    r = run({"--surface", "--json", "--fail-above", "hausdorff=0.1", a, a, b});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, aa + ab);
    EXPECT_EQ(r.err, "meshqem: " + b + ": threshold exceeded: hausdorff = 0.5 > 0.1\n");

    r = run({"--surface", "--json", missing, a, b});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
}

// The README's recipe for many machines, run here on this one with two jobs:
// GNU parallel gives the same lines as the batch run.
TEST_F(CliSquares, GnuParallelRecipeGivesTheBatchLines)
{
    if (std::system("command -v parallel >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "GNU parallel is not installed (scripts/test.sh installs it)";
    const std::string c = dir.write("c.ply", test::encodePly({{0, 0, 2}, {1, 0, 2}, {1, 1, 3}}, {{0, 1, 2}},
                                                             test::PlyFormat::bigEndian));
    const std::string sphere = kExamples + "/sphere.ply";
    const std::string logins = dir.write("machines", "2/:\n");  // ':' is this machine
    std::filesystem::create_directory(dir.path("home"));
    const std::string command = "HOME='" + dir.path("home") + "' parallel --will-cite --sshloginfile '" +
                                logins + "' --keep-order '" MESHQEM_BINARY "' --surface --json '" + sphere +
                                "' {} ::: '" + a + "' '" + c + "' '" + b + "' '" + sphere + "' > '" +
                                dir.path("lines") + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const Outcome serial = run({"--surface", "--json", sphere, a, c, b, sphere});
    ASSERT_EQ(serial.status, 0) << serial.err;
    EXPECT_EQ(lines(serial.out).size(), 4u);
    EXPECT_EQ(test::readFile(dir.path("lines")), serial.out);
}

} // namespace

#include "report/exports.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "report/output_file.h"
#include "report/ply_writer.h"
#include "surface/sampling.h"

namespace {

// Viridis entries 0, 16, 32, ..., 240 and 255 of matplotlib's 256.
constexpr int kRampStops = 17;
constexpr double kRampIndex[kRampStops] = {0,   16,  32,  48,  64,  80,  96,  112, 128,
                                           144, 160, 176, 192, 208, 224, 240, 255};
constexpr double kRamp[kRampStops][3] = {
    {0.267004, 0.004874, 0.329415}, {0.282327, 0.094955, 0.417331},
    {0.278826, 0.175490, 0.483397}, {0.258965, 0.251537, 0.524736},
    {0.229739, 0.322361, 0.545706}, {0.199430, 0.387607, 0.554642},
    {0.172719, 0.448791, 0.557885}, {0.149039, 0.508051, 0.557250},
    {0.127568, 0.566949, 0.550556}, {0.120638, 0.625828, 0.533488},
    {0.157851, 0.683765, 0.501686}, {0.246070, 0.738910, 0.452024},
    {0.369214, 0.788888, 0.382914}, {0.515992, 0.831158, 0.294279},
    {0.678489, 0.863742, 0.189503}, {0.845561, 0.887322, 0.099702},
    {0.993248, 0.906157, 0.143936}};

std::uint8_t toByte(double unit) { return std::uint8_t(std::lround(unit * 255.0)); }

ExportMesh planeMesh(const char* label, const Mesh& loaded, const DirectedDistances& d)
{
    ExportMesh mesh;
    mesh.label = label;
    mesh.mesh = &loaded;
    mesh.distances.assign(d.distances.begin(), d.distances.end());
    mesh.singlePrecision = true;
    return mesh;
}

ExportMesh surfaceMesh(const char* label, const Mesh& loaded, const SurfaceDirection& d)
{
    ExportMesh mesh;
    mesh.label = label;
    mesh.mesh = &loaded;
    mesh.distances = d.vertexDistances;
    mesh.sampleDistances = d.sampleDistances;
    mesh.sampleWeights = d.sampleWeights;
    return mesh;
}

// The bin of `value`, consistent with the edges as printed: lower <= value <
// upper, computed once by division and then corrected against the edges.
std::size_t binOf(double value, const std::vector<HistogramBin>& bins, const ValueRange& range)
{
    const std::size_t last = bins.size() - 1;
    if (!(range.max > range.min) || !(value > range.min))
        return 0;
    if (value >= range.max)
        return last;
    double position = (value - range.min) / (range.max - range.min) * double(bins.size());
    std::size_t k = std::min(last, std::size_t(position));
    while (k > 0 && value < bins[k].lower)
        --k;
    while (k < last && value >= bins[k].upper)
        ++k;
    return k;
}

void printNumber(std::FILE* out, double value, bool singlePrecision)
{
    // Enough digits to read back as the same float, or the same double.
    std::fprintf(out, singlePrecision ? "%.9g" : "%.17g", value);
}

} // namespace

std::vector<ExportMesh> exportMeshes(const Comparison& comparison, const Mesh& loadedFirst,
                                     const Mesh& loadedSecond)
{
    std::vector<ExportMesh> meshes;
    meshes.push_back(planeMesh("a", loadedFirst, comparison.firstToSecond));
    meshes.push_back(planeMesh("b", loadedSecond, comparison.secondToFirst));
    return meshes;
}

std::vector<ExportMesh> exportMeshes(const SurfaceComparison& comparison, const Mesh& a,
                                     const Mesh& b)
{
    std::vector<ExportMesh> meshes;
    meshes.push_back(surfaceMesh("a", a, comparison.aToB));
    meshes.push_back(surfaceMesh("b", b, comparison.bToA));
    return meshes;
}

ValueRange defaultRange(const std::vector<ExportMesh>& meshes)
{
    ValueRange range;
    for (const ExportMesh& mesh : meshes)
        for (const std::vector<double>* values : {&mesh.distances, &mesh.sampleDistances})
            for (double d : *values)
                range.max = std::max(range.max, d);
    return range;
}

Rgb rampColor(double t)
{
    if (!(t > 0.0))
        t = 0.0;
    if (t > 1.0)
        t = 1.0;
    const double index = t * 255.0;
    int k = 0;
    while (k < kRampStops - 2 && index > kRampIndex[k + 1])
        ++k;
    const double f = (index - kRampIndex[k]) / (kRampIndex[k + 1] - kRampIndex[k]);
    double c[3];
    for (int i = 0; i < 3; ++i)
        c[i] = kRamp[k][i] + (kRamp[k + 1][i] - kRamp[k][i]) * f;
    return {toByte(c[0]), toByte(c[1]), toByte(c[2])};
}

double rampPosition(double value, const ValueRange& range)
{
    if (!(value > range.min))
        return 0.0;
    if (value >= range.max)
        return 1.0;
    return (value - range.min) / (range.max - range.min);
}

std::vector<HistogramBin> histogram(const ExportMesh& mesh, const ValueRange& range,
                                    std::size_t bins)
{
    std::vector<HistogramBin> result(bins);
    const double width = range.max - range.min;
    for (std::size_t i = 0; i < bins; ++i) {
        result[i].lower = range.min + width * double(i) / double(bins);
        result[i].upper = i + 1 == bins ? range.max : range.min + width * double(i + 1) / double(bins);
    }
    if (bins == 0)
        return result;
    for (double d : mesh.distances)
        ++result[binOf(d, result, range)].vertices;

    std::vector<double> share(bins, 0.0);
    double total = 0.0;
    if (!mesh.sampleDistances.empty()) {
        for (std::size_t s = 0; s < mesh.sampleDistances.size(); ++s) {
            share[binOf(mesh.sampleDistances[s], result, range)] += mesh.sampleWeights[s];
            total += mesh.sampleWeights[s];
        }
    } else {
        std::vector<double> vertexArea(mesh.mesh->vertexCount(), 0.0);
        for (const Face& face : mesh.mesh->faces) {
            const double third = faceArea(*mesh.mesh, face) / 3.0;
            for (std::uint32_t v : face.vertices)
                vertexArea[v] += third;
        }
        for (std::size_t v = 0; v < vertexArea.size(); ++v) {
            share[binOf(mesh.distances[v], result, range)] += vertexArea[v];
            total += vertexArea[v];
        }
    }
    if (total > 0.0)
        for (std::size_t i = 0; i < bins; ++i)
            result[i].areaShare = share[i] / total;
    return result;
}

bool writePerVertexCsv(const std::string& path, const std::vector<ExportMesh>& meshes,
                       std::string& error)
{
    OutputFile file;
    if (!file.open(path, error))
        return false;
    std::FILE* out = file.stream();
    std::fputs("mesh,vertex,x,y,z,distance\n", out);
    for (const ExportMesh& mesh : meshes)
        for (std::size_t v = 0; v < mesh.distances.size(); ++v) {
            const Vector3& p = mesh.mesh->vertices[v];
            std::fprintf(out, "%s,%zu,%.9g,%.9g,%.9g,", mesh.label.c_str(), v, double(p.x),
                         double(p.y), double(p.z));
            printNumber(out, mesh.distances[v], mesh.singlePrecision);
            std::fputc('\n', out);
        }
    return file.commit(error);
}

bool writeColorPly(const std::string& prefix, const std::vector<ExportMesh>& meshes,
                   const ValueRange& range, const std::string& distanceName, std::string& error)
{
    char rangeText[128];
    std::snprintf(rangeText, sizeof rangeText, "%.17g to %.17g", range.min, range.max);
    const std::vector<std::string> comments = {
        "meshqem: quality is the " + distanceName + " of each vertex to the other mesh",
        std::string("meshqem: red green blue: viridis ramp from ") + rangeText};
    // Both files are written before either replaces its destination.
    std::vector<std::unique_ptr<OutputFile>> files;
    for (const ExportMesh& mesh : meshes) {
        files.push_back(std::make_unique<OutputFile>());
        const std::string path = prefix + "_" + mesh.label + ".ply";
        if (!files.back()->open(path, error))
            return false;
        std::vector<PlyVertexProperty> properties(4);
        properties[0].name = "quality";
        properties[0].floats.assign(mesh.distances.begin(), mesh.distances.end());
        const char* channels[3] = {"red", "green", "blue"};
        for (int c = 0; c < 3; ++c) {
            properties[1 + c].name = channels[c];
            properties[1 + c].type = PlyVertexProperty::Type::uint8;
            properties[1 + c].bytes.resize(mesh.distances.size());
        }
        for (std::size_t v = 0; v < mesh.distances.size(); ++v) {
            const Rgb color = rampColor(rampPosition(mesh.distances[v], range));
            properties[1].bytes[v] = color.red;
            properties[2].bytes[v] = color.green;
            properties[3].bytes[v] = color.blue;
        }
        if (!writePly(*mesh.mesh, properties, comments, files.back()->stream())) {
            // The stream's error is reported by commit, which also removes the file.
            files.back()->commit(error);
            return false;
        }
    }
    for (const std::unique_ptr<OutputFile>& file : files)
        if (!file->commit(error))
            return false;
    return true;
}

bool writeHistogramCsv(const std::string& path, const std::vector<ExportMesh>& meshes,
                       const ValueRange& range, std::size_t bins, std::string& error)
{
    OutputFile file;
    if (!file.open(path, error))
        return false;
    std::FILE* out = file.stream();
    std::fputs("mesh,lower,upper,vertices,area_share\n", out);
    for (const ExportMesh& mesh : meshes)
        for (const HistogramBin& bin : histogram(mesh, range, bins))
            std::fprintf(out, "%s,%.17g,%.17g,%zu,%.17g\n", mesh.label.c_str(), bin.lower,
                         bin.upper, bin.vertices, bin.areaShare);
    return file.commit(error);
}

bool exportsWritable(const ExportRequest& request, std::string& error)
{
    std::vector<std::string> paths;
    if (!request.perVertexPath.empty())
        paths.push_back(request.perVertexPath);
    if (!request.colorPlyPrefix.empty())
        for (const char* suffix : {"_a.ply", "_b.ply"})
            paths.push_back(request.colorPlyPrefix + suffix);
    if (request.histogramBins > 0)
        paths.push_back(request.histogramPath);
    for (const std::string& path : paths) {
        // A pipe or a device is left alone: opening and closing a named pipe
        // would end its reader's input before anything was written.
        struct stat status;
        if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) &&
            !S_ISDIR(status.st_mode))
            continue;
        OutputFile file;
        if (!file.open(path, error))
            return false;
    }
    return true;
}

bool writeExports(const ExportRequest& request, const std::vector<ExportMesh>& meshes,
                  const std::string& distanceName, std::string& error)
{
    const ValueRange range = request.range ? *request.range : defaultRange(meshes);
    if (!request.perVertexPath.empty() && !writePerVertexCsv(request.perVertexPath, meshes, error))
        return false;
    if (!request.colorPlyPrefix.empty() &&
        !writeColorPly(request.colorPlyPrefix, meshes, range, distanceName, error))
        return false;
    if (request.histogramBins > 0 &&
        !writeHistogramCsv(request.histogramPath, meshes, range, request.histogramBins, error))
        return false;
    return true;
}

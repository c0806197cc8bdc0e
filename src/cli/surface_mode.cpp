#include <cstdio>

#include "cli/modes.h"
#include "cli/progress.h"
#include "report/exports.h"
#include "report/json_report.h"
#include "report/surface_text.h"
#include "surface/onet.h"
#include "surface/sampling.h"
#include "surface/surface_comparison.h"

// Distances to a surface need one: a point set, or faces that all have zero
// area, have none to measure against or to sample.
std::string surfaceProblem(const Mesh& mesh)
{
    if (mesh.faceCount() == 0)
        return "the mesh has no faces, so it has no surface to measure distances to";
    if (!(meshArea(mesh) > 0.0))
        return "every face has zero area, so the mesh has no surface to measure distances to";
    return "";
}

bool surfaceModeAccepts(const std::string& fileName, const Mesh& mesh)
{
    const std::string problem = surfaceProblem(mesh);
    if (!problem.empty())
        std::fprintf(stderr, "meshqem: %s: %s\n", shownFileName(fileName), problem.c_str());
    return problem.empty();
}

bool reportExceeded(const std::vector<std::string>& exceeded, const std::string& fileName)
{
    for (const std::string& line : exceeded)
        std::fprintf(stderr, "meshqem: %s%sthreshold exceeded: %s\n", fileName.c_str(),
                     fileName.empty() ? "" : ": ", line.c_str());
    return !exceeded.empty();
}

bool surfaceOptionsFor(const Options& options, const Mesh& a, const Mesh& b,
                       SurfaceOptions& extra, std::string& problem)
{
    const double diagonal = surfaceDiagonal(a, b);
    auto absolute = [diagonal](const LengthOption& length) {
        return length.percent ? length.value / 100.0 * diagonal : length.value;
    };
    if (options.hausdorffError) {
        extra.hausdorffError = absolute(*options.hausdorffError);
        const double smallest = smallestHausdorffError(a, b);
        if (!(extra.hausdorffError >= smallest)) {
            char text[200];
            std::snprintf(text, sizeof text,
                          "--hausdorff-error: %g is below %g, the least error bound the "
                          "rounding of these meshes leaves room for",
                          extra.hausdorffError, smallest);
            problem = text;
            return false;
        }
    }
    // The protocol replaces the figures from the surface distances.
    extra.reconstruction = options.reconstruction && !options.onet;
    for (const LengthOption& tau : options.taus)
        extra.taus.push_back(absolute(tau));
    if (extra.reconstruction && extra.taus.empty())
        extra.taus.push_back(0.01 * diagonal);
    return true;
}

int runSurfaceMode(const Options& options, const Mesh& a, const Mesh& b)
{
    bool aUsable = surfaceModeAccepts(options.firstFileName, a);
    bool bUsable = surfaceModeAccepts(options.secondFileName, b);
    if (!aUsable || !bUsable)
        return kExitUnusableInput;

    std::string exportError;
    if (options.exports.any() && !exportsWritable(options.exports, exportError)) {
        std::fprintf(stderr, "meshqem: %s\n", exportError.c_str());
        return kExitUnusableInput;
    }
    const std::size_t samples = options.samples ? *options.samples : defaultSampleCount(a, b);
    SurfaceOptions extra;
    std::string problem;
    if (!surfaceOptionsFor(options, a, b, extra, problem)) {
        std::fprintf(stderr, "meshqem: %s\n", problem.c_str());
        return kExitUsage;
    }
    // Every vertex and every sample of each mesh is one query.
    progress::phase("comparing the surfaces", a.vertexCount() + b.vertexCount() + 2 * samples);
    SurfaceComparison comparison = compareSurfaces(a, b, samples, extra);
    if (options.onet) {
        comparison.onet = onetFigures(a, b, options.seed);
        comparison.onetSeed = options.seed;
    }
    progress::idle();
    if (options.exports.any()) {
        std::string error;
        if (!writeExports(options.exports, exportMeshes(comparison, a, b), "surface distance",
                          error)) {
            std::fprintf(stderr, "meshqem: %s\n", error.c_str());
            return kExitUnusableInput;
        }
    }
    const bool written =
        options.json ? writeSurfaceJsonReport(comparison, options.firstFileName,
                                              options.secondFileName, stdout)
                     : writeSurfaceTextReport(comparison, options.firstFileName,
                                              options.secondFileName, stdout);
    if (!written || std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::perror("meshqem: cannot write the report");
        return kExitUnusableInput;
    }
    return reportExceeded(exceededThresholds(options.thresholds, comparison))
               ? kExitThresholdExceeded
               : 0;
}

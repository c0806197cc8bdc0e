#include <cstdio>

#include "cli/modes.h"
#include "cli/progress.h"
#include "report/json_report.h"
#include "report/surface_text.h"
#include "surface/sampling.h"
#include "surface/surface_comparison.h"

// Distances to a surface need one: a point set, or faces that all have zero
// area, have none to measure against or to sample.
bool surfaceModeAccepts(const std::string& fileName, const Mesh& mesh)
{
    if (mesh.faceCount() == 0) {
        std::fprintf(stderr,
                     "meshqem: %s: the mesh has no faces, so it has no surface to measure "
                     "distances to\n",
                     shownFileName(fileName));
        return false;
    }
    if (!(meshArea(mesh) > 0.0)) {
        std::fprintf(stderr,
                     "meshqem: %s: every face has zero area, so the mesh has no surface to "
                     "measure distances to\n",
                     shownFileName(fileName));
        return false;
    }
    return true;
}

int runSurfaceMode(const Options& options, const Mesh& a, const Mesh& b)
{
    bool aUsable = surfaceModeAccepts(options.firstFileName, a);
    bool bUsable = surfaceModeAccepts(options.secondFileName, b);
    if (!aUsable || !bUsable)
        return kExitUnusableInput;

    const std::size_t samples = options.samples ? *options.samples : defaultSampleCount(a, b);
    // Every vertex and every sample of each mesh is one query.
    progress::phase("comparing the surfaces", a.vertexCount() + b.vertexCount() + 2 * samples);
    const SurfaceComparison comparison = compareSurfaces(a, b, samples);
    progress::idle();
    const bool written =
        options.json ? writeSurfaceJsonReport(comparison, options.firstFileName,
                                              options.secondFileName, stdout)
                     : writeSurfaceTextReport(comparison, options.firstFileName,
                                              options.secondFileName, stdout);
    if (!written || std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::perror("meshqem: cannot write the report");
        return kExitUnusableInput;
    }
    return 0;
}

#include <cstdio>

#include "cli/modes.h"
#include "report/json_report.h"
#include "report/surface_text.h"
#include "surface/sampling.h"
#include "surface/surface_comparison.h"

namespace {

// Distances to a surface need one: a point set, or faces that all have zero
// area, have none to measure against or to sample.
bool hasSurface(const char* fileName, const Mesh& mesh)
{
    if (mesh.faceCount() == 0) {
        std::fprintf(stderr,
                     "meshqem: %s: the mesh has no faces, so it has no surface to measure "
                     "distances to\n",
                     fileName);
        return false;
    }
    if (!(meshArea(mesh) > 0.0)) {
        std::fprintf(stderr,
                     "meshqem: %s: every face has zero area, so the mesh has no surface to "
                     "measure distances to\n",
                     fileName);
        return false;
    }
    return true;
}

} // namespace

int runSurfaceMode(const Options& options, const Mesh& a, const Mesh& b)
{
    bool aUsable = hasSurface(options.firstFileName.c_str(), a);
    bool bUsable = hasSurface(options.secondFileName.c_str(), b);
    if (!aUsable || !bUsable)
        return kExitUnusableInput;

    const std::size_t samples = options.samples ? *options.samples : defaultSampleCount(a, b);
    SurfaceOptions extra;
    const double diagonal = surfaceDiagonal(a, b);
    auto absolute = [diagonal](const LengthOption& length) {
        return length.percent ? length.value / 100.0 * diagonal : length.value;
    };
    if (options.hausdorffError) {
        extra.hausdorffError = absolute(*options.hausdorffError);
        const double smallest = smallestHausdorffError(a, b);
        if (!(extra.hausdorffError >= smallest)) {
            std::fprintf(stderr,
                         "meshqem: --hausdorff-error: %g is below %g, the least error bound "
                         "the rounding of these meshes leaves room for\n",
                         extra.hausdorffError, smallest);
            return kExitUsage;
        }
    }
    extra.reconstruction = options.reconstruction;
    for (const LengthOption& tau : options.taus)
        extra.taus.push_back(absolute(tau));
    if (options.reconstruction && extra.taus.empty())
        extra.taus.push_back(0.01 * diagonal);
    const SurfaceComparison comparison = compareSurfaces(a, b, samples, extra);
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

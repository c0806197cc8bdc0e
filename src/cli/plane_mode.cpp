#include <cstdio>
#include <utility>

#include "cli/modes.h"
#include "cli/progress.h"
#include "ply/ply_mesh.h"
#include "qem/comparison.h"
#include "qem/normalize.h"
#include "report/exports.h"
#include "report/json_report.h"
#include "report/thresholds.h"
#include "report/text_report.h"

namespace {

void warnAboutDegenerateFaces(const char* fileName, const Mesh& mesh, const char* otherFileName)
{
    if (std::size_t count = countDegenerateFaces(mesh))
        std::fprintf(stderr,
                     "meshqem: warning: %s: %zu degenerate faces (zero normal); every vertex of "
                     "%s is at distance 0 from their plane\n",
                     fileName, count, otherFileName);
}

void reportUnscalable(const char* fileName)
{
    std::fprintf(stderr,
                 "meshqem: %s: the bounding-box diagonal is zero (or not finite), so the mesh "
                 "cannot be scaled\n",
                 fileName);
}

} // namespace

bool planeModeAccepts(const std::string& fileName, const Mesh& mesh, MeshRole role)
{
    if (mesh.vertexCount() == 0) {
        std::fprintf(stderr, "meshqem: %s: the mesh has no vertices, so it cannot be scaled\n",
                     shownFileName(fileName));
        return false;
    }
    if (!(role == MeshRole::first ? normalizableAsFirst(mesh) : normalizableAsSecond(mesh))) {
        reportUnscalable(shownFileName(fileName));
        return false;
    }
    return true;
}

int runPlaneMode(const Options& options, Mesh& first, Mesh& second)
{
    const char* firstFileName = shownFileName(options.firstFileName);
    const char* secondFileName = shownFileName(options.secondFileName);
    bool firstUsable = planeModeAccepts(options.firstFileName, first, MeshRole::first);
    bool secondUsable = planeModeAccepts(options.secondFileName, second, MeshRole::second);
    if (!firstUsable || !secondUsable)
        return kExitUnusableInput;
    // The exports give the coordinates as loaded, so they keep a copy.
    Mesh loadedFirst, loadedSecond;
    if (options.exports.any())
        loadedFirst = first, loadedSecond = second;
    // The checks above have seen to it; reported all the same, should they
    // ever disagree.
    NormalizeFailure failure = normalizeMeshes(first, second);
    for (auto [failed, fileName] : {std::pair{failure.first, firstFileName},
                                    std::pair{failure.second, secondFileName}})
        if (failed)
            reportUnscalable(fileName);
    if (failure.any())
        return kExitUnusableInput;
    warnAboutDegenerateFaces(firstFileName, first, secondFileName);
    warnAboutDegenerateFaces(secondFileName, second, firstFileName);

    std::string exportError;
    if (options.exports.any() && !exportsWritable(options.exports, exportError)) {
        std::fprintf(stderr, "meshqem: %s\n", exportError.c_str());
        return kExitUnusableInput;
    }
    progress::phase("comparing the meshes", first.vertexCount() + second.vertexCount());
    const Comparison comparison = compareMeshes(first, second);
    progress::idle();
    if (options.exports.any()) {
        std::string error;
        if (!writeExports(options.exports, exportMeshes(comparison, loadedFirst, loadedSecond),
                          "nearest-plane distance (in the normalised frame)", error)) {
            std::fprintf(stderr, "meshqem: %s\n", error.c_str());
            return kExitUnusableInput;
        }
    }
    const bool written =
        options.json
            ? writeJsonReport(comparison, options.firstFileName, options.secondFileName, stdout)
            : writeTextReport(comparison, stdout);
    if (!written || std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::perror("meshqem: cannot write the report");
        return kExitUnusableInput;
    }
    return reportExceeded(exceededThresholds(options.thresholds, comparison))
               ? kExitThresholdExceeded
               : 0;
}

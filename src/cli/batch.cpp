// One reference against many candidates (--surface REF CAND1 CAND2 ...). The
// reference and its search index stay for the whole run; each candidate is
// read, compared, reported and dropped before the next, so memory holds one
// candidate at a time. Each candidate's report is exactly what the pair run
// `meshqem --surface [--json] REF CAND` prints.
#include <cstdio>
#include <new>
#include <stdexcept>

#include "cli/input.h"
#include "cli/modes.h"
#include "ply/ply_mesh.h"
#include "report/json_report.h"
#include "report/surface_text.h"
#include "report/thresholds.h"
#include "surface/sampling.h"
#include "surface/surface_comparison.h"
#include "surface/surface_search.h"

namespace {

// Reads and checks one file; on failure returns why ("" when usable).
std::string loadSurfaceMesh(const std::string& fileName, Mesh& mesh)
{
    std::string error;
    if (!readInput(fileName, mesh, error))
        return error;
    return surfaceProblem(mesh);
}

// In place of the report of a candidate that could not be compared.
bool writeFailure(const Options& options, const std::string& candidate,
                  const std::string& problem, std::FILE* out)
{
    if (options.json)
        return writeSurfaceJsonFailure(options.fileNames[0], candidate, problem, out);
    return std::fprintf(out, "B  %s\n   not compared: %s\n", candidate.c_str(), problem.c_str()) >
           0;
}

// Compares one candidate and writes its report; the exit status it asks for.
int compareCandidate(const Options& options, NearestSurfaceSearch& reference,
                     const std::string& candidate)
{
    Mesh mesh;
    std::string problem;
    try {
        problem = loadSurfaceMesh(candidate, mesh);
        if (problem.empty()) {
            NearestSurfaceSearch search(mesh);
            const std::size_t samples = options.samples
                                            ? *options.samples
                                            : defaultSampleCount(reference.target(), mesh);
            SurfaceOptions extra;
            if (surfaceOptionsFor(options, reference.target(), mesh, extra, problem)) {
                const SurfaceComparison comparison =
                    compareSurfaces(reference, search, samples, extra);
                const bool written =
                    options.json ? writeSurfaceJsonReport(comparison, options.fileNames[0],
                                                          candidate, stdout)
                                 : writeSurfaceTextReport(comparison, options.fileNames[0],
                                                          candidate, stdout);
                if (!written)
                    return -1;
                return reportExceeded(exceededThresholds(options.thresholds, comparison), candidate)
                           ? kExitThresholdExceeded
                           : 0;
            }
        }
    } catch (const std::bad_alloc&) {
        problem = "not enough memory for this mesh (and samples)";
    } catch (const std::length_error&) {
        problem = "not enough memory for this mesh (and samples)";
    }
    std::fprintf(stderr, "meshqem: %s: %s\n", shownFileName(candidate), problem.c_str());
    return writeFailure(options, candidate, problem, stdout) ? kExitUnusableInput : -1;
}

} // namespace

int runSurfaceBatch(const Options& options)
{
    Mesh reference;
    const std::string& referenceName = options.fileNames[0];
    const std::string problem = loadSurfaceMesh(referenceName, reference);
    if (!problem.empty()) {
        std::fprintf(stderr, "meshqem: %s: %s\n", shownFileName(referenceName), problem.c_str());
        return kExitUnusableInput;
    }
    NearestSurfaceSearch search(reference);
    bool unusable = false, exceeded = false;
    for (std::size_t i = 1; i < options.fileNames.size(); ++i) {
        if (!options.json && i > 1 && std::fputc('\n', stdout) == EOF)
            break;
        const int status = compareCandidate(options, search, options.fileNames[i]);
        // Each line is complete on its way out, for readers of a pipe.
        if (status < 0 || std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::perror("meshqem: cannot write the report");
            return kExitUnusableInput;
        }
        unusable |= status == kExitUnusableInput;
        exceeded |= status == kExitThresholdExceeded;
    }
    if (std::ferror(stdout)) {
        std::perror("meshqem: cannot write the report");
        return kExitUnusableInput;
    }
    return unusable ? kExitUnusableInput : exceeded ? kExitThresholdExceeded : 0;
}

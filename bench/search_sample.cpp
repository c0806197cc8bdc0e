// meshqem_search_sample FIRST.ply SECOND.ply [STRIDE] [REPEATS]
//
// Loads and normalises the pair as meshqem does, then for each direction times
// the search over every vertex (median of REPEATS runs, index build included),
// the index build alone, the filtered exhaustive scan (plane_scan.h, the
// strong baseline: AVX2 where the CPU has it) and the exhaustive reference
// loop over every STRIDE-th vertex (the scan median of REPEATS runs, the
// reference once), checks those vertices bit for bit, and prints the ratios
// of the per-vertex times.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <omp.h>

#include "bench_util.h"
#include "ply/ply_mesh.h"
#include "qem/index/plane_index.h"
#include "qem/normalize.h"
#include "qem/plane_distance.h"
#include "qem/plane_scan.h"
#include "qem/plane_search.h"

namespace {

using bench::median;
using bench::seconds;

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FIRST.ply SECOND.ply [STRIDE] [REPEATS]\n", argv[0]);
        return 2;
    }
    std::size_t stride = argc > 3 ? std::size_t(std::atol(argv[3])) : 100;
    int repeats = argc > 4 ? std::atoi(argv[4]) : 5;
    Mesh first, second;
    std::string error;
    for (auto [name, mesh] : {std::pair{argv[1], &first}, std::pair{argv[2], &second}})
        if (!loadPlyMesh(name, *mesh, error)) {
            std::fprintf(stderr, "%s: %s\n", name, error.c_str());
            return 1;
        }
    if (normalizeMeshes(first, second).any())
        return 1;

    int mismatches = 0;
    for (int direction = 0; direction < 2; ++direction) {
        const Mesh& from = direction ? second : first;
        const Mesh& to = direction ? first : second;
        std::vector<float> best;
        std::vector<double> fast, build;
        for (int r = 0; r < repeats; ++r) {
            double t0 = seconds();
            // A new search each time: the index build is part of the cost.
            NearestPlaneSearch(to).distances(from.vertices, best);
            double t1 = seconds();
            const PlaneIndex index = buildPlaneIndex(to);
            build.push_back(seconds() - t1);
            fast.push_back(t1 - t0);
        }
        Mesh sample;
        for (std::size_t i = 0; i < from.vertices.size(); i += stride)
            sample.vertices.push_back(from.vertices[i]);
        const PlaneScanTarget target = planeScanTarget(to);
        const PlaneScanKernel& kernel = planeScanKernelFor(SearchMode::automatic);
        std::vector<float> scanned;
        std::vector<double> scan;
        for (int r = 0; r < repeats; ++r) {
            double t0 = seconds();
            nearestPlaneDistancesScan(sample.vertices, to, target, scanned, kernel);
            scan.push_back(seconds() - t0);
        }
        std::vector<float> reference;
        double t0 = seconds();
        nearestPlaneDistancesExhaustive(sample.vertices, to, reference);
        double exhaustive = seconds() - t0;
        for (std::size_t k = 0; k < reference.size(); ++k) {
            mismatches += std::memcmp(&reference[k], &best[k * stride], sizeof(float)) != 0;
            mismatches += std::memcmp(&reference[k], &scanned[k], sizeof(float)) != 0;
        }
        const double vertices = double(from.vertices.size());
        const double sampled = double(sample.vertices.size());
        double fastPerVertex = median(fast) / vertices;
        double scanPerVertex = median(scan) / sampled;
        double exhaustivePerVertex = exhaustive / sampled;
        std::printf("direction %d: %zu vertices, %zu faces, %d threads: search %.3f s (median of "
                    "%d; index build alone %.3f s); on %zu sampled vertices, %s scan %.2f ns "
                    "per pair, reference %.2f ns per pair; whole-direction estimates: scan "
                    "%.2f s, reference %.2f s; ratio scan/search %.1f, reference/search %.1f\n",
                    direction + 1, from.vertices.size(), to.faces.size(), omp_get_max_threads(),
                    median(fast), repeats, median(build), sample.vertices.size(), kernel.name,
                    1e9 * scanPerVertex / double(to.faces.size()),
                    1e9 * exhaustivePerVertex / double(to.faces.size()), scanPerVertex * vertices,
                    exhaustivePerVertex * vertices, scanPerVertex / fastPerVertex,
                    exhaustivePerVertex / fastPerVertex);
    }
    std::printf("sampled values differing from the exhaustive loop (search and scan): %d\n",
                mismatches);
    return mismatches ? 1 : 0;
}

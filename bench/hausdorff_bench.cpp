// The certified Hausdorff interval on real pairs: each direction timed alone
// (the index build of the target included, as CGAL's tree builds are in
// cgal_hausdorff.cpp), `runs` times on one thread and on every thread in
// turn, median seconds, the interval and its work; see run_hausdorff.sh.
//   meshqem_hausdorff_bench A.ply B.ply RELATIVE_ERROR RUNS
//   meshqem_hausdorff_bench --jitter IN.ply FRACTION OUT.ply
// The second form writes IN with every coordinate moved by a uniform amount
// in [-FRACTION, FRACTION] of its diagonal (fixed seed), as ASCII PLY whose
// 9 significant digits read back as the same floats.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <omp.h>

#include "bench_util.h"
#include "geometry/box.h"
#include "ply/ply_mesh.h"
#include "surface/hausdorff.h"
#include "surface/surface_comparison.h"

namespace {

using bench::seconds;

int jitter(const char* in, double fraction, const char* out)
{
    Mesh mesh;
    if (!bench::loadOrReport(in, mesh))
        return 1;
    float lo[3], hi[3];
    pointBounds(mesh.vertices, lo, hi);
    const double diagonal = std::sqrt(std::pow(double(hi[0]) - lo[0], 2) +
                                      std::pow(double(hi[1]) - lo[1], 2) +
                                      std::pow(double(hi[2]) - lo[2], 2));
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> d(-fraction * diagonal, fraction * diagonal);
    std::FILE* file = std::fopen(out, "w");
    if (!file)
        return 1;
    std::fprintf(file,
                 "ply\nformat ascii 1.0\nelement vertex %zu\nproperty float x\nproperty float "
                 "y\nproperty float z\nelement face %zu\nproperty list uchar int "
                 "vertex_indices\nend_header\n",
                 mesh.vertexCount(), mesh.faceCount());
    for (const Vector3& v : mesh.vertices)
        std::fprintf(file, "%.9g %.9g %.9g\n", double(float(v.x + d(rng))),
                     double(float(v.y + d(rng))), double(float(v.z + d(rng))));
    for (const Face& f : mesh.faces)
        std::fprintf(file, "3 %u %u %u\n", f.vertices[0], f.vertices[1], f.vertices[2]);
    return std::fclose(file) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--jitter") == 0)
        return jitter(argv[2], std::atof(argv[3]), argv[4]);
    Mesh a, b;
    if (argc < 5 || !bench::loadOrReport(argv[1], a) || !bench::loadOrReport(argv[2], b)) {
        std::fprintf(stderr, "usage: meshqem_hausdorff_bench A.ply B.ply RELATIVE_ERROR RUNS\n");
        return 1;
    }
    const double error = std::atof(argv[3]) * surfaceDiagonal(a, b);
    const int runs = std::max(1, std::atoi(argv[4]));
    // One thread and every thread, run by run in turn, so that both see
    // the same load on a shared machine.
    const int most = omp_get_max_threads();
    std::vector<int> threadCounts{1};
    if (most > 1)
        threadCounts.push_back(most);
    for (int direction = 0; direction < 2; ++direction) {
        const Mesh& from = direction ? b : a;
        const Mesh& to = direction ? a : b;
        std::vector<std::vector<double>> times(threadCounts.size());
        HausdorffInterval h;
        for (int r = 0; r < runs; ++r)
            for (std::size_t k = 0; k < threadCounts.size(); ++k) {
                omp_set_num_threads(threadCounts[k]);
                const double start = seconds();
                NearestSurfaceSearch search(to);
                h = certifiedHausdorff(from, search, error);
                times[k].push_back(seconds() - start);
            }
        omp_set_num_threads(most);
        for (std::size_t k = 0; k < threadCounts.size(); ++k) {
            std::printf("meshqem %s %d thread(s) %.6f s (min %.6f, max %.6f)",
                        direction ? "B->A" : "A->B", threadCounts[k], bench::median(times[k]),
                        *std::min_element(times[k].begin(), times[k].end()),
                        *std::max_element(times[k].begin(), times[k].end()));
            if (k > 0) {
                // Also run by run: each pair of runs shares the machine's load
                // of the moment, which the medians taken apart do not.
                std::vector<double> ratios;
                for (std::size_t r = 0; r < times[0].size(); ++r)
                    ratios.push_back(times[0][r] / times[k][r]);
                std::printf(", %.2fx one thread's speed (run by run: median %.2fx, %.2f-%.2f)",
                            bench::median(times[0]) / bench::median(times[k]),
                            bench::median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                            *std::max_element(ratios.begin(), ratios.end()));
            }
            std::printf("\n");
        }
        std::printf("meshqem %s [%.9g, %.9g] error %.9g pieces %zu points %zu%s\n",
                    direction ? "B->A" : "A->B", h.lower, h.upper, error, h.pieces, h.points,
                    h.converged ? "" : " NOT CONVERGED");
    }
    return 0;
}

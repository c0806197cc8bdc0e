// The Embree-based program that `meshqem --surface --samples 0` is measured
// against as a whole process (run_process.sh): load both meshes with the same
// reader (side by side or one after the other, as meshqem does), build Embree
// 3's scene over each, and measure every vertex of each
// against the other's surface with rtcPointQuery and the same exact routine;
// then print the count, maximum and mean of each direction.
//   meshqem_embree_process A.ply B.ply
//
// With --area, both engines measure instead the default area samples of
// each direction (10 times the larger face count), side by side in this one
// process, REPEATS times; it prints the median query time per sample of each
// and checks that every distance agrees bit for bit.
//   meshqem_embree_process --area A.ply B.ply [REPEATS]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <omp.h>

#include "bench_util.h"
#include "embree_closest.h"
#include "ply/ply_mesh.h"
#include "query/morton.h"
#include "surface/sampling.h"
#include "surface/surface_search.h"

namespace {

using bench::median;
using bench::seconds;

std::vector<std::uint32_t> orderOf(const std::vector<Point3d>& points)
{
    std::vector<Vector3> keys;
    keys.reserve(points.size());
    for (const Point3d& p : points)
        keys.push_back({float(p.x), float(p.y), float(p.z)});
    return mortonOrder(keys);
}

int wholeProcess(const Mesh& a, const Mesh& b)
{
    const int threads = omp_get_max_threads();
    const EmbreeClosest toB(b, threads), toA(a, threads);
    for (int direction = 0; direction < 2; ++direction) {
        const Mesh& from = direction ? b : a;
        const std::vector<Point3d> points = vertexPoints(from);
        std::vector<double> d;
        (direction ? toA : toB).distances(points, orderOf(points), d);
        double largest = 0, sum = 0;
        for (double x : d)
            largest = std::max(largest, x), sum += x;
        std::printf("%s: %zu vertices, max %.17g, mean %.17g\n", direction ? "b_to_a" : "a_to_b",
                    d.size(), largest, d.empty() ? 0.0 : sum / double(d.size()));
    }
    return 0;
}

int areaSamples(const Mesh& a, const Mesh& b, int repeats)
{
    const std::size_t total = defaultSampleCount(a, b);
    const int threads = omp_get_max_threads();
    std::size_t differing = 0;
    for (int direction = 0; direction < 2; ++direction) {
        const Mesh& from = direction ? b : a;
        const Mesh& to = direction ? a : b;
        const AreaSamples samples = sampleSurface(from, total);
        const std::vector<Point3d>& points = samples.points;
        NearestSurfaceSearch ours(to);
        const EmbreeClosest embree(to, threads);
        // Each engine searches in its order, made outside the timing: ours
        // the samples face by face as the program does, Embree's the
        // samples' own Morton order.
        const std::vector<std::uint32_t> order = orderOf(points);
        std::vector<double> mine, theirs, oursTimes, embreeTimes;
        ours.distances({points.front()}, mine);  // builds the index outside the timing
        for (int r = 0; r < repeats; ++r) {
            double t0 = seconds();
            ours.distances(points, samples.searchOrder, mine, QuerySpacing::dense);
            oursTimes.push_back(seconds() - t0);
            t0 = seconds();
            embree.distances(points, order, theirs);
            embreeTimes.push_back(seconds() - t0);
        }
        for (std::size_t i = 0; i < points.size(); ++i)
            differing += std::memcmp(&mine[i], &theirs[i], sizeof(double)) != 0;
        const double o = median(oursTimes) / double(points.size());
        const double e = median(embreeTimes) / double(points.size());
        std::printf("%s: %zu area samples, %d thread(s): ours %.3f us, embree %.3f us per sample, "
                    "ours/embree %.3f\n",
                    direction ? "b_to_a" : "a_to_b", points.size(), threads, o * 1e6, e * 1e6,
                    o / e);
    }
    std::printf("distances differing: %zu\n", differing);
    return differing ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    const bool area = argc > 1 && std::strcmp(argv[1], "--area") == 0;
    const int first = area ? 2 : 1;
    if (argc < first + 2) {
        std::fprintf(stderr, "usage: meshqem_embree_process [--area] A.ply B.ply [REPEATS]\n");
        return 1;
    }
    // Side by side or one after the other, as meshqem reads them.
    Mesh meshes[2];
    bool loaded[2];
    const bool sideBySide = omp_get_max_threads() > 1 &&
                            plyFilesReadBestSideBySide(argv[first], argv[first + 1]);
#pragma omp parallel for num_threads(2) schedule(static, 1) if (sideBySide)
    for (int k = 0; k < 2; ++k)
        loaded[k] = bench::loadOrReport(argv[first + k], meshes[k]);
    if (!loaded[0] || !loaded[1])
        return 1;
    const Mesh& a = meshes[0];
    const Mesh& b = meshes[1];
    if (area)
        return areaSamples(a, b, argc > first + 2 ? std::max(1, std::atoi(argv[first + 2])) : 3);
    return wholeProcess(a, b);
}

// meshqem_surface_bench [DATA_DIR] [REPEATS] [SAMPLE]
//
// The nearest-surface search on real scans, side by side in one run:
// (a) NearestSurfaceSearch's index, (b) Embree 3's rtcPointQuery with the
// same exact routine in its callback (when built with Embree), (c) the
// exhaustive loop on SAMPLE queries. Pairs: rs1 -> rs22 and rs22 -> rs1
// (the vertices of one against the surface of the other, meshes as loaded),
// and a near-coincident pair, rs22 jittered by up to 1e-3 of its bounding-box
// diagonal per coordinate against rs22. At 1 and 2 OpenMP threads. Query
// times are medians of REPEATS runs over every vertex, index builds timed
// apart; every Embree result and every sampled exhaustive result is compared
// bit for bit with the index's.
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
#include "query/morton.h"
#include "surface/index/indexed_search.h"
#include "surface/index/surface_index.h"
#include "surface/surface_distance.h"
#include "surface/surface_search.h"

#ifdef MESHQEM_HAVE_EMBREE
#include "embree_closest.h"
#endif

namespace {

using bench::median;
using bench::seconds;

// Every coordinate moved by a uniform amount in [-amount, amount].
Mesh jittered(const Mesh& mesh, double fraction)
{
    float lo[3], hi[3];
    pointBounds(mesh.vertices, lo, hi);
    double diagonal = std::sqrt(std::pow(double(hi[0]) - lo[0], 2) +
                                std::pow(double(hi[1]) - lo[1], 2) +
                                std::pow(double(hi[2]) - lo[2], 2));
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> d(-fraction * diagonal, fraction * diagonal);
    Mesh out = mesh;
    for (Vector3& v : out.vertices)
        v = {float(v.x + d(rng)), float(v.y + d(rng)), float(v.z + d(rng))};
    return out;
}

std::size_t differing(const std::vector<double>& a, const std::vector<double>& b,
                      std::size_t stride = 1)
{
    std::size_t n = 0;
    for (std::size_t k = 0; k < a.size(); ++k)
        n += std::memcmp(&a[k], &b[k * stride], sizeof(double)) != 0;
    return n;
}

struct Row {
    std::string pair;
    int threads;
    double ours, embree, exhaustive;  // seconds per query
};

} // namespace

int main(int argc, char** argv)
{
    const std::string dir =
        argc > 1 ? argv[1] : "/usr/share/doc/opencv-doc/examples/surface_matching/data";
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::size_t sample = argc > 3 ? std::size_t(std::atol(argv[3])) : 100;
    Mesh rs1, rs22;
    std::string error;
    for (auto [name, mesh] : {std::pair{"rs1_normals.ply", &rs1}, std::pair{"rs22_proc2.ply", &rs22}})
        if (!loadPlyMesh((dir + "/" + name).c_str(), *mesh, error)) {
            std::fprintf(stderr, "%s/%s: %s\n", dir.c_str(), name, error.c_str());
            return 1;
        }
    const Mesh rs22jitter = jittered(rs22, 1e-3);
    struct Pair {
        const char* name;
        const Mesh* from;
        const Mesh* to;
    };
    const Pair pairs[] = {{"rs1->rs22", &rs1, &rs22},
                          {"rs22->rs1", &rs22, &rs1},
                          {"rs22jit->rs22", &rs22jitter, &rs22}};
    const int maxThreads = omp_get_max_threads() >= 2 ? 2 : 1;
    std::vector<Row> rows;
    std::size_t mismatches = 0;
    for (const Pair& pair : pairs) {
        std::vector<Point3d> queries;
        for (const Vector3& v : pair.from->vertices)
            queries.push_back(toPoint3d(v));
        std::vector<Point3d> sampled;
        const std::size_t stride = std::max<std::size_t>(1, queries.size() / sample);
        for (std::size_t i = 0; i < queries.size(); i += stride)
            sampled.push_back(queries[i]);
        for (int threads = 1; threads <= maxThreads; ++threads) {
            omp_set_num_threads(threads);
            Row row{pair.name, threads, 0, NAN, 0};
            NearestSurfaceSearch search(*pair.to, SearchMode::automatic);
            std::vector<double> ours, other;
            double t0 = seconds();
            const surface_index::SurfaceIndex index = surface_index::buildSurfaceIndex(*pair.to);
            const double build = seconds() - t0;
            const auto& kernels = surface_index::surfaceKernelsFor(SearchMode::automatic);
            std::vector<double> times;
            for (int r = 0; r < repeats; ++r) {
                t0 = seconds();
                surface_index::surfaceDistancesIndexed(index, *pair.to, queries, ours, kernels);
                times.push_back(seconds() - t0);
            }
            row.ours = median(times) / double(queries.size());
            search.distances(queries, other);
            mismatches += differing(ours, other);
#ifdef MESHQEM_HAVE_EMBREE
            t0 = seconds();
            EmbreeClosest embree(*pair.to, threads);
            const double embreeBuild = seconds() - t0;
            std::vector<Vector3> keys;
            for (const Point3d& p : queries)
                keys.push_back({float(p.x), float(p.y), float(p.z)});
            const std::vector<std::uint32_t> order = mortonOrder(keys);
            times.clear();
            for (int r = 0; r < repeats; ++r) {
                t0 = seconds();
                embree.distances(queries, order, other);
                times.push_back(seconds() - t0);
            }
            row.embree = median(times) / double(queries.size());
            const std::size_t embreeDiffer = differing(ours, other);
            mismatches += embreeDiffer;
#else
            const double embreeBuild = NAN;
            const std::size_t embreeDiffer = 0;
#endif
            t0 = seconds();
            surfaceDistancesExhaustive(sampled, *pair.to, other);
            row.exhaustive = (seconds() - t0) / double(sampled.size());
            const std::size_t exhaustiveDiffer = differing(other, ours, stride);
            mismatches += exhaustiveDiffer;
            std::printf("%-14s %d thr: %zu queries, %zu faces; builds: index %.3f s (%.1f B/face), "
                        "embree %.3f s; differing: embree %zu, exhaustive sample %zu of %zu\n",
                        pair.name, threads, queries.size(), pair.to->faces.size(), build,
                        double(index.bytes()) / double(pair.to->faces.size()), embreeBuild,
                        embreeDiffer, exhaustiveDiffer, sampled.size());
            rows.push_back(row);
        }
    }
    std::printf("\nmedian query time per query (us), %d repeats\n", repeats);
    std::printf("%-14s %4s %10s %10s %12s %12s %14s\n", "pair", "thr", "index", "embree",
                "exhaustive", "index/embree", "exhaust/index");
    for (const Row& r : rows)
        std::printf("%-14s %4d %10.3f %10.3f %12.1f %12.3f %14.0f\n", r.pair.c_str(), r.threads,
                    r.ours * 1e6, r.embree * 1e6, r.exhaustive * 1e6, r.ours / r.embree,
                    r.exhaustive / r.ours);
    if (maxThreads == 2) {
        std::printf("\nspeed-up at 2 threads over 1 (median times)\n");
        for (std::size_t i = 0; i + 1 < rows.size(); i += 2)
            std::printf("%-14s index %.2fx  embree %.2fx\n", rows[i].pair.c_str(),
                        rows[i].ours / rows[i + 1].ours, rows[i].embree / rows[i + 1].embree);
    }
    std::printf("\nresults differing from the index anywhere: %zu\n", mismatches);
    return mismatches ? 1 : 0;
}

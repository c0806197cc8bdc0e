// The search against the exhaustive loop on synthetic spheres and tori of
// 10^4 to 10^6 faces, queried with the vertices of a coarser, slightly turned
// tessellation of the same shape (as a simplified mesh against its original).
// Both run in the same process; the exhaustive loop on a fixed sample of the
// queries so that it finishes. Each benchmark reports seconds per query as
// items_per_second; the table printed at the end gives the ratio of the
// medians over the repetitions.
//
//   meshqem_search_bench [--benchmark_filter=...]   (OMP_NUM_THREADS as usual)
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "qem/index/plane_index.h"
#include "qem/plane_distance.h"
#include "qem/plane_scan.h"
#include "qem/plane_search.h"

namespace {

enum Shape { sphere, torus };
const char* const kShapeNames[] = {"sphere", "torus"};

// A (rings x segments) grid wrapped onto the shape, two triangles per cell,
// of radius about 50 like the normalised meshes; `turn` rotates it about z.
Mesh tessellate(Shape shape, int faces, double turn)
{
    int rings = int(std::sqrt(faces / 4.0));
    int segments = faces / (2 * rings);
    Mesh mesh;
    auto point = [&](int i, int j) {
        double a = 2 * M_PI * j / segments + turn;
        if (shape == sphere) {
            double b = M_PI * (i + 0.5) / (rings + 1);
            return Vector3{float(50 * std::sin(b) * std::cos(a)), float(50 * std::sin(b) * std::sin(a)),
                           float(50 * std::cos(b))};
        }
        double b = 2 * M_PI * i / rings;
        double r = 35 + 15 * std::cos(b);
        return Vector3{float(r * std::cos(a)), float(r * std::sin(a)), float(15 * std::sin(b))};
    };
    int rows = shape == sphere ? rings + 1 : rings;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < segments; ++j)
            mesh.vertices.push_back(point(i, j));
    auto at = [&](int i, int j) { return std::uint32_t((i % rows) * segments + j % segments); };
    for (int i = 0; i < (shape == sphere ? rows - 1 : rows); ++i)
        for (int j = 0; j < segments; ++j) {
            for (auto t : {std::array<std::uint32_t, 3>{at(i, j), at(i + 1, j), at(i + 1, j + 1)},
                           std::array<std::uint32_t, 3>{at(i, j), at(i + 1, j + 1), at(i, j + 1)}})
                mesh.faces.push_back({t, faceNormal(mesh.vertices[t[0]], mesh.vertices[t[1]],
                                                    mesh.vertices[t[2]])});
        }
    return mesh;
}

struct Pair {
    Mesh to, from, sample;
};

const Pair& pair(Shape shape, int faces)
{
    static std::map<std::pair<int, int>, Pair> cache;
    auto key = std::make_pair(int(shape), faces);
    auto found = cache.find(key);
    if (found != cache.end())
        return found->second;
    Pair& p = cache[key];
    p.to = tessellate(shape, faces, 0.0);
    p.from = tessellate(shape, faces / 2, 0.013);
    // A fixed sample spread over the query mesh.
    std::size_t step = p.from.vertices.size() / 256 + 1;
    for (std::size_t i = 0; i < p.from.vertices.size(); i += step)
        p.sample.vertices.push_back(p.from.vertices[i]);
    return p;
}

void searchBenchmark(benchmark::State& state, Shape shape, bool exhaustive)
{
    const Pair& p = pair(shape, int(state.range(0)));
    const Mesh& queries = exhaustive ? p.sample : p.from;
    std::vector<float> best;
    for (auto _ : state) {
        if (exhaustive)
            nearestPlaneDistancesExhaustive(queries.vertices, p.to, best);
        else
            // A search made per iteration: the index build is part of the cost.
            NearestPlaneSearch(p.to).distances(queries.vertices, best);
        benchmark::DoNotOptimize(best.data());
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) *
                            std::int64_t(queries.vertices.size()));
    state.SetLabel(kShapeNames[shape]);
}

// Few queries against many faces, where the cost model picks the filtered
// scan: the plain reference loop, the scan (AVX2 where available), the index
// forced (build included) and the default search, on a 10^6-face sphere.
enum Lopsided { reference, scan, indexed, automatic };
const char* const kLopsidedNames[] = {"reference", "scan", "index", "default"};

void lopsidedBenchmark(benchmark::State& state, Lopsided path)
{
    const Pair& p = pair(sphere, 1000000);
    std::vector<Vector3> queries(p.from.vertices.begin(),
                                 p.from.vertices.begin() + state.range(0));
    const PlaneScanTarget target = planeScanTarget(p.to);
    std::vector<float> best;
    for (auto _ : state) {
        switch (path) {
        case reference: nearestPlaneDistancesExhaustive(queries, p.to, best); break;
        case scan:
            nearestPlaneDistancesScan(queries, p.to, target, best,
                                      planeScanKernelFor(SearchMode::automatic));
            break;
        case indexed: {
            const PlaneIndex index = buildPlaneIndex(p.to);
            nearestPlaneDistancesIndexed(index, p.to, queries, best,
                                         planeKernelsFor(SearchMode::automatic));
            break;
        }
        case automatic: NearestPlaneSearch(p.to).distances(queries, best); break;
        }
        benchmark::DoNotOptimize(best.data());
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * state.range(0));
}

// Keeps the median queries per second of each benchmark to print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.aggregate_name == "median") {
                auto rate = run.counters.find("items_per_second");
                if (rate != run.counters.end())
                    medians_[run.benchmark_name()] = rate->second.value;
            }
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatios() const
    {
        std::printf("\nmedian ratio, lopsided: time per query of each path / the default's:\n");
        for (const auto& [name, rate] : medians_) {
            if (name.rfind("lopsided/", 0) != 0 || name.find("/default/") != std::string::npos)
                continue;
            std::string other = name.substr(0, 9) + "default" +
                                name.substr(name.find('/', 9));
            auto found = medians_.find(other);
            if (found != medians_.end())
                std::printf("  %-40s %8.2f\n", name.c_str(), found->second / rate);
        }
        std::printf("\nmedian ratio, exhaustive time per query / search time per query:\n");
        for (const auto& [name, rate] : medians_) {
            auto at = name.find("search/");
            if (at == std::string::npos)
                continue;
            std::string other = name;
            other.replace(at, 7, "exhaustive/");
            auto found = medians_.find(other);
            if (found != medians_.end())
                std::printf("  %-40s %8.1f\n", name.c_str(), rate / found->second);
        }
    }

private:
    std::map<std::string, double> medians_;
};

} // namespace

int main(int argc, char** argv)
{
    for (Shape shape : {sphere, torus})
        for (bool exhaustive : {false, true}) {
            std::string name = std::string(kShapeNames[shape]) +
                               (exhaustive ? "/exhaustive" : "/search");
            benchmark::RegisterBenchmark(name.c_str(), searchBenchmark, shape, exhaustive)
                ->Arg(10000)
                ->Arg(100000)
                ->Arg(1000000)
                ->Unit(benchmark::kMillisecond)
                ->Repetitions(3)
                ->ReportAggregatesOnly(true)
                ->UseRealTime();
        }
    for (Lopsided path : {reference, scan, indexed, automatic})
        benchmark::RegisterBenchmark((std::string("lopsided/") + kLopsidedNames[path]).c_str(),
                                     lopsidedBenchmark, path)
            ->Arg(4)
            ->Arg(32)
            ->Arg(256)
            ->Unit(benchmark::kMillisecond)
            ->Repetitions(3)
            ->ReportAggregatesOnly(true)
            ->UseRealTime();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}

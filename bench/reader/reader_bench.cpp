// Load speed of loadPlyMesh, side by side with two references measured in the
// same run on the same files:
//   read  - reading the file into a freshly allocated buffer with read(2);
//   touch - the memory traffic any loader must cause: mapping the file and
//           reading each of its cache lines, then writing every byte of
//           fresh arrays as large as the loaded mesh's (12 bytes a vertex,
//           24 a face).
// MB/s is file bytes over wall time. Each figure is the median of
// MESHQEM_BENCH_REPETITIONS repetitions (default 5); the table at the end
// gives the ratios of those medians.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "files.h"
#include "ply/ply_mesh.h"

namespace {

void loadMesh(benchmark::State& state, const bench::MeshFile& file)
{
    for (auto _ : state) {
        Mesh mesh;
        std::string error;
        if (!loadPlyMesh(file.path.c_str(), mesh, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(mesh.faces.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.bytes));
}

void readFile(benchmark::State& state, const bench::MeshFile& file)
{
    for (auto _ : state) {
        int fd = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
        std::unique_ptr<char[]> buffer(new char[file.bytes + 1]);
        std::size_t used = 0;
        for (ssize_t got; fd >= 0 && (got = read(fd, buffer.get() + used, file.bytes + 1 - used)) > 0;)
            used += static_cast<std::size_t>(got);
        if (fd >= 0)
            close(fd);
        if (used != file.bytes) {
            state.SkipWithError("short read");
            break;
        }
        benchmark::DoNotOptimize(buffer.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.bytes));
}

void touchMemory(benchmark::State& state, const bench::MeshFile& file, std::size_t meshBytes)
{
    for (auto _ : state) {
        int fd = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
        void* map = fd >= 0 ? mmap(nullptr, file.bytes, PROT_READ, MAP_PRIVATE, fd, 0) : MAP_FAILED;
        if (fd >= 0)
            close(fd);
        if (map == MAP_FAILED) {
            state.SkipWithError("cannot map the file");
            break;
        }
        const volatile unsigned char* bytes = static_cast<const unsigned char*>(map);
        unsigned sum = 0;
        for (std::size_t i = 0; i < file.bytes; i += 64)
            sum += bytes[i];
        munmap(map, file.bytes);
        // The same memory handling as the loader's arrays (huge-page advice included).
        std::vector<char> arrays;
        arrays.reserve(meshBytes);
        constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
        auto begin = (reinterpret_cast<std::uintptr_t>(arrays.data()) + kHuge - 1) & ~(kHuge - 1);
        auto end = (reinterpret_cast<std::uintptr_t>(arrays.data()) + meshBytes) & ~(kHuge - 1);
        if (meshBytes >= 2 * kHuge && begin < end)
            madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
        arrays.resize(meshBytes, static_cast<char>(sum));
        benchmark::DoNotOptimize(arrays.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.bytes));
}

// Keeps the console output and remembers each benchmark's median time.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.aggregate_name == "median" && !run.error_occurred)
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> medians;  // milliseconds
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    const char* repetitionsText = std::getenv("MESHQEM_BENCH_REPETITIONS");
    const int repetitions = repetitionsText ? std::max(1, std::atoi(repetitionsText)) : 5;

    bench::DataDir dir;
    const std::vector<bench::MeshFile> files = bench::benchmarkFiles(dir);
    std::vector<bench::MeshFile> loaded;
    std::map<std::string, std::size_t> meshBytes;
    for (const bench::MeshFile& file : files) {
        Mesh mesh;
        std::string error;
        if (!loadPlyMesh(file.path.c_str(), mesh, error)) {
            std::printf("skipping %s: %s\n", file.name.c_str(), error.c_str());
            continue;
        }
        loaded.push_back(file);
        meshBytes[file.name] = mesh.vertexCount() * sizeof(Vector3) + mesh.faceCount() * sizeof(Face);
    }
    for (const bench::MeshFile& file : loaded) {
        // Large files once per repetition: one load already takes a while.
        const bool large = file.bytes > (64u << 20);
        auto configure = [&](benchmark::internal::Benchmark* b) {
            b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(repetitions)
                ->ReportAggregatesOnly(true);
            if (large)
                b->Iterations(1);
        };
        configure(benchmark::RegisterBenchmark(("load/" + file.name).c_str(), loadMesh, file));
        configure(benchmark::RegisterBenchmark(("read/" + file.name).c_str(), readFile, file));
        configure(benchmark::RegisterBenchmark(("touch/" + file.name).c_str(), touchMemory, file,
                                               meshBytes[file.name]));
    }

    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nMedians of %d repetitions (MB = 10^6 bytes of file):\n", repetitions);
    std::printf("%-34s %9s %9s %9s %9s %10s %10s\n", "file", "MB", "load ms", "load MB/s",
                "read MB/s", "load/read", "load/touch");
    for (const bench::MeshFile& file : loaded) {
        auto time = [&](const char* kind) {
            auto it = reporter.medians.find(std::string(kind) + "/" + file.name);
            return it == reporter.medians.end() ? 0.0 : it->second;
        };
        const double load = time("load"), read = time("read"), touch = time("touch");
        if (load <= 0)
            continue;
        const double megabytes = static_cast<double>(file.bytes) / 1e6;
        std::printf("%-34s %9.2f %9.2f %9.0f %9.0f %10.2f %10.2f\n", file.name.c_str(), megabytes,
                    load, megabytes / load * 1e3, read > 0 ? megabytes / read * 1e3 : 0.0,
                    read > 0 ? load / read : 0.0, touch > 0 ? load / touch : 0.0);
    }
    return 0;
}

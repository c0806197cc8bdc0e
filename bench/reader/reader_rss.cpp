// Peak memory of loading each benchmark mesh: every load runs in a fresh
// process (this program re-executed with --load), whose maximum resident set
// is compared with the budget file size + 1.5 x the mesh's arrays (12 bytes a
// vertex, 24 a face). The peak of a process that loads nothing is shown too
// and subtracted, so the figures are what loading adds; 1 MB of slack covers
// the code and allocator pages a first load touches, which dominate tiny files.
//   meshqem_reader_rss            all files of the reader benchmark
//   meshqem_reader_rss --load F   (internal) load F and print its counts
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "files.h"
#include "ply/ply_mesh.h"

namespace {

// Runs this program with `arguments`; returns the child's max RSS in KiB, or
// -1. Its standard output (the counts) is captured into `output`.
long childPeakKiB(const char* self, const char* mode, const char* path, std::string& output)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeEnds[1], 1);
        if (int null = open("/dev/null", O_WRONLY); null >= 0)
            dup2(null, 2);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execl(self, self, mode, path, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeEnds[1]);
    char buffer[256];
    for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, static_cast<std::size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--load") == 0) {
        Mesh mesh;
        std::string error;
        if (!loadPlyMesh(argv[2], mesh, error)) {
            std::fprintf(stderr, "%s: %s\n", argv[2], error.c_str());
            return 1;
        }
        std::printf("%zu %zu\n", mesh.vertexCount(), mesh.faceCount());
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--idle") == 0)
        return 0;

    bench::DataDir dir;
    std::string ignored;
    const long idle = childPeakKiB("/proc/self/exe", "--idle", "-", ignored);
    std::printf("peak RSS of a process that loads nothing: %.1f MB\n\n", idle * 1024.0 / 1e6);
    std::printf("%-34s %9s %9s %10s %10s %8s\n", "file", "file MB", "mesh MB", "peak MB",
                "budget MB", "peak/bud");
    bool within = true;
    for (const bench::MeshFile& file : bench::benchmarkFiles(dir)) {
        std::string counts;
        const long peak = childPeakKiB("/proc/self/exe", "--load", file.path.c_str(), counts);
        std::size_t vertices = 0, faces = 0;
        if (peak < 0 || std::sscanf(counts.c_str(), "%zu %zu", &vertices, &faces) != 2) {
            std::printf("%-34s skipped: not a triangle mesh the loader accepts\n", file.name.c_str());
            continue;
        }
        const double mesh = static_cast<double>(vertices * sizeof(Vector3) + faces * sizeof(Face));
        const double budget = static_cast<double>(file.bytes) + 1.5 * mesh;
        const double added = (peak - idle) * 1024.0;
        within = within && added <= budget + 1e6;
        std::printf("%-34s %9.2f %9.2f %10.2f %10.2f %8.2f\n", file.name.c_str(), file.bytes / 1e6,
                    mesh / 1e6, added / 1e6, budget / 1e6, added / budget);
    }
    std::printf("\n%s\n", within ? "every load stayed within its budget"
                                 : "SOME LOAD EXCEEDED ITS BUDGET");
    return within ? 0 : 1;
}

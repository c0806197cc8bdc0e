// meshqem FIRST.ply SECOND.ply: how far apart two triangle meshes are.
//
// Exit status: 0 after a report (or --help, --version), 1 when a file cannot
// be used or the report cannot be written, 2 for a wrong command line.
#include <cstdio>
#include <string>
#include <utility>

#include "cli/options.h"
#include "ply/ply_mesh.h"
#include "qem/comparison.h"
#include "qem/normalize.h"
#include "report/text_report.h"

namespace {

Mesh firstMesh;
Mesh secondMesh;

const char* firstFileName = "";
const char* secondFileName = "";

constexpr int kExitUnusableInput = 1;
constexpr int kExitUsage = 2;

bool load(const char* fileName, Mesh& mesh)
{
    std::string error;
    if (loadPlyMesh(fileName, mesh, error))
        return true;
    std::fprintf(stderr, "meshqem: %s: %s\n", fileName, error.c_str());
    return false;
}

bool hasVertices(const char* fileName, const Mesh& mesh)
{
    if (mesh.vertexCount() > 0)
        return true;
    std::fprintf(stderr, "meshqem: %s: the mesh has no vertices, so it cannot be scaled\n",
                 fileName);
    return false;
}

void warnAboutDegenerateFaces(const char* fileName, const Mesh& mesh, const char* otherFileName)
{
    if (std::size_t count = countDegenerateFaces(mesh))
        std::fprintf(stderr,
                     "meshqem: warning: %s: %zu degenerate faces (zero normal); every vertex of "
                     "%s is at distance 0 from their plane\n",
                     fileName, count, otherFileName);
}

bool normalizeMeshes()
{
    NormalizeFailure failure = normalizeMeshes(firstMesh, secondMesh);
    for (auto [failed, fileName] : {std::pair{failure.first, firstFileName},
                                    std::pair{failure.second, secondFileName}})
        if (failed)
            std::fprintf(stderr,
                         "meshqem: %s: the bounding-box diagonal is zero (or not finite), so "
                         "the mesh cannot be scaled\n",
                         fileName);
    return !failure.any();
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = parseOptions(argc, argv);
    switch (options.action) {
    case Options::Action::help:
        std::fputs(kHelpText, stdout);
        return 0;
    case Options::Action::version:
        std::puts("meshqem " MESHQEM_VERSION);
        return 0;
    case Options::Action::usage:
        std::fputs(kUsageText, stdout);
        return kExitUsage;
    case Options::Action::compare:
        break;
    }

    // Both files are read and checked, so that one run reports every problem.
    firstFileName = options.firstFileName;
    secondFileName = options.secondFileName;
    bool firstLoaded = load(firstFileName, firstMesh);
    bool secondLoaded = load(secondFileName, secondMesh);
    if (!firstLoaded || !secondLoaded)
        return kExitUnusableInput;
    bool firstUsable = hasVertices(firstFileName, firstMesh);
    bool secondUsable = hasVertices(secondFileName, secondMesh);
    if (!firstUsable || !secondUsable || !normalizeMeshes())
        return kExitUnusableInput;
    warnAboutDegenerateFaces(firstFileName, firstMesh, secondFileName);
    warnAboutDegenerateFaces(secondFileName, secondMesh, firstFileName);

    const Comparison comparison = compareMeshes(firstMesh, secondMesh);
    if (!writeTextReport(comparison, stdout) || std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::perror("meshqem: cannot write the report");
        return kExitUnusableInput;
    }
    return 0;
}

// meshqem FIRST.ply SECOND.ply: how far apart two triangle meshes are.
//
// Exit status: 0 after a report (or --help, --version), 1 when a file cannot
// be used or the report cannot be written, 2 for a wrong command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "compare.h"
#include "ply/ply_mesh.h"

namespace {

Mesh firstMesh;
Mesh secondMesh;

const char* firstFileName = "";
const char* secondFileName = "";

constexpr int kExitUnusableInput = 1;
constexpr int kExitUsage = 2;

const char kHelp[] =
    "Usage: meshqem FIRST.ply SECOND.ply\n"
    "\n"
    "Reads two triangle meshes, centres both on their bounding boxes, scales the\n"
    "first by 30 and the second to the same bounding-box diagonal, then sums for\n"
    "every vertex of one mesh the distance to the nearest face plane of the other\n"
    "(capped at 1000), in both directions, and prints the two sums and the\n"
    "QEM Error (s12^2 + s21^2) / (vertices of both meshes).\n"
    "\n"
    "Options:\n"
    "  -h, --help   show this text\n"
    "  --version    show the version\n";

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

// One direction of the comparison, with its three report lines.
float reportPointToFace(const Mesh& from, const Mesh& to)
{
    DirectedSum directed = ::pointToFace(from, to);
    std::printf("Number of vertecies of first mesh is %d\n", int(directed.vertexCount));
    std::printf("Number of faces of second mesh is %d\n", int(directed.faceCount));
    std::printf("Result of Point to Face is %f\n", directed.sum);
    return directed.sum;
}

float qemError()
{
    float s12 = reportPointToFace(firstMesh, secondMesh);
    float s21 = reportPointToFace(secondMesh, firstMesh);
    return ::qemError(s12, s21, firstMesh.vertexCount(), secondMesh.vertexCount());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("meshqem " MESHQEM_VERSION);
        return 0;
    }
    if (argc <= 2) {
        std::printf("Not enough arguments, enter two ply file names");
        return kExitUsage;
    }

    // Both files are read and checked, so that one run reports every problem.
    firstFileName = argv[1];
    secondFileName = argv[2];
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

    float q = qemError();
    std::printf("QEM Error is %f\n", q);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::perror("meshqem: cannot write the report");
        return kExitUnusableInput;
    }
    return 0;
}

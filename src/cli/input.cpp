#include "cli/input.h"

#include <cstdio>
#include <unistd.h>

#include "cli/progress.h"
#include "ply/ply_mesh.h"

namespace {

// The reader's own line, once the progress line is out of its way.
void reportReaderError(p_ply, const char* message)
{
    progress::idle();
    std::fprintf(stderr, "RPly: %s\n", message);
}

void reportReaderWarning(p_ply, const char* message)
{
    progress::idle();
    std::fprintf(stderr, "RPly: warning: %s\n", message);
}

} // namespace

const char* shownFileName(const std::string& fileName)
{
    return fileName == kStandardInputName ? "standard input" : fileName.c_str();
}

bool readInput(const std::string& fileName, Mesh& mesh, std::string& error)
{
    progress::phase(std::string("reading ") + shownFileName(fileName));
    const bool loaded =
        fileName == kStandardInputName
            ? loadPlyMeshFromDescriptor(STDIN_FILENO, mesh, error, reportReaderError,
                                        reportReaderWarning)
            : loadPlyMesh(fileName.c_str(), mesh, error, reportReaderError, reportReaderWarning);
    progress::idle();
    return loaded;
}

bool loadInput(const std::string& fileName, Mesh& mesh)
{
    std::string error;
    const bool loaded = readInput(fileName, mesh, error);
    if (!loaded)
        std::fprintf(stderr, "meshqem: %s: %s\n", shownFileName(fileName), error.c_str());
    return loaded;
}

#include "cli/input.h"

#include <cstdio>
#include <unistd.h>

#include "ply/ply_mesh.h"

const char* shownFileName(const std::string& fileName)
{
    return fileName == kStandardInputName ? "standard input" : fileName.c_str();
}

bool loadInput(const std::string& fileName, Mesh& mesh)
{
    std::string error;
    const bool loaded = fileName == kStandardInputName
                            ? loadPlyMeshFromDescriptor(STDIN_FILENO, mesh, error)
                            : loadPlyMesh(fileName.c_str(), mesh, error);
    if (!loaded)
        std::fprintf(stderr, "meshqem: %s: %s\n", shownFileName(fileName), error.c_str());
    return loaded;
}

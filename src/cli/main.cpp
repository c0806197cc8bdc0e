// meshqem FIRST.ply SECOND.ply: how far apart two triangle meshes are; with
// --surface, by exact point-to-surface distances. Parses the options, loads
// both files and hands them to the chosen mode.
//
// Exit status: 0 after a report (or --help, --version), 1 when a file cannot
// be used or the report or an export cannot be written, 2 for a wrong
// command line, 3 when a figure exceeds a --fail-above threshold.
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>

#include <omp.h>

#include "cli/modes.h"
#include "cli/options.h"
#include "ply/ply_mesh.h"

namespace {

Mesh firstMesh;
Mesh secondMesh;

bool load(const std::string& fileName, Mesh& mesh)
{
    std::string error;
    if (loadPlyMesh(fileName.c_str(), mesh, error))
        return true;
    std::fprintf(stderr, "meshqem: %s: %s\n", fileName.c_str(), error.c_str());
    return false;
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
    case Options::Action::notEnoughFiles:
        std::fputs(kUsageText, stdout);
        return kExitUsage;
    case Options::Action::usageError:
        std::fprintf(stderr, "meshqem: %s\nRun 'meshqem --help' to see the options.\n",
                     options.error.c_str());
        return kExitUsage;
    case Options::Action::compare:
    case Options::Action::surface:
        break;
    }
    if (options.threads > 0)
        omp_set_num_threads(options.threads);
    if (options.batch())
        return runSurfaceBatch(options);

    // Both files are read and checked, so that one run reports every problem.
    bool firstLoaded = load(options.firstFileName, firstMesh);
    bool secondLoaded = load(options.secondFileName, secondMesh);
    if (!firstLoaded || !secondLoaded)
        return kExitUnusableInput;

    try {
        return options.action == Options::Action::surface
                   ? runSurfaceMode(options, firstMesh, secondMesh)
                   : runPlaneMode(options, firstMesh, secondMesh);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    std::fputs("meshqem: not enough memory for these meshes (and samples)\n", stderr);
    return kExitUnusableInput;
}

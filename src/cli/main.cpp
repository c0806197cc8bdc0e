// meshqem FIRST.ply SECOND.ply: how far apart two triangle meshes are; with
// --surface, by exact point-to-surface distances. Parses the options, loads
// both files and hands them to the chosen mode.
//
// Exit status: 0 after a report (or --help, --version), 1 when a file cannot
// be used or the report or an export cannot be written, 2 for a wrong
// command line, 3 when a figure exceeds a --fail-above threshold.
// A file name "-" reads standard input.
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>

#include <omp.h>

#include "cli/input.h"
#include "cli/modes.h"
#include "cli/options.h"
#include "cli/progress.h"

namespace {

Mesh firstMesh;
Mesh secondMesh;

} // namespace

int main(int argc, char** argv)
{
    holdClosedStandardStreams();
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
    const ProgressDisplay progressDisplay;
    if (options.batch())
        return runSurfaceBatch(options);

    // Both files are read and checked, so that one run reports every problem:
    // a file that loaded gets the mode's own checks even when the other did not.
    const bool surface = options.action == Options::Action::surface;
    const std::string fileNames[2] = {options.firstFileName, options.secondFileName};
    Mesh* const meshes[2] = {&firstMesh, &secondMesh};
    bool loaded[2];
    loadInputs(fileNames, meshes, loaded);
    const bool firstLoaded = loaded[0], secondLoaded = loaded[1];
    if (!firstLoaded || !secondLoaded) {
        auto check = [surface](const std::string& fileName, const Mesh& mesh, MeshRole role) {
            if (surface)
                surfaceModeAccepts(fileName, mesh);
            else
                planeModeAccepts(fileName, mesh, role);
        };
        if (firstLoaded)
            check(options.firstFileName, firstMesh, MeshRole::first);
        if (secondLoaded)
            check(options.secondFileName, secondMesh, MeshRole::second);
        return kExitUnusableInput;
    }

    try {
        return surface ? runSurfaceMode(options, firstMesh, secondMesh)
                       : runPlaneMode(options, firstMesh, secondMesh);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    progress::idle();
    std::fputs("meshqem: not enough memory for these meshes (and samples)\n", stderr);
    return kExitUnusableInput;
}

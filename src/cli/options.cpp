#include "cli/options.h"

#include <cstdint>
#include <vector>

#include <CLI/CLI.hpp>

const char kHelpText[] =
    "Usage: meshqem FIRST.ply SECOND.ply\n"
    "       meshqem --surface [--samples N] A.ply B.ply\n"
    "\n"
    "Default mode: reads two triangle meshes, centres both on their bounding\n"
    "boxes, scales the first by 30 and the second to the same bounding-box\n"
    "diagonal, then sums for every vertex of one mesh the distance to the nearest\n"
    "face plane of the other (capped at 1000), in both directions, and prints the\n"
    "two sums and the QEM Error (s12^2 + s21^2) / (vertices of both meshes).\n"
    "\n"
    "Surface mode (--surface): exact distances from the vertices and from area\n"
    "samples of each mesh to the nearest point of the other mesh's surface, in\n"
    "the meshes' own units (no centring, no scaling), with their statistics and\n"
    "a sampled lower bound of the Hausdorff distance.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this text\n"
    "  --version      show the version\n"
    "  --json         write the report as one JSON object\n"
    "  --surface      point-to-surface distances instead of the nearest-plane sums\n"
    "  --samples N    with --surface: N area samples on each mesh (default 10 times\n"
    "                 the larger face count; 0 measures the vertices only)\n"
    "  --threads N    use N threads (N >= 1), overriding OMP_NUM_THREADS\n"
    "  --             end of the options: what follows are file names\n"
    "\n"
    "A file name - reads that mesh from standard input.\n";

const char kUsageText[] = "Not enough arguments, enter two ply file names";

namespace {

Options usageError(std::string message)
{
    Options options;
    options.action = Options::Action::usageError;
    options.error = std::move(message);
    return options;
}

} // namespace

Options parseOptions(int argc, char** argv)
{
    CLI::App app("meshqem", "meshqem");
    // The help text is ours (kHelpText); CLI11 only recognises the flags.
    app.set_help_flag("-h,--help");
    app.set_version_flag("--version", "meshqem " MESHQEM_VERSION);

    std::vector<std::string> files;
    bool json = false, surface = false;
    std::int64_t samples = -1;  // wider than any accepted value, so that a
    std::int64_t threads = 0;   // negative one is reported, not wrapped
    app.add_option("files", files);
    app.add_flag("--json", json);
    CLI::Option* surfaceFlag = app.add_flag("--surface", surface);
    CLI::Option* samplesOption = app.add_option("--samples", samples);
    CLI::Option* threadsOption = app.add_option("--threads", threads);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        Options options;
        options.action = Options::Action::help;
        return options;
    } catch (const CLI::CallForVersion&) {
        Options options;
        options.action = Options::Action::version;
        return options;
    } catch (const CLI::ParseError& e) {
        return usageError(e.what());
    }

    if (threadsOption->count() && threads < 1)
        return usageError("--threads: the number of threads must be at least 1, got " +
                          std::to_string(threads));
    if (threadsOption->count() && threads > 65536)
        return usageError("--threads: at most 65536 threads, got " + std::to_string(threads));
    if (samplesOption->count() && !surfaceFlag->count())
        return usageError("--samples applies only with --surface");
    if (samplesOption->count() && (samples < 0 || std::uint64_t(samples) > kMaxSamples))
        return usageError("--samples: the number of samples must be between 0 and " +
                          std::to_string(kMaxSamples) + ", got " + std::to_string(samples));

    Options options;
    if (files.size() < 2)
        return options;  // notEnoughFiles
    if (surface && files.size() > 2)
        return usageError("--surface compares exactly two files, got " +
                          std::to_string(files.size()));
    if (files[0] == "-" && files[1] == "-")
        return usageError("standard input ('-') can be only one of the two files");
    options.action = surface ? Options::Action::surface : Options::Action::compare;
    options.firstFileName = files[0];
    options.secondFileName = files[1];
    options.json = json;
    if (samplesOption->count())
        options.samples = std::size_t(samples);
    options.threads = int(threads);
    return options;
}

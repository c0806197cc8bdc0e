#include "cli/options.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>
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
    "  --hausdorff-error E   with --surface: also a certified interval [L, U] of the\n"
    "                 Hausdorff distance in each direction, U - L <= E; E in the\n"
    "                 meshes' units, or E% of the diagonal of the union box\n"
    "  --reconstruction  with --surface: accuracy, completeness, Chamfer-L1/L2,\n"
    "                 normal consistency, precision, recall and F-score (A the\n"
    "                 reconstruction, B the reference), from the area samples\n"
    "  --tau T,...    with --reconstruction: the F-score thresholds (each T or T%\n"
    "                 of the diagonal; default 1%)\n"
    "  --threads N    use N threads (N >= 1), overriding OMP_NUM_THREADS\n"
    "  --             end of the options: what follows are file names\n";

const char kUsageText[] = "Not enough arguments, enter two ply file names";

namespace {

Options usageError(std::string message)
{
    Options options;
    options.action = Options::Action::usageError;
    options.error = std::move(message);
    return options;
}

// "E" or "E%" with E a positive finite number.
bool parseLength(const std::string& text, LengthOption& out)
{
    std::string number = text;
    out.percent = !number.empty() && number.back() == '%';
    if (out.percent)
        number.pop_back();
    const char* first = number.data();
    const char* last = first + number.size();
    if (first == last || *first == '+' || *first == '-' || std::isspace(static_cast<unsigned char>(*first)))
        return false;
    const auto [end, ec] = std::from_chars(first, last, out.value);
    return ec == std::errc() && end == last && std::isfinite(out.value) && out.value > 0.0;
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
    std::string hausdorffError, taus;
    bool reconstruction = false;
    CLI::Option* errorOption = app.add_option("--hausdorff-error", hausdorffError);
    CLI::Option* reconstructionFlag = app.add_flag("--reconstruction", reconstruction);
    CLI::Option* tauOption = app.add_option("--tau", taus);

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

    LengthOption error;
    std::vector<LengthOption> tauList;
    for (CLI::Option* option : {errorOption, reconstructionFlag, tauOption})
        if (option->count() && !surfaceFlag->count())
            return usageError(option->get_name() + " applies only with --surface");
    if (errorOption->count() && !parseLength(hausdorffError, error))
        return usageError("--hausdorff-error: expected a positive number, or a percentage "
                          "such as 0.01%, got '" + hausdorffError + "'");
    if (tauOption->count() && !reconstructionFlag->count())
        return usageError("--tau applies only with --reconstruction");
    if (tauOption->count()) {
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = taus.find(',', start);
            const std::string item = taus.substr(start, comma == std::string::npos
                                                            ? std::string::npos
                                                            : comma - start);
            LengthOption tau;
            if (!parseLength(item, tau))
                return usageError("--tau: expected positive numbers or percentages separated "
                                  "by commas, got '" + taus + "'");
            tauList.push_back(tau);
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
    }
    if (reconstructionFlag->count() && samplesOption->count() && samples == 0)
        return usageError("--reconstruction needs area samples, so not --samples 0");

    Options options;
    if (files.size() < 2)
        return options;  // notEnoughFiles
    if (surface && files.size() > 2)
        return usageError("--surface compares exactly two files, got " +
                          std::to_string(files.size()));
    options.action = surface ? Options::Action::surface : Options::Action::compare;
    options.firstFileName = files[0];
    options.secondFileName = files[1];
    options.json = json;
    if (samplesOption->count())
        options.samples = std::size_t(samples);
    options.threads = int(threads);
    if (errorOption->count())
        options.hausdorffError = error;
    options.reconstruction = reconstruction;
    options.taus = tauList;
    return options;
}

#include "cli/options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>
#include <cmath>
#include <cstdint>
#include <system_error>
#include <vector>

#include <CLI/CLI.hpp>

const char kHelpText[] =
    "Usage: meshqem FIRST.ply SECOND.ply\n"
    "       meshqem --surface [--samples N] A.ply B.ply\n"
    "       meshqem --surface [--samples N] REF.ply CANDIDATE.ply...\n"
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
    "  --protocol onet   with --reconstruction: the figures under the Occupancy\n"
    "                 Networks protocol instead (both meshes in B's unit-cube frame,\n"
    "                 100000 random points each, nearest sample point, F-score at\n"
    "                 tau 0.01, 0.015, 0.02)\n"
    "  --seed S       with --protocol: the seed of its random points (default 0)\n"
    "  --threads N    use N threads (N >= 1), overriding OMP_NUM_THREADS\n"
    "  --             end of the options: what follows are file names\n"
    "\n"
    "Exports (one pair of files; both modes):\n"
    "  --per-vertex FILE.csv     every vertex of both meshes: mesh,vertex,x,y,z,distance\n"
    "  --color-ply PREFIX        PREFIX_a.ply and PREFIX_b.ply, binary, with each vertex's\n"
    "                            distance as float quality and a viridis colour\n"
    "  --color-range MIN MAX     the range of the colours and of the histogram (default\n"
    "                            0 to the larger one-sided maximum)\n"
    "  --histogram BINS FILE.csv BINS equal bins: mesh,lower,upper,vertices,area_share\n"
    "\n"
    "Thresholds:\n"
    "  --fail-above FIELD=VALUE  exit with status 3 when the figure exceeds VALUE (the\n"
    "                            report is still printed); repeatable. Fields: qem, s12,\n"
    "                            s21; with --surface hausdorff, mean, rms, p50, p95, p99,\n"
    "                            vertex_max, vertex_mean, vertex_rms, vertex_p50,\n"
    "                            vertex_p90, vertex_p95, vertex_p99, whose VALUE may end\n"
    "                            in % (of the diagonal of the union box)\n"
    "\n"
    "Batch: with --surface and more than two files, the first is the reference and is\n"
    "indexed once; each later file is compared with it, one report (or one JSON line)\n"
    "per candidate, in order.\n"
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
    std::string perVertex, colorPly;
    std::vector<double> colorRange;
    std::vector<std::string> histogram, failAbove;
    CLI::Option* perVertexOption = app.add_option("--per-vertex", perVertex);
    CLI::Option* colorPlyOption = app.add_option("--color-ply", colorPly);
    // Each takes exactly its values, never the file names after them.
    CLI::Option* colorRangeOption =
        app.add_option("--color-range", colorRange)->expected(2)->allow_extra_args(false);
    CLI::Option* histogramOption =
        app.add_option("--histogram", histogram)->expected(2)->allow_extra_args(false);
    app.add_option("--fail-above", failAbove)
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    std::string hausdorffError, taus;
    bool reconstruction = false;
    CLI::Option* errorOption = app.add_option("--hausdorff-error", hausdorffError);
    CLI::Option* reconstructionFlag = app.add_flag("--reconstruction", reconstruction);
    CLI::Option* tauOption = app.add_option("--tau", taus);
    std::string protocol, seedText;
    CLI::Option* protocolOption = app.add_option("--protocol", protocol);
    CLI::Option* seedOption = app.add_option("--seed", seedText);

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

    // A count beyond the integer's range arrives clamped to it: the message
    // quotes what was typed.
    const auto typed = [](const CLI::Option* option) { return option->results().back(); };
    if (threadsOption->count() && threads < 1)
        return usageError("--threads: the number of threads must be at least 1, got " +
                          typed(threadsOption));
    if (threadsOption->count() && threads > 65536)
        return usageError("--threads: at most 65536 threads, got " + typed(threadsOption));
    if (samplesOption->count() && !surfaceFlag->count())
        return usageError("--samples applies only with --surface");
    if (samplesOption->count() && (samples < 0 || std::uint64_t(samples) > kMaxSamples))
        return usageError("--samples: the number of samples must be between 0 and " +
                          std::to_string(kMaxSamples) + ", got " + typed(samplesOption));

    ExportRequest exports;
    for (auto [option, value] : {std::pair{perVertexOption, &perVertex},
                                 std::pair{colorPlyOption, &colorPly}})
        if (option->count() && value->empty())
            return usageError(option->get_name() + ": the file name is empty");
    exports.perVertexPath = perVertex;
    exports.colorPlyPrefix = colorPly;
    if (histogramOption->count()) {
        const std::string& bins = histogram[0];
        std::size_t count = 0;
        auto [end, ec] = std::from_chars(bins.data(), bins.data() + bins.size(), count);
        if (ec != std::errc() || end != bins.data() + bins.size() || count < 1 ||
            count > kMaxHistogramBins)
            return usageError("--histogram: BINS must be a whole number from 1 to " +
                              std::to_string(kMaxHistogramBins) + ", got '" + bins + "'");
        if (histogram[1].empty())
            return usageError("--histogram: the file name is empty");
        exports.histogramBins = count;
        exports.histogramPath = histogram[1];
    }
    if (colorRangeOption->count()) {
        if (!exports.colorPlyPrefix.size() && !exports.histogramBins)
            return usageError("--color-range applies only with --color-ply or --histogram");
        if (!std::isfinite(colorRange[0]) || !std::isfinite(colorRange[1]) ||
            !(colorRange[0] < colorRange[1]))
            return usageError("--color-range: MIN and MAX must be finite numbers with MIN < MAX");
        exports.range = ValueRange{colorRange[0], colorRange[1]};
    }

    const Engine engine = surface ? Engine::surface : Engine::plane;
    const bool areaSamples = !(samplesOption->count() && samples == 0);
    std::vector<Threshold> thresholds;
    for (const std::string& text : failAbove) {
        Threshold threshold;
        std::string error;
        if (!parseThreshold(text, engine, areaSamples, threshold, error))
            return usageError(error);
        thresholds.push_back(threshold);
    }
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

    std::uint64_t seed = 0;
    if (protocolOption->count()) {
        if (protocol != "onet")
            return usageError("--protocol: the only protocol is 'onet', got '" + protocol + "'");
        if (!reconstructionFlag->count())
            return usageError("--protocol applies only with --reconstruction");
        if (tauOption->count())
            return usageError("--tau does not apply with --protocol onet, whose thresholds are "
                              "0.01, 0.015 and 0.02");
        if (files.size() > 2)
            return usageError("--protocol takes one pair of files, got " +
                              std::to_string(files.size()));
    }
    if (seedOption->count()) {
        if (!protocolOption->count())
            return usageError("--seed applies only with --protocol");
        auto [end, ec] =
            std::from_chars(seedText.data(), seedText.data() + seedText.size(), seed);
        if (ec != std::errc() || end != seedText.data() + seedText.size() || seedText.empty())
            return usageError("--seed: expected a whole number from 0 to 2^64 - 1, got '" +
                              seedText + "'");
    }

    Options options;
    if (files.size() < 2)
        return options;  // notEnoughFiles
    if (surface && files.size() > 2 && exports.any())
        return usageError("the exports (--per-vertex, --color-ply, --histogram) take one pair of "
                          "files, got " + std::to_string(files.size()));
    if (std::count(files.begin(), files.end(), std::string("-")) > 1)
        return usageError("standard input ('-') can be only one of the files");
    options.action = surface ? Options::Action::surface : Options::Action::compare;
    options.firstFileName = files[0];
    options.secondFileName = files[1];
    options.fileNames = files;
    options.exports = exports;
    options.thresholds = thresholds;
    options.json = json;
    if (samplesOption->count())
        options.samples = std::size_t(samples);
    options.threads = int(threads);
    if (errorOption->count())
        options.hausdorffError = error;
    options.reconstruction = reconstruction;
    options.taus = tauList;
    options.onet = protocolOption->count() > 0;
    options.seed = seed;
    return options;
}

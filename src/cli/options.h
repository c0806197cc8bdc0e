// The command line:
//   meshqem [--json] [--threads N] [EXPORTS] [--fail-above FIELD=VALUE]... FIRST.ply SECOND.ply
//   meshqem --surface [--samples N] [--json] [--threads N] [EXPORTS]
//           [--fail-above FIELD=VALUE]... A.ply B.ply
//   meshqem --surface [--samples N] [--json] [--threads N] [--fail-above FIELD=VALUE]...
//           REF.ply CANDIDATE.ply...
//   meshqem -h | --help | --version
// EXPORTS: --per-vertex FILE.csv, --color-ply PREFIX, --color-range MIN MAX,
//          --histogram BINS FILE.csv
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/exports.h"
#include "report/thresholds.h"
// A length on the command line: "0.5" in the meshes' units, or "0.5%" of
// the diagonal of the union of both bounding boxes.
struct LengthOption {
    double value = 0;      // > 0 and finite
    bool percent = false;  // value is a percentage of the diagonal
};

struct Options {
    enum class Action {
        compare,  // the nearest-plane comparison (the seven lines, or --json)
        surface,  // point-to-surface distances (--surface)
        help,
        version,
        notEnoughFiles,  // fewer than two file names: kUsageText, exit 2
        usageError,      // anything else wrong with the line: `error`, exit 2
    };
    Action action = Action::notEnoughFiles;
    std::string firstFileName;
    std::string secondFileName;
    // Every file name in order. With --surface and more than two, the first
    // is the reference and each later one a candidate compared with it.
    std::vector<std::string> fileNames;
    bool json = false;
    std::optional<std::size_t> samples;  // --samples; unset means the default count
    int threads = 0;                     // --threads; 0 leaves OpenMP's own choice
    std::string error;                   // what is wrong, for usageError
    ExportRequest exports;
    std::vector<Threshold> thresholds;   // --fail-above, in command-line order

    bool batch() const { return action == Action::surface && fileNames.size() > 2; }
    std::optional<LengthOption> hausdorffError;  // --hausdorff-error E[%]
    bool reconstruction = false;                 // --reconstruction
    std::vector<LengthOption> taus;              // --tau T[%],...; empty: 1 % of the diagonal
    bool onet = false;                           // --protocol onet
    std::uint64_t seed = 0;                      // --seed, for --protocol onet
};

// The largest --samples accepted: every sample costs about 44 bytes.
constexpr std::size_t kMaxSamples = 1000000000;

// --hausdorff-error, --reconstruction and --tau need --surface; --tau needs
// --reconstruction, which needs area samples (not --samples 0).
// --protocol onet needs --reconstruction (it does not imply it) and one pair
// of files, and replaces the reconstruction block, so it rejects --tau (its
// thresholds are fixed); --seed needs --protocol.
// -h/--help and --version win wherever they appear (before `--`). Unknown
// options, option values that are not numbers or out of range, --samples
// without --surface, --color-range without an export that uses it, exports
// with more than two files, and --fail-above fields the mode does not report
// are usage errors.
// In the default mode file names after the second are ignored, as they
// always were. `--` ends the options: what follows is a file name.
Options parseOptions(int argc, char** argv);

// The texts these actions print on standard output.
extern const char kHelpText[];
extern const char kUsageText[];  // no line break after it

// The command line:
//   meshqem [--json] [--threads N] FIRST.ply SECOND.ply
//   meshqem --surface [--samples N] [--json] [--threads N] A.ply B.ply
//   meshqem -h | --help | --version
#pragma once

#include <cstddef>
#include <optional>
#include <string>

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
    bool json = false;
    std::optional<std::size_t> samples;  // --samples; unset means the default count
    int threads = 0;                     // --threads; 0 leaves OpenMP's own choice
    std::string error;                   // what is wrong, for usageError
};

// The largest --samples accepted: every sample costs about 44 bytes.
constexpr std::size_t kMaxSamples = 1000000000;

// -h/--help and --version win wherever they appear (before `--`). Unknown
// options, option values that are not numbers or out of range, --samples
// without --surface and more than two files with --surface are usage errors.
// In the default mode file names after the second are ignored, as they
// always were. `--` ends the options: what follows is a file name.
Options parseOptions(int argc, char** argv);

// The texts these actions print on standard output.
extern const char kHelpText[];
extern const char kUsageText[];  // no line break after it

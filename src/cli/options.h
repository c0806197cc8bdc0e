// The command line: meshqem FIRST.ply SECOND.ply, -h/--help, --version.
#pragma once

struct Options {
    enum class Action { compare, help, version, usage };
    Action action = Action::usage;
    const char* firstFileName = "";
    const char* secondFileName = "";
};

// Arguments after the second file name are ignored. -h or --help as the first
// argument, or --version alone, ask for the text; fewer than two file names
// is a usage error.
Options parseOptions(int argc, char** argv);

// The texts these actions print on standard output.
extern const char kHelpText[];
extern const char kUsageText[];  // no line break after it

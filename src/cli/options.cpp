#include "cli/options.h"

#include <cstring>

const char kHelpText[] =
    "Usage: meshqem FIRST.ply SECOND.ply\n"
    "\n"
    "Reads two triangle meshes, centres both on their bounding boxes, scales the\n"
    "first by 30 and the second to the same bounding-box diagonal, then sums for\n"
    "every vertex of one mesh the distance to the nearest face plane of the other\n"
    "(capped at 1000), in both directions, and prints the two sums and the\n"
    "QEM Error (s12^2 + s21^2) / (vertices of both meshes).\n"
    "\n"
    "Options:\n"
    "  -h, --help   show this text\n"
    "  --version    show the version\n";

const char kUsageText[] = "Not enough arguments, enter two ply file names";

Options parseOptions(int argc, char** argv)
{
    Options options;
    if (argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0))
        options.action = Options::Action::help;
    else if (argc == 2 && std::strcmp(argv[1], "--version") == 0)
        options.action = Options::Action::version;
    else if (argc > 2) {
        options.action = Options::Action::compare;
        options.firstFileName = argv[1];
        options.secondFileName = argv[2];
    }
    return options;
}

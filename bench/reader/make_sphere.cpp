// Writes one of the reader benchmarks' bumpy spheres, for whole runs on a
// large file (run_plane.sh):
//   meshqem_make_sphere FACES ascii|binary OUT.ply
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "generate.h"

int main(int argc, char** argv)
{
    if (argc != 4 || (std::strcmp(argv[2], "ascii") != 0 && std::strcmp(argv[2], "binary") != 0)) {
        std::fprintf(stderr, "usage: %s FACES ascii|binary OUT.ply\n", argv[0]);
        return 2;
    }
    const long faces = std::strtol(argv[1], nullptr, 10);
    const bench::Encoding encoding =
        std::strcmp(argv[2], "ascii") == 0 ? bench::Encoding::ascii : bench::Encoding::littleEndian;
    if (faces < 2 || !bench::writeSphere(argv[3], bench::sphereWithFaces(faces), encoding)) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[3]);
        return 1;
    }
    return 0;
}

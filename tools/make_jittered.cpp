// meshqem_make_jittered IN.ply OUT.ply [FRACTION] [SEED]
//
// Writes a copy of a triangle mesh with every coordinate moved by a uniform
// amount in [-FRACTION, FRACTION] times the diagonal of its bounding box
// (default 1e-3, seed 1), as binary little-endian PLY: a near-coincident pair
// for benchmarks, like an original against a lightly perturbed copy. The
// offsets come from std::mt19937's 32-bit outputs through fixed arithmetic,
// so the same arguments give the same bytes on every platform.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "mesh_io.h"

namespace {

// A double in [-1, 1) from one 32-bit draw; no library distribution, whose
// algorithm the standard leaves to the implementation.
double signedUnit(std::mt19937& rng) { return double(rng()) * 0x1p-31 - 1.0; }

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s IN.ply OUT.ply [FRACTION] [SEED]\n", argv[0]);
        return 2;
    }
    const double fraction = argc > 3 ? std::atof(argv[3]) : 1e-3;
    const unsigned long seed = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 1;
    Mesh mesh;
    if (!tools::readMesh(argv[1], mesh))
        return 1;
    const double amount = fraction * tools::diagonal(mesh);
    std::mt19937 rng{static_cast<std::uint32_t>(seed)};
    for (Vector3& v : mesh.vertices) {
        v.x = float(v.x + amount * signedUnit(rng));
        v.y = float(v.y + amount * signedUnit(rng));
        v.z = float(v.z + amount * signedUnit(rng));
    }
    return tools::writeMesh(mesh, argv[2], "jittered copy of " + std::string(argv[1])) ? 0 : 1;
}

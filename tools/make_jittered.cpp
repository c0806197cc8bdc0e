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

#include "ply/ply_mesh.h"

namespace {

// A double in [-1, 1) from one 32-bit draw; no library distribution, whose
// algorithm the standard leaves to the implementation.
double signedUnit(std::mt19937& rng) { return double(rng()) * 0x1p-31 - 1.0; }

bool put(std::FILE* out, const void* data, std::size_t bytes)
{
    return std::fwrite(data, 1, bytes, out) == bytes;
}

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
    std::string error;
    if (!loadPlyMesh(argv[1], mesh, error)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
        return 1;
    }
    const double dx = double(mesh.bboxMax.x) - mesh.bboxMin.x;
    const double dy = double(mesh.bboxMax.y) - mesh.bboxMin.y;
    const double dz = double(mesh.bboxMax.z) - mesh.bboxMin.z;
    const double amount = fraction * std::sqrt(dx * dx + dy * dy + dz * dz);
    std::mt19937 rng{static_cast<std::uint32_t>(seed)};
    for (Vector3& v : mesh.vertices) {
        v.x = float(v.x + amount * signedUnit(rng));
        v.y = float(v.y + amount * signedUnit(rng));
        v.z = float(v.z + amount * signedUnit(rng));
    }

    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) {
        std::perror(argv[2]);
        return 1;
    }
    std::string header = "ply\nformat binary_little_endian 1.0\ncomment jittered copy of " +
                         std::string(argv[1]) + "\nelement vertex " +
                         std::to_string(mesh.vertices.size()) +
                         "\nproperty float x\nproperty float y\nproperty float z\nelement face " +
                         std::to_string(mesh.faces.size()) +
                         "\nproperty list uchar int vertex_indices\nend_header\n";
    bool ok = put(out, header.data(), header.size());
    // x86-64 and the other targets we build for are little-endian.
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "writes host byte order");
    for (const Vector3& v : mesh.vertices)
        ok = ok && put(out, &v.x, 4) && put(out, &v.y, 4) && put(out, &v.z, 4);
    for (const Face& f : mesh.faces) {
        unsigned char three = 3;
        ok = ok && put(out, &three, 1);
        for (std::uint32_t index : f.vertices) {
            std::int32_t i = std::int32_t(index);
            ok = ok && put(out, &i, 4);
        }
    }
    if (std::fclose(out) != 0 || !ok) {
        std::fprintf(stderr, "%s: write failed\n", argv[2]);
        return 1;
    }
    return 0;
}

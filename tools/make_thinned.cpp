// meshqem_make_thinned IN.ply OUT.ply [CELL]
//
// Writes a simplified copy of a triangle mesh, as binary little-endian PLY:
// the original against its simplification, the case the tool is mostly run
// on. The simplification is vertex clustering (Rossignac and Borrel): the
// box is cut into cubes of CELL times its diagonal (default 5e-3), the
// vertices of each cube merge into their mean, and faces left with fewer than
// three distinct corners, or repeating an earlier face's corners, are
// dropped. Vertices no face keeps are dropped too. Deterministic: the same
// input and CELL give the same bytes.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "mesh_io.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s IN.ply OUT.ply [CELL]\n", argv[0]);
        return 2;
    }
    const double fraction = argc > 3 ? std::atof(argv[3]) : 5e-3;
    Mesh mesh;
    if (!tools::readMesh(argv[1], mesh))
        return 1;
    const double cell = fraction * tools::diagonal(mesh);
    if (!(cell > 0.0)) {
        std::fprintf(stderr, "%s: the cell size must be positive\n", argv[0]);
        return 2;
    }

    // Each vertex's cube, numbered in order of first use.
    auto cubeKey = [&](const Vector3& v) {
        auto axis = [&](float c, float lo) { return std::uint64_t((double(c) - lo) / cell); };
        return axis(v.x, mesh.bboxMin.x) | axis(v.y, mesh.bboxMin.y) << 21 |
               axis(v.z, mesh.bboxMin.z) << 42;
    };
    std::unordered_map<std::uint64_t, std::uint32_t> cubes;
    std::vector<std::uint32_t> cubeOf(mesh.vertices.size());
    std::vector<std::array<double, 4>> sums;  // x, y, z, count
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        const Vector3& v = mesh.vertices[i];
        auto [at, added] = cubes.emplace(cubeKey(v), std::uint32_t(sums.size()));
        if (added)
            sums.push_back({0, 0, 0, 0});
        cubeOf[i] = at->second;
        sums[at->second][0] += v.x, sums[at->second][1] += v.y, sums[at->second][2] += v.z;
        sums[at->second][3] += 1;
    }

    // Faces on three distinct cubes, each corner set once, in face order;
    // the cubes they use become the vertices, in order of first use.
    Mesh thinned;
    std::set<std::array<std::uint32_t, 3>> seen;
    std::vector<std::int64_t> vertexOf(sums.size(), -1);
    for (const Face& f : mesh.faces) {
        std::array<std::uint32_t, 3> c = {cubeOf[f.vertices[0]], cubeOf[f.vertices[1]],
                                          cubeOf[f.vertices[2]]};
        if (c[0] == c[1] || c[1] == c[2] || c[0] == c[2])
            continue;
        std::array<std::uint32_t, 3> sorted = c;
        std::sort(sorted.begin(), sorted.end());
        if (!seen.insert(sorted).second)
            continue;
        Face face{};
        for (int k = 0; k < 3; ++k) {
            if (vertexOf[c[k]] < 0) {
                const auto& s = sums[c[k]];
                vertexOf[c[k]] = std::int64_t(thinned.vertices.size());
                thinned.vertices.push_back(
                    {float(s[0] / s[3]), float(s[1] / s[3]), float(s[2] / s[3])});
            }
            face.vertices[std::size_t(k)] = std::uint32_t(vertexOf[c[k]]);
        }
        thinned.faces.push_back(face);
    }
    std::fprintf(stderr, "%s: %zu vertices, %zu faces (from %zu and %zu)\n", argv[2],
                 thinned.vertices.size(), thinned.faces.size(), mesh.vertices.size(),
                 mesh.faces.size());
    return tools::writeMesh(thinned, argv[2], "thinned copy of " + std::string(argv[1])) ? 0 : 1;
}

// Writes the example meshes: an icosphere and a coarser one of the same
// radius, as a simplified mesh would be compared with its original.
//   meshqem_make_examples DIR   ->  DIR/sphere.ply, DIR/sphere_coarse.ply
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "geometry/mesh.h"

namespace {

// Icosahedron refined `levels` times by splitting each triangle into four,
// with new vertices pushed out to the unit sphere.
Mesh icosphere(int levels)
{
    const float t = (1.0f + std::sqrt(5.0f)) / 2.0f;
    Mesh mesh;
    mesh.vertices = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
                     {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
    std::vector<std::array<std::uint32_t, 3>> triangles = {
        {0, 11, 5}, {0, 5, 1}, {0, 1, 7}, {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
        {11, 10, 2}, {10, 7, 6}, {7, 1, 8}, {3, 9, 4}, {3, 4, 2}, {3, 2, 6}, {3, 6, 8},
        {3, 8, 9}, {4, 9, 5}, {2, 4, 11}, {6, 2, 10}, {8, 6, 7}, {9, 8, 1}};
    auto toSphere = [](Vector3 v) {
        float len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
        return Vector3{v.x / len, v.y / len, v.z / len};
    };
    for (Vector3& v : mesh.vertices)
        v = toSphere(v);

    for (int level = 0; level < levels; ++level) {
        std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> midpoints;
        auto midpoint = [&](std::uint32_t a, std::uint32_t b) {
            auto key = std::minmax(a, b);
            auto [it, added] = midpoints.try_emplace(key, std::uint32_t(mesh.vertices.size()));
            if (added) {
                const Vector3 &p = mesh.vertices[a], &q = mesh.vertices[b];
                mesh.vertices.push_back(toSphere({(p.x + q.x) / 2, (p.y + q.y) / 2, (p.z + q.z) / 2}));
            }
            return it->second;
        };
        std::vector<std::array<std::uint32_t, 3>> refined;
        for (auto [a, b, c] : triangles) {
            std::uint32_t ab = midpoint(a, b), bc = midpoint(b, c), ca = midpoint(c, a);
            refined.insert(refined.end(), {{a, ab, ca}, {b, bc, ab}, {c, ca, bc}, {ab, bc, ca}});
        }
        triangles = std::move(refined);
    }
    for (auto& corners : triangles)
        mesh.faces.push_back({corners, {0, 0, 0}});
    return mesh;
}

bool writeAsciiPly(const std::string& path, const Mesh& mesh)
{
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    std::fprintf(file,
                 "ply\nformat ascii 1.0\ncomment icosphere of radius 1\n"
                 "element vertex %zu\nproperty float x\nproperty float y\nproperty float z\n"
                 "element face %zu\nproperty list uchar int vertex_indices\nend_header\n",
                 mesh.vertexCount(), mesh.faceCount());
    for (const Vector3& v : mesh.vertices)
        std::fprintf(file, "%.9g %.9g %.9g\n", v.x, v.y, v.z);
    for (const Face& f : mesh.faces)
        std::fprintf(file, "3 %u %u %u\n", f.vertices[0], f.vertices[1], f.vertices[2]);
    return std::fclose(file) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: meshqem_make_examples DIR\n");
        return 2;
    }
    std::string dir = argv[1];
    for (auto [name, levels] : {std::pair{"sphere.ply", 3}, std::pair{"sphere_coarse.ply", 1}}) {
        if (!writeAsciiPly(dir + "/" + name, icosphere(levels))) {
            std::perror((dir + "/" + name).c_str());
            return 1;
        }
    }
    return 0;
}

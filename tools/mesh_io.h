// What the benchmark tools that derive a copy of a mesh share: reading the
// mesh, its box diagonal, and writing the copy as binary little-endian PLY
// (float x y z, uchar/int index lists).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "geometry/mesh.h"
#include "ply/ply_mesh.h"

namespace tools {

// Returns false, after saying why on standard error, when `path` is not a
// mesh the loader accepts.
inline bool readMesh(const char* path, Mesh& mesh)
{
    std::string error;
    if (loadPlyMesh(path, mesh, error))
        return true;
    std::fprintf(stderr, "%s: %s\n", path, error.c_str());
    return false;
}

// The diagonal of the mesh's bounding box, in double.
inline double diagonal(const Mesh& mesh)
{
    const double dx = double(mesh.bboxMax.x) - mesh.bboxMin.x;
    const double dy = double(mesh.bboxMax.y) - mesh.bboxMin.y;
    const double dz = double(mesh.bboxMax.z) - mesh.bboxMin.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

inline bool put(std::FILE* out, const void* data, std::size_t bytes)
{
    return std::fwrite(data, 1, bytes, out) == bytes;
}

// Returns false, after saying why on standard error, when `path` cannot be
// written. `comment` goes into the header.
inline bool writeMesh(const Mesh& mesh, const char* path, const std::string& comment)
{
    std::FILE* out = std::fopen(path, "wb");
    if (!out) {
        std::perror(path);
        return false;
    }
    std::string header = "ply\nformat binary_little_endian 1.0\ncomment " + comment +
                         "\nelement vertex " + std::to_string(mesh.vertices.size()) +
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
        std::fprintf(stderr, "%s: write failed\n", path);
        return false;
    }
    return true;
}

} // namespace tools

// Writes a triangle mesh as binary little-endian PLY, with extra per-vertex
// properties after x, y, z: the one PLY writer, used by every export.
//
// Layout: element vertex (float x, y, z, then the extra properties in the
// order given), element face (list uchar int vertex_indices), so that the
// project's own reader and the usual viewers (MeshLab, CloudCompare,
// Blender) read it: a float "quality" is MeshLab's vertex quality, uchar
// "red", "green", "blue" its vertex colour.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "geometry/mesh.h"

// One extra vertex property: a name and one value per vertex, float or
// uchar; only the vector of its type is read.
struct PlyVertexProperty {
    enum class Type { float32, uint8 };
    std::string name;
    Type type = Type::float32;
    std::vector<float> floats;
    std::vector<std::uint8_t> bytes;
    bool isFloat() const { return type == Type::float32; }
};

// Writes the header (with `comments`, one "comment" line each; they may not
// contain line breaks) and the body to `out`. Every property must have one
// value per vertex of `mesh`. Returns false when a write failed.
bool writePly(const Mesh& mesh, const std::vector<PlyVertexProperty>& properties,
              const std::vector<std::string>& comments, std::FILE* out);

#pragma once

#include <cstddef>
#include <vector>

#include "geometry/face.h"
#include "geometry/fill_later_vector.h"
#include "geometry/point_span.h"
#include "geometry/vector3.h"

// A triangle mesh as read from a file, with its axis-aligned bounding box.
// A vertex's position in `vertices` is its index in the file, and so is a
// face's in `faces`; faces refer to vertices by index, so moving a vertex moves
// it for every face that uses it.
//
// Once the mesh has a vertex, translate keeps the box exactly the box of the
// vertices. scale only ever widens it: after a factor below 1 the box keeps
// its old, larger extent (the box is not read after the last scale).
struct Mesh {
    FillLaterVector<Vector3> vertices;
    FillLaterVector<Face> faces;
    Vector3 bboxMin{0.0f, 0.0f, 0.0f};
    Vector3 bboxMax{0.0f, 0.0f, 0.0f};

    std::size_t vertexCount() const { return vertices.size(); }
    std::size_t faceCount() const { return faces.size(); }
    Vector3& vertexAt(std::size_t i) { return vertices[i]; }
    const Vector3& vertexAt(std::size_t i) const { return vertices[i]; }
    Face& faceAt(std::size_t i) { return faces[i]; }
    const Face& faceAt(std::size_t i) const { return faces[i]; }
    // Corner k (0, 1 or 2) of `face`.
    const Vector3& corner(const Face& face, int k) const { return vertices[face.vertices[k]]; }

    void translate(const Vector3& t);
    void scale(float s);
    // Widens the box to hold `v`, corner by corner, with boxMin and boxMax.
    void includeInBox(const Vector3& v);
    // includeInBox of every vertex in order; parts of a large mesh are
    // folded on several threads to the same box.
    void includeVerticesInBox();
};

// Passes over fewer vertices or faces than this run on the calling thread:
// below it a parallel region costs more than it saves.
constexpr std::ptrdiff_t kParallelMeshPass = 1 << 16;

// min and max that keep the current corner on ties and on NaN: b replaces a
// only when the comparison with it is strictly true.
inline float boxMin(float a, float b) { return b < a ? b : a; }
inline float boxMax(float a, float b) { return a < b ? b : a; }

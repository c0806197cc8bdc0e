// The comparison: both meshes are brought to a common position and size, then
// every vertex of one mesh is measured against the face planes of the other.
#pragma once

#include <cmath>
#include <cstddef>

#include "geometry/mesh.h"

// The value a vertex keeps when no face plane is nearer (or the other mesh has
// no faces): it caps each vertex's contribution to a directed sum.
constexpr float kFarDistance = 1000.0f;

// The first mesh is scaled to this many times its own size.
constexpr float kFirstMeshScale = 30.0f;

// Length of the box diagonal, with float squares summed in x, y, z order.
float boxDiagonal(const Vector3& minCorner, const Vector3& maxCorner);

// Which mesh could not be brought to the common size.
struct NormalizeFailure {
    bool first = false;
    bool second = false;
    bool any() const { return first || second; }
};

// Centres both meshes on their bounding boxes, scales `first` by
// kFirstMeshScale and `second` so that its box diagonal matches. A mesh whose
// diagonal is then zero or not finite cannot be scaled; the meshes are left
// part-way and the failure says which one is at fault.
NormalizeFailure normalizeMeshes(Mesh& first, Mesh& second);

// The value of one face for `v`: |n . (v - c_k)| for each corner c_k, with
// float differences and a double dot product rounded to float, keeping the
// smallest by strict comparison, so a NaN from the first corner gives NaN
// and a NaN from a later corner is ignored.
inline float facePlaneDistance(const Vector3& v, const Vector3& c0, const Vector3& c1,
                               const Vector3& c2, const Vector3& faceNormal)
{
    Vector3 vectorFromPlaneVertexToFace0, vectorFromPlaneVertexToFace1, vectorFromPlaneVertexToFace2;
    subtract(v, c0, vectorFromPlaneVertexToFace0);
    subtract(v, c1, vectorFromPlaneVertexToFace1);
    subtract(v, c2, vectorFromPlaneVertexToFace2);
    float d = std::fabs(float(dot(vectorFromPlaneVertexToFace0, faceNormal)));
    float d1 = std::fabs(float(dot(vectorFromPlaneVertexToFace1, faceNormal)));
    if (d1 < d)
        d = d1;
    float d2 = std::fabs(float(dot(vectorFromPlaneVertexToFace2, faceNormal)));
    if (d2 < d)
        d = d2;
    return d;
}

// The distance from `v` to the nearest face plane of `mesh`, measured from
// each of the face's three corners along its normal and keeping the smallest,
// or kFarDistance when no plane is nearer. Strict comparisons: on a tie the
// earlier face wins, and a NaN never replaces the current value, so a face
// whose first-corner distance is NaN is passed over. This is the exhaustive
// reference search.
float nearestPlaneDistance(const Vector3& v, const Mesh& mesh);

// One direction of the comparison: the float sum, in vertex order, of
// nearestPlaneDistance over every vertex of `from` against `to`.
struct DirectedSum {
    std::size_t vertexCount;
    std::size_t faceCount;
    float sum;
};
DirectedSum pointToFace(const Mesh& from, const Mesh& to);

// Folds the two directed sums into one figure: (s12² + s21²) / (n1 + n2), with
// float squares and the rest in double; 0 when both meshes are empty.
float qemError(float s12, float s21, std::size_t n1, std::size_t n2);

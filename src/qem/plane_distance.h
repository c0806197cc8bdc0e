// The distance from a point to the nearest face plane of a mesh, and the
// exhaustive search that defines it: every other search must return its bits.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "geometry/mesh.h"

// The value a vertex keeps when no face plane is nearer (or the other mesh has
// no faces): it caps each vertex's contribution to a directed sum.
constexpr float kFarDistance = 1000.0f;

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

// facePlaneDistance of face number `face` of `mesh`.
inline float facePlaneDistance(const Vector3& v, const Mesh& mesh, std::uint32_t face)
{
    const Face& f = mesh.faces[face];
    return facePlaneDistance(v, mesh.corner(f, 0), mesh.corner(f, 1), mesh.corner(f, 2), f.normal);
}

// The distance from `v` to the nearest face plane of `mesh`, or kFarDistance
// when no plane is nearer. Strict comparisons: on a tie the earlier face wins,
// and a NaN never replaces the current value, so a face whose first-corner
// distance is NaN is passed over. This is the exhaustive reference search.
float nearestPlaneDistance(const Vector3& v, const Mesh& mesh);

// best[i] = nearestPlaneDistance(points[i], mesh) for every point, the points
// split over OpenMP threads.
void nearestPlaneDistancesExhaustive(PointSpan points, const Mesh& mesh,
                                     std::vector<float>& best);

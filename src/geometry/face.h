#pragma once

#include <array>
#include <cstdint>

#include "geometry/vector3.h"

// One triangle: indices of its corners in its mesh's vertex array, in file
// order, and its unit normal, normalize(cross(P1 - P0, P2 - P0)), which stays
// (0, 0, 0) for a degenerate triangle.
struct Face {
    std::array<std::uint32_t, 3> vertices;
    Vector3 normal;
};

// The normal a face with these corners gets when it is read.
inline Vector3 faceNormal(const Vector3& p0, const Vector3& p1, const Vector3& p2)
{
    Vector3 edge1, edge2, normal;
    subtract(p1, p0, edge1);
    subtract(p2, p0, edge2);
    cross(edge1, edge2, normal);
    normal.normalize();
    return normal;
}

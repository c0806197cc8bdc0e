// The distance from a point to the surface of a mesh, and the exhaustive
// search that defines it: every other surface search must return its bits.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/mesh.h"
#include "surface/point_triangle.h"

// No face: the nearest face of a mesh without faces.
constexpr std::uint32_t kNoFace = 0xffffffffu;

// The least pointTriangleDistanceSquared over every face of `mesh`, in face
// order (a minimum of doubles that are never NaN, so the order does not
// change it); +infinity when the mesh has no faces. `face`, when given,
// receives the lowest-numbered face at that least value (kNoFace for none):
// one face, whichever search finds the value.
double nearestSurfaceDistanceSquared(const Point3d& p, const Mesh& mesh,
                                     std::uint32_t* face = nullptr);

// out[i] = sqrt(nearestSurfaceDistanceSquared(points[i], mesh)), the points
// split over OpenMP threads, and (when given) faces[i] its face. The square
// root is correctly rounded and monotone, so the minimum of the roots is the
// root of the minimum.
void surfaceDistancesExhaustive(const std::vector<Point3d>& points, const Mesh& mesh,
                                std::vector<double>& out,
                                std::vector<std::uint32_t>* faces = nullptr);
